#include "dialogs/AboutTorvaline.h"

#include "dialogs/ReferenceUnits.h"

#include <QEvent>
#include <QGroupBox>
#include <QLabel>
#include <QMouseEvent>

#include <algorithm>
#include <vector>

namespace torvaline {

namespace {

QLabel* addText(QWidget* group, const char* name, const QString& text) {
    auto* label = new QLabel(text, group);
    label->setObjectName(name);
    label->setTextFormat(Qt::PlainText);
    label->adjustSize();
    return label;
}

QLabel* makeLink(QLabel* label) {
    label->setCursor(Qt::PointingHandCursor);
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, Qt::blue);
    label->setPalette(palette);
    QFont font = label->font();
    font.setUnderline(true);
    label->setFont(font);
    label->adjustSize();
    return label;
}

// A text's place in the group, in reference units.
struct Placed {
    QLabel* label;
    int left;
    int top;
};

// Inside the group's frame, in reference units.
constexpr int GroupInnerRight = 377 - 4;
// Pixels kept free after a text.
constexpr int Gap = 4;

// The smallest width factor, from the font's own upwards, at which every text ends before the
// group's frame and before the next text on its line: the sentences are long for their places,
// and a font's average says little about a given sentence.
double widthFactor(const std::vector<Placed>& texts, double fontFactor) {
    double factor = fontFactor;
    for (const Placed& p : texts) {
        int limit = GroupInnerRight;
        for (const Placed& q : texts)
            if (q.top == p.top && q.left > p.left)
                limit = std::min(limit, q.left);
        factor = std::max(factor, double(p.label->sizeHint().width() + Gap) / (limit - p.left));
    }
    return factor;
}

} // namespace

TForm3::TForm3(Shell& shell, QWidget* parent)
    : QDialog(parent)
    , m_shell(shell) {
    setObjectName("Form3");
    setWindowTitle("About Torvaline");

    auto* group = new QGroupBox("Torvaline  V.1.2", this);
    group->setObjectName("GroupBox1");
    group->setAutoFillBackground(true);
    QPalette silver = group->palette();
    silver.setColor(QPalette::Window, QColor(0xC0, 0xC0, 0xC0));
    group->setPalette(silver);

    m_label7 = makeLink(addText(group, "Label7", DonationAddress));
    m_label11 = makeLink(addText(group, "Label11", WebAddress));
    const std::vector<Placed> texts{
        {addText(group, "Label1",
                 "Torvaline was build to help people to download files from RAPIDSHARE, "),
         8, 40},
        {addText(group, "Label2",
                 "as a FREE USER, without to stay in front of PC downloading URL by URL."),
         8, 56},
        {addText(group, "Label3",
                 "Using Torvaline, you can copy and paste all Links, Starting in the first"),
         16, 72},
        {addText(group, "Label4",
                 " Download  and let the Torvaline running till the end of the download list. "),
         24, 88},
        {addText(group, "Label5",
                 "Please, if you like to use Torvaline, click on the link bellow and make"),
         20, 120},
        {addText(group, "Label6", "a donnation "), 104, 136},
        {m_label7, 170, 136},
        {addText(group, "Label8", QString("Inform the email ") + MailAddress), 80, 152},
        {addText(group, "Label9", "Or visit "), 152, 184},
        {m_label11, 112, 200},
        {addText(group, "Label10", "Thank you and Enjoy Torvaline"), 96, 232},
        {addText(group, "Label12", "Help, sugestions and questions, please send an email to: "), 56,
         264},
    };

    const ReferenceUnits fontUnits;
    const ReferenceUnits u = fontUnits.widenedTo(widthFactor(texts, fontUnits.xFactor()));
    setFixedSize(u.size(400, 355));
    group->setGeometry(u.rect(8, 8, 377, 305));
    for (const Placed& p : texts)
        p.label->move(u.point(p.left, p.top));

    m_staticText1 = makeLink(addText(
        group, "StaticText1", QString("%1 - %2").arg(QString(Publisher), QString(MailAddress))));
    m_staticText1->setAlignment(Qt::AlignHCenter | Qt::AlignVCenter);
    const int height = m_staticText1->sizeHint().height();
    // The full width inside the frame, along its bottom edge.
    const QRect inside = group->contentsRect();
    m_staticText1->setGeometry(inside.left(), inside.bottom() - height - 2, inside.width(), height);

    for (QLabel* link : {m_label7, m_label11, m_staticText1})
        link->installEventFilter(this);
}

void TForm3::Label7Click() {
    m_shell.openAddress(DonationAddress);
}

void TForm3::Label11Click() {
    m_shell.openAddress(WebAddress);
}

void TForm3::StaticText1Click() {
    m_shell.openAddress(std::string("mailto:") + MailAddress);
}

bool TForm3::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::MouseButtonRelease &&
        static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
        if (watched == m_label7) {
            Label7Click();
            return true;
        }
        if (watched == m_label11) {
            Label11Click();
            return true;
        }
        if (watched == m_staticText1) {
            StaticText1Click();
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

} // namespace torvaline

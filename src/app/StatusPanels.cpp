#include "app/StatusPanels.h"

#include "dialogs/ReferenceUnits.h"
#include "list/StatusBar.h"

#include <QLabel>

#include <algorithm>

namespace torvaline {

StatusPanels::StatusPanels(StatusBar& panels, QWidget* parent)
    : QStatusBar(parent)
    , m_panels(panels) {
    static_assert(StatusBar::PanelCount == 3);
    setObjectName(QStringLiteral("StatusBar1"));
    setSizeGripEnabled(false);
    for (int i = 0; i < StatusBar::PanelCount; ++i) {
        auto* label = new QLabel(this);
        label->setObjectName(QStringLiteral("Panel%1").arg(i));
        label->setFrameShape(QFrame::Panel);
        label->setFrameShadow(QFrame::Sunken);
        label->setTextFormat(Qt::PlainText);
        label->setIndent(2);
        m_labels[static_cast<std::size_t>(i)] = label;
        // The panels keep their widths whatever the text, except that the last one reaches
        // to the window's edge, where the file name has room.
        const bool last = i == StatusBar::PanelCount - 1;
        label->setSizePolicy(last ? QSizePolicy::Expanding : QSizePolicy::Fixed,
                             QSizePolicy::Preferred);
        addWidget(label, last ? 1 : 0);
        showPanel(i);
    }
    m_panels.setOnChanged([this](int index) { showPanel(index); });
}

StatusPanels::~StatusPanels() {
    m_panels.setOnChanged({});
}

QLabel* StatusPanels::panel(int index) const {
    if (index < 0 || index >= StatusBar::PanelCount)
        return nullptr;
    return m_labels[static_cast<std::size_t>(index)];
}

void StatusPanels::showPanel(int index) {
    QLabel* label = panel(index);
    if (label == nullptr)
        return;
    const std::string& bytes = m_panels.text(index);
    const QString text = QString::fromUtf8(bytes.data(), static_cast<qsizetype>(bytes.size()));
    label->setText(text);
    // The core sets widths in reference units. Converted, they keep their meaning (a width
    // "per character" grows with the characters); and a text is never cut short, since a
    // panel is where the time of a wait or a countdown shows.
    const ReferenceUnits units(label->font());
    const int chrome = 2 * label->frameWidth() + label->indent() + 2;
    const int width = std::max(units.x(m_panels.width(index)), units.textWidth(text) + chrome);
    if (index == StatusBar::PanelCount - 1)
        label->setMinimumWidth(width);
    else
        label->setFixedWidth(width);
}

} // namespace torvaline

#include "app/CaptchaPrompt.h"

#include "adapters/curl/CaptchaFetch.h"
#include "list/DownloadList.h"
#include "platform/DesktopNotifier.h"
#include "platform/EventLoop.h"
#include "platform/WorkerCount.h"

#include <QBuffer>
#include <QDialogButtonBox>
#include <QImageReader>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QVBoxLayout>

#include <algorithm>
#include <thread>

namespace torvaline {

CaptchaDialog::CaptchaDialog(const QString& rowName, const QByteArray& picture,
                             const QString& problem, QWidget* parent)
    : QDialog(parent) {
    setObjectName(QStringLiteral("CaptchaDialog"));
    setWindowTitle(QStringLiteral("Captcha"));
    auto* layout = new QVBoxLayout(this);
    auto* text = new QLabel(QStringLiteral("Type the code shown for %1:").arg(rowName), this);
    text->setWordWrap(true);
    layout->addWidget(text);
    m_picture = new QLabel(this);
    m_picture->setObjectName(QStringLiteral("CaptchaPicture"));
    m_picture->setAlignment(Qt::AlignCenter);
    QString why = problem;
    if (why.isEmpty()) {
        // The size is read before the picture: a small file may claim a huge one.
        QByteArray data = picture;
        QBuffer buffer(&data);
        QImageReader reader(&buffer);
        const QSize size = reader.size();
        QImage image;
        if (!size.isValid() || size.width() > MaxSide || size.height() > MaxSide)
            why = size.isValid() ? QStringLiteral("the captcha's picture is too large to show")
                                 : QStringLiteral("the captcha's picture cannot be read");
        else if (!reader.read(&image))
            why = QStringLiteral("the captcha's picture cannot be read");
        else
            m_picture->setPixmap(QPixmap::fromImage(image));
    }
    if (!why.isEmpty())
        m_picture->setText(why);
    layout->addWidget(m_picture);
    m_code = new QLineEdit(this);
    m_code->setObjectName(QStringLiteral("CaptchaCode"));
    m_code->setMaxLength(64);
    layout->addWidget(m_code);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
    m_code->setFocus();
}

QString CaptchaDialog::code() const {
    return m_code->text().trimmed();
}

CaptchaPrompt::CaptchaPrompt(Ports ports)
    : m_p(std::move(ports)) {}

CaptchaPrompt::~CaptchaPrompt() {
    if (m_dialog)
        delete m_dialog.data();
}

void CaptchaPrompt::rowPhase(const RowPhaseEvent& event) {
    if (event.phase != RowPhase::Captcha) {
        drop(event.id);
        return;
    }
    drop(event.id);
    const int row = m_p.list.rowOf(event.id);
    std::string name = event.fileName;
    if (name.empty() && row >= 1) {
        // The link's last part names the row well enough before the page gave a name.
        const std::string& link = m_p.list.cell(row, DownloadList::URL);
        const std::string path = link.substr(0, link.find_first_of("?#"));
        name = path.substr(path.rfind('/') + 1);
        if (name.ends_with(".html"))
            name.erase(name.size() - 5);
        if (name.empty())
            name = link;
    }
    m_queue.push_back({event.id, event.captcha, name.substr(0, 200)});
    if (m_p.notifier)
        m_p.notifier->notify("Needs captcha", name, [window = QPointer<QWidget>(&m_p.window)] {
            if (!window)
                return;
            window->showNormal();
            window->raise();
            window->activateWindow();
        });
    askNext();
}

void CaptchaPrompt::rowsRemoved(int, std::span<const RowRef> rows) {
    for (const RowRef& row : rows)
        drop(row.id);
}

void CaptchaPrompt::drop(std::uint64_t id) {
    std::erase_if(m_queue, [id](const Ask& ask) { return ask.id == id; });
    if (m_asking == id && id != 0) {
        m_asking = 0;
        if (m_dialog)
            m_dialog->deleteLater();
        m_dialog = nullptr;
        // Asked from the loop: the event that dropped it is still being told.
        m_p.loop.post([this, alive = std::weak_ptr<bool>(m_alive)] {
            if (!alive.expired())
                askNext();
        });
    }
}

void CaptchaPrompt::askNext() {
    if (m_asking != 0 || m_queue.empty())
        return;
    const Ask ask = m_queue.front();
    m_queue.pop_front();
    m_asking = ask.id;
    // The picture comes on a worker, which the end of the program waits for.
    auto running = std::make_shared<WorkerCount::Running>(WorkerCount::enter(m_p.workers));
    std::thread([ask, share = m_p.share, &loop = m_p.loop, running,
                 alive = std::weak_ptr<bool>(m_alive), this]() mutable {
        CaptchaPicture picture = FetchCaptchaPicture(ask.url, *share);
        loop.post([this, ask, picture = std::move(picture), alive] {
            if (!alive.expired() && m_asking == ask.id)
                show(ask, picture.bytes, picture.problem);
        });
        running->end();
    }).detach();
}

void CaptchaPrompt::show(const Ask& ask, const std::string& bytes, const std::string& problem) {
    auto* dialog = new CaptchaDialog(QString::fromStdString(ask.name),
                                     QByteArray(bytes.data(), static_cast<qsizetype>(bytes.size())),
                                     QString::fromStdString(problem), &m_p.window);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    m_dialog = dialog;
    const std::uint64_t id = ask.id;
    QObject::connect(dialog, &QDialog::finished, dialog,
                     [this, dialog, id, alive = std::weak_ptr<bool>(m_alive)](int result) {
                         if (alive.expired() || m_asking != id)
                             return;
                         m_asking = 0;
                         m_dialog = nullptr;
                         if (result == QDialog::Accepted && !dialog->code().isEmpty())
                             m_p.answer(id, dialog->code().toStdString());
                         m_p.loop.post([this, alive] {
                             if (!alive.expired())
                                 askNext();
                         });
                     });
    // Not modal: the window and the other rows go on.
    dialog->show();
    dialog->raise();
}

} // namespace torvaline

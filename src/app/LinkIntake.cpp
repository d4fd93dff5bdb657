#include "app/LinkIntake.h"

#include "app/DefaultFolder.h"
#include "app/DownloadGrid.h"
#include "app/Main.h"
#include "app/UserSettings.h"
#include "list/LinkLines.h"
#include "list/LinkText.h"
#include "list/ListFile.h"
#include "platform/Dialogs.h"
#include "platform/Shell.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QLabel>
#include <QMenu>
#include <QMimeData>
#include <QStatusBar>
#include <QTimer>
#include <QUrl>

#include <iterator>
#include <memory>

namespace torvaline {

namespace {

const char* const WatchKey = "links/watchClipboard";
const char* const WatchAnyKey = "links/watchAnyLink";
const char* const ClickNLoadKey = "links/clickNLoad";

// A clipboard holding more than this is a document, not a few copied links.
constexpr qsizetype MaxWatchedText = 1024 * 1024;

std::string bytes(const QByteArray& b) {
    return std::string(b.constData(), static_cast<std::size_t>(b.size()));
}

QString links(int n) {
    return n == 1 ? QStringLiteral("1 link") : QStringLiteral("%1 links").arg(n);
}

// What a web page says it is, fit for one line of a question: without control characters,
// nor the marks that turn text around or hide it (a right-to-left override would make
// "evil.example/moc.elgoog" read as something else), and not longer than a line.
std::string shownSource(const std::string& source) {
    const QString text = QString::fromUtf8(source.data(), static_cast<qsizetype>(source.size()));
    QString out;
    for (const QChar c : text) {
        if (out.size() >= 200) {
            out += QStringLiteral("...");
            break;
        }
        switch (c.category()) {
        case QChar::Other_Control:
        case QChar::Other_Format: // text direction, zero width
        case QChar::Separator_Line:
        case QChar::Separator_Paragraph:
            continue;
        default:
            out += c.isSpace() ? QChar(u' ') : c;
        }
    }
    out = out.simplified();
    return out.isEmpty() ? std::string("a page that gave no address") : bytes(out.toUtf8());
}

// Batches of one site are one source, whatever page of it they name.
std::string sourceKey(const std::string& shown) {
    const QUrl url(QString::fromStdString(shown), QUrl::StrictMode);
    if (url.isValid() && !url.host().isEmpty())
        return bytes(url.host().toLower().toUtf8());
    return shown;
}

} // namespace

LinkIntake::LinkIntake(TForm1& form, Dialogs& dialogs, Shell& shell)
    : QObject(&form)
    , m_form(form)
    , m_dialogs(dialogs)
    , m_shell(shell)
    , m_notice(new QLabel(&form))
    , m_noticeTimer(new QTimer(this))
    , m_rowMenu(new QMenu(&form))
    , m_server(new ClickNLoadServer(
          [this](ClickNLoadServer::Batch b) { return receiveBatch(std::move(b)); }, this)) {
    m_notice->setObjectName(QStringLiteral("LinkNotice"));
    m_notice->setTextFormat(Qt::PlainText);
    m_notice->setContentsMargins(4, 0, 8, 0);
    m_notice->hide();
    m_form.statusBar()->addPermanentWidget(m_notice);
    m_noticeTimer->setSingleShot(true);
    connect(m_noticeTimer, &QTimer::timeout, m_notice, &QLabel::hide);

    // Drops anywhere on the window; the list's viewport takes them itself otherwise.
    m_form.setAcceptDrops(true);
    m_form.installEventFilter(this);
    QWidget* viewport = m_form.MyStringGrid()->viewport();
    viewport->setAcceptDrops(true);
    viewport->installEventFilter(this);

    // The row commands at hand where the row is.
    m_rowMenu->setObjectName(QStringLiteral("RowMenu"));
    const char* const rowCommands[] = {"CopySelected1", "DelAction",    nullptr,       "MoveUp1",
                                       "MoveDown1",     "MovetoFirst1", "MovetoLast1", nullptr};
    for (const char* name : rowCommands) {
        if (name == nullptr) {
            m_rowMenu->addSeparator();
            continue;
        }
        if (auto* action = m_form.findChild<QAction*>(QString::fromLatin1(name)))
            m_rowMenu->addAction(action);
    }
    QAction* folder = m_rowMenu->addAction(QStringLiteral("Open Download Folder"));
    folder->setObjectName(QStringLiteral("OpenFolder1"));
    connect(folder, &QAction::triggered, this, &LinkIntake::openFolder);
    if (auto* pasteAction = m_form.findChild<QAction*>(QStringLiteral("PasteLinks1")))
        m_rowMenu->addAction(pasteAction);
    DownloadGrid* grid = m_form.MyStringGrid();
    grid->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(grid, &QWidget::customContextMenuRequested, this, [this, grid](const QPoint& at) {
        m_rowMenu->popup(grid->viewport()->mapToGlobal(at));
    });

    connect(QGuiApplication::clipboard(), &QClipboard::dataChanged, this,
            &LinkIntake::clipboardChanged);

    const QSettings settings = userSettings();
    // Shown as remembered; nothing is written until the user changes a choice.
    m_watch = settings.value(WatchKey, false).toBool();
    m_watchAny = settings.value(WatchAnyKey, false).toBool();
    if (auto* action = m_form.findChild<QAction*>(QStringLiteral("WatchClipboard1")))
        action->setChecked(m_watch);
    if (auto* action = m_form.findChild<QAction*>(QStringLiteral("WatchAnyLink1")))
        action->setChecked(m_watchAny);
    if (settings.value(ClickNLoadKey, false).toBool()) {
        // Once the window is up: a port that is taken is told in a message box.
        QTimer::singleShot(0, this, [this] { startClickNLoad(true); });
    }
}

LinkIntake::~LinkIntake() = default;

// ---- drop and paste ----

bool LinkIntake::eventFilter(QObject* watched, QEvent* event) {
    switch (event->type()) {
    case QEvent::DragEnter:
    case QEvent::DragMove: {
        auto* drag = static_cast<QDropEvent*>(event);
        const QMimeData* data = drag->mimeData();
        if (data && (data->hasUrls() || data->hasText())) {
            drag->setDropAction(Qt::CopyAction);
            drag->accept();
            return true;
        }
        return false;
    }
    case QEvent::Drop: {
        auto* drop = static_cast<QDropEvent*>(event);
        if (const QMimeData* data = drop->mimeData()) {
            drop->setDropAction(Qt::CopyAction);
            drop->accept();
            // Once the drag has let go: an import may show a message box.
            auto copy = std::make_shared<QMimeData>();
            for (const QString& format : data->formats())
                copy->setData(format, data->data(format));
            QTimer::singleShot(0, this, [this, copy] { addMimeData(*copy); });
            return true;
        }
        return false;
    }
    default:
        return QObject::eventFilter(watched, event);
    }
}

int LinkIntake::addMimeData(const QMimeData& data) {
    UriList items;
    if (data.hasFormat(QStringLiteral("text/uri-list")))
        items = ReadUriList(bytes(data.data(QStringLiteral("text/uri-list"))));
    if (items.links.empty() && items.files.empty() && data.hasText()) {
        const QByteArray plain = data.text().toUtf8();
        if (static_cast<std::uintmax_t>(plain.size()) > MaxListFileBytes) {
            showNotice(QStringLiteral("The text is too large to look for links in"));
            return 0;
        }
        items.links = FindLinks(bytes(plain));
    }
    const int rowsBefore = m_form.downloadList().rowCount();
    int imported = 0;
    int skipped = 0;
    for (const std::string& file : items.files) {
        if (!IsListFileName(file)) {
            ++skipped;
            continue;
        }
        imported += m_form.listCommands().ImportFile(file) ? 1 : 0;
    }
    addLinks(std::move(items.links));
    const int added = m_form.downloadList().rowCount() - rowsBefore;
    if (added > 0 || imported > 0)
        showNotice(links(added) + QStringLiteral(" added"));
    else if (skipped > 0)
        showNotice(QStringLiteral("Only list files (.txt) can be imported"));
    else
        showNotice(QStringLiteral("No links to add"));
    return added;
}

void LinkIntake::paste() {
    if (const QMimeData* data = QGuiApplication::clipboard()->mimeData())
        addMimeData(*data);
}

int LinkIntake::addLinks(std::vector<std::string> found) {
    const int n = static_cast<int>(found.size());
    if (n > 0)
        AppendLinks(m_form.downloadList(), std::move(found));
    return n;
}

// ---- a second start ----

void LinkIntake::receiveHandOff(const std::vector<std::string>& handedLinks,
                                const std::vector<std::string>& files, const std::string& folder,
                                bool start) {
    bringWindowUp();
    const int rowsBefore = m_form.downloadList().rowCount();
    for (const std::string& file : files)
        m_form.listCommands().ImportFile(file);
    addLinks(handedLinks);
    // After the imports, which reset the folder, as on the first start.
    if (!folder.empty()) {
        m_form.Edit2().setText(folder);
        DefaultFolder::create(folder);
    }
    showNotice(links(m_form.downloadList().rowCount() - rowsBefore) + QStringLiteral(" added"));
    if (start)
        m_form.StartDownload1Click();
}

void LinkIntake::bringWindowUp() {
    // A window in view is left where it is: the question comes up over it anyway.
    if (m_form.isVisible() && !m_form.isMinimized())
        return;
    if (m_form.isMinimized())
        m_form.showNormal();
    m_form.show();
    m_form.raise();
    m_form.activateWindow();
}

// ---- the clipboard watch ----

void LinkIntake::setWatchClipboard(bool on) {
    m_watch = on;
    userSettings().setValue(WatchKey, on);
    if (auto* action = m_form.findChild<QAction*>(QStringLiteral("WatchClipboard1")))
        action->setChecked(on);
}

void LinkIntake::setWatchAnyLink(bool on) {
    m_watchAny = on;
    userSettings().setValue(WatchAnyKey, on);
    if (auto* action = m_form.findChild<QAction*>(QStringLiteral("WatchAnyLink1")))
        action->setChecked(on);
}

void LinkIntake::clipboardChanged() {
    if (!m_watch)
        return;
    const QMimeData* data = QGuiApplication::clipboard()->mimeData();
    if (data == nullptr || !data->hasText())
        return;
    const QString copied = data->text();
    if (copied.size() > MaxWatchedText)
        return;
    std::vector<std::string> fresh;
    for (std::string& link : FindLinks(bytes(copied.toUtf8()), MaxBatchLinks)) {
        if (!m_watchAny && !IsHosterLink(link))
            continue;
        if (!m_watchSeen.insert(link).second)
            continue;
        fresh.push_back(std::move(link));
    }
    if (fresh.empty())
        return;
    // A link the list holds already (Copy Selected puts one on the clipboard) is not added
    // again.
    const DownloadList& list = m_form.downloadList();
    std::unordered_set<std::string> listed;
    for (int r = 1; r < list.rowCount(); ++r)
        listed.insert(list.cell(r, DownloadList::URL));
    std::erase_if(fresh, [&listed](const std::string& link) { return listed.count(link) != 0; });
    const int n = addLinks(std::move(fresh));
    if (n > 0)
        showNotice(links(n) + QStringLiteral(" from the clipboard added"));
}

// ---- Click'n'Load ----

bool LinkIntake::setClickNLoad(bool on) {
    // A port taken today may be free tomorrow: the choice stays as the user made it.
    userSettings().setValue(ClickNLoadKey, on);
    return startClickNLoad(on);
}

bool LinkIntake::startClickNLoad(bool on) {
    auto* action = m_form.findChild<QAction*>(QStringLiteral("ClickNLoad1"));
    bool listening = false;
    if (on) {
        const Result<void> listened = m_server->listen(m_port);
        listening = listened.ok();
        if (!listening)
            m_dialogs.showError("Click'n'Load cannot listen on 127.0.0.1:" +
                                std::to_string(m_port) + ": " + listened.reason());
    } else {
        m_server->close();
    }
    if (action)
        action->setChecked(listening);
    return listening == on;
}

ClickNLoadServer::Verdict LinkIntake::receiveBatch(ClickNLoadServer::Batch batch) {
    std::vector<std::string> found = FindLinks(batch.links, MaxBatchLinks);
    if (found.empty())
        return ClickNLoadServer::Verdict::Rejected;
    const std::string source = shownSource(batch.source);
    const std::string key = sourceKey(source);
    // The user has said often enough what they think of this source.
    if (m_ignored.count(key) != 0)
        return ClickNLoadServer::Verdict::Busy;
    // A page that keeps posting adds to the question it raised instead of raising more.
    if (m_asking && m_asking->key == key) {
        const ClickNLoadServer::Verdict verdict = join(*m_asking, found, std::move(batch.package));
        if (verdict == ClickNLoadServer::Verdict::Accepted)
            m_dialogs.updateAddLinks(question(*m_asking), m_asking->links);
        return verdict;
    }
    for (Pending& waiting : m_pending) {
        if (waiting.key == key)
            return join(waiting, found, std::move(batch.package));
    }
    if (m_pending.size() >= MaxPendingBatches)
        return ClickNLoadServer::Verdict::Busy;
    m_pending.push_back({key, source, std::move(found), {{0, std::move(batch.package)}}});
    // Asked from the event loop: the sender gets its answer before the user does.
    QTimer::singleShot(0, this, &LinkIntake::askNextBatch);
    return ClickNLoadServer::Verdict::Accepted;
}

ClickNLoadServer::Verdict LinkIntake::join(Pending& into, std::vector<std::string>& found,
                                           std::string package) {
    if (into.links.size() + found.size() > MaxBatchLinks)
        return ClickNLoadServer::Verdict::Busy;
    const std::unordered_set<std::string> asked(into.links.begin(), into.links.end());
    const std::size_t first = into.links.size();
    for (std::string& link : found) {
        if (asked.count(link) == 0)
            into.links.push_back(std::move(link));
    }
    if (into.links.size() > first)
        into.packages.emplace_back(first, std::move(package));
    return ClickNLoadServer::Verdict::Accepted;
}

std::string LinkIntake::question(const Pending& batch) {
    return bytes(links(static_cast<int>(batch.links.size())).toUtf8()) + " from " + batch.source;
}

void LinkIntake::askNextBatch() {
    if (m_asking || m_pending.empty())
        return;
    m_asking = std::move(m_pending.front());
    m_pending.pop_front();
    bringWindowUp();
    const std::vector<std::string> shown = m_asking->links;
    const LinksAnswer answer = m_dialogs.askAddLinks(question(*m_asking), shown);
    Pending batch = std::move(*m_asking);
    m_asking.reset();
    const int n = static_cast<int>(batch.links.size());
    switch (answer) {
    case LinksAnswer::Add:
        // Each batch its own package, under the name it gave where that is fit for a folder.
        for (std::size_t i = 0; i < batch.packages.size(); ++i) {
            const std::size_t end =
                i + 1 < batch.packages.size() ? batch.packages[i + 1].first : batch.links.size();
            const auto from = batch.links.begin();
            AppendLinks(m_form.downloadList(),
                        std::vector<std::string>(
                            std::make_move_iterator(
                                from + static_cast<std::ptrdiff_t>(batch.packages[i].first)),
                            std::make_move_iterator(from + static_cast<std::ptrdiff_t>(end))),
                        m_form.downloadList().newBatch(std::move(batch.packages[i].second)));
        }
        showNotice(links(n) + QStringLiteral(" added"));
        break;
    case LinksAnswer::Discard:
        if (++m_discards[batch.key] >= DiscardsToIgnore) {
            m_ignored.insert(batch.key);
            std::erase_if(m_pending,
                          [&batch](const Pending& waiting) { return waiting.key == batch.key; });
            showNotice(QStringLiteral("Click'n'Load ignores ") +
                       QString::fromUtf8(batch.source.c_str()) +
                       QStringLiteral(" until the program ends"));
        }
        break;
    case LinksAnswer::TurnOff:
        m_pending.clear();
        setClickNLoad(false);
        showNotice(QStringLiteral("Click'n'Load is off"));
        break;
    }
    if (!m_pending.empty())
        QTimer::singleShot(0, this, &LinkIntake::askNextBatch);
}

// ---- the rest ----

void LinkIntake::openFolder() {
    m_shell.openFolder(m_form.Edit2().effective());
}

void LinkIntake::showNotice(const QString& message) {
    m_notice->setText(message);
    m_notice->show();
    m_noticeTimer->start(NoticeMs);
}

} // namespace torvaline

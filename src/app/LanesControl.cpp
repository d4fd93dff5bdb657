#include "app/LanesControl.h"

#include "app/UserSettings.h"
#include "session/DownloadLanes.h"
#include "session/DownloadSession.h"

#include <QAction>
#include <QActionGroup>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QSettings>

#include <algorithm>

namespace torvaline {

LanesControl::LanesControl(QMainWindow& window, DownloadSession& session,
                           std::function<std::uint64_t()> focused)
    : QObject(&window)
    , m_session(&session)
    , m_focused(std::move(focused)) {
    QMenuBar* bar = window.menuBar();
    QMenu* tools = bar->findChild<QMenu*>(QStringLiteral("Tools1"));
    m_menu = tools ? tools->addMenu(QStringLiteral("Downloads at Once"))
                   : bar->addMenu(QStringLiteral("Downloads at Once"));
    m_menu->setObjectName(QStringLiteral("DownloadsAtOnce1"));
    m_group = new QActionGroup(this);
    m_group->setExclusive(true);
    for (int n = 1; n <= DownloadLanes::MaxLanes; ++n) {
        QAction* action = m_menu->addAction(QString::number(n));
        action->setCheckable(true);
        action->setData(n);
        action->setObjectName(QStringLiteral("DownloadsAtOnce%1").arg(n));
        m_group->addAction(action);
        connect(action, &QAction::triggered, this, [this, n] { setLanes(n); });
    }
    // Pause All and Resume All after Resume Download.
    if (QMenu* file = bar->findChild<QMenu*>(QStringLiteral("File1"))) {
        QAction* after = nullptr;
        const QList<QAction*> entries = file->actions();
        for (qsizetype i = 0; i + 1 < entries.size(); ++i)
            if (entries[i]->objectName() == QLatin1String("ResumeDownload1"))
                after = entries[i + 1];
        auto* pauseAll = new QAction(QStringLiteral("Pause All"), file);
        pauseAll->setObjectName(QStringLiteral("PauseAll1"));
        auto* resumeAll = new QAction(QStringLiteral("Resume All"), file);
        resumeAll->setObjectName(QStringLiteral("ResumeAll1"));
        file->insertAction(after, pauseAll);
        file->insertAction(after, resumeAll);
        connect(pauseAll, &QAction::triggered, this, [this] {
            if (m_session)
                m_session->pauseAll();
        });
        connect(resumeAll, &QAction::triggered, this, [this] {
            if (m_session)
                m_session->resumeAll();
        });
    }
    showLanes();
}

int LanesControl::remembered() {
    const QSettings settings = userSettings();
    const int n =
        settings.value(QString::fromLatin1(SettingsKey), DownloadLanes::DefaultLanes).toInt();
    return std::clamp(n, 1, DownloadLanes::MaxLanes);
}

void LanesControl::setLanes(int lanes, bool remember) {
    if (!m_session)
        return;
    m_session->setMaxDownloads(lanes);
    if (remember) {
        QSettings settings = userSettings();
        settings.setValue(QString::fromLatin1(SettingsKey), m_session->maxDownloads());
    }
    showLanes();
}

void LanesControl::focusChanged() {
    if (m_session)
        m_session->lanes().setFocus(m_focused ? m_focused() : 0);
}

void LanesControl::showLanes() {
    if (!m_session)
        return;
    for (QAction* action : m_group->actions())
        action->setChecked(action->data().toInt() == m_session->maxDownloads());
}

} // namespace torvaline

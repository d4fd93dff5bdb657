#include "app/SpeedLimitControl.h"

#include "app/UserSettings.h"
#include "transfer/SpeedLimitText.h"

#include <QAction>
#include <QActionGroup>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QSettings>
#include <QStatusBar>

namespace torvaline {

namespace {

constexpr std::uint64_t KiB = 1024;
constexpr std::uint64_t MiB = 1024 * KiB;
constexpr std::uint64_t Presets[] = {0, 256 * KiB, 512 * KiB, 1 * MiB, 2 * MiB, 5 * MiB, 10 * MiB};

std::optional<std::uint64_t> askInDialog(QWidget* parent) {
    for (;;) {
        bool ok = false;
        const QString text = QInputDialog::getText(
            parent, QStringLiteral("Speed Limit"),
            QStringLiteral("Download at most (bytes a second; K, M: x 1024, e.g. 500K, 2M):"),
            QLineEdit::Normal, QString(), &ok);
        if (!ok)
            return std::nullopt;
        if (const auto rate = parseSpeedLimit(text.toStdString()))
            return rate;
    }
}

} // namespace

SpeedLimitControl::SpeedLimitControl(QMainWindow& window, std::function<void(std::uint64_t)> apply,
                                     AskRate askRate)
    : QObject(&window)
    , m_window(window)
    , m_apply(std::move(apply))
    , m_askRate(askRate ? std::move(askRate) : AskRate(&askInDialog)) {
    QMenu* tools = window.menuBar()->findChild<QMenu*>(QStringLiteral("Tools1"));
    m_menu = tools ? tools->addMenu(QStringLiteral("Speed Limit"))
                   : window.menuBar()->addMenu(QStringLiteral("Speed Limit"));
    m_menu->setObjectName(QStringLiteral("SpeedLimit1"));
    m_group = new QActionGroup(this);
    m_group->setExclusive(true);
    for (const std::uint64_t preset : Presets) {
        QAction* action = m_menu->addAction(QString::fromStdString(speedLimitText(preset)));
        action->setCheckable(true);
        action->setData(QVariant::fromValue<qulonglong>(preset));
        m_group->addAction(action);
        connect(action, &QAction::triggered, this, [this, preset] { setLimit(preset); });
    }
    m_menu->addSeparator();
    m_custom = m_menu->addAction(QStringLiteral("Custom..."));
    m_custom->setObjectName(QStringLiteral("SpeedLimitCustom"));
    m_custom->setCheckable(true);
    m_group->addAction(m_custom);
    connect(m_custom, &QAction::triggered, this, [this] {
        if (const auto rate = m_askRate(&m_window))
            setLimit(*rate);
        else
            showLimit(); // the check mark goes back to the limit in force
    });

    m_label = new QLabel(&window);
    m_label->setObjectName(QStringLiteral("SpeedLimitPanel"));
    window.statusBar()->addPermanentWidget(m_label);

    const QSettings settings = userSettings();
    const auto remembered = settings.value(QString::fromLatin1(SettingsKey), 0).toULongLong();
    setLimit(remembered, false);
}

void SpeedLimitControl::setLimit(std::uint64_t bytesPerSecond, bool remember) {
    m_limit = bytesPerSecond;
    if (m_apply)
        m_apply(bytesPerSecond);
    if (remember) {
        QSettings settings = userSettings();
        settings.setValue(QString::fromLatin1(SettingsKey),
                          QVariant::fromValue<qulonglong>(bytesPerSecond));
    }
    showLimit();
}

void SpeedLimitControl::showLimit() {
    bool preset = false;
    for (QAction* action : m_group->actions()) {
        if (action == m_custom)
            continue;
        const bool mine = action->data().toULongLong() == m_limit;
        action->setChecked(mine);
        preset = preset || mine;
    }
    m_custom->setChecked(!preset);
    m_custom->setText(preset ? QStringLiteral("Custom...")
                             : QStringLiteral("Custom (%1)...")
                                   .arg(QString::fromStdString(speedLimitText(m_limit))));
    m_label->setText(
        m_limit == 0
            ? QString()
            : QStringLiteral(" Limit %1 ").arg(QString::fromStdString(speedLimitText(m_limit))));
    m_label->setVisible(m_limit != 0);
}

} // namespace torvaline

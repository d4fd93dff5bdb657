#include "app/CommandIcons.h"

#include <QApplication>
#include <QDir>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QStandardPaths>
#include <QStyle>

#include <algorithm>
#include <array>

namespace torvaline {

namespace {

struct ButtonIcon {
    const char* button;
    const char* themeName;
    QStyle::StandardPixmap fallback;
};

constexpr std::array<ButtonIcon, 16> kIcons{{
    {"addBtn", "list-add", QStyle::SP_FileIcon},
    {"delBtn", "list-remove", QStyle::SP_TrashIcon},
    {"CopyBtn", "edit-copy", QStyle::SP_FileDialogContentsView},
    {"startBtn", "media-playback-start", QStyle::SP_MediaPlay},
    {"pauseBtn", "media-playback-pause", QStyle::SP_MediaPause},
    {"resumeBtn", "media-seek-forward", QStyle::SP_MediaSeekForward},
    {"stopBtn", "process-stop", QStyle::SP_MediaStop},
    {"UpButton", "go-up", QStyle::SP_ArrowUp},
    {"MDownBtn", "go-down", QStyle::SP_ArrowDown},
    {"MFirstBtn", "go-top", QStyle::SP_MediaSkipBackward},
    {"LastBtn", "go-bottom", QStyle::SP_MediaSkipForward},
    {"impBtn", "document-open", QStyle::SP_DialogOpenButton},
    {"SaveOptBtn", "document-properties", QStyle::SP_DirIcon},
    {"saveasBtn", "document-save-as", QStyle::SP_DialogSaveButton},
    {"clrBtn", "edit-clear-all", QStyle::SP_DialogResetButton},
    {"shutBtn", "system-shutdown", QStyle::SP_BrowserStop},
}};

} // namespace

void CommandIcons::useInstalledThemeAsFallback() {
    static bool done = false;
    if (done)
        return;
    done = true;
    // Without a desktop session (a bare X server, a window manager of its own) Qt knows no
    // theme; a common freedesktop theme installed on the machine serves instead.
    if (!QIcon::fallbackThemeName().isEmpty() && QIcon::fallbackThemeName() != "hicolor")
        return;
    for (const QString& dir : QIcon::themeSearchPaths()) {
        if (QDir(dir + QStringLiteral("/Adwaita")).exists()) {
            QIcon::setFallbackThemeName(QStringLiteral("Adwaita"));
            return;
        }
    }
}

QIcon CommandIcons::startIcon() {
    QIcon icon;
    for (const int side : {16, 24, 32, 48, 64, 96, 128}) {
        QPixmap pixmap(side, side);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        painter.setRenderHint(QPainter::Antialiasing);
        const qreal m = side * 0.14;
        QPainterPath triangle;
        triangle.moveTo(m * 1.3, m);
        triangle.lineTo(side - m, side / 2.0);
        triangle.lineTo(m * 1.3, side - m);
        triangle.closeSubpath();
        painter.setPen(QPen(QColor(0x1b, 0x6e, 0x2a), std::max(1.0, side / 24.0), Qt::SolidLine,
                            Qt::RoundCap, Qt::RoundJoin));
        painter.setBrush(QColor(0x2e, 0xa0, 0x43));
        painter.drawPath(triangle);
        painter.end();
        // Qt greys the disabled state itself.
        icon.addPixmap(pixmap);
    }
    return icon;
}

QIcon CommandIcons::forButton(const QString& buttonName) {
    useInstalledThemeAsFallback();
    if (buttonName == QLatin1String("startBtn"))
        return startIcon();
    for (const ButtonIcon& entry : kIcons) {
        if (buttonName != QLatin1String(entry.button))
            continue;
        const QIcon themed = QIcon::fromTheme(QLatin1String(entry.themeName));
        if (!themed.isNull())
            return themed;
        return QApplication::style()->standardIcon(entry.fallback);
    }
    return QApplication::style()->standardIcon(QStyle::SP_FileIcon);
}

} // namespace torvaline

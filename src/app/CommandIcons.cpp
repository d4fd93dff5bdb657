#include "app/CommandIcons.h"

#include "app/Commands.h"

#include <QApplication>
#include <QDir>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QStandardPaths>
#include <QStyle>

#include <algorithm>

namespace torvaline {

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

QIcon CommandIcons::forButton(const ButtonEntry& button) {
    useInstalledThemeAsFallback();
    if (button.objectName != nullptr && QLatin1String(button.objectName) == "startBtn")
        return startIcon();
    if (button.themeIcon != nullptr) {
        const QIcon themed = QIcon::fromTheme(QLatin1String(button.themeIcon));
        if (!themed.isNull())
            return themed;
    }
    return QApplication::style()->standardIcon(button.fallbackIcon);
}

} // namespace torvaline

#include "app/CommandIcons.h"

#include "app/Commands.h"
#include "app/SvgIconEngine.h"

#include <QFile>

// Outside any namespace, as Q_INIT_RESOURCE requires. The resources live in a static library,
// whose unreferenced registration the linker would drop.
static void initToolbarIcons() {
    static const bool done = [] {
        Q_INIT_RESOURCE(toolbar_icons);
        return true;
    }();
    (void)done;
}

namespace torvaline {

QIcon CommandIcons::forButton(const ButtonEntry& button) {
    initToolbarIcons();
    if (button.icon == nullptr)
        return {};
    const QString off = QStringLiteral(":/toolbar/%1.svg").arg(QLatin1String(button.icon));
    // A latching button shows its armed state in its picture too, not only in its frame.
    const QString on = QStringLiteral(":/toolbar/%1-on.svg").arg(QLatin1String(button.icon));
    return QIcon(new SvgIconEngine(off, QFile::exists(on) ? on : QString()));
}

} // namespace torvaline

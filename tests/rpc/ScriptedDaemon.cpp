// The remote control over the scripted core, on a port of its own: what the conformance test
// and the benchmark drive. Prints "port N" once it listens; ends on aria2.shutdown, SIGTERM or
// after --lifetime seconds.
#include "ScriptedCore.h"
#include "remote/RemoteControl.h"

#include <QCoreApplication>
#include <QStringList>
#include <QTimer>

#include <csignal>
#include <cstdio>

using namespace torvaline;

namespace {
void quitOnSignal(int) {
    QCoreApplication::quit();
}
} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    RemoteControl::Options options;
    options.port = 0;
    options.programVersion = QStringLiteral("test");
    int step = 20;
    int lifetime = 120;
    const QStringList args = QCoreApplication::arguments();
    for (int i = 1; i + 1 < args.size(); i += 2) {
        if (args[i] == QLatin1String("--port"))
            options.port = static_cast<quint16>(args[i + 1].toUInt());
        else if (args[i] == QLatin1String("--secret"))
            options.secret = args[i + 1];
        else if (args[i] == QLatin1String("--step"))
            step = args[i + 1].toInt();
        else if (args[i] == QLatin1String("--idle-ms"))
            options.idleLimit = std::chrono::milliseconds(args[i + 1].toInt());
        else if (args[i] == QLatin1String("--header-ms"))
            options.headerDeadline = std::chrono::milliseconds(args[i + 1].toInt());
        else if (args[i] == QLatin1String("--lifetime"))
            lifetime = args[i + 1].toInt();
    }
    DownloadList list;
    RowEventHub hub;
    hub.follow(list);
    ScriptedCore core(list, hub, step);
    RowTable rows(list);
    RemoteControl control(hub, rows, core, options);
    const QString error = control.start();
    if (!error.isEmpty()) {
        std::fprintf(stderr, "%s\n", error.toUtf8().constData());
        return 2;
    }
    control.server().setOnShutdown([] { QCoreApplication::quit(); });
    std::signal(SIGTERM, quitOnSignal);
    QTimer::singleShot(lifetime * 1000, [] { QCoreApplication::quit(); });
    std::printf("port %u\n", static_cast<unsigned>(control.port()));
    std::fflush(stdout);
    return QCoreApplication::exec();
}

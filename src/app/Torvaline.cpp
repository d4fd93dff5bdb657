#include "adapters/linux/FreedesktopNotifier.h"
#include "adapters/qt/QtDialogs.h"
#include "adapters/qt/QtShell.h"
#include "app/DefaultFolder.h"
#include "app/LanesControl.h"
#include "app/LinkIntake.h"
#include "app/Main.h"
#include "app/PresetOpenDialogs.h"
#include "app/SingleInstance.h"
#include "app/SpeedLimitControl.h"
#include "app/TorvalineApp.h"
#include "cycle/TorvalineCore.h"
#include "headless/CommandLine.h"
#include "headless/HeadlessRun.h"
#include "hosters/HosterCheck.h"
#include "hosters/ProfileLoader.h"
#include "list/DownloadFolder.h"
#include "pages/HosterProfiles.h"
#include "remote/SessionRemote.h"
#include "session/DownloadSession.h"

#ifdef _WIN32
#include "adapters/windows/WindowsShutdown.h"
#else
#include "adapters/linux/FileRecoveryStore.h"
#include "adapters/linux/LogindShutdown.h"
#include <unistd.h>
#endif

#include <QApplication>
#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QIcon>
#include <QLocale>
#include <QStringList>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <memory>

namespace {

using namespace torvaline;

// The application id: the desktop entry's name, the icon's name, the notifications' sender.
const char* const AppId = "io.github.torvaline.Torvaline";

// The sizes and speeds are byte texts: a decimal point outside ASCII cannot be one of their
// characters, so such locales get the point.
char decimalSeparator() {
    const QString point = QLocale().decimalPoint();
    if (point.size() == 1 && point.at(0).unicode() > 0x20 && point.at(0).unicode() < 0x7f)
        return static_cast<char>(point.at(0).unicode());
    return '.';
}

std::string bytes(const QString& text) {
    const QByteArray b = text.toUtf8();
    return std::string(b.constData(), static_cast<std::size_t>(b.size()));
}

// File names as the system spells them, which need not be UTF-8.
std::string fileName(const QString& path) {
    const QByteArray b = QFile::encodeName(path);
    return std::string(b.constData(), static_cast<std::size_t>(b.size()));
}

// The progress line redraws itself with escape sequences: only on a terminal that has them.
bool progressLineWanted() {
#ifdef _WIN32
    return false;
#else
    const char* term = std::getenv("TERM");
    return ::isatty(STDOUT_FILENO) == 1 && term && std::strcmp(term, "dumb") != 0;
#endif
}

// The user's profiles, those of --hosters, then the built-in ones; what was refused is told on
// standard error, and the program goes on without it.
HosterProfiles loadProfiles(const CommandLine& line, std::vector<std::string>* refused = nullptr) {
    std::vector<std::string> dirs{UserHostersDir()};
    for (const QString& dir : line.hosterDirs)
        dirs.push_back(fileName(dir));
    HosterLoad load = LoadHosters(dirs);
    for (const std::string& problem : load.problems)
        std::fprintf(stderr, "torvaline: hoster profile refused: %s\n", problem.c_str());
    for (const std::string& notice : load.notices)
        std::fprintf(stderr, "torvaline: hoster profile %s\n", notice.c_str());
    if (refused)
        *refused = load.problems;
    return HosterProfiles(std::move(load.profiles));
}

int checkHosters(const CommandLine& line) {
    HosterLoad load;
    if (line.checkDir.isEmpty()) {
        std::vector<std::string> dirs{UserHostersDir()};
        for (const QString& dir : line.hosterDirs)
            dirs.push_back(fileName(dir));
        load = LoadHosters(dirs);
    } else {
        load = LoadHosters({fileName(line.checkDir)}, false);
    }
    return CheckHosters(load.profiles, load.problems, std::cout) ? 0 : 1;
}

int runHeadless(int argc, char* argv[], const CommandLine& line) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("torvaline"));
    HeadlessRun::Options options;
    for (const QString& file : line.listFiles)
        options.listFiles.push_back(fileName(file));
    for (const QString& link : line.links)
        options.links.push_back(bytes(link));
    options.folder = line.folder.isEmpty() ? DefaultFolder::path() : fileName(line.folder);
    options.decimalSeparator = decimalSeparator();
    options.progressLine = progressLineWanted();
    const HosterProfiles profiles = loadProfiles(line);
    options.profiles = &profiles;
    options.speedLimit = line.limitRate.value_or(0);
    options.checkLinks = !line.noCheck;
    options.lanes = line.maxConcurrent.value_or(3);
    options.daemon = line.daemon;
    // Beside the window's copies, not among them: a window started meanwhile must not offer
    // the daemon's rows, nor the daemon take the window's.
    if (line.daemon && !FileRecoveryStore::defaultFolder().empty())
        options.recoveryFolder = FileRecoveryStore::defaultFolder() + "/daemon";
    options.remote = {line.rpc, line.rpcPort, bytes(line.rpcSecret), line.rpcListenAll,
                      bytes(CommandLine::versionText().trimmed().section(QLatin1Char(' '), 1))};
    HeadlessRun run(options);
    return run.exec();
}

// A window runs already for this user and display: it takes the links and list files, and
// this start ends. Asked before any window or display is needed.
bool handedToRunningWindow(int argc, char* argv[], const CommandLine& line) {
    if (line.newWindow)
        return false;
    QCoreApplication probe(argc, argv);
    SingleInstance::HandOff handOff;
    handOff.links = line.links;
    for (const QString& file : line.listFiles)
        handOff.files << QFileInfo(file).absoluteFilePath();
    if (!line.folder.isEmpty())
        handOff.folder = QFileInfo(line.folder).absoluteFilePath();
    handOff.start = line.start;
    return SingleInstance::handOff(handOff);
}

std::vector<std::string> byteTexts(const QStringList& texts) {
    std::vector<std::string> out;
    for (const QString& t : texts)
        out.push_back(bytes(t));
    return out;
}

std::vector<std::string> fileNames(const QStringList& paths) {
    std::vector<std::string> out;
    for (const QString& p : paths)
        out.push_back(fileName(p));
    return out;
}

int runWindow(int argc, char* argv[], const CommandLine& line) {
    if (handedToRunningWindow(argc, argv, line))
        return 0;
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("torvaline"));
    QApplication::setDesktopFileName(QString::fromLatin1(AppId));
    // The installed theme icon first (it follows the desktop's theme and scale), the built-in
    // one when the program runs from its build folder.
    QIcon builtIn;
    for (const int size : {32, 64, 128, 256})
        builtIn.addFile(QStringLiteral(":/icons/%1/torvaline.png").arg(size), QSize(size, size));
    QApplication::setWindowIcon(QIcon::fromTheme(QString::fromLatin1(AppId), builtIn));

    std::vector<std::string> refused;
    const HosterProfiles profiles = loadProfiles(line, &refused);
    QtDialogs qtDialogs;
    PresetOpenDialogs dialogs(qtDialogs);
    QtShell shell;
#ifdef _WIN32
    WindowsShutdown shutdownService;
#else
    LogindShutdown shutdownService;
#endif
    FreedesktopNotifier notifier(QStringLiteral("Torvaline"), QString::fromLatin1(AppId));

    TorvalineApp::Options options;
    options.decimalSeparator = decimalSeparator();
#ifndef _WIN32
    options.recoveryFolder = FileRecoveryStore::defaultFolder();
#endif
    options.notifier = &notifier;
    options.checkLinks = !line.noCheck;
    // --max-concurrent-downloads holds for this run only.
    options.lanes = line.maxConcurrent.value_or(LanesControl::remembered());
    TorvalineApp program(dialogs, shell, shutdownService, options);
    program.session().setProfiles(&profiles);
    TForm1& form = program.form();
    qtDialogs.setParent(&form);
    form.show();
    // A profile the user wrote and that does not work must not go unnoticed in the window.
    if (!refused.empty()) {
        std::string text = "These hoster profiles were not loaded:\n";
        for (const std::string& problem : refused)
            text += "\n" + problem;
        qtDialogs.showError(text);
    }
    // The folder first: a transfer the crash cut is only continued in the download folder.
    if (!line.folder.isEmpty())
        form.Edit2().setText(fileName(line.folder));
    // Before the files below are imported: the question is about the last session's list.
    program.offerRecovery();

    // List files given on the command line (a file manager's "open with") are imported as
    // Import List does.
    for (const QString& file : line.listFiles) {
        dialogs.presetOpenFile(fileName(file));
        form.ImportList1Click();
    }
    // After the imports: each import resets the folder to the default, as the command does.
    if (!line.folder.isEmpty()) {
        form.Edit2().setText(fileName(line.folder));
        DefaultFolder::create(form.Edit2().text());
    }
    if (!line.links.isEmpty())
        form.linkIntake().receiveHandOff(byteTexts(line.links), {}, {}, false);
    if (line.limitRate)
        program.speedLimit().setLimit(*line.limitRate, false);
    if (line.start)
        form.StartDownload1Click();
    // From now on a second start hands its links to this window.
    SingleInstance instance;
    instance.listen([&form](const SingleInstance::HandOff& handOff) {
        form.linkIntake().receiveHandOff(byteTexts(handOff.links), fileNames(handOff.files),
                                         fileName(handOff.folder), handOff.start);
    });

    // The remote control drives the window's own list; its rows show in the grid as they come.
    if (line.rpc) {
        SessionRemote::Hooks hooks;
        hooks.shutdown = [&form] { form.close(); };
        hooks.setRateLimit = [&program](std::uint64_t limit) {
            program.speedLimit().setLimit(limit, false);
        };
        const QString error = SessionRemote::start(
            program.session(),
            RemoteControl::Options{
                line.rpcPort, line.rpcListenAll, line.rpcSecret,
                CommandLine::versionText().trimmed().section(QLatin1Char(' '), 1)},
            std::move(hooks));
        if (!error.isEmpty())
            std::fputs(("torvaline: remote control: " + bytes(error) + "\n").c_str(), stderr);
    }

    const int status = QApplication::exec();
    program.session().setRemote(nullptr);
    qtDialogs.setParent(nullptr);
    return status;
}

} // namespace

int main(int argc, char* argv[]) {
    // Parsed before any application object: --help, --version and mistakes need no display.
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    const CommandLine line = CommandLine::parse(arguments);
    switch (line.action) {
    case CommandLine::Action::Help:
    case CommandLine::Action::Version:
        std::fputs(bytes(line.text).c_str(), stdout);
        return 0;
    case CommandLine::Action::Error:
        std::fputs(bytes(line.text).c_str(), stderr);
        return line.exitCode;
    case CommandLine::Action::CheckHosters:
        return checkHosters(line);
    case CommandLine::Action::Run:
        break;
    }
    return line.headless || line.daemon ? runHeadless(argc, argv, line)
                                        : runWindow(argc, argv, line);
}

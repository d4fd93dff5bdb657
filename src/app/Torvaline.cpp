#include "adapters/qt/QtDialogs.h"
#include "adapters/qt/QtShell.h"
#include "app/Main.h"
#include "app/PresetOpenDialogs.h"
#include "app/TorvalineApp.h"
#include "list/AppTitle.h"

#ifdef _WIN32
#include "adapters/windows/WindowsShutdown.h"
#else
#include "adapters/linux/FileRecoveryStore.h"
#include "adapters/linux/LogindShutdown.h"
#endif

#include <QApplication>
#include <QLocale>
#include <QStringList>

namespace {

// The sizes and speeds are byte texts: a decimal point outside ASCII cannot be one of their
// characters, so such locales get the point.
char decimalSeparator() {
    const QString point = QLocale().decimalPoint();
    if (point.size() == 1 && point.at(0).unicode() > 0x20 && point.at(0).unicode() < 0x7f)
        return static_cast<char>(point.at(0).unicode());
    return '.';
}

} // namespace

int main(int argc, char* argv[]) {
    using namespace torvaline;

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("torvaline"));
    QApplication::setApplicationDisplayName(QString::fromLatin1(AppTitle::Initial));

    QtDialogs qtDialogs;
    PresetOpenDialogs dialogs(qtDialogs);
    QtShell shell;
#ifdef _WIN32
    WindowsShutdown shutdownService;
#else
    LogindShutdown shutdownService;
#endif

    TorvalineApp::Options options;
    options.decimalSeparator = decimalSeparator();
#ifndef _WIN32
    options.recoveryFolder = FileRecoveryStore::defaultFolder();
#endif
    TorvalineApp program(dialogs, shell, shutdownService, options);
    TForm1& form = program.form();
    qtDialogs.setParent(&form);
    form.show();
    // Before the files below are imported: the question is about the last session's list.
    program.offerRecovery();

    // List files given on the command line (a file manager's "open with") are imported as
    // Import List does.
    const QStringList files = QApplication::arguments().mid(1);
    for (const QString& file : files) {
        const QByteArray path = file.toUtf8();
        dialogs.presetOpenFile(
            std::string(path.constData(), static_cast<std::size_t>(path.size())));
        form.ImportList1Click();
    }

    const int status = QApplication::exec();
    qtDialogs.setParent(nullptr);
    return status;
}

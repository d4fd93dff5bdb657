#include "adapters/curl/CurlShare.h"
#include "adapters/curl/HttpBrowser.h"
#include "adapters/qt/QtDialogs.h"
#include "adapters/qt/QtEventLoop.h"
#include "adapters/qt/QtShell.h"
#include "app/Main.h"
#include "app/PresetOpenDialogs.h"
#include "list/AppTitle.h"

#include <QApplication>
#include <QStringList>

int main(int argc, char* argv[]) {
    using namespace torvaline;

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("torvaline"));
    QApplication::setApplicationDisplayName(QString::fromLatin1(AppTitle::Initial));

    QtDialogs qtDialogs;
    PresetOpenDialogs dialogs(qtDialogs);
    QtShell shell;
    // The browser goes before the share and the loop it uses (reverse order of creation).
    QtEventLoop loop;
    CurlShare share;
    HttpBrowser browser(loop, share);

    TForm1 form(browser, dialogs, shell);
    qtDialogs.setParent(&form);
    form.show();

    // List files given on the command line (a file manager's "open with") are imported as
    // Import List imports them.
    const QStringList files = QApplication::arguments().mid(1);
    for (const QString& file : files) {
        const QByteArray path = file.toUtf8();
        dialogs.presetOpenFile(
            std::string(path.constData(), static_cast<std::size_t>(path.size())));
        form.ImportList1Click();
    }

    return QApplication::exec();
}

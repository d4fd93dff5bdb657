#include <QApplication>
#include <QMainWindow>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationDisplayName(QStringLiteral("Torvaline V.1.2.2"));
    QMainWindow window;
    window.setWindowTitle(QStringLiteral("Torvaline V.1.2"));
    window.show();
    return QApplication::exec();
}

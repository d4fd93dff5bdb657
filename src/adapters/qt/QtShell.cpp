#include "adapters/qt/QtShell.h"

#include <QClipboard>
#include <QDesktopServices>
#include <QGuiApplication>
#include <QUrl>

namespace torvaline {

void QtShell::setClipboardText(const std::string& text) {
    QGuiApplication::clipboard()->setText(
        QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())));
}

void QtShell::openAddress(const std::string& address) {
    const QUrl url(QString::fromUtf8(address.data(), static_cast<qsizetype>(address.size())));
    const QString scheme = url.scheme().toLower();
    if (!url.isValid() || (scheme != "http" && scheme != "https" && scheme != "mailto"))
        return;
    QDesktopServices::openUrl(url);
}

void QtShell::openFolder(const std::string& path) {
    if (path.empty())
        return;
    QDesktopServices::openUrl(
        QUrl::fromLocalFile(QString::fromUtf8(path.data(), static_cast<qsizetype>(path.size()))));
}

} // namespace torvaline

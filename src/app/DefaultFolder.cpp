#include "app/DefaultFolder.h"

#include <QDir>
#include <QStandardPaths>

namespace torvaline {

std::string DefaultFolder::path() {
#ifdef Q_OS_WIN
    return "C:\\Torvaline\\Downloads";
#else
    QString base = QStandardPaths::writableLocation(QStandardPaths::DownloadLocation);
    if (base.isEmpty())
        base = QDir::homePath() + QStringLiteral("/Downloads");
    const QByteArray bytes = (base + QStringLiteral("/Torvaline")).toUtf8();
    return std::string(bytes.constData(), static_cast<std::size_t>(bytes.size()));
#endif
}

char DefaultFolder::separator() {
#ifdef Q_OS_WIN
    return '\\';
#else
    return '/';
#endif
}

void DefaultFolder::create(const std::string& path) {
    if (path.empty())
        return;
    QDir().mkpath(QString::fromUtf8(path.data(), static_cast<qsizetype>(path.size())));
}

} // namespace torvaline

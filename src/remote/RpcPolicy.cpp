#include "remote/RpcPolicy.h"

#include <QHostAddress>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QUrlQuery>

namespace torvaline {

namespace {

bool loopbackName(QString host) {
    if (host.startsWith(QLatin1Char('[')) && host.endsWith(QLatin1Char(']')))
        host = host.mid(1, host.size() - 2);
    host = host.toLower();
    if (host.endsWith(QLatin1Char('.')))
        host.chop(1);
    if (host == QLatin1String("localhost") || host.endsWith(QLatin1String(".localhost")))
        return true;
    QHostAddress address;
    return address.setAddress(host) && address.isLoopback();
}

} // namespace

RpcPolicy::Origin RpcPolicy::originOf(const QByteArray& origin, const QByteArray& referer,
                                      const QByteArray& fetchSite) {
    QByteArray named = origin.trimmed();
    if (named.isEmpty()) {
        if (!referer.trimmed().isEmpty())
            named = referer.trimmed();
        else if (const QByteArray site = fetchSite.trimmed().toLower();
                 site == "cross-site" || site == "same-site")
            // A page's request from a browser that sent neither: not ours to trust.
            return Origin::Web;
        else
            return Origin::None;
    }
    if (named.toLower() == "null")
        return Origin::Null;
    const QUrl url(QString::fromUtf8(named));
    const QString scheme = url.scheme().toLower();
    if (scheme == QLatin1String("chrome-extension") || scheme == QLatin1String("moz-extension") ||
        scheme == QLatin1String("safari-web-extension"))
        return Origin::Extension;
    if ((scheme == QLatin1String("http") || scheme == QLatin1String("https")) &&
        loopbackName(url.host()))
        return Origin::Loopback;
    if (scheme == QLatin1String("file"))
        return Origin::Null;
    return Origin::Web;
}

bool RpcPolicy::originAllowed(Origin origin, bool secretSet) {
    return secretSet || origin == Origin::None || origin == Origin::Extension ||
           origin == Origin::Loopback;
}

bool RpcPolicy::hostAllowed(const QByteArray& host) {
    const QString text = QString::fromLatin1(host.trimmed());
    if (text.isEmpty())
        // HTTP/1.0 without a name: not a browser that was led here by one.
        return true;
    QString name = text;
    if (name.startsWith(QLatin1Char('['))) {
        const qsizetype close = name.indexOf(QLatin1Char(']'));
        if (close < 0)
            return false;
        name = name.left(close + 1);
    } else if (name.count(QLatin1Char(':')) == 1) {
        name = name.left(name.indexOf(QLatin1Char(':')));
    }
    return loopbackName(name);
}

QByteArray RpcPolicy::allowedHeaders(const QByteArray& requested) {
    static const QList<QByteArray> allowList = {
        "accept",           "accept-language", "authorization", "cache-control",
        "content-language", "content-type",    "pragma",        "x-requested-with"};
    QByteArray answer;
    for (const QByteArray& part : requested.split(',')) {
        const QByteArray name = part.trimmed().toLower();
        if (name.isEmpty() || !allowList.contains(name) || answer.contains(name))
            continue;
        if (!answer.isEmpty())
            answer += ", ";
        answer += name;
    }
    return answer.isEmpty() ? QByteArray("content-type") : answer;
}

std::optional<QByteArray> RpcPolicy::getRequest(const QUrl& url) {
    const QUrlQuery query(url);
    const QString method = query.queryItemValue(QStringLiteral("method"), QUrl::FullyDecoded);
    const QString id = query.queryItemValue(QStringLiteral("id"), QUrl::FullyDecoded);
    const QByteArray encoded =
        query.queryItemValue(QStringLiteral("params"), QUrl::FullyDecoded).toLatin1();
    QJsonValue params = QJsonArray();
    if (!encoded.isEmpty()) {
        const auto decoded = QByteArray::fromBase64Encoding(
            encoded, QByteArray::Base64Encoding | QByteArray::AbortOnBase64DecodingErrors);
        if (!decoded)
            return std::nullopt;
        QJsonParseError error{};
        const QJsonDocument document = QJsonDocument::fromJson(*decoded, &error);
        if (error.error != QJsonParseError::NoError)
            return std::nullopt;
        if (method.isEmpty())
            // Without a method the parameters are a whole batch.
            return *decoded;
        params = document.isArray() ? QJsonValue(document.array()) : QJsonValue(document.object());
    }
    if (method.isEmpty())
        return std::nullopt;
    const QJsonObject request{{QStringLiteral("jsonrpc"), QStringLiteral("2.0")},
                              {QStringLiteral("id"), id},
                              {QStringLiteral("method"), method},
                              {QStringLiteral("params"), params}};
    return QJsonDocument(request).toJson(QJsonDocument::Compact);
}

std::optional<QByteArray> RpcPolicy::jsonCallback(const QUrl& url) {
    const QByteArray name = QUrlQuery(url)
                                .queryItemValue(QStringLiteral("jsoncallback"), QUrl::FullyDecoded)
                                .toLatin1();
    if (name.size() > 128)
        return std::nullopt;
    for (const char c : name)
        if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
              c == '_' || c == '$' || c == '.'))
            return std::nullopt;
    return name;
}

} // namespace torvaline

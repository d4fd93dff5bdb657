#include "adapters/qt/ClickNLoadServer.h"

#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <QUrlQuery>

#include <openssl/evp.h>

#include <algorithm>
#include <memory>

namespace torvaline {

struct ClickNLoadServer::Request {
    QByteArray method;
    QByteArray path;
    QByteArray host;
    QByteArray contentType;
    QByteArray body;
};

namespace {

QByteArray reason(int status) {
    switch (status) {
    case 200:
        return "OK";
    case 400:
        return "Bad Request";
    case 403:
        return "Forbidden";
    case 404:
        return "Not Found";
    case 405:
        return "Method Not Allowed";
    case 413:
        return "Content Too Large";
    case 429:
        return "Too Many Requests";
    case 431:
        return "Request Header Fields Too Large";
    default:
        return "Error";
    }
}

const QByteArray CrossDomain = "<?xml version=\"1.0\"?>\n"
                               "<!DOCTYPE cross-domain-policy SYSTEM "
                               "\"http://www.macromedia.com/xml/dtds/cross-domain-policy.dtd\">\n"
                               "<cross-domain-policy>\n"
                               "<allow-access-from domain=\"*\" />\n"
                               "</cross-domain-policy>\n";

// A page on another site reaches 127.0.0.1 by its address; a name that is not a loopback one
// is a site that had its own name point here (DNS rebinding) and may not speak for the user.
bool loopbackHost(QByteArray host) {
    host = host.trimmed().toLower();
    if (host.startsWith('[')) {
        const qsizetype close = host.indexOf(']');
        if (close < 0)
            return false;
        return host.mid(1, close - 1) == "::1";
    }
    const qsizetype colon = host.indexOf(':');
    if (colon >= 0)
        host = host.left(colon);
    return host == "127.0.0.1" || host == "localhost";
}

std::string bytes(const QString& text) {
    const QByteArray b = text.toUtf8();
    return std::string(b.constData(), static_cast<std::size_t>(b.size()));
}

bool isHex(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

} // namespace

ClickNLoadServer::ClickNLoadServer(std::function<Verdict(Batch)> onBatch, QObject* parent)
    : ClickNLoadServer(std::move(onBatch), Limits{}, parent) {}

ClickNLoadServer::ClickNLoadServer(std::function<Verdict(Batch)> onBatch, Limits limits,
                                   QObject* parent)
    : QObject(parent)
    , m_onBatch(std::move(onBatch))
    , m_limits(limits)
    , m_server(new QTcpServer(this))
    , m_tokens(limits.burst) {
    m_server->setMaxPendingConnections(m_limits.maxConnections);
    connect(m_server, &QTcpServer::newConnection, this, &ClickNLoadServer::accept);
    m_refill.start();
}

ClickNLoadServer::~ClickNLoadServer() = default;

Result<void> ClickNLoadServer::listen(quint16 port) {
    if (m_server->isListening() || m_server->listen(QHostAddress::LocalHost, port))
        return {};
    return fail(FailureCause::Other, bytes(m_server->errorString()));
}

void ClickNLoadServer::close() {
    m_server->close();
}

bool ClickNLoadServer::isListening() const {
    return m_server->isListening();
}

quint16 ClickNLoadServer::port() const {
    return m_server->serverPort();
}

bool ClickNLoadServer::takeToken() {
    const double elapsed = static_cast<double>(m_refill.restart()) / 1000.0;
    m_tokens = std::min<double>(m_limits.burst, m_tokens + elapsed * m_limits.perSecond);
    if (m_tokens < 1.0)
        return false;
    m_tokens -= 1.0;
    return true;
}

void ClickNLoadServer::accept() {
    while (QTcpSocket* socket = m_server->nextPendingConnection()) {
        // Bound to the loopback address, so nothing else should arrive; checked all the same.
        if (!socket->peerAddress().isLoopback() || m_connections >= m_limits.maxConnections) {
            socket->abort();
            socket->deleteLater();
            continue;
        }
        ++m_connections;
        m_buffers.insert(socket, {});
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { read(socket); });
        connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
            if (m_buffers.remove(socket))
                --m_connections;
            socket->deleteLater();
        });
        // A request trickled in byte by byte holds a connection; it gets so long, no longer.
        QTimer::singleShot(m_limits.requestMs, socket, [socket] { socket->abort(); });
    }
}

void ClickNLoadServer::read(QTcpSocket* socket) {
    auto found = m_buffers.find(socket);
    if (found == m_buffers.end())
        return;
    QByteArray& buffer = *found;
    buffer += socket->read(m_limits.maxHeaderBytes + m_limits.maxBodyBytes + 1 - buffer.size());
    const auto done = [&](int status, const QByteArray& body) {
        m_buffers.remove(socket);
        --m_connections;
        reply(socket, status, body);
    };

    qsizetype headerEnd = buffer.indexOf("\r\n\r\n");
    qsizetype bodyStart = headerEnd + 4;
    if (headerEnd < 0) {
        headerEnd = buffer.indexOf("\n\n");
        bodyStart = headerEnd + 2;
    }
    if (headerEnd < 0) {
        if (buffer.size() > m_limits.maxHeaderBytes)
            done(431, "request header too large\r\n");
        return;
    }
    if (headerEnd > m_limits.maxHeaderBytes) {
        done(431, "request header too large\r\n");
        return;
    }

    Request request;
    const QList<QByteArray> lines = buffer.left(headerEnd).split('\n');
    const QList<QByteArray> start = lines.value(0).trimmed().split(' ');
    if (start.size() != 3 || !start[2].startsWith("HTTP/1.")) {
        done(400, "bad request\r\n");
        return;
    }
    request.method = start[0];
    request.path = start[1];
    qint64 length = 0;
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QByteArray line = lines[i].trimmed();
        const qsizetype colon = line.indexOf(':');
        if (colon <= 0) {
            done(400, "bad request\r\n");
            return;
        }
        const QByteArray name = line.left(colon).trimmed().toLower();
        const QByteArray value = line.mid(colon + 1).trimmed();
        if (name == "host") {
            request.host = value;
        } else if (name == "content-type") {
            request.contentType = value.toLower();
        } else if (name == "content-length") {
            bool ok = false;
            length = value.toLongLong(&ok);
            if (!ok || length < 0) {
                done(400, "bad request\r\n");
                return;
            }
        } else if (name == "transfer-encoding") {
            // Only bodies of a stated length: nothing of unknown size is read.
            done(400, "bad request\r\n");
            return;
        }
    }
    if (length > m_limits.maxBodyBytes) {
        done(413, "request too large\r\n");
        return;
    }
    if (buffer.size() - bodyStart < length)
        return; // the rest of the body is still on its way
    request.body = buffer.mid(bodyStart, length);

    if (!takeToken()) {
        done(429, "too many requests\r\n");
        return;
    }
    const auto [status, body] = answer(request);
    m_buffers.remove(socket);
    --m_connections;
    reply(socket, status, body,
          request.path == "/crossdomain.xml" && status == 200 ? "text/xml" : "text/plain");
}

std::pair<int, QByteArray> ClickNLoadServer::answer(const Request& request) {
    if (!loopbackHost(request.host))
        return {403, "forbidden\r\n"};
    const qsizetype query = request.path.indexOf('?');
    const QByteArray path = query < 0 ? request.path : request.path.left(query);
    if (request.method == "GET") {
        if (path == "/jdcheck.js")
            return {200, "jdownloader=true;\r\n"};
        if (path == "/flash" || path == "/flash/")
            return {200, "JDownloader\r\n"};
        if (path == "/crossdomain.xml")
            return {200, CrossDomain};
        return {404, "not found\r\n"};
    }
    if (request.method != "POST")
        return {405, "method not allowed\r\n"};
    if (path != "/flash/add" && path != "/flash/addcrypted2")
        return {404, "not found\r\n"};
    if (!request.contentType.isEmpty() &&
        !request.contentType.startsWith("application/x-www-form-urlencoded"))
        return {400, "form fields expected\r\n"};

    // '+' stands for a blank in form fields; QUrlQuery leaves it as it is.
    QByteArray form = request.body;
    form.replace('+', ' ');
    const QUrlQuery fields(QString::fromUtf8(form));
    const auto field = [&fields](const char* name) {
        return fields.queryItemValue(QString::fromLatin1(name), QUrl::FullyDecoded);
    };
    Batch batch;
    batch.source = bytes(field("source"));
    batch.package = bytes(field("package"));
    if (path == "/flash/add") {
        batch.links = bytes(field("urls"));
    } else {
        const auto key = keyFromJk(field("jk").toUtf8());
        if (!key)
            return {400, "jk holds no key\r\n"};
        const auto plain = decrypt(field("crypted").toLatin1(), *key);
        if (!plain)
            return {400, "crypted cannot be read\r\n"};
        batch.links.assign(plain->constData(), static_cast<std::size_t>(plain->size()));
    }
    if (batch.links.empty())
        return {400, "no links\r\n"};
    switch (m_onBatch ? m_onBatch(std::move(batch)) : Verdict::Rejected) {
    case Verdict::Accepted:
        return {200, "success\r\n"};
    case Verdict::Busy:
        return {429, "busy\r\n"};
    case Verdict::Rejected:
        break;
    }
    return {400, "no links\r\n"};
}

void ClickNLoadServer::reply(QTcpSocket* socket, int status, const QByteArray& body,
                             const QByteArray& type) {
    QByteArray head = "HTTP/1.1 " + QByteArray::number(status) + ' ' + reason(status) + "\r\n";
    head += "Content-Type: " + type + "\r\n";
    head += "Content-Length: " + QByteArray::number(body.size()) + "\r\n";
    head += "Connection: close\r\n\r\n";
    socket->write(head + body);
    socket->disconnectFromHost();
}

std::optional<QByteArray> ClickNLoadServer::keyFromJk(const QByteArray& jk) {
    // "function f(){ return '31323334353637383930313233343536';}" and nothing cleverer: a key
    // that only running the script would give is no key.
    constexpr qsizetype MaxJk = 4096;
    if (jk.size() > MaxJk)
        return std::nullopt;
    qsizetype at = jk.indexOf("return");
    if (at < 0)
        return std::nullopt;
    at += 6;
    while (at < jk.size() && (jk[at] == ' ' || jk[at] == '\t' || jk[at] == '\r' || jk[at] == '\n'))
        ++at;
    if (at >= jk.size() || (jk[at] != '\'' && jk[at] != '"'))
        return std::nullopt;
    const char quote = jk[at];
    const qsizetype close = jk.indexOf(quote, at + 1);
    if (close < 0)
        return std::nullopt;
    const QByteArray hex = jk.mid(at + 1, close - at - 1);
    if (hex.size() != 32 || !std::all_of(hex.begin(), hex.end(), isHex))
        return std::nullopt;
    // What follows the literal ends the statement; "'…' + x" would be a computed key.
    qsizetype after = close + 1;
    while (after < jk.size() && (jk[after] == ' ' || jk[after] == '\t'))
        ++after;
    if (after < jk.size() && jk[after] != ';' && jk[after] != '}' && jk[after] != '\n' &&
        jk[after] != '\r')
        return std::nullopt;
    return QByteArray::fromHex(hex);
}

std::optional<QByteArray> ClickNLoadServer::decrypt(const QByteArray& crypted,
                                                    const QByteArray& key) {
    if (key.size() != 16)
        return std::nullopt;
    const auto decoded = QByteArray::fromBase64Encoding(
        crypted.trimmed(), QByteArray::Base64Encoding | QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded || decoded.decoded.isEmpty() || decoded.decoded.size() % 16 != 0)
        return std::nullopt;
    const QByteArray& data = decoded.decoded;
    std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)> ctx(EVP_CIPHER_CTX_new(),
                                                                        &EVP_CIPHER_CTX_free);
    const auto* k = reinterpret_cast<const unsigned char*>(key.constData());
    if (!ctx || EVP_DecryptInit_ex(ctx.get(), EVP_aes_128_cbc(), nullptr, k, k) != 1)
        return std::nullopt;
    // The senders pad with zero bytes, not as PKCS#7 would.
    EVP_CIPHER_CTX_set_padding(ctx.get(), 0);
    QByteArray plain(data.size() + 16, '\0');
    int written = 0;
    int final = 0;
    auto* out = reinterpret_cast<unsigned char*>(plain.data());
    if (EVP_DecryptUpdate(ctx.get(), out, &written,
                          reinterpret_cast<const unsigned char*>(data.constData()),
                          static_cast<int>(data.size())) != 1 ||
        EVP_DecryptFinal_ex(ctx.get(), out + written, &final) != 1)
        return std::nullopt;
    plain.truncate(written + final);
    while (!plain.isEmpty() && plain.back() == '\0')
        plain.chop(1);
    return plain;
}

} // namespace torvaline

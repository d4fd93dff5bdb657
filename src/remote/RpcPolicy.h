#pragma once

#include <QByteArray>
#include <QString>
#include <QUrl>

#include <optional>

namespace torvaline {

// Who may knock, decided from the request's head alone: the page or program an Origin names,
// the name the caller reached us by, the headers a preflight may ask for, and the JSON a
// GET carries in its query.
class RpcPolicy final {
public:
    enum class Origin {
        None,      // a program that is not a browser (curl, an RPC library)
        Extension, // chrome-extension://, moz-extension://, safari-web-extension://
        Loopback,  // a page served by this machine
        Null,      // "null": a file:// page, a sandboxed frame, a redirect's opaque origin
        Web        // any other page
    };

    // The origin of a request: its Origin header, or, for a request a page makes without one
    // (a script tag's GET), its Referer or its Sec-Fetch-Site.
    static Origin originOf(const QByteArray& origin, const QByteArray& referer,
                           const QByteArray& fetchSite);
    // Without a secret only installed programs and this machine's pages may drive the daemon:
    // a page the user merely visits must not. With one, the secret decides.
    static bool originAllowed(Origin origin, bool secretSet);
    // Loopback names and addresses, with or without a port: a page whose own name resolves to
    // 127.0.0.1 (DNS rebinding) sends its own name and is turned away.
    static bool hostAllowed(const QByteArray& host);
    // The headers of Access-Control-Request-Headers that a front end may send, as asked.
    static QByteArray allowedHeaders(const QByteArray& requested);
    // A GET /jsonrpc?method=…&id=…&params=<base64 JSON> as the JSON request body it stands
    // for; nothing when the query cannot be read.
    static std::optional<QByteArray> getRequest(const QUrl& url);
    // The JSONP callback named in the query: empty when none, nothing when it is not a name.
    static std::optional<QByteArray> jsonCallback(const QUrl& url);
};

} // namespace torvaline

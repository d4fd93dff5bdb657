#include "remote/Aria2Rpc.h"

#include "cycle/FileNameCheck.h"
#include "transfer/SpeedLimitText.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonDocument>
#include <QRandomGenerator>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <limits>
#include <optional>
#include <string_view>

namespace torvaline {

namespace {

// The release of the protocol these methods answer as; front ends decide on it which methods
// they may call.
const QString ProtocolVersion = QStringLiteral("1.36.0");

const QStringList& methodNames() {
    static const QStringList names = {QStringLiteral("aria2.addUri"),
                                      QStringLiteral("aria2.remove"),
                                      QStringLiteral("aria2.forceRemove"),
                                      QStringLiteral("aria2.pause"),
                                      QStringLiteral("aria2.forcePause"),
                                      QStringLiteral("aria2.pauseAll"),
                                      QStringLiteral("aria2.forcePauseAll"),
                                      QStringLiteral("aria2.unpause"),
                                      QStringLiteral("aria2.unpauseAll"),
                                      QStringLiteral("aria2.changePosition"),
                                      QStringLiteral("aria2.tellStatus"),
                                      QStringLiteral("aria2.getUris"),
                                      QStringLiteral("aria2.getFiles"),
                                      QStringLiteral("aria2.getPeers"),
                                      QStringLiteral("aria2.getServers"),
                                      QStringLiteral("aria2.addTorrent"),
                                      QStringLiteral("aria2.addMetalink"),
                                      QStringLiteral("aria2.tellActive"),
                                      QStringLiteral("aria2.tellWaiting"),
                                      QStringLiteral("aria2.tellStopped"),
                                      QStringLiteral("aria2.getOption"),
                                      QStringLiteral("aria2.changeOption"),
                                      QStringLiteral("aria2.getGlobalOption"),
                                      QStringLiteral("aria2.changeGlobalOption"),
                                      QStringLiteral("aria2.purgeDownloadResult"),
                                      QStringLiteral("aria2.removeDownloadResult"),
                                      QStringLiteral("aria2.getVersion"),
                                      QStringLiteral("aria2.getSessionInfo"),
                                      QStringLiteral("aria2.shutdown"),
                                      QStringLiteral("aria2.forceShutdown"),
                                      QStringLiteral("aria2.getGlobalStat"),
                                      QStringLiteral("aria2.saveSession"),
                                      QStringLiteral("system.multicall"),
                                      QStringLiteral("system.listMethods"),
                                      QStringLiteral("system.listNotifications")};
    return names;
}

const QStringList& notificationNames() {
    static const QStringList names = {
        QStringLiteral("aria2.onDownloadStart"), QStringLiteral("aria2.onDownloadPause"),
        QStringLiteral("aria2.onDownloadStop"), QStringLiteral("aria2.onDownloadComplete"),
        QStringLiteral("aria2.onDownloadError")};
    return names;
}

bool openMethod(const QString& method) {
    return method == QLatin1String("system.listMethods") ||
           method == QLatin1String("system.listNotifications") ||
           method == QLatin1String("system.multicall");
}

// A refused call: the error object's code and message, as aria2 words them.
struct Fault {
    int code = 1;
    QString message;
};

[[noreturn]] void fail(const QString& message, int code = 1) {
    throw Fault{code, message};
}

[[noreturn]] void wrongType(int index) {
    fail(QStringLiteral("The parameter at %1 has wrong type.").arg(index));
}

QJsonObject errorObject(int code, const QString& message) {
    return QJsonObject{{QStringLiteral("code"), code}, {QStringLiteral("message"), message}};
}

QJsonObject response(const QJsonValue& id) {
    return QJsonObject{{QStringLiteral("id"), id}, {QStringLiteral("jsonrpc"), "2.0"}};
}

QString num(std::int64_t value) {
    return QString::number(value);
}

QString utf8(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// A command the list refused: its reason is the message, and the code is 1, aria2's code for a
// refused call, whatever the cause.
template <class T> void refuseOn(const Result<T>& done) {
    if (!done)
        fail(utf8(done.reason()));
}

std::string bytes(const QString& text) {
    const QByteArray b = text.toUtf8();
    return std::string(b.constData(), static_cast<std::size_t>(b.size()));
}

// Secrets compared in time that does not depend on where they first differ.
bool sameSecret(const QString& given, const QString& secret) {
    const QByteArray a = given.toUtf8();
    const QByteArray b = secret.toUtf8();
    unsigned char diff = a.size() == b.size() ? 0 : 1;
    for (qsizetype i = 0; i < b.size(); ++i) {
        const char given = a.isEmpty() ? '\0' : a.at(i % a.size());
        diff |= static_cast<unsigned char>(given ^ b.at(i));
    }
    return diff == 0;
}

std::optional<std::int64_t> integer(const QJsonValue& value) {
    if (!value.isDouble())
        return std::nullopt;
    const double d = value.toDouble();
    if (!std::isfinite(d) || d != std::floor(d) || std::fabs(d) > 9.0e15)
        return std::nullopt;
    return static_cast<std::int64_t>(d);
}

// Only links the browser can open become rows; a row is a promise to fetch something.
bool acceptableLink(const QString& link) {
    if (link.size() > 65536)
        return false;
    const QString lower = link.left(8).toLower();
    if (!lower.startsWith(QLatin1String("http://")) && !lower.startsWith(QLatin1String("https://")))
        return false;
    for (const QChar c : link)
        if (c.unicode() <= 0x20 || c.unicode() == 0x7f)
            return false;
    return true;
}

// A name the row's file may take: the one check every name goes through, refused here so that
// the caller hears of it rather than the row falling back to the page's name.
bool plainFileName(const QString& name) {
    return FileNameCheck(QDir::separator().toLatin1()).problem(bytes(name)).empty();
}

// "1M", "1.5M", "500K", "1G", "1048576": bytes a second, read as the command line reads them.
std::optional<std::int64_t> rate(const QJsonValue& value) {
    if (const auto n = integer(value))
        return *n >= 0 ? n : std::nullopt;
    if (!value.isString())
        return std::nullopt;
    const auto parsed = parseSpeedLimit(bytes(value.toString()));
    if (!parsed)
        return std::nullopt;
    return static_cast<std::int64_t>(*parsed);
}

QString optionProblem(const QString& name) {
    return QStringLiteral("We encountered a problem while processing the option '--%1'.").arg(name);
}

// A header option as a list of lines: aria2 takes one line as a string or several as an array.
QJsonArray headerLines(const QJsonValue& header) {
    if (header.isString())
        return header.toString().isEmpty() ? QJsonArray() : QJsonArray{header};
    if (header.isArray())
        return header.toArray();
    fail(optionProblem(QStringLiteral("header")));
}

// The header, referer and user-agent options of a new row. A value that could not go out as
// it stands (a line break would put a header or a request of the caller's making on the
// wire) refuses the whole call, as aria2 refuses an option it cannot take.
RequestOptions requestOptionsOf(const QJsonObject& options) {
    RequestOptions request;
    if (const QJsonValue header = options.value(QStringLiteral("header")); !header.isUndefined()) {
        const QJsonArray lines = headerLines(header);
        if (static_cast<std::size_t>(lines.size()) > MaxRequestHeaders)
            fail(optionProblem(QStringLiteral("header")));
        for (const QJsonValue& line : lines) {
            if (!line.isString() || !checkRequestHeader(bytes(line.toString())))
                fail(optionProblem(QStringLiteral("header")));
            request.headers.push_back(bytes(line.toString()));
        }
    }
    const std::pair<QString, std::string*> single[] = {
        {QStringLiteral("referer"), &request.referer},
        {QStringLiteral("user-agent"), &request.userAgent}};
    for (const auto& [key, field] : single) {
        const QJsonValue value = options.value(key);
        if (value.isUndefined())
            continue;
        if (!value.isString() || !checkRequestHeader("X: " + bytes(value.toString())))
            fail(optionProblem(key));
        *field = bytes(value.toString());
    }
    return request;
}

// The codes aria2 gives its failures, which front ends turn into their own words.
int errorCodeOf(FailureCause cause) {
    switch (cause) {
    case FailureCause::NotFound:
        return 3;
    case FailureCause::TimeOut:
        return 2;
    case FailureCause::Network:
        return 6;
    case FailureCause::DiskFull:
        return 9;
    case FailureCause::Authorisation:
        return 24;
    case FailureCause::BadHttpAnswer:
        return 22;
    // None of these reaches a row's transfer yet; they read as the unknown error they were.
    case FailureCause::NameRefused:
    case FailureCause::PageUnreadable:
    case FailureCause::Stopped:
    case FailureCause::Other:
        break;
    }
    return 1;
}

std::string_view phaseName(RowPhase phase) {
    switch (phase) {
    case RowPhase::Waiting:
        return "waiting";
    case RowPhase::Opening:
        return "opening";
    case RowPhase::HosterWait:
        return "hoster-wait";
    case RowPhase::Captcha:
        return "captcha";
    case RowPhase::Countdown:
        return "countdown";
    case RowPhase::Transferring:
        return "transferring";
    case RowPhase::Paused:
        return "paused";
    case RowPhase::SetAside:
        return "set-aside";
    case RowPhase::Completed:
        return "completed";
    case RowPhase::Failed:
        return "failed";
    case RowPhase::Stopped:
        break;
    }
    return "stopped";
}

} // namespace

Aria2Rpc::Aria2Rpc(RowTable& rows, RemoteCommands& commands, Options options)
    : m_rows(rows)
    , m_commands(commands)
    , m_options(std::move(options)) {
    for (int i = 0; i < 5; ++i)
        m_sessionId += QStringLiteral("%1").arg(QRandomGenerator::global()->generate(), 8, 16,
                                                QLatin1Char('0'));
}

QString Aria2Rpc::gidText(std::uint64_t id) {
    return QStringLiteral("%1").arg(id, 16, 16, QLatin1Char('0'));
}

QByteArray Aria2Rpc::notification(RowTable::Notice notice, std::uint64_t id) {
    const QString& method = notificationNames().at(static_cast<int>(notice));
    const QJsonObject message{
        {QStringLiteral("jsonrpc"), "2.0"},
        {QStringLiteral("method"), method},
        {QStringLiteral("params"), QJsonArray{QJsonObject{{QStringLiteral("gid"), gidText(id)}}}}};
    return QJsonDocument(message).toJson(QJsonDocument::Compact);
}

bool Aria2Rpc::authorized(const QJsonValue& request) const {
    const QJsonObject object = request.toObject();
    const QJsonValue given = object.value(QStringLiteral("params"));
    if (!object.value(QStringLiteral("method")).isString() ||
        (!given.isUndefined() && !given.isArray()))
        // Not a call at all: answered as an invalid request, which tells nothing.
        return true;
    const QString method = object.value(QStringLiteral("method")).toString();
    const QJsonArray params = object.value(QStringLiteral("params")).toArray();
    const auto tokenOk = [this](const QJsonArray& params) {
        const QString first = params.isEmpty() ? QString() : params.first().toString();
        return first.startsWith(QLatin1String("token:")) &&
               sameSecret(first.mid(6), m_options.secret);
    };
    if (method == QLatin1String("system.multicall")) {
        // Every call inside needs it: one request holding many guesses is one guess.
        for (const QJsonValue& one : params.first().toArray()) {
            const QJsonObject inner = one.toObject();
            const QString name = inner.value(QStringLiteral("methodName")).toString();
            if (!openMethod(name) && !tokenOk(inner.value(QStringLiteral("params")).toArray()))
                return false;
        }
        return true;
    }
    return openMethod(method) || tokenOk(params);
}

Aria2Rpc::Reply Aria2Rpc::handle(const QByteArray& request) {
    Reply reply;
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(request, &error);
    if (error.error != QJsonParseError::NoError || document.isNull()) {
        QJsonObject answer = response(QJsonValue::Null);
        answer[QStringLiteral("error")] = errorObject(-32700, QStringLiteral("Parse error."));
        reply.httpStatus = 500;
        reply.body = QJsonDocument(answer).toJson(QJsonDocument::Compact);
        return reply;
    }
    const auto refused = [](const QJsonValue& one) {
        QJsonObject answer = response(one.toObject().value(QStringLiteral("id")));
        answer[QStringLiteral("error")] = errorObject(1, QStringLiteral("Unauthorized"));
        return answer;
    };
    if (document.isArray()) {
        const QJsonArray batch = document.array();
        if (batch.size() > m_options.maxBatch) {
            QJsonObject answer = response(QJsonValue::Null);
            answer[QStringLiteral("error")] =
                errorObject(-32600, QStringLiteral("Invalid Request."));
            reply.body = QJsonDocument(answer).toJson(QJsonDocument::Compact);
            return reply;
        }
        // The secret once for the whole batch: it is refused whole, every answer alike, so
        // that none tells which guess was nearer.
        bool allowed = true;
        if (!m_options.secret.isEmpty())
            for (const QJsonValue& one : batch)
                allowed = authorized(one) && allowed;
        QJsonArray answers;
        for (const QJsonValue& one : batch)
            answers.append(allowed ? single(one, reply) : refused(one));
        reply.unauthorized = !allowed;
        reply.body = QJsonDocument(answers).toJson(QJsonDocument::Compact);
        return reply;
    }
    QJsonObject answer;
    if (!m_options.secret.isEmpty() && !authorized(document.object())) {
        reply.unauthorized = true;
        answer = refused(document.object());
    } else {
        answer = single(document.object(), reply);
    }
    if (answer.contains(QStringLiteral("error")))
        reply.httpStatus = 400;
    reply.body = QJsonDocument(answer).toJson(QJsonDocument::Compact);
    return reply;
}

QJsonObject Aria2Rpc::single(const QJsonValue& request, Reply& reply) {
    const QJsonObject object = request.toObject();
    const QJsonValue id = object.value(QStringLiteral("id"));
    const QJsonValue method = object.value(QStringLiteral("method"));
    const QJsonValue params = object.value(QStringLiteral("params"));
    if (!request.isObject() || !method.isString() || id.isUndefined()) {
        QJsonObject answer = response(id.isUndefined() ? QJsonValue(QJsonValue::Null) : id);
        answer[QStringLiteral("error")] = errorObject(-32600, QStringLiteral("Invalid Request."));
        return answer;
    }
    QJsonObject answer = response(id);
    if (!params.isUndefined() && !params.isArray()) {
        answer[QStringLiteral("error")] = errorObject(-32602, QStringLiteral("Invalid params."));
        return answer;
    }
    QJsonObject error;
    const QJsonValue result = call(method.toString(), params.toArray(), error, reply, false);
    if (!error.isEmpty())
        answer[QStringLiteral("error")] = error;
    else
        answer[QStringLiteral("result")] = result;
    return answer;
}

QJsonValue Aria2Rpc::call(const QString& method, QJsonArray params, QJsonObject& error,
                          Reply& reply, bool inMulticall) {
    try {
        // A token is taken off the parameters whether a secret is set or not, as aria2 does.
        if (!params.isEmpty() && params.first().isString() &&
            params.first().toString().startsWith(QLatin1String("token:")))
            params.removeFirst();
        // The secret was checked for the whole request before any call ran.
        if (method == QLatin1String("system.multicall")) {
            if (inMulticall)
                fail(QStringLiteral("Recursive system.multicall forbidden."));
            return multicall(params, reply);
        }
        return dispatch(method, params, reply);
    } catch (const Fault& fault) {
        error = errorObject(fault.code, fault.message);
        return {};
    }
}

QJsonValue Aria2Rpc::multicall(const QJsonArray& params, Reply& reply) {
    if (params.isEmpty() || !params.first().isArray())
        wrongType(0);
    const QJsonArray calls = params.first().toArray();
    if (calls.size() > m_options.maxCalls)
        fail(QStringLiteral("Too many calls in one system.multicall."));
    QJsonArray results;
    for (const QJsonValue& one : calls) {
        const QJsonObject object = one.toObject();
        const QJsonValue name = object.value(QStringLiteral("methodName"));
        const QJsonValue inner = object.value(QStringLiteral("params"));
        if (!one.isObject() || !name.isString() || (!inner.isUndefined() && !inner.isArray())) {
            results.append(errorObject(1, QStringLiteral("Missing methodName or params.")));
            continue;
        }
        QJsonObject error;
        const QJsonValue result = call(name.toString(), inner.toArray(), error, reply, true);
        if (!error.isEmpty())
            results.append(error);
        else
            results.append(QJsonArray{result});
    }
    return results;
}

void Aria2Rpc::checkDir(const QString& dir) const {
    if (!m_options.secret.isEmpty())
        return;
    // Without a secret any program of any user on this machine may call: it may place files
    // only where the daemon was told to put them, never over a user's own files elsewhere.
    std::error_code ec;
    const auto resolved = [&ec](const std::string& path) {
        return std::filesystem::weakly_canonical(std::filesystem::absolute(path, ec), ec)
            .lexically_normal();
    };
    const std::filesystem::path folder = resolved(m_commands.folder());
    const std::filesystem::path asked = resolved(bytes(dir));
    const auto [end, rest] =
        std::mismatch(folder.begin(), folder.end(), asked.begin(), asked.end());
    const bool inside = !ec && end == folder.end() &&
                        std::none_of(rest, asked.end(), [](const auto& p) { return p == ".."; });
    if (!inside)
        fail(QStringLiteral("Without --rpc-secret, dir must lie inside the download folder %1")
                 .arg(utf8(folder.string())));
}

std::uint64_t Aria2Rpc::gidParam(const QJsonArray& params, int index) const {
    if (params.size() <= index || !params.at(index).isString())
        wrongType(index);
    const QString text = params.at(index).toString();
    bool ok = text.size() == 16;
    const std::uint64_t id = ok ? text.toULongLong(&ok, 16) : 0;
    if (!ok)
        fail(QStringLiteral("Invalid GID %1").arg(text.left(64)));
    if (!m_rows.find(id))
        fail(QStringLiteral("GID %1 is not found").arg(text));
    return id;
}

RowTable::Row Aria2Rpc::rowParam(const QJsonArray& params, int index) const {
    return *m_rows.find(gidParam(params, index));
}

QJsonObject Aria2Rpc::statusObject(const RowTable::Row& row, const QJsonArray& keys) const {
    const RowRecord& record = *row.record;
    const RowDetails& details = record.details.get();
    const RowTable::Status status = m_rows.status(row);
    const bool active = status == RowTable::Status::Active;
    // Before its transfer, the size the link check read.
    const std::int64_t checkedSize = row.checked ? row.checked->size : -1;
    const QString total = num(record.total == 0 && checkedSize > 0 ? checkedSize : record.total);
    const QString done = num(record.done);
    // Front ends cut the file's name off the path by the dir: both are told the same way,
    // relative when the caller gave a relative dir, without doubled or trailing slashes.
    const QString dir =
        QDir::cleanPath(row.dir.empty() ? utf8(m_commands.folder()) : utf8(row.dir));
    QString path = utf8(details.filePath);
    const QString absoluteDir = QDir::cleanPath(QFileInfo(dir).absoluteFilePath());
    if (path.isEmpty() && !row.out.empty())
        path = dir + QLatin1Char('/') + utf8(row.out);
    else if (path.isEmpty() && row.checked && !row.checked->name.empty())
        path = dir + QLatin1Char('/') + utf8(row.checked->name);
    else if (path.startsWith(absoluteDir + QLatin1Char('/')))
        path = dir + path.mid(absoluteDir.size());
    const QString uriStatus =
        status == RowTable::Status::Waiting || status == RowTable::Status::Paused
            ? QStringLiteral("waiting")
            : QStringLiteral("used");
    const QJsonArray uris{QJsonObject{{QStringLiteral("uri"), utf8(row.link)},
                                      {QStringLiteral("status"), uriStatus}}};
    const QJsonArray files{QJsonObject{{QStringLiteral("index"), QStringLiteral("1")},
                                       {QStringLiteral("path"), path},
                                       {QStringLiteral("length"), total},
                                       {QStringLiteral("completedLength"), done},
                                       {QStringLiteral("selected"), QStringLiteral("true")},
                                       {QStringLiteral("uris"), uris}}};
    QJsonObject own{{QStringLiteral("phase"), QString::fromLatin1(phaseName(record.phase).data())},
                    {QStringLiteral("link"), utf8(row.link)}};
    if (record.waitUntil > 0) {
        const char* key = record.phase == RowPhase::Countdown ? "countdownUntil" : "waitUntil";
        own[QLatin1String(key)] = num(record.waitUntil);
    }
    if (record.retry > 0) {
        own[QStringLiteral("retry")] = num(record.retry);
        own[QStringLiteral("retryOf")] = QStringLiteral("3");
        own[QStringLiteral("retryAt")] = utf8(details.retryAt);
    }
    if (!details.reason.empty())
        own[QStringLiteral("reason")] = utf8(details.reason);
    if (!details.fileName.empty())
        own[QStringLiteral("fileName")] = utf8(details.fileName);
    if (record.phase == RowPhase::Captcha && !details.captcha.empty())
        own[QStringLiteral("captcha")] = utf8(details.captcha);
    if (const RemoteCommands::Package package = m_commands.package(row.id); !package.name.empty())
        own[QStringLiteral("package")] =
            QJsonObject{{QStringLiteral("name"), utf8(package.name)},
                        {QStringLiteral("state"), utf8(package.state)}};

    QJsonObject all{
        {QStringLiteral("gid"), gidText(row.id)},
        {QStringLiteral("status"), QString::fromLatin1(RowTable::statusName(status).data())},
        {QStringLiteral("totalLength"), total},
        {QStringLiteral("completedLength"), done},
        {QStringLiteral("uploadLength"), QStringLiteral("0")},
        {QStringLiteral("downloadSpeed"), num(active ? record.speed : 0)},
        {QStringLiteral("uploadSpeed"), QStringLiteral("0")},
        {QStringLiteral("connections"), active && record.phase == RowPhase::Transferring
                                            ? QStringLiteral("1")
                                            : QStringLiteral("0")},
        {QStringLiteral("numPieces"), QStringLiteral("0")},
        {QStringLiteral("pieceLength"), QStringLiteral("1048576")},
        {QStringLiteral("dir"), dir},
        {QStringLiteral("files"), files},
        {QStringLiteral("torvaline"), own}};
    if (status == RowTable::Status::Error) {
        all[QStringLiteral("errorCode")] = num(errorCodeOf(record.cause));
        all[QStringLiteral("errorMessage")] = utf8(details.reason);
    } else if (status == RowTable::Status::Complete) {
        all[QStringLiteral("errorCode")] = QStringLiteral("0");
        all[QStringLiteral("errorMessage")] = QString();
    }
    if (keys.isEmpty())
        return all;
    QJsonObject picked;
    for (const QJsonValue& key : keys) {
        const QString name = key.toString();
        if (all.contains(name))
            picked[name] = all.value(name);
    }
    return picked;
}

QJsonArray Aria2Rpc::statusList(const std::vector<RowTable::Row>& rows,
                                const QJsonArray& keys) const {
    QJsonArray list;
    for (const RowTable::Row& row : rows)
        list.append(statusObject(row, keys));
    return list;
}

std::vector<int> Aria2Rpc::waitingQueue() const {
    std::vector<int> queue;
    for (int r = 1; r <= m_rows.listCount(); ++r) {
        const RowTable::Status s = m_rows.statusAt(r);
        if (s == RowTable::Status::Waiting || s == RowTable::Status::Paused)
            queue.push_back(r);
    }
    return queue;
}

QJsonValue Aria2Rpc::tellRange(const QJsonArray& params, bool stopped) const {
    const auto offset = integer(params.at(0));
    if (!offset)
        wrongType(0);
    const auto count = integer(params.at(1));
    if (!count)
        wrongType(1);
    if (params.size() > 2 && !params.at(2).isArray())
        wrongType(2);
    const QJsonArray keys = params.at(2).toArray();
    // The stopped rows by id (a result kept or a finished row on the list), the waiting ones
    // by their place; only the rows picked are looked up.
    const std::vector<int> queue = stopped ? std::vector<int>() : waitingQueue();
    const auto size = static_cast<std::int64_t>(stopped ? m_rows.stopped().size() : queue.size());
    std::vector<RowTable::Row> picked;
    const auto pick = [&](std::int64_t i) {
        const auto at = static_cast<std::size_t>(i);
        if (!stopped)
            picked.push_back(m_rows.at(queue[at]));
        else if (const std::optional<RowTable::Row> row = m_rows.find(m_rows.stopped()[at]))
            picked.push_back(*row);
    };
    if (*count > 0) {
        // A negative offset counts from the end, and the answer runs backwards from there.
        if (*offset >= 0) {
            for (std::int64_t i = *offset; i < size && i < *offset + *count; ++i)
                pick(i);
        } else {
            for (std::int64_t i = size + *offset; i >= 0 && i < size && i > size + *offset - *count;
                 --i)
                pick(i);
        }
    }
    return statusList(picked, keys);
}

QJsonObject Aria2Rpc::globalOptions() const {
    return QJsonObject{
        {QStringLiteral("dir"), utf8(m_commands.folder())},
        {QStringLiteral("max-overall-download-limit"), num(m_rateLimit)},
        {QStringLiteral("max-overall-upload-limit"), QStringLiteral("0")},
        // One row a hoster at a time, this many rows at once.
        {QStringLiteral("max-concurrent-downloads"), QString::number(m_commands.maxDownloads())},
        {QStringLiteral("max-download-result"), num(RowTable::MaxGoneResults)},
        {QStringLiteral("max-tries"), QStringLiteral("4")},
        {QStringLiteral("continue"), QStringLiteral("true")},
        {QStringLiteral("auto-file-renaming"), QStringLiteral("true")},
        {QStringLiteral("allow-overwrite"), QStringLiteral("false")}};
}

QJsonValue Aria2Rpc::changeGlobalOption(const QJsonObject& options) {
    // Checked in full before anything changes: a refused call leaves every option as it was.
    const QJsonValue dir = options.value(QStringLiteral("dir"));
    if (!dir.isUndefined() &&
        (!dir.isString() || dir.toString().isEmpty() || dir.toString().contains(QChar(0))))
        fail(optionProblem(QStringLiteral("dir")));
    if (!dir.isUndefined())
        checkDir(dir.toString());
    // What we report but cannot be made otherwise is refused, not taken and ignored.
    const QJsonObject fixed = globalOptions();
    for (auto it = options.begin(); it != options.end(); ++it) {
        if (it.key() == QLatin1String("dir") ||
            it.key() == QLatin1String("max-overall-download-limit") ||
            it.key() == QLatin1String("max-concurrent-downloads") || !fixed.contains(it.key()))
            continue;
        if (it.value().toVariant().toString() != fixed.value(it.key()).toString())
            fail(optionProblem(it.key()));
    }
    const QJsonValue limit = options.value(QStringLiteral("max-overall-download-limit"));
    std::optional<std::int64_t> bytesPerSecond;
    if (!limit.isUndefined()) {
        bytesPerSecond = rate(limit);
        if (!bytesPerSecond)
            fail(optionProblem(QStringLiteral("max-overall-download-limit")));
    }
    const QJsonValue lanes = options.value(QStringLiteral("max-concurrent-downloads"));
    std::optional<int> lanesWanted;
    if (!lanes.isUndefined()) {
        bool ok = false;
        const int n = lanes.toVariant().toString().toInt(&ok);
        if (!ok || n < 1 || n > 8)
            fail(optionProblem(QStringLiteral("max-concurrent-downloads")));
        lanesWanted = n;
    }
    if (lanesWanted && !m_commands.setMaxDownloads(*lanesWanted))
        fail(optionProblem(QStringLiteral("max-concurrent-downloads")));
    if (!dir.isUndefined())
        refuseOn(m_commands.setFolder(bytes(dir.toString())));
    if (bytesPerSecond) {
        refuseOn(m_commands.setRateLimit(*bytesPerSecond));
        m_rateLimit = *bytesPerSecond;
    }
    return QStringLiteral("OK");
}

QJsonValue Aria2Rpc::addUri(const QJsonArray& params) {
    if (params.isEmpty() || !params.at(0).isArray())
        wrongType(0);
    if (params.size() > 1 && !params.at(1).isObject())
        wrongType(1);
    if (params.size() > 2 && !integer(params.at(2)))
        wrongType(2);
    const QJsonArray uris = params.at(0).toArray();
    if (uris.isEmpty())
        fail(QStringLiteral("URI is not provided."));
    const QJsonObject options = params.at(1).toObject();
    RemoteCommands::NewRow base;
    QString askedDir;
    QString askedOut;
    if (const QJsonValue dir = options.value(QStringLiteral("dir")); !dir.isUndefined()) {
        if (!dir.isString() || dir.toString().isEmpty() || dir.toString().contains(QChar(0)))
            fail(optionProblem(QStringLiteral("dir")));
        askedDir = dir.toString();
        checkDir(askedDir);
        base.dir = bytes(askedDir);
    }
    if (const QJsonValue out = options.value(QStringLiteral("out")); !out.isUndefined()) {
        // "sub/name.ext" puts the file in that folder under dir; every part a plain name.
        const QStringList parts = out.toString().split(QLatin1Char('/'));
        if (!out.isString() || parts.size() > 32 ||
            !std::all_of(parts.begin(), parts.end(), plainFileName))
            fail(optionProblem(QStringLiteral("out")));
        askedOut = out.toString();
        base.out = bytes(parts.last());
        if (parts.size() > 1)
            base.dir =
                bytes((askedDir.isEmpty() ? utf8(m_commands.folder()) : askedDir) +
                      QLatin1Char('/') + QStringList(parts.mid(0, parts.size() - 1)).join('/'));
    }
    if (const QJsonValue pause = options.value(QStringLiteral("pause")); !pause.isUndefined()) {
        if (pause != QJsonValue(QStringLiteral("true")) &&
            pause != QJsonValue(QStringLiteral("false")) && !pause.isBool())
            fail(optionProblem(QStringLiteral("pause")));
        base.paused = pause.toString() == QLatin1String("true") || pause.toBool();
    }
    base.request = requestOptionsOf(options);
    std::vector<RemoteCommands::NewRow> rows;
    for (const QJsonValue& uri : uris) {
        if (!uri.isString())
            wrongType(0);
        if (!acceptableLink(uri.toString()))
            fail(QStringLiteral("No URI to download."));
        RemoteCommands::NewRow row = base;
        row.link = bytes(uri.toString());
        rows.push_back(std::move(row));
    }
    // The same file name for two rows would make the second one "name (1)" anyway; a front end
    // that names one file means the first.
    for (std::size_t i = 1; i < rows.size(); ++i)
        rows[i].out.clear(), rows[i].dir = bytes(askedDir);
    const Result<std::vector<std::uint64_t>> added = m_commands.add(rows);
    refuseOn(added);
    const std::vector<std::uint64_t>& ids = *added;
    if (ids.empty())
        fail(QStringLiteral("No URI to download."));
    // The commands placed the rows; dir and out are told back as the caller worded them.
    for (std::size_t i = 0; i < ids.size() && i < rows.size(); ++i)
        m_rows.keepWording(ids[i], bytes(askedDir), i == 0 ? bytes(askedOut) : std::string());
    if (params.size() > 2) {
        // A place in the queue asked for: the first new row goes there.
        const std::vector<int> queue = waitingQueue();
        const auto at = std::clamp<std::int64_t>(*integer(params.at(2)), 0,
                                                 static_cast<std::int64_t>(queue.size()) - 1);
        if (!queue.empty() && queue[static_cast<std::size_t>(at)] != m_rows.listRow(ids.front()))
            // Only a place asked for: the rows are added even where the move is refused.
            static_cast<void>(m_commands.move(ids.front(), queue[static_cast<std::size_t>(at)]));
    }
    return gidText(ids.front());
}

QJsonValue Aria2Rpc::changePosition(const QJsonArray& params) {
    const std::uint64_t id = gidParam(params, 0);
    const auto pos = integer(params.at(1));
    if (!pos)
        wrongType(1);
    if (!params.at(2).isString())
        wrongType(2);
    const QString how = params.at(2).toString();
    const std::vector<int> queue = waitingQueue();
    const auto it = std::find(queue.begin(), queue.end(), m_rows.listRow(id));
    if (it == queue.end())
        fail(QStringLiteral("GID#%1 not found in the waiting queue.").arg(gidText(id)));
    const auto current = static_cast<std::int64_t>(it - queue.begin());
    const auto last = static_cast<std::int64_t>(queue.size()) - 1;
    std::int64_t target = 0;
    if (how == QLatin1String("POS_SET"))
        target = *pos;
    else if (how == QLatin1String("POS_CUR"))
        target = current + *pos;
    else if (how == QLatin1String("POS_END"))
        target = last + *pos;
    else
        fail(QStringLiteral("Illegal argument."));
    target = std::clamp<std::int64_t>(target, 0, last);
    if (target != current)
        refuseOn(m_commands.move(id, queue[static_cast<std::size_t>(target)]));
    const std::vector<int> after = waitingQueue();
    return static_cast<qint64>(std::find(after.begin(), after.end(), m_rows.listRow(id)) -
                               after.begin());
}

QJsonValue Aria2Rpc::dispatch(const QString& method, const QJsonArray& params, Reply& reply) {
    using S = RowTable::Status;
    const auto is = [&](const char* name) { return method == QLatin1String(name); };
    const auto keysAt = [&](int index) {
        if (params.size() > index && !params.at(index).isArray())
            wrongType(index);
        return params.at(index).toArray();
    };

    if (is("aria2.addUri"))
        return addUri(params);
    // A command on one row, refused with aria2's words unless the row stands as `allowed` says.
    const auto onRow = [&](const auto& allowed, const QString& refused, const auto& command) {
        const std::uint64_t id = gidParam(params, 0);
        if (!allowed(m_rows.status(id)))
            fail(refused.arg(gidText(id)));
        refuseOn(command(id));
        return QJsonValue(gidText(id));
    };
    if (is("aria2.remove") || is("aria2.forceRemove"))
        return onRow([](S s) { return s == S::Active || s == S::Waiting || s == S::Paused; },
                     QStringLiteral("Active Download not found for GID#%1"),
                     [this](std::uint64_t id) { return m_commands.remove(id); });
    if (is("aria2.pause") || is("aria2.forcePause"))
        return onRow([](S s) { return s == S::Active || s == S::Waiting; },
                     QStringLiteral("GID#%1 cannot be paused now"),
                     [this](std::uint64_t id) { return m_commands.pause(id); });
    if (is("aria2.unpause"))
        // An error row too: it is tried again in its place (aria2 would refuse it).
        return onRow([](S s) { return s == S::Paused || s == S::Error; },
                     QStringLiteral("GID#%1 cannot be unpaused now"),
                     [this](std::uint64_t id) { return m_commands.unpause(id); });
    if (is("aria2.pauseAll") || is("aria2.forcePauseAll") || is("aria2.unpauseAll")) {
        const bool pause = !is("aria2.unpauseAll");
        std::vector<std::uint64_t> ids;
        ids.reserve(static_cast<std::size_t>(m_rows.listCount()));
        for (int r = 1; r <= m_rows.listCount(); ++r)
            ids.push_back(m_rows.at(r).id);
        for (const std::uint64_t id : ids) {
            const S s = m_rows.status(id);
            // All that can be; a row that cannot stays as it is.
            if (pause && (s == S::Active || s == S::Waiting))
                static_cast<void>(m_commands.pause(id));
            else if (!pause && s == S::Paused)
                static_cast<void>(m_commands.unpause(id));
        }
        return QStringLiteral("OK");
    }
    if (is("aria2.changePosition"))
        return changePosition(params);
    if (is("aria2.tellStatus"))
        return statusObject(rowParam(params, 0), keysAt(1));
    if (is("aria2.getFiles"))
        return statusObject(rowParam(params, 0), {}).value(QStringLiteral("files"));
    if (is("aria2.getUris")) {
        const QJsonArray files =
            statusObject(rowParam(params, 0), {})[QStringLiteral("files")].toArray();
        return files.first().toObject().value(QStringLiteral("uris"));
    }
    if (is("aria2.getOption")) {
        const RowTable::Row row = rowParam(params, 0);
        QJsonObject options{
            {QStringLiteral("dir"), row.dir.empty() ? utf8(m_commands.folder()) : utf8(row.dir)}};
        if (!row.out.empty())
            options[QStringLiteral("out")] = utf8(row.out);
        const RequestOptions& request = row.record->request.get();
        if (!request.headers.empty()) {
            // A list, as aria2 tells an option given more than once.
            QJsonArray lines;
            for (const std::string& line : request.headers)
                lines.append(utf8(line));
            options[QStringLiteral("header")] = lines;
        }
        if (!request.referer.empty())
            options[QStringLiteral("referer")] = utf8(request.referer);
        if (!request.userAgent.empty())
            options[QStringLiteral("user-agent")] = utf8(request.userAgent);
        return options;
    }
    if (is("aria2.changeOption")) {
        gidParam(params, 0);
        if (params.size() < 2 || !params.at(1).isObject())
            wrongType(1);
        // A row's transfer takes the list's settings; the options a front end sends with it
        // are accepted and have no effect, but for those getOption tells: they cannot change
        // once the row is placed.
        const QJsonObject current =
            dispatch(QStringLiteral("aria2.getOption"), params, reply).toObject();
        const QJsonObject asked = params.at(1).toObject();
        for (auto it = asked.begin(); it != asked.end(); ++it) {
            if (it.key() == QLatin1String("header")) {
                if (headerLines(it.value()) != current.value(it.key()).toArray())
                    fail(optionProblem(it.key()));
            } else if (current.contains(it.key()) &&
                       it.value().toVariant().toString() != current.value(it.key()).toString()) {
                fail(optionProblem(it.key()));
            }
        }
        return QStringLiteral("OK");
    }
    if (is("aria2.getPeers") || is("aria2.getServers")) {
        gidParam(params, 0);
        return QJsonArray();
    }
    if (is("aria2.addTorrent") || is("aria2.addMetalink"))
        fail(QStringLiteral("Torvaline takes no torrents"));
    if (is("aria2.tellActive")) {
        const QJsonArray keys = keysAt(0);
        std::vector<RowTable::Row> rows;
        for (int r = 1; r <= m_rows.listCount(); ++r)
            if (m_rows.statusAt(r) == S::Active)
                rows.push_back(m_rows.at(r));
        return statusList(rows, keys);
    }
    if (is("aria2.tellWaiting"))
        return tellRange(params, false);
    if (is("aria2.tellStopped"))
        return tellRange(params, true);
    if (is("aria2.getGlobalStat")) {
        std::int64_t speed = 0;
        int active = 0;
        int waiting = 0;
        for (int r = 1; r <= m_rows.listCount(); ++r) {
            const S s = m_rows.statusAt(r);
            if (s == S::Active) {
                ++active;
                speed += m_rows.at(r).record->speed;
            } else if (s == S::Waiting || s == S::Paused) {
                ++waiting;
            }
        }
        const QString stopped = num(static_cast<std::int64_t>(m_rows.stopped().size()));
        return QJsonObject{{QStringLiteral("downloadSpeed"), num(speed)},
                           {QStringLiteral("uploadSpeed"), QStringLiteral("0")},
                           {QStringLiteral("numActive"), num(active)},
                           {QStringLiteral("numWaiting"), num(waiting)},
                           {QStringLiteral("numStopped"), stopped},
                           {QStringLiteral("numStoppedTotal"), stopped}};
    }
    if (is("aria2.getGlobalOption"))
        return globalOptions();
    if (is("aria2.changeGlobalOption")) {
        if (params.isEmpty() || !params.at(0).isObject())
            wrongType(0);
        return changeGlobalOption(params.at(0).toObject());
    }
    if (is("aria2.getVersion"))
        return QJsonObject{{QStringLiteral("version"), ProtocolVersion},
                           {QStringLiteral("enabledFeatures"), QJsonArray{"HTTPS"}},
                           {QStringLiteral("torvaline"), m_options.programVersion}};
    if (is("aria2.getSessionInfo"))
        return QJsonObject{{QStringLiteral("sessionId"), m_sessionId}};
    if (is("aria2.purgeDownloadResult")) {
        const std::vector<std::uint64_t> ids(m_rows.stopped().begin(), m_rows.stopped().end());
        for (const std::uint64_t id : ids) {
            if (const std::optional<RowTable::Row> row = m_rows.find(id); row && row->inList())
                static_cast<void>(m_commands.remove(id));
            m_rows.forget(id);
        }
        return QStringLiteral("OK");
    }
    if (is("aria2.removeDownloadResult")) {
        const std::uint64_t id = gidParam(params, 0);
        const S s = m_rows.status(id);
        if (s != S::Complete && s != S::Error && s != S::Removed)
            fail(QStringLiteral("Could not remove download result of GID#%1").arg(gidText(id)));
        if (m_rows.find(id)->inList())
            static_cast<void>(m_commands.remove(id));
        m_rows.forget(id);
        return QStringLiteral("OK");
    }
    if (is("aria2.saveSession")) {
        refuseOn(m_commands.saveSession());
        return QStringLiteral("OK");
    }
    if (is("aria2.shutdown") || is("aria2.forceShutdown")) {
        reply.shutdown = true;
        return QStringLiteral("OK");
    }
    if (is("torvaline.solveCaptcha")) {
        // Ours alone, so not among aria2's methods: the code a person read off a row's captcha
        // picture (the address is in the row's torvaline object).
        const std::uint64_t id = gidParam(params, 0);
        if (params.size() < 2 || !params.at(1).isString())
            wrongType(1);
        const QString code = params.at(1).toString().trimmed();
        if (code.isEmpty() || code.size() > 64 || m_rows.status(id) == S::Removed)
            fail(QStringLiteral("GID#%1 waits for no captcha").arg(gidText(id)));
        refuseOn(m_commands.solveCaptcha(id, bytes(code)));
        return QStringLiteral("OK");
    }
    if (is("system.listMethods"))
        return QJsonArray::fromStringList(methodNames());
    if (is("system.listNotifications"))
        return QJsonArray::fromStringList(notificationNames());
    fail(QStringLiteral("No such method: %1").arg(method.left(200)));
}

} // namespace torvaline

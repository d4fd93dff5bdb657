#include "remote/Aria2Rpc.h"
#include "ScriptedCore.h"
#include "cycle/RowEventHub.h"
#include "doubles/RecordingRowEvents.h"
#include "list/DownloadList.h"
#include "remote/RowTable.h"

#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

using namespace torvaline;

namespace {

QString errorOf(const QJsonObject& answer) {
    return answer.value("error").toObject().value("message").toString();
}

struct Rig {
    DownloadList list;
    RowEventHub hub;
    ScriptedCore core{list, hub};
    RowTable rows{list};
    QString secret;
    Aria2Rpc rpc;
    std::vector<std::pair<RowTable::Notice, std::uint64_t>> notices;

    explicit Rig(QString secret = QStringLiteral("s3cret"))
        : secret(secret)
        , rpc{rows, core, {secret, QStringLiteral("1.2.2"), 50, 200}} {
        hub.follow(list);
        hub.add(rows);
        rows.setNotify([this](RowTable::Notice n, std::uint64_t id) {
            notices.push_back({n, id});
        });
    }

    QJsonObject call(const QString& method, QJsonArray params = {}) {
        if (!secret.isEmpty())
            params.prepend("token:" + secret);
        const QJsonObject request{
            {"jsonrpc", "2.0"}, {"id", 7}, {"method", method}, {"params", params}};
        const Aria2Rpc::Reply reply =
            rpc.handle(QJsonDocument(request).toJson(QJsonDocument::Compact));
        return QJsonDocument::fromJson(reply.body).object();
    }
    QJsonValue result(const QString& method, QJsonArray params = {}) {
        const QJsonObject answer = call(method, std::move(params));
        EXPECT_FALSE(answer.contains("error"))
            << method.toStdString() << ": " << QJsonDocument(answer).toJson().toStdString();
        return answer.value("result");
    }
    QString status(const QString& gid) {
        return result("aria2.tellStatus", {gid, QJsonArray{"status"}})["status"].toString();
    }
};

TEST(Aria2Rpc, AWaitingRowReportsWhatItsLinkCheckFoundUntilItsTransferTellsMore) {
    Rig rig;
    const QString gid = rig.result("aria2.addUri", {QJsonArray{"http://h/a.bin"}}).toString();
    rig.list.setChecked(rig.list.rowOf(gid.toULongLong(nullptr, 16)),
                        {CheckedLink::State::Online, 123456, "the real name.bin", {}});
    const QJsonObject waiting = rig.result("aria2.tellStatus", {gid}).toObject();
    EXPECT_EQ(waiting["status"].toString(), "waiting");
    EXPECT_EQ(waiting["totalLength"].toString(), "123456");
    EXPECT_TRUE(waiting["files"][0]["path"].toString().endsWith("/the real name.bin"))
        << waiting["files"][0]["path"].toString().toStdString();
    rig.core.step();
    rig.core.step();
    rig.core.step(); // transferring: the transfer's own figures
    EXPECT_EQ(rig.result("aria2.tellStatus", {gid})["totalLength"].toString(), "1024");

    // A checked row taken off the list before its turn keeps what the check found.
    const QString other = rig.result("aria2.addUri", {QJsonArray{"http://h/b.bin"}}).toString();
    rig.list.setChecked(rig.list.rowOf(other.toULongLong(nullptr, 16)),
                        {CheckedLink::State::Online, 777, "b real.bin", {}});
    rig.result("aria2.remove", {other});
    const QJsonObject gone = rig.result("aria2.tellStatus", {other}).toObject();
    EXPECT_EQ(gone["status"].toString(), "removed");
    EXPECT_EQ(gone["totalLength"].toString(), "777");
    EXPECT_TRUE(gone["files"][0]["path"].toString().endsWith("/b real.bin"));
}

TEST(Aria2Rpc, RowsGoThroughTheStatusesWithTheirNotifications) {
    Rig rig;
    const QString gid = rig.result("aria2.addUri", {QJsonArray{"http://h/a.bin"}}).toString();
    ASSERT_EQ(gid.size(), 16);
    EXPECT_EQ(rig.status(gid), "waiting");
    rig.core.step(); // opening: under way
    EXPECT_EQ(rig.status(gid), "active");
    rig.core.step(); // countdown: still under way (it holds a lane), its end in our own object
    const QJsonObject counting = rig.result("aria2.tellStatus", {gid}).toObject();
    EXPECT_EQ(counting["status"].toString(), "active");
    EXPECT_EQ(counting["torvaline"]["phase"].toString(), "countdown");
    EXPECT_TRUE(counting["torvaline"].toObject().contains("countdownUntil"));
    rig.core.step(); // transferring
    const QJsonObject moving = rig.result("aria2.tellStatus", {gid}).toObject();
    EXPECT_EQ(moving["completedLength"].toString(), "512");
    EXPECT_EQ(moving["totalLength"].toString(), "1024");
    EXPECT_EQ(moving["downloadSpeed"].toString(), "4096");
    rig.core.step();
    EXPECT_EQ(rig.status(gid), "complete");
    // Its package, as the archive follow-up tells it, in our own object.
    EXPECT_FALSE(rig.result("aria2.tellStatus", {gid})
                     .toObject()["torvaline"]
                     .toObject()
                     .contains("package"));
    rig.core.setPackage(gid.toULongLong(nullptr, 16), {"set", "extracting 40 %"});
    const QJsonObject told = rig.result("aria2.tellStatus", {gid}).toObject();
    const QJsonObject package = told["torvaline"]["package"].toObject();
    EXPECT_EQ(package["name"].toString(), "set");
    EXPECT_EQ(package["state"].toString(), "extracting 40 %");
    EXPECT_EQ(rig.result("aria2.tellStopped", {0, 10, QJsonArray{"gid"}}).toArray().size(), 1);

    const QString bad = rig.result("aria2.addUri", {QJsonArray{"http://h/missing.bin"}}).toString();
    rig.core.step();
    rig.core.step();
    const QJsonObject failed = rig.result("aria2.tellStatus", {bad}).toObject();
    EXPECT_EQ(failed["status"].toString(), "error");
    EXPECT_EQ(failed["errorMessage"].toString(), "the hoster reports the file missing or blocked");

    using N = RowTable::Notice;
    const std::vector<std::pair<N, std::uint64_t>> expected = {
        {N::Start, gid.toULongLong(nullptr, 16)},
        {N::Complete, gid.toULongLong(nullptr, 16)},
        {N::Start, bad.toULongLong(nullptr, 16)},
        {N::Error, bad.toULongLong(nullptr, 16)}};
    EXPECT_EQ(rig.notices, expected);
}

TEST(Aria2Rpc, PauseRemoveAndTheQueueOrder) {
    Rig rig;
    QStringList gids;
    for (const char* link : {"http://h/hold.bin", "http://h/b", "http://h/c", "http://h/d"})
        gids << rig.result("aria2.addUri", {QJsonArray{link}}).toString();
    rig.core.step();
    rig.core.step();
    rig.core.step();
    EXPECT_EQ(rig.result("aria2.tellActive", {QJsonArray{"gid"}}).toArray().size(), 1);
    EXPECT_EQ(rig.result("aria2.pause", {gids[0]}).toString(), gids[0]);
    EXPECT_EQ(rig.status(gids[0]), "paused");
    EXPECT_EQ(errorOf(rig.call("aria2.pause", {gids[0]})),
              "GID#" + gids[0] + " cannot be paused now");
    EXPECT_EQ(rig.result("aria2.unpause", {gids[0]}).toString(), gids[0]);

    // The queue of waiting rows: moved to the end, then read backwards from the end.
    EXPECT_EQ(rig.result("aria2.changePosition", {gids[1], 0, "POS_END"}).toInt(), 3);
    const QJsonArray back = rig.result("aria2.tellWaiting", {-1, 2, QJsonArray{"gid"}}).toArray();
    ASSERT_EQ(back.size(), 2);
    EXPECT_EQ(back[0]["gid"].toString(), gids[1]);
    EXPECT_EQ(back[1]["gid"].toString(), gids[3]);
    EXPECT_EQ(errorOf(rig.call("aria2.changePosition", {gids[1], 0, "POS_X"})),
              "Illegal argument.");

    EXPECT_EQ(rig.result("aria2.remove", {gids[2]}).toString(), gids[2]);
    EXPECT_EQ(rig.core.rowCount(), 3u);
    EXPECT_EQ(rig.status(gids[2]), "removed");
    EXPECT_EQ(errorOf(rig.call("aria2.remove", {gids[2]})),
              "Active Download not found for GID#" + gids[2]);
    EXPECT_EQ(rig.result("aria2.removeDownloadResult", {gids[2]}).toString(), "OK");
    EXPECT_EQ(errorOf(rig.call("aria2.tellStatus", {gids[2]})), "GID " + gids[2] + " is not found");

    const QJsonObject stat = rig.result("aria2.getGlobalStat").toObject();
    EXPECT_EQ(stat["numActive"].toString(), "0");
    EXPECT_EQ(stat["numWaiting"].toString(), "3");

    // The results of removed rows are bounded: the oldest go, the rows on the list stay.
    QStringList removed;
    for (std::size_t i = 0; i < RowTable::MaxGoneResults + 5; ++i) {
        removed << rig.result("aria2.addUri", {QJsonArray{"http://h/gone"}}).toString();
        rig.result("aria2.remove", {removed.back()});
    }
    EXPECT_EQ(rig.result("aria2.tellStopped", {0, 2000, QJsonArray{"gid"}}).toArray().size(),
              static_cast<qsizetype>(RowTable::MaxGoneResults));
    EXPECT_EQ(errorOf(rig.call("aria2.tellStatus", {removed[4]})),
              "GID " + removed[4] + " is not found");
    EXPECT_EQ(rig.status(removed[5]), "removed");
    EXPECT_EQ(rig.status(gids[0]), "waiting");
}

TEST(Aria2Rpc, MulticallBatchesAndSecrets) {
    Rig rig;
    QJsonArray calls;
    for (int i = 0; i < 3; ++i)
        calls.append(QJsonObject{{"methodName", "aria2.addUri"},
                                 {"params", QJsonArray{"token:s3cret", QJsonArray{"http://h/x"}}}});
    calls.append(QJsonObject{{"methodName", "system.multicall"}, {"params", QJsonArray{}}});
    const QJsonArray results = rig.result("system.multicall", {calls}).toArray();
    ASSERT_EQ(results.size(), 4);
    EXPECT_TRUE(results[0].isArray());
    EXPECT_EQ(results[3]["message"].toString(), "Recursive system.multicall forbidden.");
    EXPECT_EQ(rig.core.added(), 3);

    // One wrong token among right ones refuses the whole call: nothing runs, and the answer
    // does not say which one was wrong.
    calls.insert(
        1, QJsonObject{{"methodName", "aria2.getVersion"}, {"params", QJsonArray{"token:no"}}});
    const Aria2Rpc::Reply mixed =
        rig.rpc.handle(QJsonDocument(QJsonObject{{"jsonrpc", "2.0"},
                                                 {"id", 3},
                                                 {"method", "system.multicall"},
                                                 {"params", QJsonArray{calls}}})
                           .toJson());
    EXPECT_TRUE(mixed.unauthorized);
    EXPECT_EQ(QJsonDocument::fromJson(mixed.body)["error"]["message"].toString(), "Unauthorized");
    EXPECT_EQ(rig.core.added(), 3);

    const Aria2Rpc::Reply wrong = rig.rpc.handle(
        R"({"jsonrpc":"2.0","id":1,"method":"aria2.addUri","params":["token:s3cres",["http://h/y"]]})");
    EXPECT_TRUE(wrong.unauthorized);
    EXPECT_EQ(rig.core.added(), 3);
    const Aria2Rpc::Reply batch = rig.rpc.handle(
        R"([{"jsonrpc":"2.0","id":1,"method":"system.listNotifications"},)"
        R"({"jsonrpc":"2.0","id":2,"method":"aria2.getVersion","params":["token:s3cret"]}])");
    const QJsonArray answers = QJsonDocument::fromJson(batch.body).array();
    ASSERT_EQ(answers.size(), 2);
    EXPECT_EQ(answers[0]["result"].toArray().size(), 5);
    EXPECT_EQ(answers[1]["result"]["version"].toString(), "1.36.0");
}

// Hostile or broken requests: each gets an error object (or a refusal), none adds a row.
TEST(Aria2Rpc, BadInputIsAnsweredWithAnErrorAndAddsNothing) {
    const QByteArray huge =
        "[" +
        QByteArray(
            R"({"jsonrpc":"2.0","id":1,"method":"aria2.addUri","params":["token:s3cret",["http://h/z"]]},)")
            .repeated(60) +
        "1]";
    QByteArray deep = QByteArray("[").repeated(5000) + QByteArray("]").repeated(5000);
    const struct {
        const char* name;
        QByteArray request;
        int code;
    } cases[] = {
        {"malformed", R"({"jsonrpc":"2.0","id":1,"method":)", -32700},
        {"deep nesting", deep, -32700},
        {"not an object", "42", -32700},
        {"no method", R"({"jsonrpc":"2.0","id":1})", -32600},
        {"method a number", R"({"jsonrpc":"2.0","id":1,"method":5})", -32600},
        {"params an object", R"({"jsonrpc":"2.0","id":1,"method":"aria2.addUri","params":{}})",
         -32602},
        {"unknown method", R"({"id":1,"method":"aria2.nope","params":["token:s3cret"]})", 1},
        {"no token", R"({"id":1,"method":"aria2.addUri","params":[["http://h/a"]]})", 1},
        {"uris not a list",
         R"({"id":1,"method":"aria2.addUri","params":["token:s3cret","http://h/a"]})", 1},
        {"a number as uri",
         R"({"id":1,"method":"aria2.addUri","params":["token:s3cret",["http://h/a",3]]})", 1},
        {"not a web link",
         R"({"id":1,"method":"aria2.addUri","params":["token:s3cret",["file:///etc/passwd"]]})", 1},
        {"control character",
         "{\"id\":1,\"method\":\"aria2.addUri\",\"params\":[\"token:s3cret\",[\"http://h/"
         "a\\u0000b\"]]}",
         1},
        {"out with a path",
         R"({"id":1,"method":"aria2.addUri","params":["token:s3cret",["http://h/a"],{"out":"../../.bashrc"}]})",
         1},
        // The name check every source of a name goes through.
        {"out with a C1 control",
         R"({"id":1,"method":"aria2.addUri","params":["token:s3cret",["http://h/a"],{"out":"a\u0085b"}]})",
         1},
        {"out turned right to left",
         R"({"id":1,"method":"aria2.addUri","params":["token:s3cret",["http://h/a"],{"out":"a\u202egpj.exe"}]})",
         1},
        {"out with a zero width space",
         R"({"id":1,"method":"aria2.addUri","params":["token:s3cret",["http://h/a"],{"out":"a\u200b.bin"}]})",
         1},
        {"out as a number",
         R"({"id":1,"method":"aria2.addUri","params":["token:s3cret",["http://h/a"],{"out":7}]})",
         1},
        {"position a string",
         R"({"id":1,"method":"aria2.addUri","params":["token:s3cret",["http://h/a"],{},"x"]})", 1},
        {"gid too short", R"({"id":1,"method":"aria2.tellStatus","params":["token:s3cret","abc"]})",
         1},
        {"gid a number", R"({"id":1,"method":"aria2.remove","params":["token:s3cret",12]})", 1},
        {"offset a string",
         R"({"id":1,"method":"aria2.tellWaiting","params":["token:s3cret","0",5]})", 1},
        {"bad limit",
         R"({"id":1,"method":"aria2.changeGlobalOption","params":["token:s3cret",{"max-overall-download-limit":"fast"}]})",
         1},
        {"huge batch", huge, -32600},
    };
    for (const auto& c : cases) {
        Rig rig;
        const Aria2Rpc::Reply reply = rig.rpc.handle(c.request);
        const QJsonDocument answer = QJsonDocument::fromJson(reply.body);
        ASSERT_TRUE(answer.isObject()) << c.name;
        EXPECT_EQ(answer.object().value("error").toObject().value("code").toInt(), c.code)
            << c.name;
        EXPECT_EQ(rig.core.added(), 0) << c.name;
    }
}

TEST(Aria2Rpc, GlobalOptionsReachTheCommands) {
    Rig rig;
    EXPECT_EQ(
        rig.result("aria2.changeGlobalOption", {QJsonObject{{"dir", "/srv/dl"},
                                                            {"max-overall-download-limit", "2M"},
                                                            {"max-concurrent-downloads", "1"},
                                                            {"some-option-of-aria2", "x"}}})
            .toString(),
        "OK");
    // A value we report and cannot honour is refused whole, before anything changed.
    const QJsonObject refused = rig.call(
        "aria2.changeGlobalOption",
        {QJsonObject{{"max-overall-download-limit", "1M"}, {"max-concurrent-downloads", "5"}}});
    EXPECT_EQ(errorOf(refused),
              "We encountered a problem while processing the option '--max-concurrent-downloads'.");
    EXPECT_EQ(rig.core.rateLimit(), 2 * 1024 * 1024);
    EXPECT_EQ(rig.core.rateLimit(), 2 * 1024 * 1024);
    // Rates read as the command line reads them.
    for (const auto& [text, bytes] : {std::pair{"1.5M", 1572864}, std::pair{"1G", 1073741824}}) {
        rig.result("aria2.changeGlobalOption", {QJsonObject{{"max-overall-download-limit", text}}});
        EXPECT_EQ(rig.core.rateLimit(), bytes) << text;
    }
    rig.result("aria2.changeGlobalOption", {QJsonObject{{"max-overall-download-limit", "2M"}}});
    const QJsonObject options = rig.result("aria2.getGlobalOption").toObject();
    EXPECT_EQ(options["dir"].toString(), "/srv/dl");
    EXPECT_EQ(options["max-overall-download-limit"].toString(), "2097152");
    const Aria2Rpc::Reply reply =
        rig.rpc.handle(R"({"id":1,"method":"aria2.shutdown","params":["token:s3cret"]})");
    EXPECT_TRUE(reply.shutdown);
}

// Whatever the list's reason for refusing a command, a front end reads it as the message of
// aria2's code for a refused call; nothing is added or changed.
TEST(Aria2Rpc, ARefusedCommandAnswersCodeOneWithTheListsReason) {
    for (const FailureCause cause :
         {FailureCause::NotFound, FailureCause::NameRefused, FailureCause::DiskFull}) {
        const int n = static_cast<int>(cause);
        Rig rig;
        rig.core.refuseWith(fail(cause, "cannot use the download folder \"/srv/full\""));
        for (const auto& [method, params] :
             {std::pair{"aria2.addUri", QJsonArray{QJsonArray{"http://h/a.bin"},
                                                   QJsonObject{{"dir", "/srv/full"}}}},
              std::pair{"aria2.changeGlobalOption", QJsonArray{QJsonObject{{"dir", "/srv/full"}}}},
              std::pair{"aria2.saveSession", QJsonArray{}}}) {
            const QJsonObject answer = rig.call(method, params);
            EXPECT_EQ(answer["error"]["code"].toInt(), 1) << method << " " << n;
            EXPECT_EQ(errorOf(answer), "cannot use the download folder \"/srv/full\"")
                << method << " " << n;
        }
        EXPECT_EQ(rig.core.added(), 0) << n;
        EXPECT_EQ(rig.core.folder(), "/tmp/torvaline-scripted") << n;
        rig.core.refuseWith(std::nullopt);
        EXPECT_EQ(rig.result("aria2.saveSession").toString(), "OK") << n;
    }
}

// Where files go, as the options say and the answers tell it: without a secret any local
// program may call, so dir stays inside the download folder; out may name a sub-folder.
TEST(Aria2Rpc, PlacementOptionsAreCheckedAndToldBack) {
    Rig open{QString()};
    const QString folder = QString::fromStdString(open.core.folder());
    const struct {
        const char* name;
        QJsonObject options;
        bool accepted;
    } cases[] = {
        {"dir inside", {{"dir", folder + "/sub/"}}, true},
        {"dir with a dot-dot out", {{"dir", folder + "/../elsewhere"}}, false},
        {"dir elsewhere", {{"dir", "/home/someone/.config"}}, false},
        {"out in a sub-folder", {{"out", "sub/name.bin"}}, true},
        {"out climbing", {{"out", "sub/../../x"}}, false},
        {"out absolute", {{"out", "/etc/x"}}, false},
    };
    for (const auto& c : cases) {
        const QJsonObject answer =
            open.call("aria2.addUri", {QJsonArray{"http://h/a.bin"}, c.options});
        EXPECT_EQ(!answer.contains("error"), c.accepted) << c.name;
    }
    EXPECT_TRUE(open.call("aria2.changeGlobalOption", {QJsonObject{{"dir", "/var/tmp"}}})
                    .contains("error"));

    Rig rig;
    const QString gid =
        rig.result("aria2.addUri", {QJsonArray{"http://h/a.bin"},
                                    QJsonObject{{"dir", "/srv//dl/"}, {"out", "sub/n.bin"}}})
            .toString();
    const QJsonObject status = rig.result("aria2.tellStatus", {gid}).toObject();
    EXPECT_EQ(status["dir"].toString(), "/srv/dl");
    EXPECT_EQ(status["files"][0]["path"].toString(), "/srv/dl/sub/n.bin");
    for (const char* key : {"connections", "uploadLength", "completedLength", "totalLength"})
        EXPECT_TRUE(status[key].isString()) << key;
    // What getOption tells goes back through addUri unchanged (a front end's retry).
    const QJsonObject options = rig.result("aria2.getOption", {gid}).toObject();
    EXPECT_FALSE(
        rig.call("aria2.addUri", {QJsonArray{"http://h/a.bin"}, options}).contains("error"));
    EXPECT_FALSE(rig.call("aria2.changeOption", {gid, options}).contains("error"));
    EXPECT_TRUE(rig.call("aria2.changeOption", {gid, QJsonObject{{"dir", "/elsewhere"}}})
                    .contains("error"));
    // A plain dir and out are told from the row's placement, before and after it left the list.
    const QString plain =
        rig.result("aria2.addUri", {QJsonArray{"http://h/p.bin"},
                                    QJsonObject{{"dir", "/srv/plain"}, {"out", "p.bin"}}})
            .toString();
    rig.result("aria2.remove", {plain});
    const QJsonObject removed = rig.result("aria2.tellStatus", {plain}).toObject();
    EXPECT_EQ(removed["dir"].toString(), "/srv/plain");
    EXPECT_EQ(removed["files"][0]["path"].toString(), "/srv/plain/p.bin");
    EXPECT_EQ(rig.result("aria2.getOption", {plain})["out"].toString(), "p.bin");
    EXPECT_EQ(errorOf(rig.call("aria2.addTorrent", {"AAAA"})), "Torvaline takes no torrents");
    EXPECT_EQ(rig.result("aria2.getPeers", {gid}).toArray().size(), 0);
}

// A front end's header, referer and user-agent options (a browser add-on's cookie and user
// agent) reach the row and come back from getOption; a value that would put a header or a
// request of the caller's making on the wire, or one the program frames the message with, is
// refused whole, in aria2's words.
TEST(Aria2Rpc, RequestHeadersAreCheckedCarriedAndToldBack) {
    const struct {
        const char* name;
        QJsonObject options;
        const char* option;
    } hostile[] = {
        {"CR LF in a value", {{"header", QJsonArray{"Cookie: a=b\r\nX-Evil: 1"}}}, "header"},
        {"a bare LF", {{"header", "Cookie: a=b\nHost: evil.example"}}, "header"},
        {"NUL", {{"header", QJsonArray{QString("X-A: a") + QChar(0) + "b"}}}, "header"},
        {"no name", {{"header", QJsonArray{": value"}}}, "header"},
        {"no colon", {{"header", QJsonArray{"Cookie"}}}, "header"},
        {"a space in the name", {{"header", QJsonArray{"X A: 1"}}}, "header"},
        {"Host", {{"header", QJsonArray{"host: evil.example"}}}, "header"},
        {"Content-Length", {{"header", QJsonArray{"Content-Length: 0"}}}, "header"},
        {"Transfer-Encoding", {{"header", QJsonArray{"Transfer-Encoding: chunked"}}}, "header"},
        {"Connection", {{"header", QJsonArray{"Connection: close"}}}, "header"},
        {"Range", {{"header", QJsonArray{"Range: bytes=0-"}}}, "header"},
        {"a number", {{"header", QJsonArray{7}}}, "header"},
        {"referer with CR LF", {{"referer", "http://h/\r\nX-Evil: 1"}}, "referer"},
        {"user agent with LF", {{"user-agent", "UA\nX-Evil: 1"}}, "user-agent"},
    };
    for (const auto& c : hostile) {
        Rig rig;
        const QJsonObject answer =
            rig.call("aria2.addUri", {QJsonArray{"http://h/a.bin"}, c.options});
        EXPECT_EQ(answer["error"]["code"].toInt(), 1) << c.name;
        EXPECT_EQ(
            errorOf(answer),
            QString("We encountered a problem while processing the option '--%1'.").arg(c.option))
            << c.name;
        EXPECT_EQ(rig.core.added(), 0) << c.name;
    }

    Rig rig;
    const QJsonArray headers{"Cookie: login=abc", "Authorization: Bearer t0ken"};
    const QString gid =
        rig.result("aria2.addUri",
                   {QJsonArray{"http://h/a.bin"}, QJsonObject{{"header", headers},
                                                              {"referer", "http://h/list"},
                                                              {"user-agent", "Mozilla/5.0 (X11)"}}})
            .toString();
    const RequestOptions& asked = rig.core.lastRequest();
    EXPECT_EQ(asked.headers,
              (std::vector<std::string>{"Cookie: login=abc", "Authorization: Bearer t0ken"}));
    EXPECT_EQ(asked.referer, "http://h/list");
    EXPECT_EQ(asked.userAgent, "Mozilla/5.0 (X11)");
    const QJsonObject options = rig.result("aria2.getOption", {gid}).toObject();
    EXPECT_EQ(options["header"].toArray(), headers);
    EXPECT_EQ(options["referer"].toString(), "http://h/list");
    EXPECT_EQ(options["user-agent"].toString(), "Mozilla/5.0 (X11)");
    // A front end's retry sends them back as it read them; a changed header is refused.
    EXPECT_FALSE(
        rig.call("aria2.addUri", {QJsonArray{"http://h/a.bin"}, options}).contains("error"));
    EXPECT_EQ(rig.core.lastRequest(), asked);
    EXPECT_FALSE(rig.call("aria2.changeOption", {gid, options}).contains("error"));
    EXPECT_TRUE(rig.call("aria2.changeOption", {gid, QJsonObject{{"header", "Cookie: x=y"}}})
                    .contains("error"));
    // One header may come as a string, as aria2 takes it.
    rig.result("aria2.addUri",
               {QJsonArray{"http://h/b.bin"}, QJsonObject{{"header", "Cookie: one=1"}}});
    EXPECT_EQ(rig.core.lastRequest().headers, std::vector<std::string>{"Cookie: one=1"});
}

} // namespace

namespace {

// Told of rows moving, it takes another observer off the hub.
class Remover final : public RowEvents {
public:
    Remover(RowEventHub& hub, RowEvents& victim)
        : m_hub(hub)
        , m_victim(victim) {}
    void rowsAdded(int, std::span<const RowRef>) override {}
    void rowsRemoved(int, std::span<const RowRef>) override {}
    void rowMoved(std::uint64_t, int, int) override { m_hub.remove(m_victim); }
    void rowPhase(const RowPhaseEvent&) override {}
    void rowProgress(const RowProgressEvent&) override {}
    void listDone(int, int, int) override {}

private:
    RowEventHub& m_hub;
    RowEvents& m_victim;
};

std::vector<std::uint64_t> listIds(const DownloadList& list) {
    std::vector<std::uint64_t> ids;
    for (int r = 1; r < list.rowCount(); ++r)
        ids.push_back(list.id(r));
    return ids;
}

// The rows on the list as the remote table tells them, in its order.
std::vector<std::uint64_t> tableIds(const RowTable& table) {
    std::vector<std::uint64_t> ids;
    for (int r = 1; r <= table.listCount(); ++r)
        ids.push_back(table.at(r).id);
    return ids;
}

} // namespace

// Rows come, move and go in one event each however many they are, and the remote table keeps
// the list's order through every kind of move; an observer taken off during an event is not
// told it.
TEST(RowEventsFromTheList, OneEventPerChangeAndEveryObserverAgreesOnTheOrder) {
    DownloadList list;
    RowEventHub hub;
    RowTable table(list);
    test::RecordingRowEvents recorder;
    hub.follow(list);
    hub.add(table);
    hub.add(recorder);
    std::vector<DownloadList::Row> rows(6);
    for (std::size_t i = 0; i < rows.size(); ++i)
        rows[i][DownloadList::URL] = "http://x/" + std::to_string(i);
    list.appendRows(rows);
    EXPECT_EQ(recorder.addedBatches, 1);
    EXPECT_EQ(recorder.added.size(), 6u);

    const std::vector<std::pair<const char*, std::function<void()>>> moves = {
        {"first to last", [&] { list.moveRow(1, 6); }},
        {"last to first", [&] { list.moveRow(6, 1); }},
        {"down by one", [&] { list.moveRow(2, 3); }},
        {"up into the middle", [&] { list.moveRow(5, 2); }},
        {"swap far apart", [&] { list.swapRows(1, 6); }},
        {"swap neighbours", [&] { list.swapRows(4, 3); }},
    };
    for (const auto& [name, move] : moves) {
        SCOPED_TRACE(name);
        const std::size_t before = recorder.moved.size();
        move();
        EXPECT_EQ(tableIds(table), listIds(list));
        // Found by id wherever the moves left it.
        for (int r = 1; r < list.rowCount(); ++r)
            EXPECT_EQ(table.listRow(list.id(r)), r);
        if (std::string_view(name).rfind("swap", 0) != 0) {
            EXPECT_EQ(recorder.moved.size(), before + 1);
        }
    }

    list.removeRow(3);
    EXPECT_EQ(tableIds(table), listIds(list));
    const std::vector<std::uint64_t> left = listIds(list);
    list.setRowCount(1); // Clear List
    EXPECT_EQ(recorder.removedBatches, 2);
    EXPECT_TRUE(tableIds(table).empty());
    for (std::uint64_t id : left)
        EXPECT_EQ(table.status(id), RowTable::Status::Removed);

    list.appendRows(rows);
    Remover remover(hub, recorder);
    hub.remove(recorder);
    hub.add(remover);
    hub.add(recorder); // told after the remover, which takes it off first
    const std::size_t before = recorder.moved.size();
    list.moveRow(1, 2);
    EXPECT_EQ(recorder.moved.size(), before);
    list.moveRow(2, 1);
    EXPECT_EQ(recorder.moved.size(), before);
    EXPECT_EQ(tableIds(table), listIds(list));
}

TEST(RowEventsFromTheList, AClearOfALongListKeepsTheNewestResultsWholeAndTellsEveryRow) {
    DownloadList list;
    RowEventHub hub;
    RowTable table(list);
    hub.follow(list);
    std::vector<std::pair<RowTable::Notice, std::string>> heard;
    table.setNotify([&](RowTable::Notice notice, std::uint64_t id) {
        const std::optional<RowTable::Row> row = table.find(id);
        heard.emplace_back(notice, row ? std::string(row->link) : "(gone)");
    });
    hub.add(table);
    const std::size_t count = RowTable::MaxGoneResults + 50;
    std::vector<DownloadList::Row> rows(count);
    for (std::size_t i = 0; i < count; ++i)
        rows[i][DownloadList::URL] = "http://x/" + std::to_string(i);
    list.appendRows(rows);
    const std::vector<std::uint64_t> ids = listIds(list);
    RowPhaseEvent done;
    done.id = ids[0];
    done.phase = RowPhase::Completed;
    hub.rowPhase(done); // the oldest result, dropped first

    list.setRowCount(1); // Clear List
    EXPECT_TRUE(tableIds(table).empty());
    EXPECT_EQ(table.stopped().size(), RowTable::MaxGoneResults);
    for (std::size_t i = 0; i < count; ++i) {
        SCOPED_TRACE(i);
        const std::optional<RowTable::Row> row = table.find(ids[i]);
        if (i < 50) {
            EXPECT_FALSE(row);
        } else {
            ASSERT_TRUE(row);
            EXPECT_EQ(table.status(*row), RowTable::Status::Removed);
            EXPECT_EQ(row->link, rows[i][DownloadList::URL]);
        }
    }
    // One notice a row, each told with the table already whole: a kept row has its link.
    ASSERT_EQ(heard.size(), count);
    EXPECT_EQ(heard[0].first, RowTable::Notice::Complete);
    EXPECT_EQ(heard[1], std::make_pair(RowTable::Notice::Stop, std::string("(gone)")));
    EXPECT_EQ(heard.back(), std::make_pair(RowTable::Notice::Stop, rows.back()[DownloadList::URL]));

    list.appendRows(rows);
    EXPECT_EQ(tableIds(table), listIds(list));

    // Rows finished before the clear are results like the others, the oldest dropped first
    // whatever their place in the list: here they finished from the hundredth row up, so the
    // first fifty stay, with their links, beside the rows that stop.
    const std::vector<std::uint64_t> again = listIds(list);
    for (std::size_t i = 100; i-- > 0;) {
        done.id = again[i];
        hub.rowPhase(done);
    }
    heard.clear();
    list.setRowCount(1);
    EXPECT_EQ(table.stopped().size(), RowTable::MaxGoneResults);
    for (std::size_t i = 0; i < count; ++i) {
        SCOPED_TRACE(i);
        const std::optional<RowTable::Row> row = table.find(again[i]);
        if (i >= 50 && i < 100) {
            EXPECT_FALSE(row);
            continue;
        }
        ASSERT_TRUE(row);
        EXPECT_EQ(table.status(*row),
                  i < 50 ? RowTable::Status::Complete : RowTable::Status::Removed);
        EXPECT_EQ(row->link, rows[i][DownloadList::URL]);
    }
    ASSERT_EQ(heard.size(), count - 100);
    EXPECT_EQ(heard.front(), std::make_pair(RowTable::Notice::Stop, rows[100][DownloadList::URL]));
}

#include "adapters/curl/DirectFile.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace torvaline {
namespace {

// What an answer's headers and first bytes make of it, and the name a file gets, hostile
// headers included: never a crash, and a name that is no plain file name is left for the
// cycle's check to refuse.
TEST(DirectFile, AnswersAreToldApartAndNamedFromTheirHeadersOrTheirAddress) {
    EXPECT_EQ(answerKind("text/html; charset=utf-8", ""), AnswerKind::Page);
    EXPECT_EQ(answerKind("TEXT/HTML", ""), AnswerKind::Page);
    EXPECT_EQ(answerKind("text/html", "attachment; filename=a.html"), AnswerKind::File);
    EXPECT_EQ(answerKind("image/jpeg", ""), AnswerKind::File);
    EXPECT_EQ(answerKind("application/octet-stream", ""), AnswerKind::Undecided);
    EXPECT_EQ(answerKind("", ""), AnswerKind::Undecided);
    EXPECT_EQ(answerKind("text/plain", "inline"), AnswerKind::Undecided);
    EXPECT_TRUE(looksLikeHtml("\xEF\xBB\xBF\r\n  <!DOCTYPE html><html>"));
    EXPECT_TRUE(looksLikeHtml("<HTML><body>"));
    EXPECT_FALSE(looksLikeHtml("\x89PNG\r\n\x1a\n"));
    EXPECT_FALSE(looksLikeHtml("<?xml version"));
    EXPECT_FALSE(looksLikeHtml(""));

    struct Case {
        const char* disposition;
        const char* url;
        std::string name;
    };
    const std::vector<Case> cases{
        {"", "http://h/dir/photo%20one.jpg?x=1#top", "photo one.jpg"},
        {"", "http://h/", ""},
        {"", "http://h", ""},
        {"attachment; filename=plain.txt", "http://h/x", "plain.txt"},
        {"attachment; filename=\"a \\\"q\\\" b.txt\"", "http://h/x", "a \"q\" b.txt"},
        {"attachment; filename*=UTF-8''%E2%82%AC.txt; filename=\"e.txt\"", "http://h/x",
         "\xE2\x82\xAC.txt"},
        {"attachment; filename*=iso-8859-1'en'%E9t%E9.txt", "http://h/x", "\xC3\xA9t\xC3\xA9.txt"},
        // A charset nobody reads: the plain name instead.
        {"attachment; filename*=KOI8-R''%C1.txt; filename=k.txt", "http://h/x", "k.txt"},
        // Hostile: kept as sent, for the name check to refuse.
        {"attachment; filename=\"../../etc/passwd\"", "http://h/x", "../../etc/passwd"},
        {"attachment; filename*=UTF-8''..%2F..%2Fevil", "http://h/x", "../../evil"},
        {"attachment; filename=\"unterminated", "http://h/x", "unterminated"},
        {"attachment; filename", "http://h/file.bin", "file.bin"},
        {";;;=;=\"", "http://h/f%2", "f%2"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(directFileName(c.disposition, c.url), c.name) << c.disposition << " " << c.url;
    // Linear in the header, however it is built.
    const std::string huge(1 << 20, ';');
    EXPECT_EQ(directFileName(huge, "http://h/ok.bin"), "ok.bin");
    EXPECT_EQ(directFileName(huge + "filename=x.bin", "http://h/ok.bin"), "x.bin");
}

} // namespace
} // namespace torvaline

#pragma once

#include "adapters/curl/CurlShare.h"

#include <cctype>
#include <cstdint>
#include <cstring>
#include <string>

// Every reason a transfer gives for its end, in one place. They share the status-bar panel
// with the page errors, so they are written the same way: whole sentences, capital letter
// and full stop. A detail from libcurl or the system goes in parentheses or after a colon.
namespace torvaline::TransferMessage {

// Ends a text from elsewhere (libcurl, strerror) as a sentence.
inline std::string sentence(std::string text) {
    if (text.empty())
        return text;
    text[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(text[0])));
    const char last = text.back();
    if (last != '.' && last != '!' && last != '?')
        text += '.';
    return text;
}

// The system's words for an errno value.
inline std::string errnoText(int error) {
    char buffer[256];
    // The GNU variant may return a static string instead of filling the buffer.
    return strerror_r(error, buffer, sizeof buffer);
}

// " (detail)" when libcurl said more; nothing otherwise.
inline std::string more(const std::string& detail) {
    return detail.empty() ? std::string() : " (" + detail + ")";
}

inline std::string cancelled() {
    return "The transfer was cancelled.";
}
inline std::string cannotStart() {
    return "The download library could not start a transfer.";
}
inline std::string httpStatus(long status) {
    return "The server answered with HTTP status " + std::to_string(status) + ".";
}
inline std::string notEnoughSpace(const std::string& needed, const std::string& free) {
    return "Not enough free space: the file needs " + needed + ", " + free + " free.";
}
inline std::string lengthsDisagree() {
    return "The server announced two different lengths for the file.";
}
inline std::string lengthUnreadable() {
    return "The server announced a length that is not a number of bytes.";
}
inline std::string moreSpaceThanFree(const std::string& got, const std::string& free) {
    return "The file needs more space than is free: the transfer stopped after " + got + " with " +
           free + " left.";
}
inline std::string partOnly() {
    return "The server sent part of the file only.";
}
inline std::string webPageInstead() {
    return "The server sent a web page instead of the file.";
}
inline std::string shortBody(std::uint64_t got, std::uint64_t expected) {
    return "The server sent " + std::to_string(got) + " of " + std::to_string(expected) + " bytes.";
}
inline std::string connectionClosed(std::uint64_t got, std::uint64_t expected) {
    return "The connection closed after " + std::to_string(got) + " of " +
           std::to_string(expected) + " bytes.";
}
inline std::string tooFewBytes(std::uint64_t bytes, int seconds) {
    return "only " + std::to_string(bytes) + " bytes in " + std::to_string(seconds) + " seconds";
}
inline std::string stalled(const std::string& detail) {
    return "The transfer stalled" + more(detail) + ".";
}
inline std::string onlyHttp(const std::string& detail) {
    return CurlShare::refusedByPolicy(detail);
}
inline std::string tooManyRedirects(const std::string& detail) {
    return "Too many redirects" + more(detail) + ".";
}
inline std::string notAnAddress(const std::string& detail) {
    return "The link is not a valid address" + more(detail) + ".";
}
inline std::string cannotConnect(const std::string& detail) {
    return "Could not connect to the server" + more(detail) + ".";
}
// libcurl's own text for the rarer failures.
inline std::string curlFailure(const std::string& text, const std::string& detail) {
    return sentence(text + more(detail));
}

// The file side. `why` is the system's text of the error.
inline std::string withCause(const std::string& what, const std::string& why) {
    return why.empty() ? what + "." : what + ": " + why + ".";
}
inline std::string cannotWrite(const std::string& path, const std::string& why = {}) {
    return withCause("Cannot write " + path, why);
}
inline std::string cannotCreateIn(const std::string& folder, const std::string& why) {
    return withCause("Cannot create a file in " + folder, why);
}
inline std::string cannotCreate(const std::string& path, const std::string& why) {
    return withCause("Cannot create " + path, why);
}
inline std::string cannotRename(const std::string& from, const std::string& to,
                                const std::string& why) {
    return withCause("Cannot rename " + from + " to " + to, why);
}
inline std::string targetIsFolder(const std::string& target) {
    return "The target " + target + " names a folder.";
}
inline std::string targetNotRegular(const std::string& target) {
    return "The target " + target + " exists and is not a regular file.";
}
inline std::string noTemporaryName(const std::string& folder) {
    return withCause("Cannot create a file in " + folder, "every temporary name is taken");
}
inline std::string noFreeName(const std::string& name, const std::string& folder) {
    return "No free name for " + name + " in " + folder + ".";
}
inline std::string temporaryReplaced(const std::string& path) {
    return "The temporary file " + path + " was replaced during the transfer.";
}

} // namespace torvaline::TransferMessage

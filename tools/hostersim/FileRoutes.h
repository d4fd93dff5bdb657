#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace httplib {
class Server;
}

namespace hostersim {

// The file side of the emulator:
//   GET /file/<name>?size=N[&rate=BYTES_PER_SEC][&status=CODE][&retry=RETRY_AFTER][&cut=N]
//                    [&stall=N][&cookie=NAME][&announce=N][&page=typed|sniffed]
// serves N bytes of deterministic content with their length announced. rate throttles;
// status answers that status with a small body instead (retry: its Retry-After); cut closes
// the connection after N bytes; stall stops sending after N bytes and holds the connection
// (at most 120 s, or until releaseFileRoutes); cookie=NAME answers 403 unless the request
// carries a cookie NAME; announce=N announces N bytes but sends only `size` of them, then
// holds; page answers 200 with a hoster's HTML error page instead of the file, typed as
// text/html or (sniffed) sent as a file, so that only its bytes tell what it is.
// Every file carries an ETag and honours Range with If-Range, unless told otherwise:
//   ranges=ignore    answers every request with 200 and the whole file
//   ifrange=ignore   serves the range even when If-Range names another version
//   changes=1        every request for the name gets another version (bytes and ETag)
//   cutonce=N        the first request for the name is cut after N bytes, later ones are not
//   etag=none|weak|fixed  no ETag, a weak one, or one that stays the same when the file changes
//   burst=N&every=MS the body comes N bytes at a time with a pause of MS milliseconds after each
//   length=none      the body comes in chunks with no length announced (a live stream)
//   page=commented|xhtml|gzip  the error page behind comments, as XHTML (typed so), or
//                    gzip-compressed with Content-Encoding though the client asked for none
void addFileRoutes(httplib::Server& server);

// One request for a file, as the resuming tests want to see it.
struct FileRequestRecord {
    std::string name;
    std::string range;   // the Range header, empty when none
    std::string ifRange; // the If-Range header, empty when none
};
// Every file request `server` answered, in order.
std::vector<FileRequestRecord> fileRequests(httplib::Server& server);

// Called with a file's name each time `server` has sent the last byte of one (a whole file or
// a range up to its end), on the server's thread. One handler a server; set it before start().
void onFileServed(httplib::Server& server, std::function<void(const std::string& name)> handler);

// Lets go of every stalled or throttled response of `server`, so that its stop() returns
// promptly. Call it right before stop().
void releaseFileRoutes(httplib::Server& server);

// The byte served at `offset` of every file, so that a test can check what arrived.
std::uint8_t contentByte(std::uint64_t offset);
// contentByte for n consecutive offsets, fast enough to serve gigabytes.
void fillContent(std::uint64_t offset, char* out, std::size_t n);

} // namespace hostersim

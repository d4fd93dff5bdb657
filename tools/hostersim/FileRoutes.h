#pragma once

#include <cstddef>
#include <cstdint>

namespace httplib {
class Server;
}

namespace hostersim {

// The file side of the emulator:
//   GET /file/<name>?size=N[&rate=BYTES_PER_SEC][&status=CODE][&cut=N][&stall=N][&cookie=NAME]
// serves N bytes of deterministic content with their length announced. rate throttles;
// status answers that status with a small body instead; cut closes the connection after N
// bytes; stall stops sending after N bytes and holds the connection (at most 120 s, or until
// releaseFileRoutes); cookie=NAME answers 403 unless the request carries a cookie NAME.
void addFileRoutes(httplib::Server& server);

// Lets go of every stalled or throttled response of `server`, so that its stop() returns
// promptly. Call it right before stop().
void releaseFileRoutes(httplib::Server& server);

// The byte served at `offset` of every file, so that a test can check what arrived.
std::uint8_t contentByte(std::uint64_t offset);
// contentByte for n consecutive offsets, fast enough to serve gigabytes.
void fillContent(std::uint64_t offset, char* out, std::size_t n);

} // namespace hostersim

#pragma once

namespace httplib {
class Server;
}

namespace hostersim {

// Answers a plain web server gives to a direct link, beside the hoster's routes:
//   GET /attach/<path>?size=N&cd=VALUE   N bytes of the file content, application/octet-stream,
//                                        with "Content-Disposition: VALUE"
//   GET /redirect?to=PATH                302 to PATH on this server
void addDirectRoutes(httplib::Server& server);

} // namespace hostersim

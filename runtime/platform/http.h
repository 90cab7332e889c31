// One HTTP request, made synchronously through libcurl. The runtime hands over the verb, URL,
// header lines and body as bytes and gets back the status, the raw header text of the final
// answer (after redirects) and the body bytes; it never sees a libcurl type.
#pragma once
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace kov::os::http {

struct Request {
    std::string verb;                                        // "GET", "HEAD", "POST", "PUT"...
    std::string url;                                         // UTF-8
    std::vector<std::pair<std::string, std::string>> headers;
    bool has_body = false;
    std::string body;
    // Polled while the transfer runs; true stops it (the request then fails).
    bool (*stop)() = nullptr;
};

struct Response {
    long status = 0;
    std::string header_text;   // the final answer's header lines, CR LF ended, status line first
    std::string body;
};

enum class Outcome { done, no_connect, stopped, no_library };

// How long a transfer may wait before it fails as no_connect: for its connection (the name
// looked up, the socket connected, TLS agreed), and, once connected, for a byte either way.
// One place for both, so that a test can shorten them.
struct Limits {
    long connect_ms = 60000;
    long idle_ms = 30000;
};
extern Limits limits;

// An answer whose header block never ended (the connection closed first) fails as no_connect.
Outcome request(const Request& req, Response& out);

}  // namespace kov::os::http

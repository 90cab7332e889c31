// HTTP requests through libcurl's easy interface: one handle per request, redirects followed,
// TLS checked against the system's certificate store (libcurl's default), the transfer polled
// for a stop request through the progress callback.
//
// A server that accepts and then says nothing must not hold a script for ever: the connection
// phase has libcurl's own limit, and the progress callback (called about once a second even
// when nothing moves) ends a connected transfer that saw no byte for the idle limit. The idle
// clock runs only while a connection stands: libcurl asks the socket-option callback for
// every new socket (connecting from then on) and the pre-request callback once a connection,
// new or reused, is ready.
//
// libcurl is opened on the first request, not linked: it brings libssl, libcrypto and a dozen
// other libraries whose relocations and initialisers cost every start-up about 13 million
// instructions (more than half of one), while most programs never make a request. The
// functions are typed from the library's own header, so a signature change fails to compile.
// CURL_DISABLE_TYPECHECK: the header's checking macro for curl_easy_setopt would otherwise
// swallow calls through the function pointer of the same name.
#define CURL_DISABLE_TYPECHECK 1
#include "runtime/platform/http.h"

#include <strings.h>

#include <chrono>
#include <string_view>

#include <curl/curl.h>

#include "runtime/platform/shared_library.h"

namespace kov::os::http {

namespace {

#define KOV_CURL_FUNCTIONS(X)                                                                 \
    X(curl_global_init) X(curl_easy_init) X(curl_easy_cleanup) X(curl_easy_setopt)            \
    X(curl_easy_perform) X(curl_easy_getinfo) X(curl_slist_append) X(curl_slist_free_all)

// The library's functions, or null when it cannot be opened, lacks one of them or does not
// start (asked once).
KOV_LAZY_LIBRARY_PREPARED("libcurl.so.4", KOV_CURL_FUNCTIONS, start_curl)
bool start_curl(Library& lib) { return lib.curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK; }

using Clock = std::chrono::steady_clock;

struct Transfer {
    Response* out;
    bool (*stop)();
    bool stopped = false;
    bool connected = false;       // a connection stands for the current request
    bool headers_ended = false;   // the last header block came to its empty line
    curl_off_t sent = 0;          // bytes of the body sent at the last look
    Clock::time_point last_byte;  // when a byte last came or went, or the connection was made
};

size_t on_body(char* data, size_t size, size_t count, void* user) {
    auto* t = static_cast<Transfer*>(user);
    t->last_byte = Clock::now();
    t->out->body.append(data, size * count);
    return size * count;
}

// Every answer of a redirect chain sends its own header block, each opened by a status line:
// only the last block is kept.
size_t on_header(char* data, size_t size, size_t count, void* user) {
    auto* t = static_cast<Transfer*>(user);
    size_t n = size * count;
    t->last_byte = Clock::now();
    if (n >= 5 && std::string_view(data, 5) == "HTTP/") {
        t->out->header_text.clear();
        t->headers_ended = false;
    }
    std::string_view line(data, n);
    if (line == "\r\n" || line == "\n") t->headers_ended = true;
    t->out->header_text.append(data, n);
    return n;
}

int on_socket(void* user, curl_socket_t, curlsocktype) {
    static_cast<Transfer*>(user)->connected = false;
    return CURL_SOCKOPT_OK;
}

int on_connected(void* user, char*, char*, int, int) {
    auto* t = static_cast<Transfer*>(user);
    t->connected = true;
    t->last_byte = Clock::now();
    return CURL_PREREQFUNC_OK;
}

int on_progress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t sent) {
    auto* t = static_cast<Transfer*>(user);
    if (t->stop && t->stop()) {
        t->stopped = true;
        return 1;
    }
    Clock::time_point now = Clock::now();
    if (sent != t->sent) {
        t->sent = sent;
        t->last_byte = now;
    } else if (t->connected && now - t->last_byte >= std::chrono::milliseconds(limits.idle_ms)) {
        return 1;
    }
    return 0;
}

}  // namespace

Limits limits;

Outcome request(const Request& req, Response& out) {
    out = Response{};
    const Library* lib = library();
    if (!lib) return Outcome::no_library;
    CURL* h = lib->curl_easy_init();
    if (!h) return Outcome::no_connect;
    Transfer t{&out, req.stop};
    curl_slist* list = nullptr;
    bool has_accept = false, has_type = false;
    for (const auto& [name, value] : req.headers) {
        // "Name;" is how libcurl sends a header whose value is empty.
        std::string line = value.empty() ? name + ";" : name + ": " + value;
        list = lib->curl_slist_append(list, line.c_str());
        if (strcasecmp(name.c_str(), "Accept") == 0) has_accept = true;
        if (strcasecmp(name.c_str(), "Content-Type") == 0) has_type = true;
    }
    // No header the caller did not ask for, beyond what HTTP itself needs (Host, the length).
    if (!has_accept) list = lib->curl_slist_append(list, "Accept:");
    if (!has_type) list = lib->curl_slist_append(list, "Content-Type:");
    list = lib->curl_slist_append(list, "Expect:");

    auto set = lib->curl_easy_setopt;
    set(h, CURLOPT_URL, req.url.c_str());
    set(h, CURLOPT_NOSIGNAL, 1L);
    set(h, CURLOPT_FOLLOWLOCATION, 1L);
    set(h, CURLOPT_MAXREDIRS, 20L);
    // Only the web: neither the URL nor a redirect may reach a file or another protocol.
    set(h, CURLOPT_PROTOCOLS_STR, "http,https");
    set(h, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    set(h, CURLOPT_HTTPHEADER, list);
    set(h, CURLOPT_WRITEFUNCTION, on_body);
    set(h, CURLOPT_WRITEDATA, &t);
    set(h, CURLOPT_HEADERFUNCTION, on_header);
    set(h, CURLOPT_HEADERDATA, &t);
    set(h, CURLOPT_NOPROGRESS, 0L);
    set(h, CURLOPT_XFERINFOFUNCTION, on_progress);
    set(h, CURLOPT_XFERINFODATA, &t);
    set(h, CURLOPT_CONNECTTIMEOUT_MS, limits.connect_ms);
    set(h, CURLOPT_SOCKOPTFUNCTION, on_socket);
    set(h, CURLOPT_SOCKOPTDATA, &t);
    set(h, CURLOPT_PREREQFUNCTION, on_connected);
    set(h, CURLOPT_PREREQDATA, &t);
    if (req.verb == "GET") {
        set(h, CURLOPT_HTTPGET, 1L);
    } else if (req.verb == "HEAD") {
        set(h, CURLOPT_NOBODY, 1L);
    } else {
        if (req.verb == "POST" || req.has_body) {
            set(h, CURLOPT_POST, 1L);
            set(h, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(req.body.size()));
            set(h, CURLOPT_POSTFIELDS, req.body.data());
        }
        // Kept for every verb after a redirect too, as the caller named it.
        if (req.verb != "POST") set(h, CURLOPT_CUSTOMREQUEST, req.verb.c_str());
    }
    CURLcode rc = lib->curl_easy_perform(h);
    if (rc == CURLE_OK) lib->curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &out.status);
    lib->curl_easy_cleanup(h);
    lib->curl_slist_free_all(list);
    if (t.stopped) return Outcome::stopped;
    return rc == CURLE_OK && t.headers_ended ? Outcome::done : Outcome::no_connect;
}

}  // namespace kov::os::http

// HTTP requests of url! values: the body of `read` and `write` on http and https URLs.
//
// A request carries the verb (GET, HEAD, POST, or any other method word's name upper-cased),
// the URL's text from its cursor, the header pairs of a header block (or, with no block,
// three default headers) and the body (a binary's bytes, any other value's formed text as
// UTF-8). The answer is the body (binary!, block of line strings, or string!) or with /info
// the block [status header-map body]. Header names become words of the map; a name that
// comes again turns its entry into a block of all its values, in order.
//
// Moving memory: the request's inputs are copied out before the transfer, and results are
// allocated after it, so every function here may move series buffers.
#pragma once
#include "runtime/cell.h"

namespace kov::io {

struct HttpArgs {
    uint32_t method;        // the method word's symbol
    const Cell* headers;    // a block!, or null for the defaults
    const Cell* body;       // null or none!: no body
    bool binary, lines, info;
};

// The answer is left in `target`. A request that reaches no server (or is refused before an
// answer) raises access/no-connect with the url. An interrupt (Ctrl+C) stops the transfer and
// starts the throw of `halt`: the target is then unset and the caller must return at once.
Cell* http_request(Cell* target, const Cell& url, const HttpArgs& args);

}  // namespace kov::io

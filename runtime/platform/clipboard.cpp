// The system clipboard is reached through its command-line tools, run by /bin/sh with popen:
// the tools own the selection after we exit, which a process of ours could not. Without a
// display or a tool, the clipboard is a store of this process (`store` below).
#include "runtime/platform/clipboard.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <unistd.h>

namespace kov::os::clipboard {

namespace {

Content store;

enum class Tool { none, wayland, x11 };

bool on_path(const char* name) {
    const char* path = std::getenv("PATH");
    if (!path) return false;
    std::string_view rest(path);
    while (true) {
        size_t colon = rest.find(':');
        std::string dir(rest.substr(0, colon));
        if (!dir.empty() && access((dir + "/" + name).c_str(), X_OK) == 0) return true;
        if (colon == std::string_view::npos) return false;
        rest.remove_prefix(colon + 1);
    }
}

bool set(const char* name) {
    const char* v = std::getenv(name);
    return v && *v;
}

Tool tool() {
    if (set("WAYLAND_DISPLAY") && on_path("wl-paste") && on_path("wl-copy")) return Tool::wayland;
    if (set("DISPLAY") && on_path("xclip")) return Tool::x11;
    return Tool::none;
}

// The whole output of a command; false when it cannot run or fails.
bool run_reading(const std::string& command, std::string& out) {
    out.clear();
    FILE* p = popen((command + " 2>/dev/null").c_str(), "r");
    if (!p) return false;
    char chunk[4096];
    size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, p)) > 0) out.append(chunk, n);
    return pclose(p) == 0;
}

bool run_writing(const std::string& command, const std::string& data) {
    FILE* p = popen((command + " >/dev/null 2>&1").c_str(), "w");
    if (!p) return false;
    bool ok = std::fwrite(data.data(), 1, data.size(), p) == data.size();
    return pclose(p) == 0 && ok;
}

int hex(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// text/uri-list: one URI a line, CR LF ended, "#" lines are comments; only file: URIs name
// local files.
std::vector<std::string> from_uri_list(const std::string& text) {
    std::vector<std::string> out;
    size_t at = 0;
    while (at < text.size()) {
        size_t end = text.find('\n', at);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(at, end - at);
        at = end + 1;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty() || line[0] == '#' || line.compare(0, 5, "file:") != 0) continue;
        std::string rest = line.substr(5);
        if (rest.compare(0, 2, "//") == 0) {
            size_t slash = rest.find('/', 2);
            rest = slash == std::string::npos ? "/" : rest.substr(slash);
        }
        std::string path;
        for (size_t i = 0; i < rest.size(); ++i) {
            if (rest[i] == '%' && i + 2 < rest.size() && hex(rest[i + 1]) >= 0 && hex(rest[i + 2]) >= 0) {
                path += char(hex(rest[i + 1]) * 16 + hex(rest[i + 2]));
                i += 2;
            } else {
                path += rest[i];
            }
        }
        out.push_back(path);
    }
    return out;
}

std::string to_uri_list(const std::vector<std::string>& files) {
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    for (const std::string& f : files) {
        out += "file://";
        for (unsigned char c : f) {
            bool kept = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                        std::strchr("-._~/", c) != nullptr;
            if (c && kept) {
                out += char(c);
            } else {
                out += '%';
                out += digits[c >> 4];
                out += digits[c & 15];
            }
        }
        out += "\r\n";
    }
    return out;
}

bool has_type(const std::string& types, std::string_view type) {
    size_t at = 0;
    while (at < types.size()) {
        size_t end = types.find('\n', at);
        if (end == std::string::npos) end = types.size();
        std::string_view line(types.data() + at, end - at);
        if (line == type) return true;
        at = end + 1;
    }
    return false;
}

}  // namespace

bool read(Content& out) {
    out = Content{};
    Tool t = tool();
    if (t == Tool::none) {
        out = store;
        return true;
    }
    std::string list = t == Tool::wayland ? "wl-paste --list-types" : "xclip -selection clipboard -o -t TARGETS";
    std::string types;
    // An empty clipboard makes both tools fail: that is no content, not a failure.
    if (!run_reading(list, types)) return true;
    auto fetch = [&](const char* type, std::string& data) {
        std::string cmd = t == Tool::wayland ? std::string("wl-paste --no-newline --type '") + type + "'"
                                             : std::string("xclip -selection clipboard -o -t '") + type + "'";
        return run_reading(cmd, data);
    };
    for (const char* type : {"text/plain;charset=utf-8", "UTF8_STRING", "text/plain"}) {
        if (has_type(types, type)) {
            if (!fetch(type, out.text)) return false;
            out.kind = Content::Kind::text;
            return true;
        }
    }
    if (has_type(types, "text/uri-list")) {
        std::string data;
        if (!fetch("text/uri-list", data)) return false;
        out.files = from_uri_list(data);
        out.kind = Content::Kind::files;
    } else if (has_type(types, "image/png")) {
        if (!fetch("image/png", out.text)) return false;
        out.kind = Content::Kind::image;
    }
    return true;
}

bool write(const Content& in) {
    Tool t = tool();
    if (t == Tool::none) {
        store = in;
        return true;
    }
    if (in.kind == Content::Kind::empty) {
        return t == Tool::wayland ? run_writing("wl-copy --clear", "") : run_writing("xclip -selection clipboard -i", "");
    }
    bool files = in.kind == Content::Kind::files;
    std::string type = files                                 ? "text/uri-list"
                       : in.kind == Content::Kind::image    ? "image/png"
                       : t == Tool::wayland                 ? "text/plain;charset=utf-8"
                                                            : "UTF8_STRING";
    std::string cmd = t == Tool::wayland ? "wl-copy --type '" + type + "'" : "xclip -selection clipboard -i -t '" + type + "'";
    return run_writing(cmd, files ? to_uri_list(in.files) : in.text);
}

}  // namespace kov::os::clipboard

// Boot definitions as text: the sources named in boot/manifest.txt, in its order, read from
// the source tree by test programs (`kov` carries them scanned, in its boot image).
#pragma once
#include <cstddef>
#include <cstdint>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace kov::boot {

struct Source {
    const char* name;
    const uint8_t* text;
    std::size_t size;
};

// The one reader of the manifest (boot/manifest.txt, or the file a host tool is given): one
// path per line, relative to the source root; blank lines and lines starting with "#" are
// skipped, and spaces, tabs and CRs around a path are not part of it. Inline, with read_file,
// so that kov-bindgen, which links none of the runtime, reads it too.
inline std::vector<std::string> manifest_entries(const std::string& text) {
    std::vector<std::string> entries;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        size_t b = line.find_first_not_of(" \t\r");
        size_t e = line.find_last_not_of(" \t\r");
        if (b == std::string::npos || line[b] == '#') continue;
        entries.push_back(line.substr(b, e - b + 1));
    }
    return entries;
}
// A whole file's bytes into `out`; false when it cannot be read.
inline bool read_file(const std::string& path, std::string& out) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::stringstream ss;
    ss << in.rdbuf();
    out = ss.str();
    return true;
}

// The manifest's sources read from a source tree (for test programs); a missing file is a
// start-up failure.
struct SourceFiles {
    std::vector<std::string> names;
    std::vector<std::string> texts;
    std::vector<Source> list() const;
};
SourceFiles read_tree(const char* root);

}  // namespace kov::boot

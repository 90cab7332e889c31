// Reading the boot sources in the host tools (kov-bootgen, kov-bindgen): a file's bytes, and
// the paths a manifest lists (one per line, relative to the source root; blank lines and lines
// starting with "#" are skipped).
#pragma once
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace kov::tools {

inline bool read_file(const std::string& path, std::string& out) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::stringstream ss;
    ss << in.rdbuf();
    out = ss.str();
    return true;
}

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

}  // namespace kov::tools

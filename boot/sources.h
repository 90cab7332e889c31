// Boot definitions as text: the sources named in boot/manifest.txt, in its order, read from
// the source tree by test programs (`kov` carries them scanned, in its boot image).
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace kov::boot {

struct Source {
    const char* name;
    const uint8_t* text;
    std::size_t size;
};

// The one reader of the manifest (boot/manifest.txt, or the file the image generator is
// given): one path per line, relative to the source root; blank lines and lines starting with
// "#" are skipped, and spaces, tabs and CRs around a path are not part of it.
std::vector<std::string> manifest_entries(const std::string& text);
// A whole file's bytes into `out`; false when it cannot be read.
bool read_file(const std::string& path, std::string& out);

// The manifest's sources read from a source tree (for test programs); a missing file is a
// start-up failure.
struct SourceFiles {
    std::vector<std::string> names;
    std::vector<std::string> texts;
    std::vector<Source> list() const;
};
SourceFiles read_tree(const char* root);

}  // namespace kov::boot

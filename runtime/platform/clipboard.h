// The clipboard: the system's when a display is present and its tool is installed
// (wl-copy/wl-paste under Wayland, xclip under X11), else a store of the process's own.
// Text is UTF-8; a file list is a list of local paths (text/uri-list on the system
// clipboard); an image is the bytes of a PNG file (image/png). The choice is made at every call, so a display that comes or goes is followed.
#pragma once
#include <string>
#include <vector>

namespace kov::os::clipboard {

struct Content {
    enum class Kind { empty, text, files, image } kind = Kind::empty;
    std::string text;  // the text, or the PNG bytes of an image
    std::vector<std::string> files;
};

// False when the system clipboard could not be reached.
bool read(Content& out);
// False when the system clipboard did not take the content. Kind::empty clears it.
bool write(const Content& in);

}  // namespace kov::os::clipboard

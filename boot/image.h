// The boot image: the compact Kovbin blob that kov-bootgen makes at build time from the boot
// sources of boot/manifest.txt (generated/boot_image.cpp in the build folder, linked into the
// `kov` executable, not into the runtime library). Its top-level values come in pairs, in the
// manifest's order: a source file's name (file!) and the block of values scanned from it, not
// evaluated. Start-up decodes it with kovbin::load_boot.
#pragma once
#include <cstddef>
#include <cstdint>

namespace kov::boot {

extern const uint8_t image[];
extern const std::size_t image_size;

}  // namespace kov::boot

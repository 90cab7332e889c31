// Libraries opened on first use. Linking libcurl, libcrypto or the image libraries would make
// every start-up pay for their relocations (libcurl alone took start-up from 21 to 34 million
// instructions), though most sessions never call them; each platform module that needs one
// lists its functions and gets a `library()` that opens the library the first time it is
// asked, binding every function named. The function types come from the library's own
// header, so a changed signature fails to compile rather than to run.
//
//   #define KOV_ZLIB_FUNCTIONS(X) X(deflate) X(inflate)
//   KOV_LAZY_LIBRARY("libz.so.1", KOV_ZLIB_FUNCTIONS)
//   ... if (const Library* z = library()) z->deflate(...);
//
// `library()` answers null when the library is missing or lacks one of the functions; it
// tries only once. One thread, so the first-use statics need no lock. A library that must be
// set up once after binding (curl's global start, libtiff's handlers) names a function of its
// own with KOV_LAZY_LIBRARY_PREPARED; it answers false when the set-up failed.
#pragma once

namespace kov::os {

// dlopen with immediate binding, kept local to the caller; null when it cannot be opened.
void* open_library(const char* soname);
// The address of a function of an opened library, or null.
void* library_symbol(void* handle, const char* name);

}  // namespace kov::os

#define KOV_LIBRARY_MEMBER(name) decltype(&::name) name = nullptr;
#define KOV_LIBRARY_BIND(name)                                                                       \
    lib.name = reinterpret_cast<decltype(&::name)>(::kov::os::library_symbol(handle, #name));       \
    all = all && lib.name != nullptr;

#define KOV_LAZY_LIBRARY(soname, FUNCTIONS)                                                          \
    KOV_LAZY_LIBRARY_PREPARED(soname, FUNCTIONS, needs_no_preparation)                               \
    bool needs_no_preparation(Library&) { return true; }

#define KOV_LAZY_LIBRARY_PREPARED(soname, FUNCTIONS, prepare)                                        \
    struct Library {                                                                                 \
        FUNCTIONS(KOV_LIBRARY_MEMBER)                                                                \
        bool ready = false;                                                                          \
    };                                                                                               \
    bool prepare(Library&);                                                                          \
    const Library* library() {                                                                       \
        static Library lib;                                                                          \
        static bool tried = false;                                                                   \
        if (tried) return lib.ready ? &lib : nullptr;                                                \
        tried = true;                                                                                \
        void* handle = ::kov::os::open_library(soname);                                              \
        if (!handle) return nullptr;                                                                 \
        bool all = true;                                                                             \
        FUNCTIONS(KOV_LIBRARY_BIND)                                                                  \
        lib.ready = all && prepare(lib);                                                             \
        return lib.ready ? &lib : nullptr;                                                           \
    }

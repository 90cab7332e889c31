// Secure random bytes from getrandom(2) and digests through OpenSSL libcrypto's EVP interface.
// Every library call's result is checked: a caller gets false, never a partial digest.
//
// libcrypto is opened on the first digest, not linked: loading it costs every start-up about
// 2.5 million instructions of symbol relocation (an eighth of a start-up), which a program
// that never asks for a digest should not pay. The functions are typed from the library's own
// header, so a signature change fails to compile.
#include "runtime/platform/os.h"

#include <cerrno>
#include <sys/random.h>

#include <openssl/evp.h>

#include "runtime/platform/shared_library.h"

namespace kov::os {

bool secure_random(void* buffer, std::size_t size) {
    auto* at = static_cast<unsigned char*>(buffer);
    while (size > 0) {
        ssize_t n = getrandom(at, size, 0);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        at += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

namespace {

#define KOV_CRYPTO_FUNCTIONS(X)                                                                             \
    X(EVP_MD_CTX_new) X(EVP_MD_CTX_free) X(EVP_DigestInit_ex) X(EVP_DigestUpdate) X(EVP_DigestFinal_ex)  \
    X(EVP_md5) X(EVP_sha1) X(EVP_sha256) X(EVP_sha384) X(EVP_sha512) X(EVP_Q_mac)

// The library's functions, or null when it cannot be opened or lacks one of them (asked once).
KOV_LAZY_LIBRARY(KOV_LIBCRYPTO_SONAME, KOV_CRYPTO_FUNCTIONS)

const EVP_MD* method(const Library& lib, Digest kind) {
    switch (kind) {
    case Digest::md5: return lib.EVP_md5();
    case Digest::sha1: return lib.EVP_sha1();
    case Digest::sha256: return lib.EVP_sha256();
    case Digest::sha384: return lib.EVP_sha384();
    case Digest::sha512: return lib.EVP_sha512();
    }
    return nullptr;
}

const char* method_name(Digest kind) {
    switch (kind) {
    case Digest::md5: return "MD5";
    case Digest::sha1: return "SHA1";
    case Digest::sha256: return "SHA256";
    case Digest::sha384: return "SHA384";
    case Digest::sha512: return "SHA512";
    }
    return nullptr;
}

// The library wants a valid address even for no bytes.
const unsigned char empty_input[1] = {0};
const void* non_null(const void* p) { return p ? p : empty_input; }

}  // namespace

std::size_t digest_length(Digest kind) {
    switch (kind) {
    case Digest::md5: return 16;
    case Digest::sha1: return 20;
    case Digest::sha256: return 32;
    case Digest::sha384: return 48;
    case Digest::sha512: return 64;
    }
    return 0;
}

bool digest(Digest kind, const void* data, std::size_t size, uint8_t* out) {
    const Library* lib = library();
    if (!lib) return false;
    const EVP_MD* md = method(*lib, kind);
    if (!md) return false;
    EVP_MD_CTX* ctx = lib->EVP_MD_CTX_new();
    if (!ctx) return false;
    unsigned int length = 0;
    bool ok = lib->EVP_DigestInit_ex(ctx, md, nullptr) == 1 &&
              lib->EVP_DigestUpdate(ctx, non_null(data), size) == 1 &&
              lib->EVP_DigestFinal_ex(ctx, out, &length) == 1 && length == digest_length(kind);
    lib->EVP_MD_CTX_free(ctx);
    return ok;
}

bool hmac(Digest kind, const void* key, std::size_t key_size, const void* data, std::size_t size, uint8_t* out) {
    const Library* lib = library();
    const char* name = method_name(kind);
    if (!lib || !name) return false;
    std::size_t length = 0;
    unsigned char* done = lib->EVP_Q_mac(nullptr, "HMAC", nullptr, name, nullptr, non_null(key), key_size,
                                    static_cast<const unsigned char*>(non_null(data)), size, out, max_digest_length,
                                    &length);
    return done != nullptr && length == digest_length(kind);
}

}  // namespace kov::os

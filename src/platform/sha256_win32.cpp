// SHA-256 from the system's own cryptography (CNG).
#include "platform/sha256.h"

#include <windows.h>
// after <windows.h>
#include <bcrypt.h>

#include <algorithm>

namespace {

constexpr const char* kUnavailable = "(SHA-256 unavailable)";
constexpr ULONG kDigestSize = 32;

std::string HexOf(const unsigned char* digest, ULONG size) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string hex;
    for (ULONG i = 0; i < size; ++i) {
        hex += kDigits[digest[i] >> 4];
        hex += kDigits[digest[i] & 0x0F];
    }
    return hex;
}

BCRYPT_ALG_HANDLE Sha256Provider() {
    static const BCRYPT_ALG_HANDLE provider = [] {
        BCRYPT_ALG_HANDLE handle = nullptr;
        return BCryptOpenAlgorithmProvider(&handle, BCRYPT_SHA256_ALGORITHM, nullptr, 0) == 0 ? handle : nullptr;
    }();
    return provider;
}

}  // namespace

struct Sha256Stream::Context {
    BCRYPT_HASH_HANDLE hash = nullptr;
    bool ok = Sha256Provider() != nullptr &&
              BCryptCreateHash(Sha256Provider(), &hash, nullptr, 0, nullptr, 0, BCRYPT_HASH_REUSABLE_FLAG) == 0;
    ~Context() {
        if (hash)
            BCryptDestroyHash(hash);
    }
};

Sha256Stream::Sha256Stream() : m_pContext(std::make_unique<Context>()) {}
Sha256Stream::~Sha256Stream() = default;
Sha256Stream::Sha256Stream(Sha256Stream&&) noexcept = default;
Sha256Stream& Sha256Stream::operator=(Sha256Stream&&) noexcept = default;

void Sha256Stream::Update(const std::uint8_t* data, std::size_t size) {
    // BCryptHashData takes a 32-bit length: larger blocks go in pieces.
    constexpr std::size_t kMaxPiece = 1u << 30;
    while (m_pContext->ok && size > 0) {
        const std::size_t piece = std::min(size, kMaxPiece);
        m_pContext->ok =
            BCryptHashData(m_pContext->hash, const_cast<PUCHAR>(data), static_cast<ULONG>(piece), 0) == 0;
        data += piece;
        size -= piece;
    }
}

std::string Sha256Stream::Hex() const {
    if (!m_pContext->ok)
        return kUnavailable;
    // Finish a copy, so that the stream itself can go on.
    BCRYPT_HASH_HANDLE copy = nullptr;
    unsigned char digest[kDigestSize];
    const bool ok = BCryptDuplicateHash(m_pContext->hash, &copy, nullptr, 0, 0) == 0 &&
                    BCryptFinishHash(copy, digest, kDigestSize, 0) == 0;
    if (copy)
        BCryptDestroyHash(copy);
    return ok ? HexOf(digest, kDigestSize) : kUnavailable;
}

std::string Sha256Hex(const std::uint8_t* data, std::size_t size) {
    Sha256Stream stream;
    stream.Update(data, size);
    return stream.Hex();
}

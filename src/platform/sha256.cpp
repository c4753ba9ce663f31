// SHA-256 from OpenSSL.
#include "platform/sha256.h"

#include <openssl/evp.h>

namespace {

constexpr const char* kUnavailable = "(SHA-256 unavailable)";

std::string HexOf(const unsigned char* digest, unsigned size) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string hex;
    hex.reserve(2 * size);
    for (unsigned i = 0; i < size; ++i) {
        hex += kDigits[digest[i] >> 4];
        hex += kDigits[digest[i] & 0x0F];
    }
    return hex;
}

}  // namespace

struct Sha256Stream::Context {
    EVP_MD_CTX* ctx = EVP_MD_CTX_new();
    bool ok = ctx != nullptr && EVP_DigestInit_ex(ctx, EVP_sha256(), nullptr) == 1;
    ~Context() { EVP_MD_CTX_free(ctx); }
};

Sha256Stream::Sha256Stream() : m_pContext(std::make_unique<Context>()) {}
Sha256Stream::~Sha256Stream() = default;
Sha256Stream::Sha256Stream(Sha256Stream&&) noexcept = default;
Sha256Stream& Sha256Stream::operator=(Sha256Stream&&) noexcept = default;

void Sha256Stream::Update(const std::uint8_t* data, std::size_t size) {
    if (m_pContext->ok && size > 0)
        m_pContext->ok = EVP_DigestUpdate(m_pContext->ctx, data, size) == 1;
}

std::string Sha256Stream::Hex() const {
    if (!m_pContext->ok)
        return kUnavailable;
    // Finish a copy, so that the stream itself can go on.
    EVP_MD_CTX* copy = EVP_MD_CTX_new();
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    const bool ok = copy != nullptr && EVP_MD_CTX_copy_ex(copy, m_pContext->ctx) == 1 &&
                    EVP_DigestFinal_ex(copy, digest, &size) == 1;
    EVP_MD_CTX_free(copy);
    return ok ? HexOf(digest, size) : kUnavailable;
}

std::string Sha256Hex(const std::uint8_t* data, std::size_t size) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int digestSize = 0;
    if (EVP_Digest(data, size, digest, &digestSize, EVP_sha256(), nullptr) != 1)
        return kUnavailable;
    return HexOf(digest, digestSize);
}

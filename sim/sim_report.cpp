#include "sim/sim_report.h"

#include <openssl/evp.h>

#include <cstdio>
#include <sstream>

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

std::string SimReport::Summary() const {
    std::ostringstream out;
    // Unit after unit, a unit that has not begun says nothing.
    if (!units.empty() && framesSent == 0 && framesReceived == 0 && errors.empty())
        return UnitsSummary();
    out << "Frames sent: " << framesSent << ", frames received: " << framesReceived << "\n";
    out << "Handshake: " << (handshakeDone ? "done" : "not done");
    if (handshakes > 1)
        out << " (" << handshakes << " times)";
    out << "\n";
    if (errorsSent > 0)
        out << "\"ERROR\" frames sent: " << errorsSent << "\n";
    if (hungUp)
        out << "Line hung up\n";
    out << "Commands (" << commands.size() << "):";
    for (const std::string& command : commands)
        out << " " << command;
    out << "\n";
    out << "Data files (" << files.size() << "):\n";
    for (std::size_t i = 0; i < files.size(); ++i) {
        const SimFile& file = files[i];
        out << "  " << (i + 1) << ": " << file.size << " bytes, SHA-256 " << file.sha256
            << (file.complete ? ", complete" : ", INCOMPLETE: " + file.problem);
        if (file.chunks > 0 && file.seconds > 0) {
            char rate[96];
            std::snprintf(rate, sizeof rate, ", %u chunks in %.3f s (%.1f chunks/s)", file.chunks, file.seconds,
                          file.chunks / file.seconds);
            out << rate;
        }
        out << "\n";
    }
    out << "Errors (" << errors.size() << "):\n";
    for (const std::string& error : errors)
        out << "  " << error << "\n";
    out << UnitsSummary();
    return out.str();
}

std::string SimReport::UnitsSummary() const {
    std::ostringstream out;
    for (std::size_t i = 0; i < units.size(); ++i) {
        const SimUnit& unit = units[i];
        out << "Unit " << (i + 1) << " done: " << unit.commands.size() << " commands, " << unit.files.size()
            << " data files";
        for (const SimFile& file : unit.files)
            out << "; " << file.size << " bytes, SHA-256 " << file.sha256 << (file.complete ? "" : " INCOMPLETE");
        out << ", " << unit.errors.size() << " errors\n";
        for (const std::string& error : unit.errors)
            out << "  " << error << "\n";
    }
    return out.str();
}

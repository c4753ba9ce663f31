// SHA-256 of the bytes that go to a receiver or into a record: the system's
// own implementation (OpenSSL's libcrypto on Linux, CNG on Windows).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

// SHA-256 over bytes fed in pieces. Hex() may be taken at any time (the
// digest of what was fed so far) and feeding may go on after it.
class Sha256Stream {
public:
    Sha256Stream();
    ~Sha256Stream();
    Sha256Stream(Sha256Stream&&) noexcept;
    Sha256Stream& operator=(Sha256Stream&&) noexcept;

    void Update(const std::uint8_t* data, std::size_t size);
    // Lower-case hex digest; "(SHA-256 unavailable)" if the library fails.
    std::string Hex() const;

private:
    struct Context;
    std::unique_ptr<Context> m_pContext;
};

// Lower-case hex SHA-256 of a whole buffer.
std::string Sha256Hex(const std::uint8_t* data, std::size_t size);

// SHA-256 from the system's own cryptography (CNG).
#include <cstdio>

#include "platform/win32_api.h"
#include <bcrypt.h>

#include "sim/sim_report.h"

std::string SimFile::Sha256Hex() const {
    BCRYPT_ALG_HANDLE algorithm = nullptr;
    if (BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0) != 0)
        return "(SHA-256 unavailable)";
    unsigned char digest[32];
    BCRYPT_HASH_HANDLE hash = nullptr;
    long status = BCryptCreateHash(algorithm, &hash, nullptr, 0, nullptr, 0, 0);
    if (status == 0) {
        status = BCryptHashData(hash, const_cast<unsigned char*>(data.data()), static_cast<ULONG>(data.size()), 0);
        if (status == 0)
            status = BCryptFinishHash(hash, digest, sizeof digest, 0);
        BCryptDestroyHash(hash);
    }
    BCryptCloseAlgorithmProvider(algorithm, 0);
    if (status != 0)
        return "(SHA-256 unavailable)";
    std::string hex;
    for (unsigned char byte : digest) {
        char pair[3];
        std::snprintf(pair, sizeof pair, "%02x", byte);
        hex += pair;
    }
    return hex;
}

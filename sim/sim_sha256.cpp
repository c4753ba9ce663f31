#include <openssl/evp.h>

#include <cstdio>

#include "sim/sim_report.h"

std::string SimFile::Sha256Hex() const {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    if (EVP_Digest(data.data(), data.size(), digest, &size, EVP_sha256(), nullptr) != 1)
        return "(SHA-256 unavailable)";
    std::string hex;
    for (unsigned i = 0; i < size; ++i) {
        char pair[3];
        std::snprintf(pair, sizeof pair, "%02x", digest[i]);
        hex += pair;
    }
    return hex;
}

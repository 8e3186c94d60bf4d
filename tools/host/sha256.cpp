#include "sha256.h"

#include <openssl/evp.h>

#include "tool_error.h"

Sha256::Sha256() : context_(EVP_MD_CTX_new()) {
    if (!context_ || EVP_DigestInit_ex(context_, EVP_sha256(), nullptr) != 1) Fail("libcrypto has no SHA-256");
}

Sha256::~Sha256() { EVP_MD_CTX_free(context_); }

void Sha256::Update(const void* data, std::size_t size) {
    if (EVP_DigestUpdate(context_, data, size) != 1) Fail("libcrypto could not compute SHA-256");
}

std::string Sha256::HexDigest() {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned length = 0;
    if (EVP_DigestFinal_ex(context_, digest, &length) != 1) Fail("libcrypto could not compute SHA-256");
    static const char kHex[] = "0123456789abcdef";
    std::string hex;
    for (unsigned i = 0; i < length; ++i) {
        hex += kHex[digest[i] >> 4];
        hex += kHex[digest[i] & 15];
    }
    return hex;
}

std::string Sha256Hex(const void* data, std::size_t size) {
    Sha256 sha;
    sha.Update(data, size);
    return sha.HexDigest();
}

// SHA-256 over a stream of pieces (libcrypto's EVP interface).
#pragma once

#include <cstddef>
#include <string>

struct evp_md_ctx_st;

class Sha256 {
public:
    Sha256();
    ~Sha256();
    Sha256(const Sha256&) = delete;
    Sha256& operator=(const Sha256&) = delete;
    void Update(const void* data, std::size_t size);
    std::string HexDigest();  // lower-case hex; ends the computation

private:
    evp_md_ctx_st* context_;
};

std::string Sha256Hex(const void* data, std::size_t size);

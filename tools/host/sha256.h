// SHA-256 of a byte string, as lower-case hex (FIPS 180-4).
#pragma once

#include <cstddef>
#include <string>

std::string Sha256Hex(const unsigned char* data, std::size_t size);

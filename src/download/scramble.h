// The byte substitution that hides configuration answers and the strings the
// program carries (server addresses, registry key path).
//
// kDescrambleTable maps a scrambled byte to its plain byte. It is an affine
// permutation of 1..255 (97 is coprime to 255), so it is one-to-one and no
// byte but NUL maps to or from NUL: a scrambled text stays NUL-terminated.
// Servers and the build scramble with the inverse table.
#pragma once

#include <cstddef>

namespace scramble_detail {

constexpr unsigned char DescrambleByte(unsigned b) {
    return b == 0 ? 0 : static_cast<unsigned char>(1 + ((b - 1) * 97 + 41) % 255);
}

struct Table {
    unsigned char bytes[256];
};

constexpr Table MakeDescrambleTable() {
    Table t{};
    for (unsigned b = 0; b < 256; ++b) t.bytes[b] = DescrambleByte(b);
    return t;
}

constexpr Table MakeScrambleTable() {
    Table t{};
    for (unsigned b = 0; b < 256; ++b) t.bytes[DescrambleByte(b)] = static_cast<unsigned char>(b);
    return t;
}

}  // namespace scramble_detail

constexpr scramble_detail::Table kDescrambleTable = scramble_detail::MakeDescrambleTable();
constexpr scramble_detail::Table kScrambleTable = scramble_detail::MakeScrambleTable();

// Replaces every byte of the NUL-terminated text by its plain byte, in place.
char* Descramble(char* text);

// Inverse of Descramble, for the host tool and tests.
char* Scramble(char* text);

// A string literal scrambled at compile time: only the scrambled bytes reach
// the executable. Use as
//   constexpr auto kSecret = ScrambleLiteral("plain");
template <std::size_t N>
struct ScrambledText {
    char text[N];
};

template <std::size_t N>
constexpr ScrambledText<N> ScrambleLiteral(const char (&plain)[N]) {
    ScrambledText<N> out{};
    for (std::size_t i = 0; i + 1 < N; ++i)
        out.text[i] = static_cast<char>(kScrambleTable.bytes[static_cast<unsigned char>(plain[i])]);
    out.text[N - 1] = '\0';
    return out;
}

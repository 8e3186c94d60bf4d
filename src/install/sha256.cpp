#include "install/sha256.h"

#include <cstring>

#if defined(__i386__) || defined(__x86_64__)
#include <cpuid.h>
#include <immintrin.h>
#define TEMBRA_SHA_INSTRUCTIONS 1
#endif

bool g_sha256PortableOnly = false;

namespace {

const std::uint32_t ROUND_CONSTANTS[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};

std::uint32_t Rotate(std::uint32_t x, int n) { return (x >> n) | (x << (32 - n)); }

std::uint32_t LoadBigEndian(const std::uint8_t* p) {
    return std::uint32_t(p[0]) << 24 | std::uint32_t(p[1]) << 16 | std::uint32_t(p[2]) << 8 | p[3];
}

void CompressPortable(std::uint32_t state[8], const std::uint8_t* data, std::size_t blocks) {
    for (; blocks != 0; --blocks, data += 64) {
        std::uint32_t w[64];
        for (int t = 0; t < 16; ++t) w[t] = LoadBigEndian(data + 4 * t);
        for (int t = 16; t < 64; ++t) {
            const std::uint32_t s0 = Rotate(w[t - 15], 7) ^ Rotate(w[t - 15], 18) ^ (w[t - 15] >> 3);
            const std::uint32_t s1 = Rotate(w[t - 2], 17) ^ Rotate(w[t - 2], 19) ^ (w[t - 2] >> 10);
            w[t] = w[t - 16] + s0 + w[t - 7] + s1;
        }
        std::uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
        std::uint32_t e = state[4], f = state[5], g = state[6], h = state[7];
        for (int t = 0; t < 64; ++t) {
            const std::uint32_t t1 =
                h + (Rotate(e, 6) ^ Rotate(e, 11) ^ Rotate(e, 25)) + ((e & f) ^ (~e & g)) + ROUND_CONSTANTS[t] + w[t];
            const std::uint32_t t2 = (Rotate(a, 2) ^ Rotate(a, 13) ^ Rotate(a, 22)) + ((a & b) ^ (a & c) ^ (b & c));
            h = g;
            g = f;
            f = e;
            e = d + t1;
            d = c;
            c = b;
            b = a;
            a = t1 + t2;
        }
        const std::uint32_t v[8] = {a, b, c, d, e, f, g, h};
        for (int i = 0; i < 8; ++i) state[i] += v[i];
    }
}

#ifdef TEMBRA_SHA_INSTRUCTIONS
// The SHA extensions keep the state as the halves ABEF and CDGH and do two
// rounds per instruction. force_align_arg_pointer: a 32-bit Windows thread's
// stack is only 4-byte aligned, and the vectors spilled here need 16.
__attribute__((target("sha,ssse3,sse4.1"), force_align_arg_pointer))
void CompressShaInstructions(std::uint32_t state[8], const std::uint8_t* data, std::size_t blocks) {
    const __m128i byteSwap = _mm_set_epi64x(0x0c0d0e0f08090a0bULL, 0x0405060700010203ULL);
    const __m128i dcba = _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(state)), 0xB1);
    const __m128i hgfe = _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(state + 4)), 0x1B);
    __m128i abef = _mm_alignr_epi8(dcba, hgfe, 8);
    __m128i cdgh = _mm_blend_epi16(hgfe, dcba, 0xF0);
    for (; blocks != 0; --blocks, data += 64) {
        const __m128i abefBefore = abef, cdghBefore = cdgh;
        __m128i words[4];  // four message words a group, the schedule's last 16
        for (int i = 0; i < 4; ++i) {
            words[i] = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(data + 16 * i)), byteSwap);
        }
        for (int group = 0; group < 16; ++group) {
            const __m128i k = _mm_loadu_si128(reinterpret_cast<const __m128i*>(ROUND_CONSTANTS + 4 * group));
            const __m128i wk = _mm_add_epi32(words[group & 3], k);
            cdgh = _mm_sha256rnds2_epu32(cdgh, abef, wk);
            abef = _mm_sha256rnds2_epu32(abef, cdgh, _mm_shuffle_epi32(wk, 0x0E));
            if (group < 12) {  // the words of group + 4 take this group's slot
                __m128i next = _mm_sha256msg1_epu32(words[group & 3], words[(group + 1) & 3]);
                next = _mm_add_epi32(next, _mm_alignr_epi8(words[(group + 3) & 3], words[(group + 2) & 3], 4));
                words[group & 3] = _mm_sha256msg2_epu32(next, words[(group + 3) & 3]);
            }
        }
        abef = _mm_add_epi32(abef, abefBefore);
        cdgh = _mm_add_epi32(cdgh, cdghBefore);
    }
    const __m128i feba = _mm_shuffle_epi32(abef, 0x1B);
    const __m128i dchg = _mm_shuffle_epi32(cdgh, 0xB1);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(state), _mm_blend_epi16(feba, dchg, 0xF0));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(state + 4), _mm_alignr_epi8(dchg, feba, 8));
}

bool ProcessorHasShaInstructions() {
    unsigned a, b, c, d;
    if (!__get_cpuid(1, &a, &b, &c, &d)) return false;
    const bool ssse3 = (c & bit_SSSE3) != 0, sse41 = (c & bit_SSE4_1) != 0;
    if (!ssse3 || !sse41 || !__get_cpuid_count(7, 0, &a, &b, &c, &d)) return false;
    return (b & bit_SHA) != 0;
}
#endif

void Compress(Sha256* hash, const std::uint8_t* data, std::size_t blocks) {
#ifdef TEMBRA_SHA_INSTRUCTIONS
    if (hash->shaInstructions) return CompressShaInstructions(hash->state, data, blocks);
#endif
    CompressPortable(hash->state, data, blocks);
}

}  // namespace

bool Sha256UsesShaInstructions() {
#ifdef TEMBRA_SHA_INSTRUCTIONS
    return !g_sha256PortableOnly && ProcessorHasShaInstructions();
#else
    return false;
#endif
}

void Sha256Begin(Sha256* hash) {
    static const std::uint32_t initial[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                                             0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
    std::memcpy(hash->state, initial, sizeof initial);
    hash->length = 0;
    hash->shaInstructions = Sha256UsesShaInstructions();
}

void Sha256Add(Sha256* hash, const void* data, std::size_t size) {
    if (size == 0) return;
    const std::uint8_t* bytes = static_cast<const std::uint8_t*>(data);
    std::size_t pending = hash->length % 64;
    hash->length += size;
    if (pending != 0) {
        const std::size_t take = size < 64 - pending ? size : 64 - pending;
        std::memcpy(hash->pending + pending, bytes, take);
        bytes += take;
        size -= take;
        pending += take;
        if (pending < 64) return;
        Compress(hash, hash->pending, 1);
    }
    Compress(hash, bytes, size / 64);
    std::memcpy(hash->pending, bytes + size / 64 * 64, size % 64);
}

void Sha256Finish(Sha256* hash, std::uint8_t digest[SHA256_DIGEST_SIZE]) {
    const std::uint64_t bits = hash->length * 8;
    std::uint8_t tail[72] = {0x80};  // the 1 bit, zeros, then the length
    const std::size_t pending = hash->length % 64;
    const std::size_t padding = (pending < 56 ? 56 : 120) - pending;
    for (int i = 0; i < 8; ++i) tail[padding + i] = static_cast<std::uint8_t>(bits >> (56 - 8 * i));
    Sha256Add(hash, tail, padding + 8);
    for (int i = 0; i < 8; ++i) {
        for (int j = 0; j < 4; ++j) digest[4 * i + j] = static_cast<std::uint8_t>(hash->state[i] >> (24 - 8 * j));
    }
}

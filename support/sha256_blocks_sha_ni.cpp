// The SHA-256 rounds with the processor's SHA extensions: four rounds per
// pair of sha256rnds2 steps, the message schedule by sha256msg1/msg2. The
// state is held as ABEF and CDGH, the order the instructions use.

#include "support/sha256_blocks.h"

#include <immintrin.h>

#if defined(_MSC_VER) && !defined(__clang__)
#include <intrin.h>
#else
#include <cpuid.h>
#endif

namespace tarn {

bool Sha256ExtensionsPresent()
{
    unsigned int leaf1[4] = {};
    unsigned int leaf7[4] = {};
#if defined(_MSC_VER) && !defined(__clang__)
    int regs[4] = {};
    __cpuid(regs, 0);
    if (regs[0] < 7) {
        return false;
    }
    __cpuidex(regs, 1, 0);
    leaf1[2] = static_cast<unsigned int>(regs[2]);
    __cpuidex(regs, 7, 0);
    leaf7[1] = static_cast<unsigned int>(regs[1]);
#else
    if (__get_cpuid_max(0, nullptr) < 7) {
        return false;
    }
    __cpuid_count(1, 0, leaf1[0], leaf1[1], leaf1[2], leaf1[3]);
    __cpuid_count(7, 0, leaf7[0], leaf7[1], leaf7[2], leaf7[3]);
#endif
    const bool sse41 = (leaf1[2] & (1u << 19)) != 0;
    const bool ssse3 = (leaf1[2] & (1u << 9)) != 0;
    const bool sha = (leaf7[1] & (1u << 29)) != 0;
    return sse41 && ssse3 && sha;
}

void Sha256BlocksShaExtensions(uint32_t state[8], const uint8_t* data, size_t blocks)
{
    // Big-endian words of the message, in the lanes the rounds expect.
    const __m128i byteOrder = _mm_set_epi64x(0x0c0d0e0f08090a0bLL, 0x0405060700010203LL);

    __m128i cdab = _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(state)), 0xB1);
    __m128i efgh = _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(state + 4)), 0x1B);
    __m128i abef = _mm_alignr_epi8(cdab, efgh, 8);
    __m128i cdgh = _mm_blend_epi16(efgh, cdab, 0xF0);

    // Four rounds with the message words of group `g`.
    const auto rounds = [&abef, &cdgh](__m128i words, int g) {
        __m128i sum = _mm_add_epi32(
            words, _mm_loadu_si128(reinterpret_cast<const __m128i*>(kSha256RoundConstants + 4 * g)));
        cdgh = _mm_sha256rnds2_epu32(cdgh, abef, sum);
        sum = _mm_shuffle_epi32(sum, 0x0E);
        abef = _mm_sha256rnds2_epu32(abef, cdgh, sum);
    };
    // The next group's words from the four groups before it (oldest first).
    const auto schedule = [](__m128i w0, __m128i w1, __m128i w2, __m128i w3) {
        const __m128i partial = _mm_add_epi32(_mm_sha256msg1_epu32(w0, w1), _mm_alignr_epi8(w3, w2, 4));
        return _mm_sha256msg2_epu32(partial, w3);
    };

    for (; blocks > 0; --blocks, data += 64) {
        const __m128i abefBefore = abef;
        const __m128i cdghBefore = cdgh;
        const auto* words = reinterpret_cast<const __m128i*>(data);
        __m128i m0 = _mm_shuffle_epi8(_mm_loadu_si128(words), byteOrder);
        __m128i m1 = _mm_shuffle_epi8(_mm_loadu_si128(words + 1), byteOrder);
        __m128i m2 = _mm_shuffle_epi8(_mm_loadu_si128(words + 2), byteOrder);
        __m128i m3 = _mm_shuffle_epi8(_mm_loadu_si128(words + 3), byteOrder);
        rounds(m0, 0);
        rounds(m1, 1);
        rounds(m2, 2);
        rounds(m3, 3);
        for (int g = 4; g < 16; g += 4) {
            m0 = schedule(m0, m1, m2, m3);
            rounds(m0, g);
            m1 = schedule(m1, m2, m3, m0);
            rounds(m1, g + 1);
            m2 = schedule(m2, m3, m0, m1);
            rounds(m2, g + 2);
            m3 = schedule(m3, m0, m1, m2);
            rounds(m3, g + 3);
        }
        abef = _mm_add_epi32(abef, abefBefore);
        cdgh = _mm_add_epi32(cdgh, cdghBefore);
    }

    const __m128i feba = _mm_shuffle_epi32(abef, 0x1B);
    const __m128i dchg = _mm_shuffle_epi32(cdgh, 0xB1);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(state), _mm_blend_epi16(feba, dchg, 0xF0));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(state + 4), _mm_alignr_epi8(dchg, feba, 8));
}

}  // namespace tarn

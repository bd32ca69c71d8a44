// Classifying sixteen characters at once: each function returns a 16-bit mask whose bit i
// tells whether character i of the sixteen at `p` is of the class. All sixteen must be
// readable. On x86-64 this uses SSE2 (part of every x86-64 processor); elsewhere a plain
// loop gives the same masks.
#pragma once

#include <cstdint>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace morvel::masks {

// Digits, decimal points and whitespace of sixteen characters.
struct NumberClasses {
    std::uint32_t digit;
    std::uint32_t point;
    std::uint32_t space;
};

#if defined(__SSE2__)

[[gnu::always_inline]] inline __m128i load16(const char* p) noexcept {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}

[[gnu::always_inline]] inline std::uint32_t to_bits(__m128i m) noexcept {
    return static_cast<std::uint32_t>(_mm_movemask_epi8(m));
}

// Bytes in [low, low + span] (unsigned), as a vector of 0x00 / 0xFF.
[[gnu::always_inline]] inline __m128i in_range(__m128i v, char low, char span) noexcept {
    const __m128i shifted = _mm_sub_epi8(v, _mm_set1_epi8(low));
    return _mm_cmpeq_epi8(_mm_min_epu8(shifted, _mm_set1_epi8(span)), shifted);
}

// Blank, or tab to return: the whitespace of the C locale.
[[gnu::always_inline]] inline std::uint32_t space_bits(__m128i v) noexcept {
    return to_bits(_mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8(' ')), in_range(v, '\t', 4)));
}

[[gnu::always_inline]] inline std::uint32_t space(const char* p) noexcept {
    return space_bits(load16(p));
}

// Digits, decimal points and whitespace of the same sixteen characters, from one load.
[[gnu::always_inline]] inline NumberClasses number_classes(const char* p) noexcept {
    const __m128i v = load16(p);
    return {to_bits(in_range(v, '0', 9)), to_bits(_mm_cmpeq_epi8(v, _mm_set1_epi8('.'))),
            space_bits(v)};
}

#else

template <typename Test>
inline std::uint32_t bits_where(const char* p, Test test) noexcept {
    std::uint32_t bits = 0;
    for (int i = 0; i < 16; ++i) {
        bits |= static_cast<std::uint32_t>(test(p[i])) << i;
    }
    return bits;
}

inline std::uint32_t space(const char* p) noexcept {
    return bits_where(p, [](char c) { return c == ' ' || (c >= '\t' && c <= '\r'); });
}

inline NumberClasses number_classes(const char* p) noexcept {
    return {bits_where(p, [](char c) { return c >= '0' && c <= '9'; }),
            bits_where(p, [](char c) { return c == '.'; }), space(p)};
}

#endif

// The whitespace of the 64 characters at `p`, all of which must be readable.
[[gnu::always_inline]] inline std::uint64_t space64(const char* p) noexcept {
    return std::uint64_t{space(p)} | std::uint64_t{space(p + 16)} << 16 |
           std::uint64_t{space(p + 32)} << 32 | std::uint64_t{space(p + 48)} << 48;
}

#if defined(__x86_64__)
// The whitespace of 32 characters with AVX2, for processors that have it.
[[gnu::target("avx2")]] inline std::uint32_t space32_avx2(const char* p) noexcept {
    const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
    const __m256i shifted = _mm256_sub_epi8(v, _mm256_set1_epi8('\t'));
    const __m256i control =
        _mm256_cmpeq_epi8(_mm256_min_epu8(shifted, _mm256_set1_epi8(4)), shifted);
    const __m256i blank = _mm256_cmpeq_epi8(v, _mm256_set1_epi8(' '));
    return static_cast<std::uint32_t>(_mm256_movemask_epi8(_mm256_or_si256(blank, control)));
}

[[gnu::target("avx2")]] inline std::uint64_t space64_avx2(const char* p) noexcept {
    return std::uint64_t{space32_avx2(p)} | std::uint64_t{space32_avx2(p + 32)} << 32;
}
#endif

}  // namespace morvel::masks

// SPDX-License-Identifier: GPL-3.0-or-later
#include "video/capture/bytetable.h"

#if defined(__x86_64__)
#include <immintrin.h>
#elif defined(__aarch64__)
#include <arm_neon.h>
#endif

namespace voruna {

namespace {

using LookUp = void (*)(const std::uint8_t *, std::uint8_t *, std::size_t, const std::uint8_t *);

void lookUpEach(const std::uint8_t *in, std::uint8_t *out, std::size_t count,
                const std::uint8_t *table)
{
    for (std::size_t i = 0; i < count; ++i)
        out[i] = table[in[i]];
}

#if defined(__x86_64__)
// 64 bytes at a time: two 128-entry permutes, and the top bit of each byte picks between them.
__attribute__((target("avx512f,avx512bw,avx512vbmi"))) void
lookUpVbmi(const std::uint8_t *in, std::uint8_t *out, std::size_t count, const std::uint8_t *table)
{
    const __m512i t0 = _mm512_loadu_si512(table);
    const __m512i t1 = _mm512_loadu_si512(table + 64);
    const __m512i t2 = _mm512_loadu_si512(table + 128);
    const __m512i t3 = _mm512_loadu_si512(table + 192);
    for (std::size_t i = 0; i < count; i += 64) {
        // The last block reads and writes only the bytes that are there.
        const __mmask64 there = count - i >= 64 ? ~__mmask64(0) : (__mmask64(1) << (count - i)) - 1;
        const __m512i x = _mm512_maskz_loadu_epi8(there, in + i);
        const __m512i low = _mm512_permutex2var_epi8(t0, x, t1);
        const __m512i high = _mm512_permutex2var_epi8(t2, x, t3);
        _mm512_mask_storeu_epi8(out + i, there,
                                _mm512_mask_blend_epi8(_mm512_movepi8_mask(x), low, high));
    }
}

LookUp chosen()
{
    return __builtin_cpu_supports("avx512vbmi") && __builtin_cpu_supports("avx512bw") ? lookUpVbmi
                                                                                      : lookUpEach;
}
#elif defined(__aarch64__)
// 16 bytes at a time through four 64-entry table lookups; a lookup leaves the bytes outside
// its quarter of the table as they were.
void lookUpNeon(const std::uint8_t *in, std::uint8_t *out, std::size_t count,
                const std::uint8_t *table)
{
    const uint8x16x4_t q0 = vld1q_u8_x4(table), q1 = vld1q_u8_x4(table + 64);
    const uint8x16x4_t q2 = vld1q_u8_x4(table + 128), q3 = vld1q_u8_x4(table + 192);
    const uint8x16_t quarter = vdupq_n_u8(64);
    std::size_t i = 0;
    for (; i + 16 <= count; i += 16) {
        uint8x16_t x = vld1q_u8(in + i);
        uint8x16_t r = vqtbl4q_u8(q0, x);
        x = vsubq_u8(x, quarter);
        r = vqtbx4q_u8(r, q1, x);
        x = vsubq_u8(x, quarter);
        r = vqtbx4q_u8(r, q2, x);
        x = vsubq_u8(x, quarter);
        vst1q_u8(out + i, vqtbx4q_u8(r, q3, x));
    }
    lookUpEach(in + i, out + i, count - i, table);
}

LookUp chosen()
{
    return lookUpNeon;
}
#else
LookUp chosen()
{
    return lookUpEach;
}
#endif

} // namespace

void lookUpBytes(const std::uint8_t *in, std::uint8_t *out, std::size_t count,
                 const std::uint8_t *table)
{
    static const LookUp lookUp = chosen();
    lookUp(in, out, count, table);
}

} // namespace voruna

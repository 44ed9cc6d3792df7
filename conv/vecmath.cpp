#include "vecmath.h"

#include <atomic>
#include <bit>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <numbers>

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define TVCONV_X86_VECTOR 1
#include <immintrin.h>
#endif

namespace tvconv::vecmath {

namespace {

std::atomic<bool> allowed{true};

#ifdef TVCONV_X86_VECTOR

bool processorHasVectorPath()
{
    static const bool has = [] {
        __builtin_cpu_init();
        return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
    }();
    return has;
}

// ---- logarithm ----
//
// x = 2^k · z with z in [0.686, 1.371), the interval split into 128 parts
// by the top 7 bits of z's fraction.  Part i has a reciprocal invc of its
// midpoint with 21 significant bits, and
//     ln x = k·ln 2 − ln invc + ln(1 + r),   r = z·invc − 1,  |r| ≤ 2^-8.
// For the 24-bit fraction of a single-precision x, z·invc and r are exact
// multiples of 2^-45.  ln 2 and −ln invc are each a head and a tail, the
// heads multiples of 2^-41, so k·ln 2 (head) − ln invc (head) + r is exact
// as well.  From there the sum is carried in two doubles: r²/2 exactly, the
// rest of the series (|r³/3| < 2^-24) in one double, and the tails.  The
// error is below 2^-62 of the result.

constexpr int logBits = 7;
constexpr int logParts = 1 << logBits;
constexpr std::uint64_t logOffset = 0x3fe5f00000000000;  // 0.686..., 1 lies mid-part

struct LogPart {
    double invc;
    double head;  // −ln invc: a multiple of 2^-41
    double tail;  // and the rest
    double unused;
};

struct LogTable {
    alignas(32) LogPart part[logParts];
    double ln2Head;  // a multiple of 2^-41 with 41 significant bits: k·ln2Head is exact
    double ln2Tail;
};

double clearLowBits(double v, int bits)
{
    return std::bit_cast<double>(std::bit_cast<std::uint64_t>(v) & ~((std::uint64_t{1} << bits) - 1));
}

// The tables are worked out in extended precision (64-bit significands).
const LogTable& logTable()
{
    static const LogTable table = [] {
        LogTable t{};
        const double unit = std::ldexp(1.0, 41);
        for (int i = 0; i < logParts; ++i) {
            const std::uint64_t first = logOffset + (std::uint64_t(i) << (52 - logBits));
            const double lo = std::bit_cast<double>(first);
            const double hi = std::bit_cast<double>(first + (std::uint64_t{1} << (52 - logBits)));
            LogPart& p = t.part[i];
            if (lo <= 1.0 && 1.0 < hi) {
                p = LogPart{1.0, 0.0, 0.0, 0.0};
                continue;
            }
            const long double mid = (static_cast<long double>(lo) + static_cast<long double>(hi)) / 2;
            p.invc = clearLowBits(static_cast<double>(1.0L / mid), 32);
            const long double l = -std::log(static_cast<long double>(p.invc));
            // Cut (exactly) to a multiple of 2^-41.
            p.head = std::trunc(static_cast<double>(l) * unit) / unit;
            p.tail = static_cast<double>(l - static_cast<long double>(p.head));
        }
        const long double ln2 = std::log(2.0L);
        t.ln2Head = clearLowBits(static_cast<double>(ln2), 12);
        t.ln2Tail = static_cast<double>(ln2 - static_cast<long double>(t.ln2Head));
        return t;
    }();
    return table;
}

#define TVCONV_VECTOR_TARGET __attribute__((target("avx2,fma")))

TVCONV_VECTOR_TARGET inline __m256d constant(double v) { return _mm256_set1_pd(v); }

// s + e = a + b exactly, for |a| ≥ |b|.
TVCONV_VECTOR_TARGET inline void fastTwoSum(__m256d a, __m256d b, __m256d& s, __m256d& e)
{
    s = _mm256_add_pd(a, b);
    e = _mm256_sub_pd(b, _mm256_sub_pd(s, a));
}

// Four logarithms of single-precision values (held as doubles).  Lanes
// whose rounding is in doubt come back false in the mask.
TVCONV_VECTOR_TARGET inline __m256d log4(__m256d x, const LogTable& t, int& acceptedMask)
{
    const __m256i ix = _mm256_castpd_si256(x);
    const __m256i tmp = _mm256_sub_epi64(ix, _mm256_set1_epi64x(static_cast<long long>(logOffset)));
    const __m256i part = _mm256_and_si256(_mm256_srli_epi64(tmp, 52 - logBits), _mm256_set1_epi64x(logParts - 1));
    // k + 1024 as the low bits of 2^52 + k + 1024, then k itself, exactly.
    const __m256i kBiased = _mm256_srli_epi64(_mm256_add_epi64(tmp, _mm256_set1_epi64x(std::int64_t{1} << 62)), 52);
    const __m256d k = _mm256_sub_pd(
        _mm256_castsi256_pd(_mm256_or_si256(kBiased, _mm256_set1_epi64x(0x4330000000000000))),
        constant(4503599627370496.0 + 1024.0));
    const __m256i iz = _mm256_sub_epi64(
        ix, _mm256_and_si256(tmp, _mm256_set1_epi64x(static_cast<long long>(0xfff0000000000000ULL))));
    const __m256d z = _mm256_castsi256_pd(iz);

    // The four parts' rows, turned into columns.
    const __m256d p0 = _mm256_load_pd(&t.part[_mm256_extract_epi64(part, 0)].invc);
    const __m256d p1 = _mm256_load_pd(&t.part[_mm256_extract_epi64(part, 1)].invc);
    const __m256d p2 = _mm256_load_pd(&t.part[_mm256_extract_epi64(part, 2)].invc);
    const __m256d p3 = _mm256_load_pd(&t.part[_mm256_extract_epi64(part, 3)].invc);
    const __m256d invcTail01 = _mm256_unpacklo_pd(p0, p1);
    const __m256d invcTail23 = _mm256_unpacklo_pd(p2, p3);
    const __m256d head01 = _mm256_unpackhi_pd(p0, p1);
    const __m256d head23 = _mm256_unpackhi_pd(p2, p3);
    const __m256d invc = _mm256_permute2f128_pd(invcTail01, invcTail23, 0x20);
    const __m256d tail = _mm256_permute2f128_pd(invcTail01, invcTail23, 0x31);
    const __m256d head = _mm256_permute2f128_pd(head01, head23, 0x20);

    const __m256d r = _mm256_fmsub_pd(z, invc, constant(1.0));  // exact
    const __m256d rr = _mm256_mul_pd(r, r);
    const __m256d rrTail = _mm256_fmsub_pd(r, r, rr);  // r² = rr + rrTail exactly
    // r³ (1/3 − r/4 + r²/5 − r³/6 + r⁴/7 − r⁵/8): the series after r − r²/2,
    // cut where its terms fall below 2^-70.
    __m256d q = constant(-1.0 / 8);
    q = _mm256_fmadd_pd(q, r, constant(1.0 / 7));
    q = _mm256_fmadd_pd(q, r, constant(-1.0 / 6));
    q = _mm256_fmadd_pd(q, r, constant(1.0 / 5));
    q = _mm256_fmadd_pd(q, r, constant(-1.0 / 4));
    q = _mm256_fmadd_pd(q, r, constant(1.0 / 3));
    const __m256d series = _mm256_mul_pd(_mm256_mul_pd(rr, r), q);

    // k·ln 2 + head + r exactly; then − r²/2, |r²/2| below the rest.
    const __m256d exact = _mm256_add_pd(_mm256_fmadd_pd(k, constant(t.ln2Head), head), r);
    __m256d hi, hiError;
    fastTwoSum(exact, _mm256_mul_pd(rr, constant(-0.5)), hi, hiError);
    __m256d lo = _mm256_fmadd_pd(k, constant(t.ln2Tail), tail);
    lo = _mm256_fmadd_pd(rrTail, constant(-0.5), lo);
    lo = _mm256_add_pd(_mm256_add_pd(lo, hiError), series);
    __m256d d, rest;
    fastTwoSum(hi, lo, d, rest);

    // d is the library's result when d + rest lies well inside d's rounding
    // interval: |rest| below (1/2 − 1/40) of the smaller gap to d's
    // neighbours (the one below).  The library documents its logarithm as
    // within 0.519 units of the last place (0.507 near 1), and over all
    // single-precision x it is never off by more than 0.518; our own error
    // is below 0.004 units.
    const __m256d sign = constant(-0.0);
    const __m256d ad = _mm256_andnot_pd(sign, d);
    const __m256d below = _mm256_castsi256_pd(_mm256_sub_epi64(_mm256_castpd_si256(ad), _mm256_set1_epi64x(1)));
    const __m256d gap = _mm256_sub_pd(ad, below);
    const __m256d clear = _mm256_cmp_pd(_mm256_andnot_pd(sign, rest),
                                        _mm256_mul_pd(gap, constant(0.5 - 1.0 / 40)), _CMP_LT_OQ);
    // Single-precision x from the smallest normal to the largest finite
    // value; anything else goes to the library.
    const __m256d inRange = _mm256_and_pd(_mm256_cmp_pd(x, constant(FLT_MIN), _CMP_GE_OQ),
                                          _mm256_cmp_pd(x, constant(FLT_MAX), _CMP_LE_OQ));
    acceptedMask = _mm256_movemask_pd(_mm256_and_pd(clear, inRange));
    return d;
}

TVCONV_VECTOR_TARGET void logOfFloatsVector(const float* x, double* out, std::size_t n)
{
    const LogTable& t = logTable();
    // Lanes left to the library are done after each stretch of values, so
    // that the four-lane loop runs without branches that depend on them.
    constexpr std::size_t stretch = 256;
    std::uint8_t accepted[stretch / 4];
    std::size_t k = 0;
    while (k + 4 <= n) {
        const std::size_t start = k;
        std::size_t groups = 0;
        for (; k + 4 <= n && groups < stretch / 4; k += 4, ++groups) {
            int mask = 0;
            _mm256_storeu_pd(out + k, log4(_mm256_cvtps_pd(_mm_loadu_ps(x + k)), t, mask));
            accepted[groups] = static_cast<std::uint8_t>(mask);
        }
        for (std::size_t g = 0; g < groups; ++g)
            for (unsigned rejected = ~accepted[g] & 0xfu; rejected != 0; rejected &= rejected - 1) {
                const std::size_t at = start + 4 * g + static_cast<std::size_t>(std::countr_zero(rejected));
                out[at] = std::log(static_cast<double>(x[at]));
            }
    }
    for (; k < n; ++k) out[k] = std::log(static_cast<double>(x[k]));
}

// ---- exponential, rounded to single precision ----
//
// a = (64m + i)·ln2/64 + r, |r| ≤ ln2/128, and exp a = 2^m · 2^(i/64) · e^r
// with e^r − 1 to the fifth power of r: relative error below 2^-50.  The
// value is taken when it and its neighbours 2^-46 (relative) either side
// round to the same single-precision number: the library's exp, within a
// unit of double precision, rounds to it as well.

constexpr int expBits = 6;
constexpr int expParts = 1 << expBits;

struct ExpTable {
    alignas(32) double twoToFraction[expParts];  // 2^(i/64)
    double ln2PartHead;                          // (ln 2)/64: k·head is exact for |k| < 2^13
    double ln2PartTail;
};

const ExpTable& expTable()
{
    static const ExpTable table = [] {
        ExpTable t{};
        for (int i = 0; i < expParts; ++i)
            t.twoToFraction[i] = static_cast<double>(std::exp2(static_cast<long double>(i) / expParts));
        const long double part = std::log(2.0L) / expParts;
        t.ln2PartHead = clearLowBits(static_cast<double>(part), 14);
        t.ln2PartTail = static_cast<double>(part - static_cast<long double>(t.ln2PartHead));
        return t;
    }();
    return table;
}

// |a| ≤ 80 keeps e^a a normal single-precision number.
constexpr double expLimit = 80.0;

// A table lookup by 32-bit indices (the masked form: the plain one starts
// from an undefined register).
TVCONV_VECTOR_TARGET inline __m256d gather(const double* table, __m128i index)
{
    return _mm256_mask_i32gather_pd(_mm256_setzero_pd(), table, index, _mm256_castsi256_pd(_mm256_set1_epi64x(-1)), 8);
}

TVCONV_VECTOR_TARGET inline __m128 exp4(__m256d a, const ExpTable& t, int& acceptedMask)
{
    const __m256d inRange = _mm256_cmp_pd(_mm256_andnot_pd(constant(-0.0), a), constant(expLimit), _CMP_LE_OQ);
    // Lanes out of range compute e^0 and are replaced afterwards.
    const __m256d arg = _mm256_and_pd(a, inRange);
    const __m256d kd = _mm256_round_pd(_mm256_mul_pd(arg, constant(expParts / std::numbers::ln2)),
                                       _MM_FROUND_TO_NEAREST_INT | _MM_FROUND_NO_EXC);
    __m256d r = _mm256_fnmadd_pd(kd, constant(t.ln2PartHead), arg);
    r = _mm256_fnmadd_pd(kd, constant(t.ln2PartTail), r);
    const __m128i ki = _mm256_cvtpd_epi32(kd);
    const __m128i part = _mm_and_si128(ki, _mm_set1_epi32(expParts - 1));
    const __m128i power = _mm_srai_epi32(ki, expBits);
    const __m256d fraction = gather(t.twoToFraction, part);
    const __m256d scaled = _mm256_castsi256_pd(
        _mm256_add_epi64(_mm256_castpd_si256(fraction), _mm256_slli_epi64(_mm256_cvtepi32_epi64(power), 52)));
    __m256d p = constant(1.0 / 120);
    p = _mm256_fmadd_pd(p, r, constant(1.0 / 24));
    p = _mm256_fmadd_pd(p, r, constant(1.0 / 6));
    p = _mm256_fmadd_pd(p, r, constant(1.0 / 2));
    p = _mm256_fmadd_pd(p, r, constant(1.0));
    p = _mm256_mul_pd(p, r);
    const __m256d y = _mm256_fmadd_pd(scaled, p, scaled);

    const __m128 low = _mm256_cvtpd_ps(_mm256_mul_pd(y, constant(1.0 - 0x1p-46)));
    const __m128 high = _mm256_cvtpd_ps(_mm256_mul_pd(y, constant(1.0 + 0x1p-46)));
    const __m128 same = _mm_castsi128_ps(_mm_cmpeq_epi32(_mm_castps_si128(low), _mm_castps_si128(high)));
    acceptedMask = _mm_movemask_ps(same) & _mm256_movemask_pd(inRange);
    return low;
}

TVCONV_VECTOR_TARGET void expToFloatsVector(const double* a, float* out, std::size_t n)
{
    const ExpTable& t = expTable();
    std::size_t k = 0;
    for (; k + 4 <= n; k += 4) {
        int accepted = 0;
        _mm_storeu_ps(out + k, exp4(_mm256_loadu_pd(a + k), t, accepted));
        if (accepted != 0xf)
            for (int l = 0; l < 4; ++l)
                if ((accepted & (1 << l)) == 0) out[k + l] = static_cast<float>(std::exp(a[k + l]));
    }
    for (; k < n; ++k) out[k] = static_cast<float>(std::exp(a[k]));
}

#else

bool processorHasVectorPath() { return false; }

#endif

} // namespace

bool vectorPath() { return allowed.load(std::memory_order_relaxed) && processorHasVectorPath(); }

void allowVectorPath(bool allow) { allowed.store(allow, std::memory_order_relaxed); }

void logOfFloats(const float* x, double* out, std::size_t n)
{
#ifdef TVCONV_X86_VECTOR
    if (vectorPath()) {
        logOfFloatsVector(x, out, n);
        return;
    }
#endif
    for (std::size_t k = 0; k < n; ++k) out[k] = std::log(static_cast<double>(x[k]));
}

void expToFloats(const double* a, float* out, std::size_t n)
{
#ifdef TVCONV_X86_VECTOR
    if (vectorPath()) {
        expToFloatsVector(a, out, n);
        return;
    }
#endif
    for (std::size_t k = 0; k < n; ++k) out[k] = static_cast<float>(std::exp(a[k]));
}

} // namespace tvconv::vecmath

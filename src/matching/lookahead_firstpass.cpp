// Vector versions of the lookahead filter's byte pass and the choice among them at run time.
// Each is compiled for its instruction set alone, so that the program as a whole still runs
// on any x86-64 processor; elsewhere only the scalar filter exists.
#include "matching/lookahead_firstpass.hpp"

#include <atomic>

#if defined(__x86_64__) && defined(__GNUC__)
// The compiler's own headers leave a vector undefined on purpose in some intrinsics.
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#include <immintrin.h>
#define FIRSTPASS_X86 1
#else
#define FIRSTPASS_X86 0
#endif

namespace {

#if FIRSTPASS_X86

// Lists the windows whose bits are set in keep, counted from window w.
inline uint64_t listkept(uint64_t keep, uint64_t w, uint32_t *survivors, uint64_t count) {
  while (keep != 0) {
    survivors[count++] = static_cast<uint32_t>(w + static_cast<uint64_t>(__builtin_ctzll(keep)));
    keep &= keep - 1;
  }
  return count;
}

// The windows after the last full vector.
uint64_t bytepass_rest(const unsigned char *symbols, uint64_t w, uint64_t windows,
                       const uint8_t *tables, uint64_t m, uint8_t bound, uint32_t *survivors,
                       uint64_t count, uint64_t stride) {
  for (; w < windows; w++) {
    survivors[count] = static_cast<uint32_t>(w);
    count += bytescore(symbols + w, tables, m, stride) >= bound ? 1 : 0;
  }
  return count;
}

// A vector of windows w to w + 31 reads, per row j, the 32 symbols from w + j on: up to the
// last symbol of its last window, never beyond the block's windows.
__attribute__((target("avx2"))) uint64_t bytepass_avx2(const unsigned char *symbols,
                                                        uint64_t windows, const uint8_t *tables,
                                                        uint64_t m, uint8_t bound,
                                                        uint32_t *survivors) {
  const __m256i bounds = _mm256_set1_epi8(static_cast<char>(bound));
  uint64_t count = 0, w = 0;
  for (; w + 32 <= windows; w += 32) {
    __m256i sum = _mm256_setzero_si256();
    for (uint64_t j = 0; j < m; j++) {
      const __m256i table = _mm256_broadcastsi128_si256(
          _mm_loadu_si128(reinterpret_cast<const __m128i *>(tables + 16 * j)));
      const __m256i codes =
          _mm256_loadu_si256(reinterpret_cast<const __m256i *>(symbols + w + j));
      sum = _mm256_adds_epu8(sum, _mm256_shuffle_epi8(table, codes));
    }
    const __m256i reached = _mm256_cmpeq_epi8(_mm256_max_epu8(sum, bounds), sum);
    const uint64_t keep = static_cast<uint32_t>(_mm256_movemask_epi8(reached));
    if (keep != 0) count = listkept(keep, w, survivors, count);
  }
  return bytepass_rest(symbols, w, windows, tables, m, bound, survivors, count, BYTEPASS_CODES);
}

__attribute__((target("avx512f,avx512bw"))) uint64_t bytepass_avx512(
    const unsigned char *symbols, uint64_t windows, const uint8_t *tables, uint64_t m,
    uint8_t bound, uint32_t *survivors) {
  const __m512i bounds = _mm512_set1_epi8(static_cast<char>(bound));
  uint64_t count = 0, w = 0;
  for (; w + 64 <= windows; w += 64) {
    __m512i sum = _mm512_setzero_si512();
    for (uint64_t j = 0; j < m; j++) {
      const __m512i table = _mm512_broadcast_i32x4(
          _mm_loadu_si128(reinterpret_cast<const __m128i *>(tables + 16 * j)));
      const __m512i codes = _mm512_loadu_si512(symbols + w + j);
      sum = _mm512_adds_epu8(sum, _mm512_shuffle_epi8(table, codes));
    }
    const uint64_t keep = _mm512_cmpge_epu8_mask(sum, bounds);
    if (keep != 0) count = listkept(keep, w, survivors, count);
  }
  return bytepass_rest(symbols, w, windows, tables, m, bound, survivors, count, BYTEPASS_CODES);
}

// Wide rows: codes 0 to 15 look up the row's first 16 bytes, codes 16 to 31 its second 16
// bytes; a code of 253 or more has its top bit set, which makes a shuffle give 0.
__attribute__((target("avx2"))) uint64_t bytepass_avx2_wide(const unsigned char *symbols,
                                                             uint64_t windows,
                                                             const uint8_t *tables, uint64_t m,
                                                             uint8_t bound,
                                                             uint32_t *survivors) {
  const __m256i bounds = _mm256_set1_epi8(static_cast<char>(bound));
  const __m256i fifteen = _mm256_set1_epi8(15);
  const __m256i sixteen = _mm256_set1_epi8(16);
  const __m256i topbit = _mm256_set1_epi8(static_cast<char>(0x80));
  uint64_t count = 0, w = 0;
  for (; w + 32 <= windows; w += 32) {
    __m256i sum = _mm256_setzero_si256();
    for (uint64_t j = 0; j < m; j++) {
      const __m256i low = _mm256_broadcastsi128_si256(
          _mm_loadu_si128(reinterpret_cast<const __m128i *>(tables + 32 * j)));
      const __m256i high = _mm256_broadcastsi128_si256(
          _mm_loadu_si128(reinterpret_cast<const __m128i *>(tables + 32 * j + 16)));
      const __m256i codes =
          _mm256_loadu_si256(reinterpret_cast<const __m256i *>(symbols + w + j));
      // Codes 16 to 31 get the top bit for the first half; codes below 16 get it from the
      // subtraction for the second half.
      const __m256i lowcodes =
          _mm256_or_si256(codes, _mm256_and_si256(_mm256_cmpgt_epi8(codes, fifteen), topbit));
      const __m256i highcodes = _mm256_sub_epi8(codes, sixteen);
      const __m256i cells = _mm256_or_si256(_mm256_shuffle_epi8(low, lowcodes),
                                            _mm256_shuffle_epi8(high, highcodes));
      sum = _mm256_adds_epu8(sum, cells);
    }
    const __m256i reached = _mm256_cmpeq_epi8(_mm256_max_epu8(sum, bounds), sum);
    const uint64_t keep = static_cast<uint32_t>(_mm256_movemask_epi8(reached));
    if (keep != 0) count = listkept(keep, w, survivors, count);
  }
  return bytepass_rest(symbols, w, windows, tables, m, bound, survivors, count, 32);
}

__attribute__((target("avx512f,avx512bw"))) uint64_t bytepass_avx512_wide(
    const unsigned char *symbols, uint64_t windows, const uint8_t *tables, uint64_t m,
    uint8_t bound, uint32_t *survivors) {
  const __m512i bounds = _mm512_set1_epi8(static_cast<char>(bound));
  const __m512i fifteen = _mm512_set1_epi8(15);
  uint64_t count = 0, w = 0;
  for (; w + 64 <= windows; w += 64) {
    __m512i sum = _mm512_setzero_si512();
    for (uint64_t j = 0; j < m; j++) {
      const __m512i low = _mm512_broadcast_i32x4(
          _mm_loadu_si128(reinterpret_cast<const __m128i *>(tables + 32 * j)));
      const __m512i high = _mm512_broadcast_i32x4(
          _mm_loadu_si128(reinterpret_cast<const __m128i *>(tables + 32 * j + 16)));
      const __m512i codes = _mm512_loadu_si512(symbols + w + j);
      // Signed comparison: codes of 253 or more count as negative and stay in the first
      // half, where their top bit gives 0.
      const __mmask64 second = _mm512_cmpgt_epi8_mask(codes, fifteen);
      const __m512i cells = _mm512_mask_shuffle_epi8(_mm512_shuffle_epi8(low, codes), second,
                                                     high, codes);
      sum = _mm512_adds_epu8(sum, cells);
    }
    const uint64_t keep = _mm512_cmpge_epu8_mask(sum, bounds);
    if (keep != 0) count = listkept(keep, w, survivors, count);
  }
  return bytepass_rest(symbols, w, windows, tables, m, bound, survivors, count, 32);
}

// One permutation looks up all 32 codes of a row (the upper 32 entries are 0, and a code of
// 253 or more selects one of them).
__attribute__((target("avx512f,avx512bw,avx512vbmi"))) uint64_t bytepass_vbmi_wide(
    const unsigned char *symbols, uint64_t windows, const uint8_t *tables, uint64_t m,
    uint8_t bound, uint32_t *survivors) {
  const __m512i bounds = _mm512_set1_epi8(static_cast<char>(bound));
  uint64_t count = 0, w = 0;
  for (; w + 64 <= windows; w += 64) {
    __m512i sum = _mm512_setzero_si512();
    for (uint64_t j = 0; j < m; j++) {
      const __m512i row = _mm512_zextsi256_si512(
          _mm256_loadu_si256(reinterpret_cast<const __m256i *>(tables + 32 * j)));
      const __m512i codes = _mm512_loadu_si512(symbols + w + j);
      sum = _mm512_adds_epu8(sum, _mm512_permutexvar_epi8(codes, row));
    }
    const uint64_t keep = _mm512_cmpge_epu8_mask(sum, bounds);
    if (keep != 0) count = listkept(keep, w, survivors, count);
  }
  return bytepass_rest(symbols, w, windows, tables, m, bound, survivors, count, 32);
}

int detectlevel() {
  __builtin_cpu_init();
  if (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw")) {
    if (__builtin_cpu_supports("avx512vbmi")) return FIRSTPASS_AVX512VBMI;
    return FIRSTPASS_AVX512;
  }
  if (__builtin_cpu_supports("avx2")) return FIRSTPASS_AVX2;
  return FIRSTPASS_SCALAR;
}

#else

int detectlevel() { return FIRSTPASS_SCALAR; }

#endif

std::atomic<int> cap{FIRSTPASS_BEST};

}  // namespace

int firstpass_supported() {
  static const int supported = detectlevel();
  return supported;
}

int firstpass_level() {
  const int capped = cap.load(std::memory_order_relaxed);
  const int supported = firstpass_supported();
  return capped < supported ? capped : supported;
}

int firstpass_cap(int level) {
  cap.store(level < FIRSTPASS_SCALAR ? FIRSTPASS_SCALAR : level, std::memory_order_relaxed);
  return firstpass_level();
}

BytePass bytepass_for(int level, bool wide) {
#if FIRSTPASS_X86
  if (wide) {
    if (level >= FIRSTPASS_AVX512VBMI) return bytepass_vbmi_wide;
    if (level >= FIRSTPASS_AVX512) return bytepass_avx512_wide;
    if (level >= FIRSTPASS_AVX2) return bytepass_avx2_wide;
    return nullptr;
  }
  if (level >= FIRSTPASS_AVX512) return bytepass_avx512;
  if (level >= FIRSTPASS_AVX2) return bytepass_avx2;
#endif
  (void)level;
  (void)wide;
  return nullptr;
}

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

// The q-gram pass one position after the other: a rolling index and the length of the run of
// regular codes that ends at the current position.
uint64_t qgrampass_scalar(const unsigned char *symbols, uint64_t count, uint64_t regular,
                          const uint64_t *present, uint32_t *hits) {
  constexpr uint64_t mask = (UINT64_C(1) << (2 * QGRAMPASS_LENGTH)) - 1;
  uint64_t index = 0, run = 0, listed = 0;
  for (uint64_t x = 0; x + 1 < count + QGRAMPASS_LENGTH; x++) {
    const uint64_t code = symbols[x];
    run = code < regular ? run + 1 : 0;
    index = ((index << 2) | (code & 3)) & mask;
    if (run < QGRAMPASS_LENGTH || ((present[index / 64] >> (index % 64)) & 1) == 0) continue;
    hits[listed++] = static_cast<uint32_t>(x + 1 - QGRAMPASS_LENGTH);
  }
  return listed;
}

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

// The q-gram pass on vectors. Codes masked to two bits give, four at a time, the bytes of
// the first and the second half of each index: (c0 << 6) | (c1 << 4) | (c2 << 2) | c3 (shifts
// of 16-bit lanes, which stay within each byte since every code is below 4 then). A start is
// listed when the largest of its eight codes lies below regular and the bit of its index,
// gathered from present as a 32-bit word, is set. The starts after the last full vector take
// the scalar pass.
inline uint64_t listbits(uint64_t bits, uint64_t p, uint32_t *hits, uint64_t listed) {
  while (bits != 0) {
    hits[listed++] = static_cast<uint32_t>(p + static_cast<uint64_t>(__builtin_ctzll(bits)));
    bits &= bits - 1;
  }
  return listed;
}

// The starts from p on, after the last full vector.
uint64_t qgrampass_rest(const unsigned char *symbols, uint64_t p, uint64_t count,
                        uint64_t regular, const uint64_t *present, uint32_t *hits,
                        uint64_t listed) {
  const uint64_t rest = qgrampass_scalar(symbols + p, count - p, regular, present, hits + listed);
  for (uint64_t i = listed; i < listed + rest; i++) hits[i] += static_cast<uint32_t>(p);
  return listed + rest;
}

__attribute__((target("avx2"))) uint64_t qgrampass_avx2(const unsigned char *symbols,
                                                         uint64_t count, uint64_t regular,
                                                         const uint64_t *present,
                                                         uint32_t *hits) {
  const int *words = reinterpret_cast<const int *>(present);
  const __m256i three = _mm256_set1_epi8(3);
  const __m256i limit = _mm256_set1_epi8(static_cast<char>(regular - 1));
  const __m256i low5 = _mm256_set1_epi32(31);
  uint64_t listed = 0, p = 0;
  alignas(32) uint8_t halves[2][32];
  for (; p + 32 <= count; p += 32) {
    __m256i codes[QGRAMPASS_LENGTH];
    __m256i largest = _mm256_setzero_si256();
    for (uint64_t t = 0; t < QGRAMPASS_LENGTH; t++) {
      const __m256i loaded = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(symbols + p + t));
      largest = _mm256_max_epu8(largest, loaded);
      codes[t] = _mm256_and_si256(loaded, three);
    }
    // Starts whose codes all lie below regular: largest <= regular - 1.
    const __m256i inside = _mm256_cmpeq_epi8(_mm256_min_epu8(largest, limit), largest);
    const uint64_t valid = static_cast<uint32_t>(_mm256_movemask_epi8(inside));
    if (valid == 0) continue;
    for (int half = 0; half < 2; half++) {
      const __m256i *c = codes + 4 * half;
      __m256i byte = _mm256_or_si256(_mm256_slli_epi16(c[0], 6), _mm256_slli_epi16(c[1], 4));
      byte = _mm256_or_si256(byte, _mm256_or_si256(_mm256_slli_epi16(c[2], 2), c[3]));
      _mm256_store_si256(reinterpret_cast<__m256i *>(halves[half]), byte);
    }
    uint64_t found = 0;
    for (int k = 0; k < 4; k++) {
      const __m256i high = _mm256_cvtepu8_epi32(
          _mm_loadl_epi64(reinterpret_cast<const __m128i *>(halves[0] + 8 * k)));
      const __m256i low = _mm256_cvtepu8_epi32(
          _mm_loadl_epi64(reinterpret_cast<const __m128i *>(halves[1] + 8 * k)));
      const __m256i index = _mm256_or_si256(_mm256_slli_epi32(high, 8), low);
      const __m256i word = _mm256_i32gather_epi32(words, _mm256_srli_epi32(index, 5), 4);
      const __m256i bit =
          _mm256_slli_epi32(_mm256_srlv_epi32(word, _mm256_and_si256(index, low5)), 31);
      found |= static_cast<uint64_t>(_mm256_movemask_ps(_mm256_castsi256_ps(bit))) << (8 * k);
    }
    listed = listbits(found & valid, p, hits, listed);
  }
  return qgrampass_rest(symbols, p, count, regular, present, hits, listed);
}

__attribute__((target("avx512f,avx512bw"))) uint64_t qgrampass_avx512(
    const unsigned char *symbols, uint64_t count, uint64_t regular, const uint64_t *present,
    uint32_t *hits) {
  const __m512i three = _mm512_set1_epi8(3);
  const __m512i limit = _mm512_set1_epi8(static_cast<char>(regular - 1));
  const __m512i low5 = _mm512_set1_epi32(31);
  const __m512i one = _mm512_set1_epi32(1);
  uint64_t listed = 0, p = 0;
  for (; p + 64 <= count; p += 64) {
    __m512i codes[QGRAMPASS_LENGTH];
    __m512i largest = _mm512_setzero_si512();
    for (uint64_t t = 0; t < QGRAMPASS_LENGTH; t++) {
      const __m512i loaded = _mm512_loadu_si512(symbols + p + t);
      largest = _mm512_max_epu8(largest, loaded);
      codes[t] = _mm512_and_si512(loaded, three);
    }
    const uint64_t valid = _mm512_cmple_epu8_mask(largest, limit);
    if (valid == 0) continue;
    __m512i halves[2];
    for (int half = 0; half < 2; half++) {
      const __m512i *c = codes + 4 * half;
      const __m512i byte = _mm512_or_si512(_mm512_slli_epi16(c[0], 6), _mm512_slli_epi16(c[1], 4));
      halves[half] = _mm512_or_si512(byte, _mm512_or_si512(_mm512_slli_epi16(c[2], 2), c[3]));
    }
    // The starts of each quarter, 16 at a time.
    alignas(64) uint8_t bytes[2][64];
    _mm512_store_si512(bytes[0], halves[0]);
    _mm512_store_si512(bytes[1], halves[1]);
    uint64_t found = 0;
    for (int k = 0; k < 4; k++) {
      const __m512i high = _mm512_cvtepu8_epi32(
          _mm_load_si128(reinterpret_cast<const __m128i *>(bytes[0] + 16 * k)));
      const __m512i low = _mm512_cvtepu8_epi32(
          _mm_load_si128(reinterpret_cast<const __m128i *>(bytes[1] + 16 * k)));
      const __m512i index = _mm512_or_si512(_mm512_slli_epi32(high, 8), low);
      const __m512i word = _mm512_i32gather_epi32(_mm512_srli_epi32(index, 5), present, 4);
      const __m512i bit = _mm512_srlv_epi32(word, _mm512_and_si512(index, low5));
      found |= static_cast<uint64_t>(_mm512_test_epi32_mask(bit, one)) << (16 * k);
    }
    listed = listbits(found & valid, p, hits, listed);
  }
  return qgrampass_rest(symbols, p, count, regular, present, hits, listed);
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

QgramPass qgrampass_for(int level) {
#if FIRSTPASS_X86
  if (level >= FIRSTPASS_AVX512) return qgrampass_avx512;
  if (level >= FIRSTPASS_AVX2) return qgrampass_avx2;
#endif
  (void)level;
  return qgrampass_scalar;
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

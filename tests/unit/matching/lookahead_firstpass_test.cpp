// The vector byte passes of the lookahead filter against the scalar byte score: narrow and
// wide rows, block sizes around the vector widths, saturating sums, every bound, and the
// wildcard, undefined and separator codes, which count 0.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "matching/lookahead_firstpass.hpp"

namespace {

TEST(BytePass, every_level_lists_the_windows_of_the_scalar_rule) {
  std::mt19937_64 random(17);
  struct Shape {
    uint64_t windows, m;
    uint8_t bound;
    unsigned maxcell;  // cells drawn from 0 to maxcell
  };
  const Shape shapes[] = {
      {0, 3, 1, 255},     {1, 1, 1, 0},       {31, 5, 40, 30},    {32, 5, 40, 30},
      {33, 5, 40, 30},    {63, 12, 200, 40},  {64, 12, 200, 40},  {65, 12, 200, 40},
      {200, 20, 255, 30}, {1024, 8, 128, 60}, {1024, 199, 250, 3}, {500, 30, 250, 255},
  };
  for (int level = FIRSTPASS_AVX2; level <= firstpass_supported(); level++) {
    for (const bool wide : {false, true}) {
      const BytePass pass = bytepass_for(level, wide);
      ASSERT_NE(pass, nullptr);
      const uint64_t stride = wide ? BYTEPASS_WIDECODES : BYTEPASS_CODES;
      for (const Shape &shape : shapes) {
        SCOPED_TRACE("level " + std::to_string(level) + (wide ? ", wide" : ", narrow") +
                     ", windows " + std::to_string(shape.windows) + ", m " +
                     std::to_string(shape.m));
        std::vector<uint8_t> tables(stride * shape.m);
        for (uint8_t &cell : tables) cell = static_cast<uint8_t>(random() % (shape.maxcell + 1));
        std::vector<unsigned char> symbols(shape.windows + shape.m);
        for (unsigned char &symbol : symbols) {
          symbol = static_cast<unsigned char>(random() % (stride + 3));
          if (symbol >= stride) symbol = static_cast<unsigned char>(symbol - stride + 253);
        }
        std::vector<uint32_t> expected;
        for (uint64_t w = 0; w < shape.windows; w++) {
          if (bytescore(symbols.data() + w, tables.data(), shape.m, stride) >= shape.bound) {
            expected.push_back(static_cast<uint32_t>(w));
          }
        }
        std::vector<uint32_t> survivors(shape.windows + 1, UINT32_MAX);
        const uint64_t count =
            pass(symbols.data(), shape.windows, tables.data(), shape.m, shape.bound, survivors.data());
        survivors.resize(count);
        EXPECT_EQ(survivors, expected);
      }
    }
  }
}

}  // namespace

namespace {

// The q-gram passes of every level against the rule itself: starts around the vector widths,
// codes outside the regular ones (the wildcard column's code and the special codes), present
// bits from none to all.
TEST(QgramPass, every_level_lists_the_starts_of_the_rule) {
  std::mt19937_64 random(29);
  const uint64_t counts[] = {0, 1, 31, 32, 33, 63, 64, 65, 127, 200, 4096};
  const double densities[] = {0.0, 0.01, 0.3, 1.0};
  for (int level = FIRSTPASS_SCALAR; level <= firstpass_supported(); level++) {
    const QgramPass pass = qgrampass_for(level);
    ASSERT_NE(pass, nullptr);
    for (const uint64_t regular : {1, 2, 3, 4}) {
      for (const uint64_t count : counts) {
        for (const double density : densities) {
          SCOPED_TRACE("level " + std::to_string(level) + ", regular " + std::to_string(regular) +
                       ", count " + std::to_string(count) + ", density " + std::to_string(density));
          std::vector<uint64_t> present(1024, 0);
          for (uint64_t index = 0; index < 65536; index++) {
            if (std::uniform_real_distribution<double>(0, 1)(random) < density)
              present[index / 64] |= UINT64_C(1) << (index % 64);
          }
          std::vector<unsigned char> symbols(count + QGRAMPASS_LENGTH);
          const bool sparse = random() % 2 == 0;  // codes outside now and then, or often
          for (unsigned char &symbol : symbols) {
            symbol = static_cast<unsigned char>(random() % regular);
            if (random() % (sparse ? 200 : 8) == 0) {
              static const unsigned char outside[] = {4, 253, 254, 255};
              symbol = random() % 2 == 0 ? static_cast<unsigned char>(regular)
                                         : outside[random() % 4];
            }
          }
          std::vector<uint32_t> expected;
          for (uint64_t p = 0; p < count; p++) {
            uint64_t index = 0;
            bool inside = true;
            for (uint64_t t = 0; t < QGRAMPASS_LENGTH; t++) {
              inside = inside && symbols[p + t] < regular;
              index = index * 4 + (symbols[p + t] & 3);
            }
            if (inside && ((present[index / 64] >> (index % 64)) & 1) != 0)
              expected.push_back(static_cast<uint32_t>(p));
          }
          std::vector<uint32_t> hits(count + 1, UINT32_MAX);
          hits.resize(pass(symbols.data(), count, regular, present.data(), hits.data()));
          EXPECT_EQ(hits, expected);
        }
      }
    }
  }
}

}  // namespace

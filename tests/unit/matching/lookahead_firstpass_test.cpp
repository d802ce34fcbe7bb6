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

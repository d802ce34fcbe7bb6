// Helpers for the statistics tests: matrices filled from rows, a scratch folder for files,
// capture of standard error, and distribution file records written byte by byte.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>
#include <zlib.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <limits>
#include <string>
#include <vector>

#include "base/error.hpp"
#include "base/output.hpp"
#include "support/scratchfiles.hpp"
#include "matching/profile.hpp"
#include "statistics/distribution.hpp"

namespace stattest {

// A matrix over alpha whose regular columns take the given rows (one value per regular
// symbol, in code order); the wildcard column is forbidden, as the library parser leaves it.
// The minimum and maximum score are the sums of the row extremes.
template <typename Score>
struct RowMatrix {
  ScoringMatrix matrix;

  RowMatrix(const Alphabet *alpha, const std::vector<std::vector<Score>> &rows) {
    matrix_init(&matrix, ScoreTraits<Score>::type, alpha, rows.size());
    const uint64_t columns = matrix_columns(&matrix);
    Score minimum = 0, maximum = 0;
    for (uint64_t i = 0; i < rows.size(); i++) {
      Score *cells = matrix_scores<Score>(&matrix) + matrix.rowoffsets[i];
      for (uint64_t j = 0; j < columns; j++) cells[j] = ScoreTraits<Score>::minusinfinity;
      Score rowminimum = ScoreTraits<Score>::plusinfinity;
      Score rowmaximum = ScoreTraits<Score>::minusinfinity;
      for (uint64_t j = 0; j < rows[i].size() && j + 1 < columns; j++) {
        cells[j] = rows[i][j];
        if (ScoreTraits<Score>::forbidden(rows[i][j])) continue;
        rowminimum = std::min(rowminimum, rows[i][j]);
        rowmaximum = std::max(rowmaximum, rows[i][j]);
      }
      minimum += rowminimum;
      maximum += rowmaximum;
    }
    scoreof<Score>(matrix.minscore) = minimum;
    scoreof<Score>(matrix.maxscore) = maximum;
    scoreof<Score>(matrix.threshold) = minimum;
  }
  ~RowMatrix() { matrix_free(&matrix); }
  RowMatrix(const RowMatrix &) = delete;
  RowMatrix &operator=(const RowMatrix &) = delete;
};

// The float view of a matrix, owned while the object lives.
struct FloatView {
  ScoringMatrix scratch;
  const ScoringMatrix *view;
  bool copied;
  explicit FloatView(const ScoringMatrix *matrix) {
    copied = matrix_float_copy(matrix, &scratch, &view);
  }
  ~FloatView() {
    if (copied) matrix_free(&scratch);
  }
  FloatView(const FloatView &) = delete;
  FloatView &operator=(const FloatView &) = delete;
};

// Frees the distribution when it goes.
struct OwnedDistribution {
  ScoreDistribution d = {0, 0, 0, nullptr, 0};
  OwnedDistribution() = default;
  ~OwnedDistribution() { freedistribution(&d); }
  OwnedDistribution(const OwnedDistribution &) = delete;
  OwnedDistribution &operator=(const OwnedDistribution &) = delete;
};

// Runs body with standard error captured and the given switches; returns what was written.
template <typename Body>
std::string capturestderr(bool status, bool warnings, Body body) {
  outputinit(status, warnings);
  testing::internal::CaptureStderr();
  body();
  std::string text = testing::internal::GetCapturedStderr();
  outputinit(true, true);
  return text;
}

inline std::string errortext() { return std::string(errormessagespace()); }
inline void clearerror() {
  clearerrorcode();
  errormessagespace()[0] = '\0';
}

// One record of a distribution file, in the layout of this machine.
struct Record {
  int64_t minimum;
  int64_t maximum;
  int64_t offset;
  double multiplier;
  std::vector<double> tail;
};

inline std::string recordbytes(const Record &record) {
  std::string bytes;
  const auto append = [&bytes](const void *data, size_t length) {
    bytes.append(static_cast<const char *>(data), length);
  };
  append(&record.minimum, 8);
  append(&record.maximum, 8);
  append(&record.offset, 8);
  append(&record.multiplier, 8);
  for (double entry : record.tail) append(&entry, 8);
  return bytes;
}

// Writes the bytes as a gzip stream of level 9.
inline std::string writegzip(const ScratchFolder &folder, const std::string &name,
                             const std::string &bytes) {
  const std::string file = folder.path(name);
  gzFile out = gzopen(file.c_str(), "wb9");
  EXPECT_NE(out, nullptr);
  if (!bytes.empty()) gzwrite(out, bytes.data(), static_cast<unsigned>(bytes.size()));
  gzclose(out);
  return file;
}

}  // namespace stattest

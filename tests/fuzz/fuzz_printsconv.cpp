// libFuzzer target: the PRINTS reader and library writer on arbitrary bytes.
#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "convert/printsmatrices.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  static std::FILE *sink = std::fopen("/dev/null", "w");
  static char empty[1];
  std::FILE *input = size == 0 ? fmemopen(empty, 1, "r")
                               : fmemopen(const_cast<uint8_t *>(data), size, "r");
  if (input == nullptr) return 0;
  if (size == 0) std::fgetc(input);  // an empty input: start at its end
  PrintsLibrary library;
  readprints(input, sink, &library);
  std::fclose(input);
  // The writer is checked too, unless the lengths announce more rows than a run should print.
  size_t rows = 0;
  for (const PrintsMatrix &matrix : library.matrices) rows += static_cast<size_t>(matrix.length);
  if (rows <= 100000) writeprints(sink, library);
  return 0;
}

// libFuzzer target: the TRANSFAC reader and library writer on arbitrary bytes.
#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "convert/transfacmatrices.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  static std::FILE *sink = std::fopen("/dev/null", "w");
  static char empty[1];
  std::FILE *input = size == 0 ? fmemopen(empty, 1, "r")
                               : fmemopen(const_cast<uint8_t *>(data), size, "r");
  if (input == nullptr) return 0;
  if (size == 0) std::fgetc(input);  // an empty input: start at its end
  TransfacLibrary library;
  readtransfac(input, sink, &library);
  std::fclose(input);
  writetransfac(sink, sink, library);
  return 0;
}

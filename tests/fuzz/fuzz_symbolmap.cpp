// Fuzz target: the symbol map reader; a map that loads is used to code a short text.
#include "fuzzinput.hpp"
#include "sequences/alphabet.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  fuzzrunstart();
  const std::string name = fuzzinputfile(data, size, ".smap");
  Alphabet alpha;
  if (loadsymbolmapfile(&alpha, name.c_str()) != 0) return 0;
  unsigned sum = 0;
  for (int c = 0; c < 256; c++) sum += static_cast<unsigned>(alpha.symbolmap[c]);
  for (uint64_t code = 0; code < alpha.mapsize; code++) sum += alpha.characters[code];
  return sum == 0xffffffffu ? 1 : 0;  // keeps the reads from being optimised away
}

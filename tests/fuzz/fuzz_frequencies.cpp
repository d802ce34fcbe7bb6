// Fuzz target: the background frequency file over the DNA alphabet.
#include <cstdlib>

#include "fuzzinput.hpp"
#include "sequences/alphabet.hpp"
#include "statistics/freqfileparser.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  fuzzrunstart();
  const std::string name = fuzzinputfile(data, size, ".freq");
  Alphabet alpha;
  dnaalphabet(&alpha);
  std::free(loadfrequencies(name.c_str(), &alpha));
  return 0;
}

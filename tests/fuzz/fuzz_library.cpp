// Fuzz target: the profile library parser over the DNA and the protein alphabet.
#include "fuzzinput.hpp"
#include "model/profile.hpp"
#include "profiles/libparse.hpp"
#include "sequences/alphabet.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  fuzzrunstart();
  const std::string name = fuzzinputfile(data, size, ".lib");
  Alphabet alpha;
  if (size > 0 && data[0] == 'P') {
    proteinalphabet(&alpha);
  } else {
    dnaalphabet(&alpha);
  }
  ProfileCollection collection;
  if (parselibrary(name.c_str(), &alpha, &collection) == 0) {
    collection_free(&collection, false, false);
  }
  return 0;
}

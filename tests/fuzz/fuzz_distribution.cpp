// Fuzz target: the distribution file, read for a fixed library of an integer and a float
// matrix with a p-value cutoff, then used for p-value lookups across each matrix's range.
#include <unistd.h>

#include <cstdlib>

#include "fuzzinput.hpp"
#include "model/profile.hpp"
#include "model/searchsettings.hpp"
#include "profiles/libparse.hpp"
#include "sequences/alphabet.hpp"
#include "statistics/distribution.hpp"
#include "statistics/setthresholds.hpp"

namespace {

const char library[] =
    "BEGIN GROUP\n"
    "BEGIN INT\nID i\nAL ACGT\nLE 3\nMA 1 -2 0 3\nMA 0 0 2 -1\nMA -3 4 1 0\nEND\n"
    "BEGIN FLOAT\nID f\nAL ACGT\nLE 2\nMA 0.5 -1.25 2 0\nMA 1 1 -0.5 0.75\nEND\n"
    "END\n";

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  fuzzrunstart();
  static Alphabet alpha = [] {
    Alphabet dna;
    dnaalphabet(&dna);
    return dna;
  }();
  const std::string libraryname = fuzzinputfile(
      reinterpret_cast<const uint8_t *>(library), sizeof library - 1, ".lib");
  const std::string name = fuzzinputfile(data, size, ".pdis");
  ProfileCollection collection;
  if (parselibrary(libraryname.c_str(), &alpha, &collection) != 0) std::abort();
  SearchSettings settings;
  initsearchsettings(&settings);
  settings.thresholdkind = THRESHOLD_PVALUE;
  settings.thresholdvalue = 1e-2;
  settings.distributionname = name.c_str();
  if (prepare_from_file(&collection, &settings, nullptr) == 0) {
    for (uint64_t i = 0; i < collection.numofprofiles; i++) {
      const Profile *profile = &collection.profiles[i];
      for (int64_t score = -20; score <= 20; score++) {
        (void)tail_lookup(&profile->distribution, score, profile->multiplier, TAIL_EVALUE, 1000);
      }
    }
  }
  collection_free(&collection, false, false);
  return 0;
}

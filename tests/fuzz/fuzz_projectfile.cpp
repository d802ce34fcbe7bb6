// Fuzz target: the index project file reader (N.prj), with the Multiseq it fills released
// after every run.
#include <unistd.h>

#include <cstdio>

#include "fuzzinput.hpp"
#include "sequences/multiseq.hpp"
#include "sequences/readvirt.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  fuzzrunstart();
  const std::string name = fuzzinputfile(data, size, ".prj");
  const std::string indexname = name.substr(0, name.size() - 4);
  Multiseq multiseq;
  initmultiseq(&multiseq);
  IndexParameters parameters{};
  readprojectfile(&multiseq, &parameters, indexname.c_str());
  freemultiseq(&multiseq);
  return 0;
}

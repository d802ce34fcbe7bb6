// Fuzz target: the sequence file reader (Fasta, GenBank, EMBL; gzip-compressed input when the
// bytes begin with the gzip magic number), over the DNA alphabet, with the plain characters
// kept, and the container's consistency check after every successful load.
#include "fuzzinput.hpp"
#include "sequences/alphabet.hpp"
#include "sequences/multiseq.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  fuzzrunstart();
  const bool gzip = size >= 2 && data[0] == 0x1f && data[1] == 0x8b;
  const std::string name = fuzzinputfile(data, size, gzip ? ".fa.gz" : ".fa");
  Alphabet alpha;
  dnaalphabet(&alpha);
  Multiseq multiseq;
  initmultiseq(&multiseq);
  if (readsequencefile(&multiseq, name.c_str(), &alpha, true) == 0 &&
      multiseq_check(&multiseq) != 0) {
    std::abort();  // a loaded container must be consistent
  }
  freemultiseq(&multiseq);
  return 0;
}

// Fuzz target: the sequence file reader (Fasta, GenBank, EMBL; gzip-compressed input when the
// bytes begin with the gzip magic number), over the DNA alphabet, with the plain characters
// kept, and the container's consistency check after every successful load. The bytes are also
// parsed as Fasta text in one pass and in three stretches, which must agree in every table and
// message.
#include <cstring>
#include <string>
#include <vector>

#include "base/error.hpp"
#include "fuzzinput.hpp"
#include "sequences/alphabet.hpp"
#include "sequences/multiseq.hpp"

namespace {

struct Parsed {
  int status;
  std::string message;
  std::vector<uint64_t> numbers;
  std::string codes, desctext;
};

Parsed parseas(const Alphabet &alpha, const uint8_t *data, size_t size, uint64_t jobs) {
  std::vector<unsigned char> text(data, data + size);
  Multiseq multiseq;
  errormessagespace()[0] = '\0';
  Parsed parsed{};
  parsed.status = parsefasta(&alpha, &multiseq, "f.fa", text.data(), text.size(), jobs);
  parsed.message = errormessageorunknown();
  if (parsed.status == 0) {
    parsed.numbers = {multiseq.totallength, multiseq.numofsequences, multiseq.specialcharacters,
                      multiseq.specialranges, multiseq.lengthofspecialprefix,
                      multiseq.lengthofspecialsuffix, multiseq.desctextlength};
    for (uint64_t k = 0; k < multiseq.numofseparators; k++)
      parsed.numbers.push_back(multiseq.separatorpositions[k]);
    for (uint64_t k = 0; k <= multiseq.numofsequences; k++)
      parsed.numbers.push_back(multiseq.descoffsets[k]);
    parsed.codes.assign(reinterpret_cast<char *>(text.data()), multiseq.totallength);
    parsed.desctext.assign(reinterpret_cast<char *>(multiseq.desctext), multiseq.desctextlength);
  }
  multiseq.sequence = nullptr;  // the text belongs to the vector
  freemultiseq(&multiseq);
  return parsed;
}

}  // namespace

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

  const Parsed one = parseas(alpha, data, size, 1), three = parseas(alpha, data, size, 3);
  if (one.status != three.status || one.message != three.message || one.numbers != three.numbers ||
      one.codes != three.codes || one.desctext != three.desctext) {
    std::abort();  // a parse in stretches must be the parse in one pass
  }
  return 0;
}

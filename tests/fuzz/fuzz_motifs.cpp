// Fuzz target: the motif readers, detecting the format and forced to each one, and the
// conversion of every motif they keep into library text (plain and gzip input).
#include <string>
#include <string_view>
#include <vector>

#include "fuzzinput.hpp"
#include "motifconv/logodds.hpp"
#include "motifconv/motif.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  fuzzrunstart();
  const std::string name = fuzzinputfile(data, size, ".motifs");
  const std::string_view text(reinterpret_cast<const char *>(data), size);
  std::string library;
  for (MotifFormat format : {MOTIF_AUTO, MOTIF_JASPAR, MOTIF_TRANSFAC, MOTIF_MEME}) {
    std::vector<Motif> motifs;
    uint64_t skipped;
    const int status = format == MOTIF_AUTO
                           ? readmotiffile(name.c_str(), format, &motifs, &skipped)
                           : readmotiftext("fuzz", text, format, &motifs, &skipped);
    clearerrorcode();
    if (status != 0) continue;
    for (const Motif &motif : motifs) {
      std::vector<double> background(motif.letters.size(), 1.0 / motif.letters.size());
      std::vector<double> weights;
      motifweights(motif, background, 1.0, &weights);
      appendlibraryentry(&library, motif, weights, format == MOTIF_MEME ? 1000.0 : 0.0, "fuzz");
      clearerrorcode();
    }
  }
  return 0;
}

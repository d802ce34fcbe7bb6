// Engine benchmark: times a naive scan (the floor), the simple search, the lookahead search
// of each matrix by itself and the lookahead batch of all matrices at once (plan, search and
// reports, as zelkosearch runs it) over one coded DNA or protein database, all matrices of a
// library on the forward strand, at thresholds derived from p-values (or a fixed fraction of
// each matrix's score range), and prints medians, cells per second and ratios. All must find
// the same matches.
//
//   enginebench -db FILE.fa[.gz] -lib FILE.lib [-pvalue P]... [-fraction F] [-repeats R]
//               [-prefix POSITIONS] [-scoretype float|integer] [-firstpass LEVEL]
//               [-lookaheadonly 1] [-protein 1]
//               (-lookaheadonly 1: the naive loop and -simple once only)
//   enginebench -random LENGTH -randommatrices COUNT ...      (generated data, no files)
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <ctime>

#include <linux/perf_event.h>
#include <sys/syscall.h>
#include <unistd.h>
#include <vector>

#include "base/error.hpp"
#include "matching/lookahead_batch.hpp"
#include "matching/lookahead_firstpass.hpp"
#include "matching/match_lookaheadsearch.hpp"
#include "matching/match_simplesearch.hpp"
#include "matching/profile.hpp"
#include "model/searchsettings.hpp"
#include "profiles/libparse.hpp"
#include "sequences/alphabet.hpp"
#include "sequences/multiseq.hpp"
#include "statistics/setthresholds.hpp"

namespace {

struct Options {
  const char *database = nullptr;
  const char *library = nullptr;
  uint64_t randomlength = 0;
  uint64_t randommatrices = 0;
  std::vector<double> pvalues;
  double fraction = -1.0;  // > 0: threshold = min + fraction * (max - min)
  uint64_t repeats = 5;
  uint64_t prefix = 0;  // > 0: search only the first positions of the database
  bool integer = false;  // search integer copies of the matrices
  int firstpass = -1;    // >= 0: cap the lookahead's first pass (0 scalar, 1 AVX2, 2 AVX-512)
  bool lookaheadonly = false;  // time the lookahead search alone
  bool protein = false;        // a protein database and library
};

uint64_t matchcount = 0;
int countmatch(Match *) {
  matchcount++;
  return 0;
}

// The floor: every window of the concatenated sequence scored row by row, a window stopped
// by a code outside the alphabet (separators included) or a forbidden cell.
template <typename Score>
uint64_t naivescan(const unsigned char *sequence, uint64_t total, const ScoringMatrix *matrix) {
  const uint64_t m = matrix->m;
  const uint64_t columns = matrix->alphabet->mapsize;
  const Score *scores = static_cast<const Score *>(matrix->scores);
  const Score threshold = scoreof<Score>(matrix->threshold);
  uint64_t count = 0;
  if (m == 0) return 0;
  for (uint64_t i = 0; i + m <= total; i++) {
    Score sum = 0;
    uint64_t j;
    for (j = 0; j < m; j++) {
      const unsigned char c = sequence[i + j];
      if (c >= columns) break;
      const Score s = scores[j * columns + c];
      if (ScoreTraits<Score>::forbidden(s)) break;
      sum += s;
    }
    if (j == m && sum >= threshold) count++;
  }
  return count;
}

uint64_t naiveall(const Multiseq *multiseq, const std::vector<ScoringMatrix *> &matrices) {
  uint64_t count = 0;
  for (const ScoringMatrix *matrix : matrices) {
    count += matrix->scoretype == SCORE_FLOAT
                 ? naivescan<float>(multiseq->sequence, multiseq->totallength, matrix)
                 : naivescan<int64_t>(multiseq->sequence, multiseq->totallength, matrix);
  }
  return count;
}

using Engine = int (*)(const Multiseq *, const ScoringMatrix *, const SequenceRange *,
                       ReportFunction, SearchJob *);
uint64_t engineall(Engine engine, const Multiseq *multiseq,
                   const std::vector<ScoringMatrix *> &matrices) {
  matchcount = 0;
  for (const ScoringMatrix *matrix : matrices) {
    if (engine(multiseq, matrix, nullptr, countmatch, nullptr) != 0) {
      std::fprintf(stderr, "search failed: %s\n", errormessageorunknown());
      std::exit(1);
    }
  }
  return matchcount;
}

// The lookahead batch of all matrices in one part, with the reports of every matrix.
uint64_t batchall(const Multiseq *multiseq, const std::vector<ScoringMatrix *> &matrices) {
  matchcount = 0;
  LookaheadBatch *batch = lookaheadbatch_create(multiseq, nullptr);
  for (const ScoringMatrix *matrix : matrices) lookaheadbatch_add(batch, matrix);
  lookaheadbatch_plan(batch, 1, 1, BATCHROUTE_AUTO);
  for (uint64_t part = 0; part < lookaheadbatch_parts(batch); part++) lookaheadbatch_runpart(batch, part, 0);
  for (uint64_t i = 0; i < matrices.size(); i++) {
    const int result = lookaheadbatch_holds(batch, i)
                           ? lookaheadbatch_report(batch, i, matrices[i], countmatch, nullptr)
                           : lookaheadsearch(multiseq, matrices[i], nullptr, countmatch, nullptr);
    if (result != 0) {
      std::fprintf(stderr, "search failed: %s\n", errormessageorunknown());
      std::exit(1);
    }
  }
  lookaheadbatch_free(batch);
  return matchcount;
}

// Processor time of the calling thread: steadier than wall time on a shared machine.
double cputime() {
  timespec now;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + 1e-9 * static_cast<double>(now.tv_nsec);
}

// User-mode processor cycles of the calling thread, when the kernel lets us count them:
// steadier still, since they do not depend on the clock frequency of the moment.
struct CycleCounter {
  int descriptor = -1;
  CycleCounter() {
    perf_event_attr attributes{};
    attributes.type = PERF_TYPE_HARDWARE;
    attributes.size = sizeof attributes;
    attributes.config = PERF_COUNT_HW_CPU_CYCLES;
    attributes.exclude_kernel = 1;
    attributes.exclude_hv = 1;
    descriptor = static_cast<int>(syscall(SYS_perf_event_open, &attributes, 0, -1, -1, 0));
  }
  ~CycleCounter() {
    if (descriptor >= 0) close(descriptor);
  }
  bool available() const { return descriptor >= 0; }
  double read() const {
    uint64_t count = 0;
    if (descriptor < 0 || ::read(descriptor, &count, sizeof count) != sizeof count) return 0.0;
    return static_cast<double>(count);
  }
};

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

[[noreturn]] void usage() {
  std::fprintf(stderr,
               "usage: enginebench (-db FILE | -random LENGTH) (-lib FILE | -randommatrices COUNT)\n"
               "                   [-pvalue P]... [-fraction F] [-repeats R] [-prefix POSITIONS]\n"
               "                   [-scoretype float|integer] [-firstpass LEVEL]\n"
               "                   [-lookaheadonly 1] [-protein 1]\n");
  std::exit(1);
}

Options parseoptions(int argc, char **argv) {
  Options options;
  for (int i = 1; i < argc; i++) {
    const std::string word = argv[i];
    if (i + 1 >= argc) usage();
    const char *value = argv[++i];
    if (word == "-db") options.database = value;
    else if (word == "-lib") options.library = value;
    else if (word == "-random") options.randomlength = std::strtoull(value, nullptr, 10);
    else if (word == "-randommatrices") options.randommatrices = std::strtoull(value, nullptr, 10);
    else if (word == "-pvalue") options.pvalues.push_back(std::strtod(value, nullptr));
    else if (word == "-fraction") options.fraction = std::strtod(value, nullptr);
    else if (word == "-scoretype") options.integer = std::string(value) == "integer";
    else if (word == "-firstpass") options.firstpass = std::atoi(value);
    else if (word == "-lookaheadonly") options.lookaheadonly = std::atoi(value) != 0;
    else if (word == "-protein") options.protein = std::atoi(value) != 0;
    else if (word == "-prefix") options.prefix = std::strtoull(value, nullptr, 10);
    else if (word == "-repeats") options.repeats = std::max<uint64_t>(1, std::strtoull(value, nullptr, 10));
    else usage();
  }
  if ((options.database == nullptr) == (options.randomlength == 0)) usage();
  if ((options.library == nullptr) == (options.randommatrices == 0)) usage();
  if (options.pvalues.empty() && options.fraction <= 0) {
    if (options.library != nullptr) options.pvalues = {1e-4, 1e-5};
    else options.fraction = 0.8;
  }
  return options;
}

// Sets each matrix's threshold to min + fraction * (max - min) of its row bounds.
void fractionthresholds(const std::vector<ScoringMatrix *> &matrices, double fraction) {
  for (ScoringMatrix *matrix : matrices) {
    matrix_compute_row_bounds(matrix);
    if (matrix->scoretype == SCORE_FLOAT) {
      const double low = matrix->minscore.f, high = matrix->maxscore.f;
      matrix->threshold.f = static_cast<float>(std::ceil(low + fraction * (high - low)));
    } else {
      const double low = static_cast<double>(matrix->minscore.i);
      const double high = static_cast<double>(matrix->maxscore.i);
      matrix->threshold.i = static_cast<int64_t>(std::ceil(low + fraction * (high - low)));
    }
    matrix_free_row_bounds(matrix);
    matrix_set_intermediate_thresholds(matrix);
  }
}

// Integer copies of float matrices whose scores are whole numbers, thresholds rounded up.
std::vector<ScoringMatrix> integercopies(const std::vector<ScoringMatrix *> &matrices) {
  std::vector<ScoringMatrix> copies(matrices.size());
  for (size_t i = 0; i < matrices.size(); i++) {
    const ScoringMatrix *source = matrices[i];
    ScoringMatrix *copy = &copies[i];
    matrix_init(copy, SCORE_INTEGER, source->alphabet, source->m);
    const uint64_t cells = source->m * source->alphabet->mapsize;
    for (uint64_t c = 0; c < cells; c++) {
      const float s = matrix_scores<float>(source)[c];
      matrix_scores<int64_t>(copy)[c] = ScoreTraits<float>::forbidden(s)
                                            ? ScoreTraits<int64_t>::minusinfinity
                                            : static_cast<int64_t>(std::llround(s));
    }
    copy->threshold.i = static_cast<int64_t>(std::ceil(source->threshold.f));
    matrix_set_intermediate_thresholds(copy);
  }
  return copies;
}

bool lookaheadonly = false;

void runall(const char *label, const Multiseq *multiseq,
            const std::vector<ScoringMatrix *> &floatmatrices, uint64_t repeats, bool integer) {
  std::vector<ScoringMatrix> copies;
  std::vector<ScoringMatrix *> matrices = floatmatrices;
  if (integer) {
    copies = integercopies(floatmatrices);
    for (size_t i = 0; i < copies.size(); i++) matrices[i] = &copies[i];
  }
  uint64_t cells = 0;
  for (const ScoringMatrix *matrix : matrices) {
    if (matrix->m <= multiseq->totallength) cells += matrix->m * (multiseq->totallength - matrix->m + 1);
  }
  uint64_t naivecount = 0, simplecount = 0, lookaheadcount = 0, batchcount = 0;
  // The runs alternate, so that a disturbance of the machine hits all of them alike.
  const CycleCounter counter;
  std::vector<double> times[4], cycles[4];
  auto measure = [&](int which, auto &&run) {
    const double startcycles = counter.read();
    const double start = cputime();
    const uint64_t count = run();
    times[which].push_back(cputime() - start);
    cycles[which].push_back(counter.read() - startcycles);
    return count;
  };
  for (uint64_t r = 0; r < repeats; r++) {
    if (!lookaheadonly || r == 0) {
      naivecount = measure(0, [&] { return naiveall(multiseq, matrices); });
      simplecount = measure(1, [&] { return engineall(simplesearch, multiseq, matrices); });
    }
    lookaheadcount = measure(2, [&] { return engineall(lookaheadsearch, multiseq, matrices); });
    batchcount = measure(3, [&] { return batchall(multiseq, matrices); });
  }
  const double naive = median(times[0]);
  const double simple = median(times[1]);
  const double lookahead = median(times[2]);
  const double batch = median(times[3]);
  std::printf("%s%s: %lu matrices, %lu matches (naive %lu, simple %lu, lookahead %lu, batch %lu)%s\n",
              label, integer ? " (integer scores)" : "", static_cast<unsigned long>(matrices.size()),
              static_cast<unsigned long>(simplecount), static_cast<unsigned long>(naivecount),
              static_cast<unsigned long>(simplecount), static_cast<unsigned long>(lookaheadcount),
              static_cast<unsigned long>(batchcount),
              naivecount == simplecount && simplecount == lookaheadcount && lookaheadcount == batchcount
                  ? ""
                  : "  MISMATCH");
  auto line = [&](const char *name, int which) {
    const double seconds = median(times[which]);
    std::printf("  %-10s median %9.4f s cpu  %8.1f Mcells/s", name, seconds,
                static_cast<double>(cells) / seconds / 1e6);
    if (counter.available()) {
      std::printf("  %7.3f cycles/cell", median(cycles[which]) / static_cast<double>(cells));
    }
    std::printf("\n");
  };
  line("naive", 0);
  line("simple", 1);
  line("lookahead", 2);
  line("batch", 3);
  std::printf("  time ratios: simple/naive %.3f   simple/lookahead %.2f   naive/lookahead %.2f"
              "   simple/batch %.2f   naive/batch %.2f\n",
              simple / naive, simple / lookahead, naive / lookahead, simple / batch, naive / batch);
  if (counter.available()) {
    const double c0 = median(cycles[0]), c1 = median(cycles[1]), c2 = median(cycles[2]);
    const double c3 = median(cycles[3]);
    std::printf("  cycle ratios: simple/naive %.3f   simple/lookahead %.2f   naive/lookahead %.2f"
                "   simple/batch %.2f   naive/batch %.2f\n",
                c1 / c0, c1 / c2, c0 / c2, c1 / c3, c0 / c3);
  }
  for (ScoringMatrix &copy : copies) matrix_free(&copy);
}

}  // namespace

int main(int argc, char **argv) {
  installnewhandler();
  const Options options = parseoptions(argc, argv);
  lookaheadonly = options.lookaheadonly;
  if (options.firstpass >= 0) firstpass_cap(options.firstpass);
  std::printf("lookahead byte pass: level %d (processor supports %d)\n", firstpass_level(),
              firstpass_supported());
  Alphabet alpha;
  if (options.protein) {
    proteinalphabet(&alpha);
  } else {
    dnaalphabet(&alpha);
  }

  Multiseq multiseq;
  initmultiseq(&multiseq);
  std::vector<unsigned char> randomcodes;
  std::mt19937_64 random(12345);
  if (options.database != nullptr) {
    if (readsequencefile(&multiseq, options.database, &alpha, false) != 0) {
      std::fprintf(stderr, "*** Error: %s\n", errormessageorunknown());
      return 1;
    }
  } else {
    randomcodes.resize(options.randomlength);
    for (unsigned char &code : randomcodes) code = static_cast<unsigned char>(random() % (alpha.mapsize - 1));
    multiseq.sequence = randomcodes.data();
    multiseq.totallength = randomcodes.size();
    multiseq.numofsequences = 1;
  }

  std::vector<ScoringMatrix *> matrices;
  ProfileCollection collection{};
  std::vector<ScoringMatrix> generated(options.randommatrices);
  if (options.library != nullptr) {
    if (parselibrary(options.library, &alpha, &collection) != 0) {
      std::fprintf(stderr, "*** Error: %s\n", errormessageorunknown());
      return 1;
    }
    for (uint64_t i = 0; i < collection.numofprofiles; i++) matrices.push_back(&collection.profiles[i].matrix);
  } else {
    for (ScoringMatrix &matrix : generated) {
      const uint64_t m = 6 + random() % 20;
      matrix_init(&matrix, SCORE_FLOAT, &alpha, m);
      for (uint64_t i = 0; i < m * alpha.mapsize; i++) {
        matrix_scores<float>(&matrix)[i] = (i % alpha.mapsize == alpha.mapsize - 1)
                                               ? ScoreTraits<float>::minusinfinity
                                               : static_cast<float>(static_cast<int>(random() % 3000) - 2000);
      }
      matrices.push_back(&matrix);
    }
  }
  const uint64_t fulllength = multiseq.totallength, fullsequences = multiseq.numofsequences;
  if (options.prefix > 0 && options.prefix < multiseq.totallength) {
    // Cut the database after a whole sequence near the requested length.
    uint64_t keep = 0;
    while (keep + 1 < multiseq.numofsequences && multiseq.separatorpositions[keep] < options.prefix) keep++;
    multiseq.numofsequences = keep + 1;
    if (keep < multiseq.numofseparators) multiseq.totallength = multiseq.separatorpositions[keep];
  }
  std::printf("database: %lu positions, %lu sequences\n",
              static_cast<unsigned long>(multiseq.totallength),
              static_cast<unsigned long>(multiseq.numofsequences));

  if (options.fraction > 0) {
    fractionthresholds(matrices, options.fraction);
    char label[64];
    std::snprintf(label, sizeof label, "threshold at %.2f of the score range", options.fraction);
    runall(label, &multiseq, matrices, options.repeats, options.integer);
  }
  std::vector<double> frequencies(alpha.mapsize, 0.0);
  for (uint64_t i = 0; i + 1 < alpha.mapsize; i++) frequencies[i] = 1.0 / static_cast<double>(alpha.mapsize - 1);
  for (double pvalue : options.pvalues) {
    SearchSettings settings;
    initsearchsettings(&settings);
    settings.thresholdkind = THRESHOLD_PVALUE;
    settings.thresholdvalue = pvalue;
    settings.frequencies = frequencies.data();
    if (prepare_with_frequencies(&collection, &settings, nullptr) != 0) {
      std::fprintf(stderr, "*** Error: %s\n", errormessageorunknown());
      return 1;
    }
    // Profiles that cannot reach the cutoff are not searched by the driver either.
    std::vector<ScoringMatrix *> searched;
    for (ScoringMatrix *matrix : matrices) {
      const bool unreachable = matrix->scoretype == SCORE_FLOAT
                                   ? matrix->threshold.f >= static_cast<float>(unreachablethreshold)
                                   : matrix->threshold.i >= unreachablethreshold;
      if (!unreachable) searched.push_back(matrix);
    }
    char label[64];
    std::snprintf(label, sizeof label, "p-value %g", pvalue);
    runall(label, &multiseq, searched, options.repeats, options.integer);
  }

  for (ScoringMatrix &matrix : generated) matrix_free(&matrix);
  if (options.library != nullptr) collection_free(&collection, false, false);
  multiseq.totallength = fulllength;
  multiseq.numofsequences = fullsequences;
  if (options.database != nullptr) freemultiseq(&multiseq);
  return 0;
}

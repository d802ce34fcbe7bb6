// The motifs of a scan: count matrices read by motifconv's readers and profile libraries, and
// their preparation for the sequences: background, log-odds weights times 1000 made into
// profiles as the library parser makes those motifconv writes of them, FLOAT libraries scaled
// to integers.
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

#include "base/error.hpp"
#include "base/output.hpp"
#include "base/readgzip.hpp"
#include "matching/profile.hpp"
#include "motifconv/logodds.hpp"
#include "profiles/libparse.hpp"
#include "scan/scaninternal.hpp"
#include "search/profilesearch.hpp"
#include "statistics/distribution.hpp"
#include "statistics/freqfileparser.hpp"

namespace {

// Integer window scores must stay below the score infinity, 2^62 - 1.
constexpr double scorelimit = 4611686018427387903.0;

std::string_view firstline(std::string_view text, size_t *position) {
  const size_t end = text.find('\n', *position);
  const size_t stop = end == std::string_view::npos ? text.size() : end;
  std::string_view line = text.substr(*position, stop - *position);
  *position = end == std::string_view::npos ? text.size() : end + 1;
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  return line;
}

// A profile library starts, after comments and empty lines, with `BEGIN', blanks, `GROUP'.
bool islibrarytext(std::string_view text) {
  size_t position = 0;
  while (position < text.size()) {
    std::string_view line = firstline(text, &position);
    if (line.empty() || line[0] == '#') continue;
    if (!line.starts_with("BEGIN")) return false;
    line.remove_prefix(5);
    const size_t word = line.find_first_not_of(" \t");
    return word != std::string_view::npos && word > 0 && line.substr(word).starts_with("GROUP");
  }
  return false;
}

bool nucleotideletters(std::string_view letters) {
  for (const char c : letters) {
    if (std::strchr("ACGTUacgtu", c) == nullptr || c == '\0') return false;
  }
  return true;
}

// Whether every matrix of a library names nucleotide columns (AL of A, C, G, T, U, AP DNA).
bool nucleotidelibrary(std::string_view text) {
  size_t position = 0;
  while (position < text.size()) {
    const std::string_view line = firstline(text, &position);
    if (line.size() < 3 || (line[2] != ' ' && line[2] != '\t')) continue;
    if (line.starts_with("AL") && !nucleotideletters(line.substr(3))) return false;
    if (line.starts_with("AP") && !line.substr(3).starts_with("DNA")) return false;
  }
  return true;
}

void setalphabet(Alphabet *alpha, ScanAlphabet kind) {
  if (kind == SCAN_ALPHABET_PROTEIN) {
    proteinalphabet(alpha);
  } else {
    dnaalphabet(alpha);
  }
}

// The letters of a library matrix: the regular characters of its alphabet, upper case.
std::string alphabetletters(const Alphabet *alpha) {
  std::string letters;
  for (uint64_t code = 0; code + 1 < alpha->mapsize; code++) {
    letters.push_back(static_cast<char>(std::toupper(alpha->characters[code])));
  }
  return letters;
}

// Parses a library text for alpha, failing with the file's name in front of the message.
int parsesource(const std::string &path, const std::string &text, const Alphabet *alpha,
                ProfileCollection *collection) {
  if (parselibrarytext(text.data(), text.size(), alpha, collection) != 0) {
    const std::string message = errormessageorunknown();
    return reporterror("file `%s': %s", path.c_str(), message.c_str());
  }
  return 0;
}

// The motif records of a parsed library.
void librarymotifs(const ScanSource &source, const ProfileCollection &collection,
                   std::vector<ScanMotif> *motifs) {
  for (uint64_t i = 0; i < collection.numofprofiles; i++) {
    const Profile &profile = collection.profiles[i];
    ScanMotif motif;
    motif.id = profile.identifier;
    if (profile.accession != nullptr) motif.accession = profile.accession;
    if (profile.description != nullptr) motif.description = profile.description;
    motif.letters = alphabetletters(collection.alphabet);
    motif.length = profile.matrix.m;
    motif.sourcefile = source.path;
    motif.sourceline = profile.beginline;
    motifs->push_back(std::move(motif));
  }
}

// A nucleotide motif without a column for each of A, C, G and T (a JASPAR matrix that lost
// its T row): the names of the letters it lacks, empty when it has them all or is no
// nucleotide motif.
std::string missingnucleotides(std::string_view letters) {
  if (!nucleotideletters(letters)) return "";
  std::string missing;
  for (const char *pair : {"Aa", "Cc", "Gg", "TtUu"}) {
    if (letters.find_first_of(pair) == std::string_view::npos) missing.push_back(pair[0]);
  }
  return missing;
}

int readsource(const std::string &path, ScanFormat format, ScanSource *source,
               ScanMotifs *motifs, bool *nucleotides) {
  source->path = path;
  if (access(path.c_str(), R_OK) != 0) {
    return reporterror("cannot open `%s': %s", path.c_str(), std::strerror(errno));
  }
  struct stat status;
  if (stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode)) {
    return reporterror("`%s' is a directory, not a motif file", path.c_str());
  }
  uint64_t length;
  unsigned char *content = readgzipfile(path.c_str(), &length);
  if (content == nullptr && gzipendedearly()) {
    return reporterror("file `%s' is truncated or corrupt: its gzip data ends early",
                       path.c_str());
  }
  if (content == nullptr) return reporterror("%s", errormessageorunknown());
  const std::string_view text(reinterpret_cast<const char *>(content), length);
  source->library = format == SCAN_FORMAT_LIBRARY || (format == SCAN_FORMAT_AUTO && islibrarytext(text));
  int result = 0;
  if (source->library) {
    source->text.assign(text);
    std::free(content);
    // Read once with the alphabet its columns ask for, for the motif records; the scan parses
    // it again for the sequences' alphabet.
    const bool dna = nucleotidelibrary(source->text);
    *nucleotides = *nucleotides && dna;
    Alphabet alpha;
    setalphabet(&alpha, dna ? SCAN_ALPHABET_DNA : SCAN_ALPHABET_PROTEIN);
    // Its column warnings come once, when it is parsed for the sequences.
    ProfileCollection collection{};
    const bool warnings = warningsenabled();
    outputinit(false, false);
    const int parsed = parsesource(path, source->text, &alpha, &collection);
    outputinit(false, warnings);
    if (parsed != 0) return -1;
    librarymotifs(*source, collection, &motifs->motifs);
    collection_free(&collection, false, false);
    return 0;
  }
  static constexpr MotifFormat formats[] = {MOTIF_AUTO, MOTIF_JASPAR, MOTIF_TRANSFAC,
                                            MOTIF_MEME, MOTIF_AUTO};
  uint64_t skipped = 0;
  result = readmotiftext(path.c_str(), text, formats[format], &source->counts, &skipped,
                         "--motif-format");
  std::free(content);
  if (result != 0) return -1;
  for (const Motif &counts : source->counts) {
    const std::string missing = missingnucleotides(counts.letters);
    if (missing.empty()) continue;
    const std::string &label = counts.accession.empty() ? counts.name : counts.accession;
    std::string rows;
    for (const char letter : missing) {
      rows += rows.empty() ? "" : ", ";
      rows.push_back(letter);
    }
    return reporterror("file `%s', line %lu: motif `%s' has no row for %s: a DNA motif needs "
                       "counts for each of A, C, G and T",
                       path.c_str(), static_cast<unsigned long>(counts.line), label.c_str(),
                       rows.c_str());
  }
  motifs->skipped += skipped;
  const std::string base(pathbasename(path));
  for (const Motif &counts : source->counts) {
    ScanMotif motif;
    motif.id = counts.name;
    motif.accession = counts.accession;
    motif.description = counts.accession.empty() ? base : base + " " + counts.accession;
    motif.letters = counts.letters;
    motif.length = motiflength(counts);
    motif.counts = counts.counts;
    motif.sourcefile = path;
    motif.sourceline = counts.line;
    *nucleotides = *nucleotides && nucleotideletters(counts.letters);
    motifs->motifs.push_back(std::move(motif));
  }
  return 0;
}

// Whether every allowed weight of a FLOAT matrix is a whole number.
bool wholeweights(const ScoringMatrix *matrix) {
  const float *cells = matrix_scores<float>(matrix);
  const uint64_t size = matrix->m * matrix_columns(matrix);
  for (uint64_t i = 0; i < size; i++) {
    if (!ScoreTraits<float>::forbidden(cells[i]) && std::nearbyint(cells[i]) != cells[i]) {
      return false;
    }
  }
  return true;
}

// A FLOAT matrix as integers: every weight times 1000, rounded half away from zero, as
// motifconv -scale 1000 writes it; the score range and the smallest value follow. A matrix
// whose weights are all whole numbers (one written at some scale already) is exact as it
// stands and is taken as it is: another factor 1000 would only widen its distribution a
// thousandfold and cost as much in time and memory.
int scaletointeger(Profile *profile) {
  ScoringMatrix *source = &profile->matrix;
  if (source->scoretype == SCORE_INTEGER) return 0;
  const double factor = wholeweights(source) ? 1.0 : SCAN_SCALE;
  ScoringMatrix scaled{};
  if (matrix_init(&scaled, SCORE_INTEGER, source->alphabet, source->m) != 0) return -1;
  const uint64_t columns = matrix_columns(source);
  const float *from = matrix_scores<float>(source);
  int64_t *to = matrix_scores<int64_t>(&scaled);
  int64_t minimum = 0, maximum = 0;
  int64_t smallest = ScoreTraits<int64_t>::plusinfinity;
  double magnitude = 0.0;
  for (uint64_t row = 0; row < source->m; row++) {
    int64_t rowminimum = ScoreTraits<int64_t>::plusinfinity;
    int64_t rowmaximum = ScoreTraits<int64_t>::minusinfinity;
    double rowmagnitude = 0.0;
    for (uint64_t column = 0; column < columns; column++) {
      const float value = from[row * columns + column];
      if (ScoreTraits<float>::forbidden(value)) {
        to[row * columns + column] = ScoreTraits<int64_t>::minusinfinity;
        continue;
      }
      const double product = std::round(factor * static_cast<double>(value));
      rowmagnitude = std::max(rowmagnitude, std::fabs(product));
      if (!(magnitude + rowmagnitude < scorelimit)) {
        matrix_free(&scaled);
        return reporterror("The weights of motif `%s' times %g exceed the integer score range.",
                           profile->identifier, factor);
      }
      const int64_t cell = static_cast<int64_t>(product);
      to[row * columns + column] = cell;
      rowminimum = std::min(rowminimum, cell);
      rowmaximum = std::max(rowmaximum, cell);
    }
    magnitude += rowmagnitude;
    minimum += rowminimum;
    maximum += rowmaximum;
    smallest = std::min(smallest, rowminimum);
  }
  scaled.minscore.i = minimum;
  scaled.maxscore.i = maximum;
  scaled.threshold.i = static_cast<int64_t>(
      std::round(factor * static_cast<double>(source->threshold.f)));
  profile->smallestvalue.i = smallest;
  matrix_free(source);
  *source = scaled;
  return 0;
}

// The weights of a prepared motif over its letters (SCAN_NOSCORE where the sequence alphabet
// gives a letter no column).
void fillweights(const Profile *profile, ScanMotif *motif) {
  const ScoringMatrix *matrix = &profile->matrix;
  const Alphabet *alpha = matrix->alphabet;
  const size_t width = motif->letters.size();
  motif->weights.assign(motif->length * width, SCAN_NOSCORE);
  for (size_t i = 0; i < width; i++) {
    const uint64_t code = alpha->symbolmap[static_cast<unsigned char>(motif->letters[i])];
    if (code + 1 >= alpha->mapsize || code >= UNDEFINEDCODE) continue;
    for (uint64_t row = 0; row < motif->length; row++) {
      const int64_t cell = matrix_cell<int64_t>(matrix, row, code);
      if (!ScoreTraits<int64_t>::forbidden(cell)) motif->weights[row * width + i] = cell;
    }
  }
  motif->minscore = matrix->minscore.i;
  motif->maxscore = matrix->maxscore.i;
}

// The background of the weights: the frequencies of the sequence alphabet re-indexed by the
// codes of the alphabet motifconv weighs a motif's letters with.
double *lettersfrequencies(const Alphabet *letteralpha, const Alphabet *sequencealpha,
                           const std::vector<double> &frequencies) {
  double *result = allocorexit<double>(nullptr, letteralpha->mapsize);
  for (uint64_t code = 0; code < letteralpha->mapsize; code++) {
    result[code] = 0.0;
    if (code + 1 >= letteralpha->mapsize) continue;
    const uint64_t other = sequencealpha->symbolmap[letteralpha->characters[code]];
    if (other + 1 < sequencealpha->mapsize && other < UNDEFINEDCODE) result[code] = frequencies[other];
  }
  return result;
}

// The count motifs of one source as profiles for alpha, straight from their integer weights:
// the collection (made here) is what parsing the library motifconv writes of them gives, their
// texts, layout, column checks and warnings (on the lines such a text would have), without the
// text. On failure the collection is released.
int countcollection(const ScanSource &source, BackgroundSource *background, double pseudocount,
                    const Alphabet *alpha, const ClassTable *classes,
                    ProfileCollection *collection) {
  if (collection_init(collection, alpha) != 0) return -1;
  std::vector<double> letterbackground, weights;
  std::vector<int64_t> scaled;
  uint64_t line = 1;  // of the entry's BEGIN GROUP in the library text
  const auto fail = [collection]() {
    collection_free(collection, false, false);
    return -1;
  };
  for (const Motif &motif : source.counts) {
    std::string problem;
    const int status = motifbackground(background, motif, &letterbackground, &problem);
    if (status < 0) return -1;
    if (status > 0) {
      const std::string &label = motif.accession.empty() ? motif.name : motif.accession;
      return reporterror(
          "file `%s', line %lu: motif `%s' cannot be weighed: %s (give another background)",
          source.path.c_str(), static_cast<unsigned long>(motif.line), label.c_str(),
          problem.c_str());
    }
    motifweights(motif, letterbackground, pseudocount, &weights);
    if (scaledweights(motif, weights, SCAN_SCALE, &scaled) != 0) return fail();
    const EntryTexts texts = entrytexts(motif, source.path.c_str());
    IntegerMatrix matrix;
    matrix.identifier = texts.identifier;
    matrix.accession = texts.accession;
    matrix.description = texts.description;
    matrix.letters = texts.letters;
    matrix.rows = motiflength(motif);
    matrix.values = scaled.data();
    // BEGIN GROUP, BEGIN INT, ID, AC when there is one, DE, AL, LE, the rows, END, END.
    const uint64_t idline = line + 2;
    const uint64_t alline = idline + (motif.accession.empty() ? 2 : 3);
    matrix.beginline = line + 1;
    matrix.alphabetline = alline;
    line = alline + 2 + matrix.rows + 2;
    if (texts.identifier.empty() || texts.letters.empty()) {
      reporterror("file `%s': Parsing error in line %lu: empty tag.", source.path.c_str(),
                  static_cast<unsigned long>(texts.identifier.empty() ? idline : alline));
      return fail();
    }
    if (appendintegermatrix(collection, classes, matrix) != 0) {
      const std::string message = errormessageorunknown();
      reporterror("file `%s': %s", source.path.c_str(), message.c_str());
      return fail();
    }
  }
  return 0;
}

// The reverse complementary matrix of every profile, as a profile of its own, when the
// alphabet has complements: 0, or -1 with the message.
int buildreverseprofiles(ScanLibrary *library) {
  ComplementTables complement{};
  const bool warnings = warningsenabled();
  outputinit(false, false);
  const int complementable = preparecomplement(&library->alphabet, true, &complement);
  outputinit(false, warnings);
  if (complementable != 0) {
    clearerrorcode();
    return 0;
  }
  if (collection_init(&library->reversecollection, &library->alphabet) != 0) return -1;
  library->hasreverse = true;
  for (const Profile *profile : library->profiles) {
    Profile *copy = collection_append_profile(&library->reversecollection);
    copy->identifier = copystring(profile->identifier);
    if (profile->accession != nullptr) copy->accession = copystring(profile->accession);
    if (profile->description != nullptr) copy->description = copystring(profile->description);
    copy->groupnumber = profile->groupnumber;
    copy->groupposition = profile->groupposition;
    copy->multiplier = profile->multiplier;
    copy->smallestvalue = profile->smallestvalue;
    copy->beginline = profile->beginline;
    copy->alphabet = profile->alphabet;
    if (matrix_swapped_copy(&profile->matrix, &copy->matrix, complement.swapmap) != 0 ||
        matrix_reverse(&copy->matrix, true) != 0) {
      return -1;
    }
    copy->matrix.alphabet = &copy->alphabet;
  }
  for (uint64_t i = 0; i < library->reversecollection.numofprofiles; i++) {
    library->reverseprofiles.push_back(&library->reversecollection.profiles[i]);
  }
  return 0;
}

// A background sum may miss 1 by the rounding of the printed frequencies; beyond that the
// frequencies are scaled to add up to 1, with a warning.
constexpr double backgroundsumtolerance = 0.01;

// The frequencies of a background file or the caller's: every regular letter of the
// alphabet needs a positive frequency (one that is missing, zero or negative would make
// windows holding it impossible or the statistics meaningless), and the frequencies add up
// to 1, scaled when they do not. what names the background in the messages.
int checkbackground(const Alphabet *alpha, const std::string &what,
                    std::vector<double> *frequencies) {
  double sum = 0.0;
  for (uint64_t code = 0; code + 1 < alpha->mapsize; code++) {
    const double value = (*frequencies)[code];
    if (!(value > 0.0) || !std::isfinite(value)) {
      return reporterror("%s gives letter `%c' no positive frequency (every letter of the "
                         "alphabet needs one)",
                         what.c_str(), alpha->characters[code]);
    }
    sum += value;
  }
  if (!std::isfinite(sum)) return reporterror("%s: the frequencies are too large", what.c_str());
  if (std::fabs(sum - 1.0) > backgroundsumtolerance) {
    printwarning("%s: the frequencies add up to %g, not 1; they are scaled to add up to 1.\n",
                 what.c_str(), sum);
  }
  if (sum != 1.0) {
    for (uint64_t code = 0; code + 1 < alpha->mapsize; code++) (*frequencies)[code] /= sum;
  }
  return 0;
}

// A background file as the scan reads it: named in every message, and an empty file, a
// folder or one that cannot be read said to be so.
int loadbackgroundfile(const std::string &path, const Alphabet *alpha,
                       std::vector<double> *frequencies) {
  struct stat status;
  if (stat(path.c_str(), &status) != 0 || access(path.c_str(), R_OK) != 0) {
    return reporterror("cannot open background file `%s': %s", path.c_str(),
                       std::strerror(errno));
  }
  if (S_ISDIR(status.st_mode)) {
    return reporterror("background file `%s' is a directory", path.c_str());
  }
  if (S_ISREG(status.st_mode) && status.st_size == 0) {
    return reporterror("background file `%s' is empty", path.c_str());
  }
  // The reader's own warning about the sum gives way to the scan's.
  const bool warnings = warningsenabled();
  outputinit(false, false);
  double *loaded = loadfrequencies(path.c_str(), alpha);
  outputinit(false, warnings);
  if (loaded == nullptr) {
    const std::string message = errormessageorunknown();
    return reporterror("background file `%s': %s", path.c_str(), message.c_str());
  }
  frequencies->assign(loaded, loaded + alpha->mapsize);
  std::free(loaded);
  return checkbackground(alpha, "background file `" + path + "'", frequencies);
}

}  // namespace

int scan_readmotifs(const std::vector<std::string> &paths, ScanFormat format, ScanMotifs *out) {
  ScanCall call;
  if (out->library == nullptr) out->library = new ScanLibrary;
  scanunprepare(out->library);
  bool nucleotides = out->motifs.empty() || out->alphabet == SCAN_ALPHABET_DNA;
  for (const std::string &path : paths) {
    ScanSource source;
    if (readsource(path, format, &source, out, &nucleotides) != 0) return call.finish(-1);
    out->library->sources.push_back(std::move(source));
  }
  out->alphabet = nucleotides ? SCAN_ALPHABET_DNA : SCAN_ALPHABET_PROTEIN;
  if (out->motifs.empty()) return call.finish(reporterror("No motif could be read."));
  return call.finish(0);
}

void scanunprepare(ScanLibrary *library) {
  for (ProfileCollection &collection : library->collections) {
    collection_free(&collection, false, false);
  }
  library->collections.clear();
  library->profiles.clear();
  if (library->hasreverse) collection_free(&library->reversecollection, false, false);
  library->reversecollection = ProfileCollection{};
  library->hasreverse = false;
  library->reverseprofiles.clear();
  for (std::vector<ScoreDistribution> *list : {&library->complete, &library->reversecomplete}) {
    for (ScoreDistribution &distribution : *list) freedistribution(&distribution);
    list->clear();
  }
  library->prepared = false;
}

void scan_freemotifs(ScanMotifs *motifs) {
  ScanCall call;
  if (motifs->library != nullptr) {
    scanunprepare(motifs->library);
    delete motifs->library;
    motifs->library = nullptr;
  }
  motifs->motifs.clear();
  call.finish(0);
}

int scanpreparemotifs(ScanMotifs *motifs, const ScanSequences &sequences,
                      const ScanBackground &background, double pseudocount,
                      const std::vector<double> *counted) {
  ScanLibrary *library = motifs->library;
  if (library == nullptr || motifs->motifs.empty()) return reporterror("no motifs were read");
  if (!sequences.loaded) return reporterror("the sequences are not loaded");
  if (!(pseudocount > 0.0) || !std::isfinite(pseudocount)) {
    return reporterror("The pseudocount must be a positive real number.");
  }
  scanunprepare(library);
  library->alphabet = sequences.database->tree.alpha;
  const Alphabet *alpha = &library->alphabet;

  // The background of the statistics, over the sequence alphabet.
  switch (background.kind) {
    case SCAN_BACKGROUND_SEQUENCES:
      if (counted != nullptr) {
        if (counted->size() != alpha->mapsize) return internalerror();
        library->frequencies = *counted;
      } else if (scancountbackground(sequences, &library->frequencies) != 0) {
        return -1;
      }
      motifs->backgroundsource = "sequences";
      break;
    case SCAN_BACKGROUND_UNIFORM: {
      double *loaded = loadfrequencies(nullptr, alpha);
      library->frequencies.assign(loaded, loaded + alpha->mapsize);
      std::free(loaded);
      motifs->backgroundsource = "uniform";
      break;
    }
    case SCAN_BACKGROUND_FILE:
      if (loadbackgroundfile(background.filename, alpha, &library->frequencies) != 0) return -1;
      motifs->backgroundsource = background.filename;
      break;
    case SCAN_BACKGROUND_GIVEN: {
      // As a frequency file's lines: values of one symbol add up, letters outside the
      // alphabet are refused.
      if (background.letters.size() != background.frequencies.size()) {
        return reporterror("the background gives %lu letters and %lu frequencies",
                           static_cast<unsigned long>(background.letters.size()),
                           static_cast<unsigned long>(background.frequencies.size()));
      }
      library->frequencies.assign(alpha->mapsize, 0.0);
      for (size_t i = 0; i < background.letters.size(); i++) {
        const unsigned char letter = static_cast<unsigned char>(background.letters[i]);
        const uint64_t code = alpha->symbolmap[letter];
        if (code >= UNDEFINEDCODE || !(background.frequencies[i] >= 0.0)) {
          return reporterror("the background's letter `%c' or its frequency is not usable",
                             letter);
        }
        library->frequencies[code] += background.frequencies[i];
      }
      if (checkbackground(alpha, "the background", &library->frequencies) != 0) return -1;
      motifs->backgroundsource = "given";
      break;
    }
  }
  motifs->backgroundletters.clear();
  motifs->backgroundfrequencies.clear();
  for (uint64_t code = 0; code + 1 < alpha->mapsize; code++) {
    motifs->backgroundletters.push_back(static_cast<char>(alpha->characters[code]));
    motifs->backgroundfrequencies.push_back(library->frequencies[code]);
  }
  motifs->pseudocount = pseudocount;

  // The weights of count motifs: uniform over their letters, or the same frequencies.
  BackgroundSource letters;
  initbackgroundsource(&letters, nullptr);
  if (background.kind != SCAN_BACKGROUND_UNIFORM) {
    letters.dnafrequencies = lettersfrequencies(&letters.dna, alpha, library->frequencies);
    letters.proteinfrequencies = lettersfrequencies(&letters.protein, alpha, library->frequencies);
  }
  int result = 0;
  library->collections.reserve(library->sources.size());
  // The class table is some 70 kB: off the stack, made once.
  std::vector<ClassTable> classes;
  for (const ScanSource &source : library->sources) {
    // Made in place: a collection holds its lock and is not copied.
    library->collections.emplace_back();
    ProfileCollection *kept = &library->collections.back();
    if (!source.library && classes.empty()) {
      classes.resize(1);
      buildcharacterclasses(classes.data(), alpha);
    }
    const int made =
        source.library
            ? parsesource(source.path, source.text, alpha, kept)
            : countcollection(source, &letters, pseudocount, alpha, classes.data(), kept);
    if (made != 0) {
      library->collections.pop_back();  // released by the parser or countcollection
      result = -1;
      break;
    }
    for (uint64_t i = 0; i < kept->numofprofiles; i++) {
      Profile *profile = &kept->profiles[i];
      if (scaletointeger(profile) != 0) {
        result = -1;
        break;
      }
      library->profiles.push_back(profile);
    }
    if (result != 0) break;
  }
  freebackgroundsource(&letters);
  if (result == 0 && library->profiles.size() != motifs->motifs.size()) result = internalerror();
  if (result != 0) {
    scanunprepare(library);
    return -1;
  }
  for (size_t i = 0; i < motifs->motifs.size(); i++) {
    ScanMotif *motif = &motifs->motifs[i];
    const Profile *profile = library->profiles[i];
    // Library matrices are read in the letters of the sequence alphabet.
    if (motif->counts.empty()) motif->letters = alphabetletters(alpha);
    fillweights(profile, motif);
  }
  if (sequences.alphabet == SCAN_ALPHABET_DNA && buildreverseprofiles(library) != 0) {
    scanunprepare(library);
    return -1;
  }
  library->complete.assign(library->profiles.size(), ScoreDistribution{});
  library->reversecomplete.assign(library->reverseprofiles.size(), ScoreDistribution{});
  library->prepared = true;
  return 0;
}

int scan_preparemotifs(ScanMotifs *motifs, const ScanSequences &sequences,
                       const ScanBackground &background, double pseudocount) {
  ScanCall call;
  return call.finish(scanpreparemotifs(motifs, sequences, background, pseudocount));
}

Profile *scanprofile(const ScanMotifs &motifs, uint64_t motif, ScanStrand strand) {
  if (motifs.library == nullptr || !motifs.library->prepared) {
    reporterror("the motifs are not prepared for the sequences");
    return nullptr;
  }
  if (motif >= motifs.library->profiles.size()) {
    reporterror("there is no motif %lu", static_cast<unsigned long>(motif));
    return nullptr;
  }
  if (strand == SCAN_STRAND_REVERSE) {
    if (!motifs.library->hasreverse) {
      reporterror("the sequences' alphabet has no reverse complementary strand");
      return nullptr;
    }
    return motifs.library->reverseprofiles[motif];
  }
  return motifs.library->profiles[motif];
}

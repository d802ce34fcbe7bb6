// The sequences of a scan: a sequence file or an index opened as zelkosearch opens its
// database, or sequences given in memory and parsed as Fasta text; their names, lengths and
// letter frequencies.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include <cstdlib>
#include <cstring>

#include "base/error.hpp"
#include "base/genfile.hpp"
#include "base/output.hpp"
#include "base/readgzip.hpp"
#include "report/reports.hpp"
#include "scan/scaninternal.hpp"
#include "sequences/inputseq.hpp"
#include "sequences/parsemultiform.hpp"
#include "statistics/freqfileparser.hpp"
#include "table/tabsrecord.hpp"

namespace {

bool isindexname(const std::string &name) {
  char *projectfile = addsuffix(name.c_str(), "prj");
  const bool exists = fileexists(projectfile);
  std::free(projectfile);
  return exists;
}

// The in-memory Fasta text parsed into the database, as a sequence file would be.
int loadpending(ScanSequences *sequences, ScanDatabase *database) {
  if (sequences->pending.empty()) return reporterror("no sequences were given");
  const uint64_t length = sequences->pending.size();
  // The Multiseq takes the buffer over as its coded sequence and frees it.
  unsigned char *buffer = allocorexit<unsigned char>(nullptr, length);
  std::memcpy(buffer, sequences->pending.data(), length);
  Multiseq *multiseq = &database->tree.multiseq;
  const bool accepted = emptysequencesaccepted();
  setemptysequencesaccepted(true);
  const int parsed = parsefasta(&database->tree.alpha, multiseq, "(memory)", buffer, length);
  setemptysequencesaccepted(accepted);
  if (parsed != 0) {
    freemultiseq(multiseq);
    return reporterror("%s", errormessageorunknown());
  }
  if (multiseq->totallength == 0) {
    freemultiseq(multiseq);
    return reporterror("input sequences are all empty");
  }
  database->tree.filebuffer = multiseq->sequence;
  return 0;
}

// A sequence file (no index) read as zelkosearch reads one, but for a protein alphabet that
// takes lower-case letters too and empty records kept as sequences of length 0. The
// messages name the file.
int readfile(ScanDatabase *database, bool protein, uint64_t jobs, bool *ret_embl) {
  Virtualtree *tree = &database->tree;
  *tree = Virtualtree{};
  if (protein) {
    proteinalphabetanycase(&tree->alpha);
  } else {
    dnaalphabet(&tree->alpha);
  }
  const char *name = database->name.c_str();
  tree->filename = name;
  const bool accepted = emptysequencesaccepted();
  setemptysequencesaccepted(true);
  const int read = readsequencefile(&tree->multiseq, name, &tree->alpha, false, jobs);
  setemptysequencesaccepted(accepted);
  if (read != 0) {
    freemultiseq(&tree->multiseq);
    std::string message = errormessageorunknown();
    if (gzipendedearly()) {
      return reporterror("file `%s' is truncated or corrupt: its gzip data ends early", name);
    }
    // GenBank and EMBL messages name neither the file nor the key's line.
    std::string text;
    for (const char c : message) {
      if (c != '\n') text.push_back(c);
    }
    if (text.find(database->name) == std::string::npos) {
      return reporterror("file `%s': %s", name, text.c_str());
    }
    return reporterror("%s", text.c_str());
  }
  tree->filebuffer = tree->multiseq.sequence;
  *ret_embl = lastconvertedformat() == SOURCE_EMBL;
  return 0;
}

// Names and lengths of the loaded sequences.
void describe(ScanSequences *sequences, bool embl) {
  const Multiseq *multiseq = &sequences->database->tree.multiseq;
  sequences->count = multiseq->numofsequences;
  sequences->totallength = multiseq->totallength;
  sequences->names.resize(sequences->count);
  sequences->lengths.resize(sequences->count);
  sequences->residues = 0;
  std::string description;
  for (uint64_t i = 0; i < sequences->count; i++) {
    const uint64_t start = i == 0 ? 0 : multiseq->separatorpositions[i - 1] + 1;
    const uint64_t end = i + 1 < multiseq->numofsequences ? multiseq->separatorpositions[i]
                                                          : multiseq->totallength;
    sequences->lengths[i] = end - start;
    sequences->residues += end - start;
    description.clear();
    if (multiseq->descoffsets != nullptr) {
      appenddescription(description, multiseq->desctext + multiseq->descoffsets[i],
                        multiseq->descoffsets[i + 1] - multiseq->descoffsets[i]);
    }
    // A sequence whose header gives no name is named by its number, as in zelkotable.
    std::string_view name = sequencename(description);
    // An EMBL ID line ends its name with `;' ("ID   J01636; SV 1; ...").
    if (embl && name.size() > 1 && name.back() == ';') name.remove_suffix(1);
    sequences->names[i] = name.empty() ? std::to_string(i) : std::string(name);
  }
}

// One warning for every record without letters: it keeps its number and has no windows.
void warnempty(const ScanSequences &sequences) {
  if (sequences.isindex) return;
  const std::string file = sequences.path.empty() ? "(memory)" : sequences.path;
  for (uint64_t i = 0; i < sequences.count; i++) {
    if (sequences.lengths[i] != 0) continue;
    printwarning("sequence `%s' (number %lu) of `%s' holds no letters and is skipped.\n",
                 sequences.names[i].c_str(), static_cast<unsigned long>(i), file.c_str());
  }
}

}  // namespace

int scan_addsequence(ScanSequences *sequences, std::string_view name,
                     std::string_view residues) {
  ScanCall call;
  if (sequences->loaded) {
    return call.finish(reporterror("sequences cannot be added after they were loaded"));
  }
  if (name.find_first_of("\n\r") != std::string_view::npos) {
    return call.finish(reporterror("a sequence name must be one line"));
  }
  const size_t bad = residues.find_first_of("\n\r>");
  if (bad != std::string_view::npos) {
    return call.finish(reporterror("sequence `%.*s' holds a line break or `>'",
                                   static_cast<int>(name.size()), name.data()));
  }
  std::string &text = sequences->pending;
  text.reserve(text.size() + name.size() + residues.size() + 3);
  text.push_back('>');
  text.append(name);
  text.push_back('\n');
  text.append(residues);
  text.push_back('\n');
  return call.finish(0);
}

int scanloadsequences(ScanSequences *sequences, ScanAlphabet alphabet, uint64_t jobs) {
  if (sequences->loaded) return 0;
  ScanDatabase *database = new ScanDatabase;
  int result = 0;
  bool embl = false;
  if (!sequences->path.empty()) {
    database->name = sequences->path;
    if (access(database->name.c_str(), R_OK) != 0 && !isindexname(database->name)) {
      const int error = errno;
      delete database;
      return reporterror("cannot open `%s': %s", sequences->path.c_str(), std::strerror(error));
    }
    database->isindex = isindexname(database->name);
    struct stat folder;
    if (!database->isindex && stat(database->name.c_str(), &folder) == 0 &&
        S_ISDIR(folder.st_mode)) {
      delete database;
      return reporterror("`%s' is a directory, not a sequence file", sequences->path.c_str());
    }
    // An index brings its alphabet and the tables of the index engine.
    const bool protein = !database->isindex && alphabet == SCAN_ALPHABET_PROTEIN;
    const bool dna = !database->isindex && !protein;
    uint32_t demand = TISTAB | DESTAB;
    if (database->isindex) demand |= SUFTAB | LCPTAB | SKPTAB;
    bool isindex = false;
    if (database->isindex) {
      result = selectinputsequence(database->name.c_str(), nullptr, protein, dna, demand,
                                   &database->tree, &isindex, jobs);
    } else {
      result = readfile(database, protein, jobs, &embl);
    }
    database->isindex = isindex;
    if (result == 0 && database->tree.multiseq.sequence == nullptr &&
        database->tree.multiseq.totallength > 0) {
      releaseinputsequence(&database->tree, isindex);
      result = reporterror("Failed to map the sequence data of index `%s'.",
                           database->name.c_str());
    }
    struct stat status;
    if (result == 0 && stat(database->name.c_str(), &status) == 0) {
      sequences->filebytes = static_cast<uint64_t>(status.st_size);
    }
  } else {
    if (alphabet == SCAN_ALPHABET_PROTEIN) {
      proteinalphabetanycase(&database->tree.alpha);
    } else {
      dnaalphabet(&database->tree.alpha);
    }
    result = loadpending(sequences, database);
  }
  if (result != 0) {
    delete database;
    return -1;
  }
  sequences->database = database;
  sequences->loaded = true;
  sequences->isindex = database->isindex;
  // The alphabet as the statistics and the strands see it: DNA when a, c, g and t have codes
  // of their own.
  const Alphabet *alpha = &database->tree.alpha;
  bool nucleotides = true;
  for (const char letter : {'a', 'c', 'g', 't'}) {
    if (alpha->symbolmap[static_cast<unsigned char>(letter)] >= alpha->mapsize - 1) {
      nucleotides = false;
    }
  }
  sequences->alphabet = database->isindex ? (nucleotides ? SCAN_ALPHABET_DNA : SCAN_ALPHABET_PROTEIN)
                                          : (alphabet == SCAN_ALPHABET_PROTEIN
                                                 ? SCAN_ALPHABET_PROTEIN
                                                 : SCAN_ALPHABET_DNA);
  describe(sequences, embl);
  warnempty(*sequences);
  return 0;
}

int scan_loadsequences(ScanSequences *sequences, ScanAlphabet alphabet) {
  ScanCall call;
  return call.finish(scanloadsequences(sequences, alphabet));
}

void scan_freesequences(ScanSequences *sequences) {
  ScanCall call;
  if (sequences->database != nullptr) {
    releaseinputsequence(&sequences->database->tree, sequences->database->isindex);
    delete sequences->database;
    sequences->database = nullptr;
  }
  sequences->loaded = false;
  sequences->names.clear();
  sequences->lengths.clear();
  sequences->offsets.clear();
  sequences->regions.clear();
  sequences->pending.clear();
  call.finish(0);
}

int scancountbackground(const ScanSequences &sequences, std::vector<double> *frequencies) {
  if (!sequences.loaded) return reporterror("the sequences are not loaded");
  const Virtualtree *tree = &sequences.database->tree;
  const Multiseq *multiseq = &tree->multiseq;
  // Four tables, so that runs of one letter do not wait on one counter.
  std::vector<uint64_t> counts(4 * 256, 0);
  const unsigned char *symbols = multiseq->sequence;
  const uint64_t length = multiseq->totallength;
  uint64_t i = 0;
  for (; i + 4 <= length; i += 4) {
    counts[symbols[i]]++;
    counts[256 + symbols[i + 1]]++;
    counts[512 + symbols[i + 2]]++;
    counts[768 + symbols[i + 3]]++;
  }
  for (; i < length; i++) counts[symbols[i]]++;
  const uint64_t regular = tree->alpha.mapsize - 1;  // the last code is the wildcard's
  uint64_t total = 0;
  for (uint64_t code = 0; code < regular; code++) {
    for (int table = 1; table < 4; table++) counts[code] += counts[table * 256 + code];
    total += counts[code];
  }
  if (total == 0) return reporterror("the sequences hold no letter of their alphabet");
  frequencies->assign(tree->alpha.mapsize, 0.0);
  for (uint64_t code = 0; code < regular; code++) {
    (*frequencies)[code] = static_cast<double>(counts[code]) / static_cast<double>(total);
  }
  return 0;
}

int scan_countbackground(const ScanSequences &sequences, std::vector<double> *frequencies) {
  ScanCall call;
  return call.finish(scancountbackground(sequences, frequencies));
}

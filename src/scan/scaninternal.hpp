// What the units of the scan library share: the opaque records behind ScanMotifs and
// ScanSequences, and the guard every entry point holds.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "base/error.hpp"
#include "base/output.hpp"

#include "model/distribution.hpp"
#include "model/profile.hpp"
#include "motifconv/motif.hpp"
#include "scan/scan.hpp"
#include "sequences/virtualtree.hpp"
#include "table/tablewriters.hpp"

// One motif file as read: the count matrices of a motif file, or the text of a profile
// library.
struct ScanSource {
  std::string path;
  bool library = false;
  std::vector<Motif> counts;
  std::string text;
};

struct ScanLibrary {
  std::vector<ScanSource> sources;
  // After preparation: the profiles laid out for the sequence alphabet, one collection per
  // source, and one Profile per motif in motif order.
  bool prepared = false;
  Alphabet alphabet{};              // the collections borrow it
  std::vector<double> frequencies;  // one per symbol code of alphabet
  std::vector<ProfileCollection> collections;
  std::vector<Profile *> profiles;
  // For an alphabet with complements (DNA): the reverse complementary matrix of every motif,
  // in motif order. The - strand is searched as this matrix over the forward text, whose
  // letters follow the background; so its threshold and distribution, its own under that
  // background, are the motif's under the complemented background, as the - strand reads it.
  bool hasreverse = false;
  ProfileCollection reversecollection{};
  std::vector<Profile *> reverseprofiles;
  // Complete distributions for scan_pvalue, computed on first need (size 0 until then): one
  // per motif and strand.
  std::vector<ScoreDistribution> complete;
  std::vector<ScoreDistribution> reversecomplete;
};

struct ScanDatabase {
  Virtualtree tree{};
  bool isindex = false;
  std::string name;  // tree.filename points into it
  // After a scan of both strands: the letters of the - strand's matched texts.
  bool complemented = false;
  unsigned char complementcharacters[256] = {};
};

// Held by every entry point for the whole call: gives the call (its thread, and the threads
// it starts) an ErrorBuffer and output switches of its own, so that calls of several threads
// run at once; sends the core's warnings to a list (never to a callback from inside the
// work), and at the end hands them to the caller's handler or standard error on the calling
// thread and keeps the message of a failure for scan_errormessage (and in the caller's
// ErrorBuffer).
class ScanCall {
 public:
  explicit ScanCall(bool warnings = true, ScanWarningFunction handler = nullptr,
                    void *context = nullptr);
  ~ScanCall();
  ScanCall(const ScanCall &) = delete;
  ScanCall &operator=(const ScanCall &) = delete;
  // The result of the call: -1 keeps the ErrorBuffer's message; the error code is cleared.
  int finish(int result);
  // Warnings collected so far go out now (between phases of a call, on the calling thread).
  void deliverwarnings();

 private:
  std::vector<std::string> warnings_;
  ScanWarningFunction handler_;
  void *context_;
  ErrorBuffer errors_;
  OutputSwitches output_;
  ErrorBuffer *outerrors_ = nullptr;
  OutputSwitches *outeroutput_ = nullptr;
  std::string lastfailure_;
  static void collect(const char *text, void *call);
};

// The internal steps behind the entry points (the caller holds a ScanCall).
// A sequence file is read by up to jobs threads.
int scanloadsequences(ScanSequences *sequences, ScanAlphabet alphabet, uint64_t jobs = 1);
int scancountbackground(const ScanSequences &sequences, std::vector<double> *frequencies);
// counted: for a SCAN_BACKGROUND_SEQUENCES background, frequencies counted elsewhere (one per
// symbol code of the sequences' alphabet, as scancountbackground gives them) in place of the
// sequences' own, as from a genome too large to load; null counts the sequences.
int scanpreparemotifs(ScanMotifs *motifs, const ScanSequences &sequences,
                      const ScanBackground &background, double pseudocount,
                      const std::vector<double> *counted = nullptr);
// The Profile of a prepared motif on a strand, or null with a message (the reverse strand
// of an alphabet without complements is refused).
Profile *scanprofile(const ScanMotifs &motifs, uint64_t motif,
                     ScanStrand strand = SCAN_STRAND_FORWARD);
// The integer weights of a prepared motif's strand (the reverse complementary matrix for the
// - strand) over the letters given, row by row, SCAN_NOSCORE where the motif forbids a
// letter (or the alphabet has none of that name); and the strand's highest score.
int scanstrandweights(const ScanMotifs &motifs, uint64_t motif, ScanStrand strand,
                      std::string_view letters, std::vector<int64_t> *weights,
                      int64_t *ret_maxscore);
// scan_threshold and scan_pvalue within a call. The p-value of a score computes the motif's
// complete distribution of the strand on first need and keeps it: calls from several threads
// at once must each have had that done first (for any score of the same motif and strand).
int scanthreshold(const ScanMotifs &motifs, uint64_t motif, double pvalue, ScanStrand strand,
                  int64_t *ret_threshold);
int scanpvalue(const ScanMotifs &motifs, uint64_t motif, int64_t score, ScanStrand strand,
               double *ret_pvalue);
// The exact p-values of a motif's strand from its best score down to some score: the entries
// of the exact distribution (the complete one's, bit for bit) from the best score down. A
// complete distribution needs an entry for every thousandth of a weight unit between the
// lowest and the highest score; this holds only the part in use.
struct ScanTail {
  ScoreDistribution distribution{};
  ScanTail() = default;
  ScanTail(const ScanTail &) = delete;
  ScanTail &operator=(const ScanTail &) = delete;
  ~ScanTail();
};
// The table of the strand down to score lowest at least, or, when it deepens previous (a
// table of the same strand), to twice the depth of previous at least: 0, or -1.
int scantailcompute(const ScanMotifs &motifs, uint64_t motif, ScanStrand strand,
                    int64_t lowest, const ScanTail *previous, ScanTail *out);
// The p-value of a score as scan_pvalue gives it (0 above the best score), when the table
// reaches the score: read only, no failure.
inline bool scantaillookup(const ScanTail &tail, int64_t score, double *ret_pvalue) {
  const ScoreDistribution &table = tail.distribution;
  const int64_t total = table.offset + score;
  if (table.size == 0 || total < table.minimum) return false;
  *ret_pvalue = total > table.maximum ? 0.0 : table.tail[total - table.minimum];
  return true;
}
// Where that p-value lies, to be fetched ahead (null when the table does not reach it).
inline const void *scantailplace(const ScanTail &tail, int64_t score) {
  const ScoreDistribution &table = tail.distribution;
  const int64_t total = table.offset + score;
  if (table.size == 0 || total < table.minimum || total > table.maximum) return nullptr;
  return table.tail + (total - table.minimum);
}
// The motifs' names where a table has one column for them (BED, GFF3): the accession and the
// name joined by `_' ("MA0071.1_RORA"; the name alone without an accession), blanks as `_',
// a name still taken followed by `_2', `_3', ... in motif order.
std::vector<std::string> scanuniquenames(const ScanMotifs &motifs);
// Frees the collections and distributions of a library (not its sources).
void scanunprepare(ScanLibrary *library);
// The strand code of a strand bit, as the tabs report writes it: "fn", "rn", "fc", "rc".
const char *scanstrandcode(unsigned char strand);

// Match columns that follow from a row.
double scanmss(const ScanMotif &motif, int64_t score);
// The matched text of a row into text, scratch holding the letters on the way (both keep
// their room for the next row).
void scanrowtext(const ScanMotifs &motifs, const ScanSequences &sequences, const ScanRow &row,
                 std::string *scratch, std::string *text);
// Asks for the letters of a row's text to be brought near ahead of scanrowtext: the texts of
// rows in a table's order lie all over the sequences.
void scanprefetchtext(const ScanSequences &sequences, const ScanRow &row);

// The texts of a row's numbers that follow from its motif, strand and score.
struct RowNumbers {
  std::string_view score, pvalue, evalue, mss, qvalue;
};

// Rows of a table written one by one, into a block flushed to the stream when full: the
// writer of scan_writetsv and the other tables, and of scan_runtable.
class TableRowWriter {
 public:
  TableRowWriter(const ScanMotifs &motifs, const ScanSequences &sequences,
                 const ScanRunInfo &run, const std::vector<ScanMotifSummary> &summaries,
                 ScanTableFormat format, FILE *stream);
  ~TableRowWriter();
  TableRowWriter(const TableRowWriter &) = delete;
  TableRowWriter &operator=(const TableRowWriter &) = delete;
  // text: the matched text (scanrowtext); numbers: the texts of its numbers, or null to
  // have them formatted here.
  void row(const ScanRow &row, std::string_view text, const RowNumbers *numbers = nullptr);
  // Formats those numbers of a row into texts that last until the next call.
  void numbers(const ScanRow &row, RowNumbers *out);
  // The rest of the block written and the stream flushed: 0, or -1 with the message.
  int finish();

 private:
  struct Numbers;
  const ScanMotifs &motifs_;
  const ScanSequences &sequences_;
  const ScanRunInfo &run_;
  const std::vector<ScanMotifSummary> &summaries_;
  std::unique_ptr<Numbers> numbers_;
  TableSettings settings_;
  std::vector<std::string> names_;
  bool regions_ = false;
  OutputBuffer out_;
};

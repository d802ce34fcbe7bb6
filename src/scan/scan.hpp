// The scan library: motif files (or a profile library) and sequences in, every window whose
// score reaches a p-value cutoff out, with exact p-values, E-values and per-motif q-values,
// collected into column vectors and written as TSV, BED or GFF3. `zelko scan`, the Python
// module and the HTML report all call it; it runs the same readers, parser, threshold
// derivation, engines and table writers as motifconv, zelkosearch and zelkotable.
//
// How a scan goes (scan_run does steps 3 to 6 itself when they have not been done):
//   1. scan_readmotifs: the count matrices and profile libraries, as read.
//   2. scan_addsequence (in-memory input) or ScanSequences::path (a file or an index).
//   3. scan_loadsequences: the sequences coded with the DNA or protein alphabet (or the
//      index's own alphabet).
//   4. scan_preparemotifs: the background (counted from the sequences, uniform, or a
//      frequency file), log-odds weights with the pseudocount, times 1000 and rounded to
//      integers, laid out for the sequence alphabet. A FLOAT library is scaled the same way,
//      but for matrices whose weights are all whole numbers, taken as they are.
//      Every threshold and p-value is then exact to a thousandth of a weight unit.
//   5. scan_run: thresholds from the p-value cutoff through the exact lazy distribution,
//      the search of both strands (DNA) with the lookahead engine (the index engine for an
//      index) in per-call threads, q-values, filtering, sorting and the per-motif summaries.
//   6. scan_writetsv / scan_writebed / scan_writegff3.
//
// Conventions: plain records and free functions. Functions return 0, or -1 after a failure
// whose message is in scan_errormessage() for the calling thread (and in the ErrorBuffer the
// calling thread reports into). Nothing is printed except through the callbacks
// and streams a caller passes (warnings without a callback go to standard error; a profile
// library with a format error also shows its line on standard error). The library never
// exits, except where the core does (an allocation failure).
//
// Threads: scan_run starts its own worker threads for the one call and joins them before it
// returns; the caller's thread only waits, calls the progress callback and watches the
// cancellation flag. Every call has its own message buffer and warning switches (and passes
// them to the threads it starts), so calls from several threads run at once, each on its own
// records: a caller may release its interpreter lock around any call, but must not let two
// calls at once work on the same ScanMotifs or ScanSequences. No callback is ever called from
// a worker thread or from inside a search loop.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

// ---- Motifs ------------------------------------------------------------------------------

// Input formats of motif files. AUTO detects each file: a profile library (first line that
// is no comment is `BEGIN GROUP'), MEME, JASPAR or TRANSFAC-style counts.
enum ScanFormat { SCAN_FORMAT_AUTO, SCAN_FORMAT_JASPAR, SCAN_FORMAT_TRANSFAC, SCAN_FORMAT_MEME,
                  SCAN_FORMAT_LIBRARY };

// Which alphabet the sequences are coded with. AUTO: DNA when the letters of every motif are
// nucleotides (A, C, G, T/U in either case), protein otherwise. An index brings its own.
enum ScanAlphabet { SCAN_ALPHABET_AUTO, SCAN_ALPHABET_DNA, SCAN_ALPHABET_PROTEIN };

// Integer weights are the log-odds weights (natural logarithm) times this factor, rounded
// half away from zero: the same as motifconv -scale 1000.
constexpr double SCAN_SCALE = 1000.0;

struct ScanLibrary;  // opaque: the profiles laid out for the sequence alphabet

// One motif. Fields up to counts are filled by scan_readmotifs; weights and the score range
// by scan_preparemotifs.
struct ScanMotif {
  std::string id;           // identifier (ID of the library; the name in JASPAR/MEME/TRANSFAC)
  std::string accession;    // empty when the source has none
  std::string description;  // DE text: the source file's base name and the accession
  std::string letters;      // column letters of counts and weights, in the source's order
  uint64_t length = 0;      // positions (matrix rows)
  std::vector<double> counts;  // length x letters, row by row; empty for library matrices
  std::string sourcefile;   // the file as named by the caller
  uint64_t sourceline = 0;  // line of the file where the motif starts
  // After scan_preparemotifs:
  std::vector<int64_t> weights;  // length x letters, row by row, x1000
  int64_t minscore = 0;          // smallest and largest window score
  int64_t maxscore = 0;
};

struct ScanMotifs {
  std::vector<ScanMotif> motifs;  // in file order, files in the order given
  ScanAlphabet alphabet = SCAN_ALPHABET_DNA;  // what the motifs' letters need
  uint64_t skipped = 0;  // motifs of count files that could not be read (warned about)
  // After scan_preparemotifs: the background the weights and statistics rest on, one
  // frequency per regular letter of the sequence alphabet (lower case for DNA).
  std::string backgroundletters;
  std::vector<double> backgroundfrequencies;
  std::string backgroundsource;  // "sequences", "uniform", "given" or the frequency file's name
  double pseudocount = 1.0;
  ScanLibrary *library = nullptr;  // owned; scan_freemotifs releases it
};

// Reads every motif of the files (plain or gzip) into *out (appended). Count matrices that
// cannot be read are skipped with a warning (counted in out->skipped); a file that cannot be
// opened or whose layout is not the format's fails, naming the file (and line). A profile
// library that does not parse fails with its line. No motif at all fails too.
int scan_readmotifs(const std::vector<std::string> &paths, ScanFormat format,
                    ScanMotifs *out);
void scan_freemotifs(ScanMotifs *motifs);

// ---- Sequences ---------------------------------------------------------------------------

struct ScanDatabase;  // opaque: the coded sequences (and an index's tables)

struct ScanSequences {
  std::string path;  // a Fasta, GenBank or EMBL file (plain or gzip) or an index; empty for
                     // sequences given with scan_addsequence
  std::string pending;  // in-memory input as Fasta text, built by scan_addsequence
  // Filled by scan_loadsequences:
  bool loaded = false;
  bool isindex = false;
  ScanAlphabet alphabet = SCAN_ALPHABET_DNA;
  uint64_t count = 0;         // sequences
  uint64_t residues = 0;      // letters over all sequences, separators not counted
  uint64_t totallength = 0;   // coded positions, separators included (the E-value's size)
  uint64_t filebytes = 0;     // size of the input file on disk, 0 in memory
  std::vector<std::string> names;  // first word of each header, or the sequence number
  std::vector<uint64_t> lengths;   // letters of each sequence
  // Sequences that are regions of a genome (scan_addregions): each one's first letter in
  // its genome sequence, from 0, and the names of the regions merged into it (the BED
  // file's fourth column, joined by `,'; empty without names). Empty otherwise. The tables
  // then give genome coordinates, and TSV a last column `region'.
  std::vector<uint64_t> offsets;
  std::vector<std::string> regions;
  ScanDatabase *database = nullptr;  // owned; scan_freesequences releases it
};

// Appends one in-memory sequence: name is its header line (first word = name), residues its
// letters (blanks are dropped; a newline, carriage return or `>' is refused).
int scan_addsequence(ScanSequences *sequences, std::string_view name,
                     std::string_view residues);
// Appends the regions of a BED file (plain or gzip; 0-based, half-open; a header, `track'
// and `browser' lines and `#' comments are skipped) of a Fasta genome (plain or bgzip, read
// through its .fai and .gzi index, made when missing), as in-memory sequences named after
// their genome sequence, with their offsets and region names. Regions that overlap or
// touch are merged into one; the sequences follow the genome's order and their starts.
// A line that is no BED interval, a sequence the genome lacks or a region beyond its end
// fails, naming the file and line.
int scan_addregions(ScanSequences *sequences, const std::string &genome,
                    const std::string &bedfile);
// Loads the path or the in-memory sequences coded with the alphabet (AUTO is taken as DNA
// here; scan_run decides it from the motifs). An index ignores the alphabet. A letter
// outside the alphabet fails with its file and line.
int scan_loadsequences(ScanSequences *sequences, ScanAlphabet alphabet);
void scan_freesequences(ScanSequences *sequences);

// ---- Background and motif preparation -----------------------------------------------------

enum ScanBackgroundKind {
  SCAN_BACKGROUND_SEQUENCES,  // order-0 letter frequencies of the loaded sequences
  SCAN_BACKGROUND_UNIFORM,
  SCAN_BACKGROUND_FILE,       // a frequency file (lines "a 0.3", as zelkosearch -freq reads)
  SCAN_BACKGROUND_GIVEN       // letters and frequencies given by the caller, read as the
                              // lines of a frequency file would be
};
struct ScanBackground {
  ScanBackgroundKind kind = SCAN_BACKGROUND_SEQUENCES;
  std::string filename;  // SCAN_BACKGROUND_FILE only
  std::string letters;   // SCAN_BACKGROUND_GIVEN: one letter per frequency
  std::vector<double> frequencies;
};

// The order-0 frequencies of the regular letters of the loaded sequences: count / total over
// letters of the alphabet (wildcards and other special codes are not counted). One entry per
// symbol code of the alphabet, the wildcard's (last) entry 0.
int scan_countbackground(const ScanSequences &sequences, std::vector<double> *frequencies);

// Turns the motifs into integer weights for the loaded sequences' alphabet: count matrices
// through log-odds weights with the background and the pseudocount, times 1000; library
// matrices as they are (INT) or times 1000 (FLOAT). Builds the profiles the search uses and
// fills every motif's weights and score range and the background fields.
int scan_preparemotifs(ScanMotifs *motifs, const ScanSequences &sequences,
                       const ScanBackground &background, double pseudocount);

// ---- Statistics of single motifs (prepared motifs; the code the search uses) --------------

// The strand a window is read on. The background describes the forward strand; a window of
// the reverse complementary strand reads the complements of its letters, which follow the
// complemented frequencies (a .45, t .10 on the forward strand make t .45, a .10 there), so
// each strand has its own score distribution, threshold and p-values. Protein and other
// alphabets without complements have the forward strand only.
enum ScanStrand { SCAN_STRAND_FORWARD, SCAN_STRAND_REVERSE };

// The smallest integer score whose exact p-value on the strand does not exceed pvalue.
int scan_threshold(const ScanMotifs &motifs, uint64_t motif, double pvalue,
                   int64_t *ret_threshold, ScanStrand strand = SCAN_STRAND_FORWARD);
// The exact p-value of an integer score (probability that a random window of the strand
// scores at least score under the background): 0 above the motif's highest score.
int scan_pvalue(const ScanMotifs &motifs, uint64_t motif, int64_t score, double *ret_pvalue,
                ScanStrand strand = SCAN_STRAND_FORWARD);
// The score of every window of sequence (letters; coded with the sequences' alphabet) on the
// forward strand and, for DNA, the reverse complementary strand (reverse is then filled, its
// entry i being the window at the same position i read on the other strand). A window that
// holds a letter the motif forbids, or a wildcard, scores SCAN_NOSCORE.
constexpr int64_t SCAN_NOSCORE = INT64_MIN;
int scan_scorewindows(const ScanMotifs &motifs, uint64_t motif, std::string_view sequence,
                      std::vector<int64_t> *forward, std::vector<int64_t> *reverse);

// ---- The scan ----------------------------------------------------------------------------

enum ScanStrands { SCAN_STRANDS_BOTH, SCAN_STRANDS_FORWARD };
enum ScanSort {
  SCAN_SORT_POSITION,  // motif (file order), sequence, start, strand (+ before -)
  SCAN_SORT_PVALUE,    // p-value ascending, then as SCAN_SORT_POSITION
  SCAN_SORT_GENOME     // sequence (file order), start, stop, motif (file order), strand:
                       // each sequence's rows together by start, as tabix reads them
};

// What the caller sees while scan_run works, on its own thread, at most every interval.
struct ScanProgress {
  uint64_t worktotal = 0;  // letters x motifs x strands to scan
  uint64_t workdone = 0;
  uint64_t hits = 0;       // matches found so far (before the q-value filter)
  double elapsed = 0.0;    // seconds since the search began
};
// Returns 0 to go on, non-zero to stop the scan as the cancellation flag does.
using ScanProgressFunction = int (*)(const ScanProgress &progress, void *context);
// Receives each warning ("WARNING: " and its text, with its newline).
using ScanWarningFunction = void (*)(const char *text, void *context);

// Per-motif histograms computed with the summaries, for the HTML report.
struct ScanHistogramRequest {
  bool enabled = false;
  uint64_t binwidth = 50;  // letters per position bin
  bool centred = false;    // positions relative to the sequence's centre, not its start
  uint64_t scorebins = 20; // bins from the threshold to the maximum score
};

struct ScanOptions {
  double pvalue = 1e-4;       // p-value cutoff: only windows at or below it are computed
  bool useqvalue = false;     // keep only the matches with q-value <= qvalue
  double qvalue = 0.05;
  ScanStrands strands = SCAN_STRANDS_BOTH;  // protein sequences: forward only
  ScanBackground background;
  double pseudocount = 1.0;
  ScanAlphabet alphabet = SCAN_ALPHABET_AUTO;
  uint64_t threads = 0;       // worker threads; 0: the available cores
  ScanSort sort = SCAN_SORT_POSITION;
  bool matchedtext = true;    // the matched texts are wanted (scan_hittext)
  std::atomic<bool> *cancel = nullptr;  // set (by any thread) to stop: scan_run fails with
                                        // "scan cancelled" after the work units in hand
  ScanProgressFunction progress = nullptr;
  void *progresscontext = nullptr;
  double progressinterval = 0.25;  // seconds
  ScanWarningFunction warning = nullptr;  // null: warnings go to standard error
  void *warningcontext = nullptr;
  bool warnings = true;       // false: no warnings at all
  ScanHistogramRequest histogram;
};

// The matches as column vectors, one entry per match, in the order asked for: 45 bytes a
// match. The motif and sequence columns hold indices into ScanMotifs::motifs and
// ScanSequences::names. The other columns of the TSV zelko scan writes (zelkotable's TSV,
// then q_value) follow from these, the motifs and the sequences: scan_hitstop,
// scan_hitevalue, scan_hitmss and scan_hittext below.
struct ScanHits {
  std::vector<uint32_t> motif;
  std::vector<uint64_t> sequence;
  std::vector<uint64_t> start;   // 1-based, first letter of the window
  std::vector<char> strand;      // '+' or '-' (reverse complementary)
  std::vector<int64_t> score;    // x1000 units
  std::vector<double> pvalue;
  std::vector<double> qvalue;
  // Only after scan_keeptexts: the matched texts, match i's text[textoffset[i] ..
  // textoffset[i + 1]).
  std::string text;
  std::vector<uint64_t> textoffset;
};
inline uint64_t scan_hitcount(const ScanHits &hits) { return hits.motif.size(); }

struct ScanMotifSummary {
  int64_t threshold = 0;    // forward strand, x1000 units; above maxscore when the cutoff
                            // cannot be met
  bool reachable = false;   // the motif can score its threshold at all
  // The same for the reverse complementary strand, under the complemented background (equal
  // to the forward strand's under a background that complementing leaves as it is).
  int64_t reversethreshold = 0;
  bool reversereachable = false;
  uint64_t windows = 0;     // N of the q-values: windows of every sequence the motif fits in,
                            // times the strands searched
  uint64_t hits = 0;        // matches reported (after the q-value filter)
  uint64_t sequenceswithhit = 0;
  // With a histogram request: hit centres binned per strand. Bin b holds the positions
  // binorigin + b * binwidth .. + binwidth - 1 (0-based from the sequence start, or from the
  // centre, length / 2, when centred). The bins are those of scan_positionlayout and
  // scan_positionbin over the longest sequence (see "Histogram bins" below).
  int64_t binorigin = 0;
  std::vector<uint64_t> forwardbins;
  std::vector<uint64_t> reversebins;
  // Scores from scorelow in scorebins.size() bins of scorebinwidth (the last one closed):
  // scan_scorelayout up to the motif's highest score, and scan_scorebin.
  int64_t scorelow = 0;
  double scorebinwidth = 0.0;
  std::vector<uint64_t> scorebins;
};

// The memory of a run: its sequences, and its matches between search and table.
struct ScanMemory {
  uint64_t sequences = 0;  // bytes of the coded sequences and their names
  uint64_t matches = 0;    // the most bytes of matches held at once (32 a match, and the
                           // search's own lists of the positions it found)
  uint64_t runs = 0;       // sorted runs written to temporary files (a streamed table)
  uint64_t spilled = 0;    // their bytes
};

// What the run was, for a report's summary.
struct ScanRunInfo {
  std::vector<std::string> motiffiles;
  std::string sequencefile;  // empty in memory
  uint64_t motifs = 0;
  uint64_t sequences = 0;
  uint64_t residues = 0;
  uint64_t filebytes = 0;
  ScanOptions options;       // as used (threads resolved; callbacks and flag cleared)
  std::string backgroundsource;
  std::string backgroundletters;
  std::vector<double> backgroundfrequencies;
  uint64_t threadsused = 0;
  double elapsed = 0.0;      // seconds for the whole call
  bool isindex = false;
  uint64_t totallength = 0;  // the sequences' coded positions: the E-values' database size
  ScanMemory memory;
};

struct ScanResult {
  ScanHits hits;
  std::vector<ScanMotifSummary> motifs;  // one per motif of ScanMotifs
  ScanRunInfo run;
};

// The whole scan: loads the sequences (alphabet from the options, or from the motifs) and
// prepares the motifs when not done, derives every threshold from options.pvalue, searches,
// computes q-values (Benjamini-Hochberg per motif over its N windows: q_i = min over k >= i
// of p_(k) N / k, over the matches sorted by p-value, capped at 1; the matches above the
// p-value cutoff are not seen, so the q-values are those of the matches computed), keeps
// the matches with q <= options.qvalue when asked, sorts and fills the summaries. Results do
// not depend on the number of threads.
int scan_run(ScanMotifs *motifs, ScanSequences *sequences, const ScanOptions &options,
             ScanResult *out);

// ---- Streamed tables ---------------------------------------------------------------------

// One row of a table as scan_runtable writes it (the columns of ScanHits).
struct ScanRow {
  uint32_t motif = 0;
  uint64_t sequence = 0;
  uint64_t start = 0;  // 1-based
  char strand = '+';
  int64_t score = 0;
  double pvalue = 0.0;
  double qvalue = 0.0;
};
// Sees each row as it is written; non-zero stops the table (the call fails with the
// message the function left, or "scan cancelled").
using ScanRowFunction = int (*)(const ScanRow &row, void *context);

enum ScanTableFormat { SCAN_TABLE_TSV, SCAN_TABLE_BED, SCAN_TABLE_GFF3 };

constexpr uint64_t SCAN_DEFAULT_MEMORY = uint64_t{512} << 20;

struct ScanTableOutput {
  ScanTableFormat format = SCAN_TABLE_TSV;
  FILE *stream = nullptr;
  // Bytes of matches' records (32 bytes each) held in memory at most. Beyond it the records
  // go to temporary files in tmpdir as sorted runs, merged into the table at the end; the
  // files have no name from the start, so that nothing is left behind whatever ends the
  // process. (The search itself holds the positions it found in the parts in hand only.)
  uint64_t memory = SCAN_DEFAULT_MEMORY;
  std::string tmpdir;  // empty: $TMPDIR, else /tmp
  ScanRowFunction row = nullptr;  // called on the calling thread for every row written
  void *rowcontext = nullptr;
  // The motifs whose rows the table holds, one flag per motif of ScanMotifs; empty: every
  // motif. The others are searched all the same (a motif's q-values do not depend on
  // them), but their rows are left out and their summaries count no hits.
  std::vector<bool> keep;
};

// scan_run and the table in one, in memory bounded by output.memory whatever the number of
// matches: the rows go to output.stream as scan_writetsv, scan_writebed or scan_writegff3
// would write scan_run's result, byte for byte, for any memory and number of threads. out
// gets the summaries and the run (its hits stay empty); the q-values are exact, computed
// from every motif's counts of matches by score.
int scan_runtable(ScanMotifs *motifs, ScanSequences *sequences, const ScanOptions &options,
                  const ScanTableOutput &output, ScanResult *out);

// Match i of a result's hits as a row.
ScanRow scan_hitrow(const ScanHits &hits, size_t i);
// The matched text of a row (as scan_hittext), for a row function of scan_runtable.
void scan_rowtext(const ScanMotifs &motifs, const ScanSequences &sequences, const ScanRow &row,
                  std::string *text);

// ---- Derived columns of a match -----------------------------------------------------------

// 1-based, last letter of match i's window (closed).
uint64_t scan_hitstop(const ScanMotifs &motifs, const ScanHits &hits, size_t i);
// Its E-value: the p-value times the sequences' coded positions (separators included).
double scan_hitevalue(const ScanResult &result, size_t i);
// Its matrix similarity score, 0 .. 1: (score - lowest) / (highest - lowest) of the motif.
double scan_hitmss(const ScanMotifs &motifs, const ScanHits &hits, size_t i);
// Its matched text, in the motif's reading direction and upper case (the reverse complement
// on the - strand), taken from the sequences the scan searched (still loaded); empty without
// the sequences' letters (an index without its text) or when the scan was asked for none
// (ScanOptions::matchedtext). No lock, no failure.
void scan_hittext(const ScanResult &result, const ScanMotifs &motifs,
                  const ScanSequences &sequences, size_t i, std::string *text);
// Copies every matched text into the hits (ScanHits::text), for a caller that lets the
// sequences go (or prepares the motifs anew) before it writes the tables: scan_hittext then
// reads them from there. About the motif's length in bytes a match.
void scan_keeptexts(ScanResult *result, const ScanMotifs &motifs, const ScanSequences &sequences);

// ---- Histogram bins ----------------------------------------------------------------------

// The rules the summaries' histograms follow, for a caller that bins matches of its own (a
// report made from a table the scan wrote) and must get the scan's bins. Plain arithmetic:
// no lock, no failure.

// Position bins over sequences of up to longest letters: bin b holds the positions
// origin + b * width .. + width - 1, the last bin reaching the longest sequence's last
// position. Positions count from the sequence start (origin 0) or, centred, from its
// centre, length / 2: the origin is then the multiple of width at or below -(longest / 2).
// A width of 0 is taken as 1; there is always at least one bin.
struct ScanPositionLayout {
  int64_t origin = 0;
  int64_t width = 1;
  uint64_t count = 1;
};
ScanPositionLayout scan_positionlayout(uint64_t longest, uint64_t binwidth, bool centred);
// The position a match is counted at: the 0-based centre of its window (start 1-based,
// motiflength letters; of two middle letters the first), less sequencelength / 2 when
// centred (sequencelength is not read otherwise).
int64_t scan_hitposition(uint64_t start, uint64_t motiflength, uint64_t sequencelength,
                         bool centred);
// The bin of a position; one outside the bins counts in the first or the last.
uint64_t scan_positionbin(const ScanPositionLayout &layout, int64_t position);

// Score bins: count bins (at least 1) of one width from low to highest (the last bin
// closed). low is the threshold (the lower of the two strands' when both are searched), or
// the motif's lowest score when no threshold can be reached; a scan's highest is the motif's highest score (a highest below low is taken as
// low).
struct ScanScoreLayout {
  int64_t low = 0;
  double width = 1.0;
  uint64_t count = 1;
};
ScanScoreLayout scan_scorelayout(const ScanMotif &motif, bool reachable, int64_t threshold,
                                 int64_t highest, uint64_t count);
// The bin of a score; one outside the bins counts in the first or the last.
uint64_t scan_scorebin(const ScanScoreLayout &layout, int64_t score);

// ---- Tables ------------------------------------------------------------------------------

// Write the matches as zelkotable writes a report of them: TSV with a header row (its
// columns, then q_value), BED6, or GFF3 (with a qvalue attribute). 0, or -1 when the stream
// cannot be written.
int scan_writetsv(const ScanResult &result, const ScanMotifs &motifs,
                  const ScanSequences &sequences, FILE *stream);
int scan_writebed(const ScanResult &result, const ScanMotifs &motifs,
                  const ScanSequences &sequences, FILE *stream);
int scan_writegff3(const ScanResult &result, const ScanMotifs &motifs,
                   const ScanSequences &sequences, FILE *stream);

// ---- Miscellaneous -----------------------------------------------------------------------

// The message of the last failure of a scan function called from this thread.
const char *scan_errormessage();
// Where the warnings of the calls without ScanOptions go (scan_readmotifs, ...), and of
// scan_run when its options name no handler: handler (called on the calling thread at the
// end of the call), or standard error with a null handler.
void scan_setwarninghandler(ScanWarningFunction handler, void *context);
// Cores available to this process (at least 1, at most 128).
uint64_t scan_availablethreads();
// "Zelko 1.3" and the build date.
const char *scan_version();

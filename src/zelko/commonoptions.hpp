// The command line zelko's subcommands share: the options both zelko scan and zelko report
// take (what the scan was: p-value, strands, background, pseudocount, motif format, alphabet;
// the report's position bins; output, quiet, help, version), their usage errors, and the
// loop that reads them and hands every other option to the command.
#pragma once

#include <getopt.h>

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <string>
#include <vector>

#include "scan/scan.hpp"
#include "zelko/zelkofiles.hpp"

// What reading a command line ends in.
enum Outcome { OUTCOME_RUN, OUTCOME_HELP, OUTCOME_VERSION, OUTCOME_USAGE };

// The values of the shared options; the defaults are the scan's.
struct CommonOptions {
  const char *output = nullptr;  // -o, --output; null or "-": standard output
  double pvalue = 1e-4;          // -p, --pvalue
  bool forward = false;          // --forward
  ScanBackground background;     // -b, --background
  double pseudocount = 1.0;      // --pseudocount
  ScanFormat motifformat = SCAN_FORMAT_AUTO;
  ScanAlphabet alphabet = SCAN_ALPHABET_AUTO;  // --dna, --protein
  const char *alphabetoption = nullptr;        // the one given, for conflicts
  uint64_t binwidth = 0;  // --bin-width; 0: not given
  bool centred = false;   // --center
  bool quiet = false;     // -q, --quiet
};

// Codes of the long options without a short form: the shared ones, then a command's own
// from OPTION_OWN on.
enum OptionCode {
  OPTION_FORWARD = 256,
  OPTION_PSEUDOCOUNT,
  OPTION_MOTIFFORMAT,
  OPTION_DNA,
  OPTION_PROTEIN,
  OPTION_BINWIDTH,
  OPTION_CENTER,
  OPTION_OWN,
};

// One subcommand's command line: its name in messages ("zelko NAME: ...") and its options,
// the shared ones and its own.
struct CommandOptions {
  const char *command = "";
  std::vector<option> longoptions;  // ends with the null entry getopt_long wants
  std::string shortoptions;         // starts with ':' (a missing value is told apart)
};
CommandOptions commandoptions(const char *command, std::initializer_list<option> own,
                              const char *ownshort);

// "zelko COMMAND: " and the message (format with a and b), then where help is, on
// standard error.
void usageerror(const CommandOptions &command, const char *format, const char *a = "",
                const char *b = "");

// A command's own option: code as getopt_long returns it, name as the user wrote it
// ("--sort" or "-j"), value its argument (null for none). OUTCOME_RUN reads on; any other
// outcome stops reading (OUTCOME_USAGE after usageerror).
using OwnOption = std::function<Outcome(int code, const char *name, const char *value)>;

// Reads the options of argv (they may follow the operands, as GNU programs take them): the
// shared ones into *common, every other through own. Stops at help, version or the first
// usage error; after OUTCOME_RUN, optind is the first operand.
Outcome readoptions(const CommandOptions &command, int argc, char **argv,
                    CommonOptions *common, const OwnOption &own);

// Takes option as the one of a set that exclude each other (--dna and --protein, --tsv,
// --bed and --gff3): a usage error when *chosen holds another of the set.
bool chooseonce(const CommandOptions &command, const char **chosen, const char *option);

// An output that is an input or another output: false after the usage error naming both.
bool refusesharedfiles(const CommandOptions &command, const std::vector<NamedFile> &outputs,
                       const std::vector<NamedFile> &inputs);

// A real number, read whole and finite.
bool readnumber(const char *text, double *ret_value);
// A whole number in decimal digits from low to high.
bool readwhole(const char *text, uint64_t low, uint64_t high, uint64_t *ret_value);

// What a command line that does not run ends in: the help (on standard output) or the
// version shown, and the exit status; -1 for OUTCOME_RUN.
int outcomestatus(Outcome outcome, const char *help);

// The scan library's warnings to standard error, or, quiet, nowhere.
void setwarnings(bool quiet);

// "zelko COMMAND: message" on standard error; EXIT_FAILED.
int commandfailed(const char *command, const char *message);

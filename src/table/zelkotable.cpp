// zelkotable: turns the tab-separated report of zelkosearch (-format tabs) into a TSV table
// with a header row, BED or GFF3. It streams: one line is read, converted and appended to
// the output block before the next is read, so memory does not grow with the input.
#include <zlib.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "base/error.hpp"
#include "base/output.hpp"
#include "base/procopt.hpp"
#include "table/genomic.hpp"
#include "table/tablewriters.hpp"
#include "table/tabsrecord.hpp"

namespace {

constexpr std::array<OptionDeclaration, 12> tableoptions = {{
    {"-help", "Show help screen."},
    {"-version", "Show program version."},
    {"-tsv",
     "Write a table with a header row and named columns, 1-based\n"
     "coordinates (default)."},
    {"-bed", "Write BED6: 0-based half-open coordinates, name = motif ID,\n"
             "score = min(1000, round(-10 log10 p-value))."},
    {"-extra", "With -bed: add the p-value, the score and the matched sequence."},
    {"-gff3",
     "Write GFF3, type TF_binding_site, or binding_site for protein: a\n"
     "match on fn or rn whose text is not all lower-case a, c, g, t, u, n."},
    {"-genomic",
     "Report positions on the chromosome named by a name:start-end word\n"
     "in the sequence description (1-based, as UCSC writes them)."},
    {"-ncompl", "The input was written with zelkosearch -ncompl."},
    {"-dna",
     "Nucleotide matches: GFF3 type TF_binding_site for every match (for\n"
     "a DNA symbol map that prints upper case)."},
    {"-protein", "Protein matches: GFF3 type binding_site for every match."},
    {"-q", "Suppress warnings."},
    {"--", "End of options: every further word is a file name."},
}};
constexpr uint64_t tableoptioncount = tableoptions.size();
consteval uint64_t optionnumber(std::string_view name) { return optionindex(tableoptions, name); }

constexpr std::array<ExclusionPair, 4> exclusionpairs = {{
    {"-tsv", "-bed"}, {"-tsv", "-gff3"}, {"-bed", "-gff3"}, {"-dna", "-protein"},
}};
constexpr auto exclusionlist = makeexclusionlist(tableoptions, exclusionpairs);

// A line longer than this is no report line; it is refused rather than held in memory.
constexpr size_t maxlinelength = size_t{256} << 20;
constexpr size_t readblock = size_t{1} << 20;

constexpr const char *standardinputname = "(standard input)";

void printbanner() {
  std::printf("* Zelkotable 1.3 64bit, compiled on " __DATE__ " at " __TIME__ "\n");
}

void printhelp(const char *program) {
  printbanner();
  std::printf(
      "Usage: zelkotable [options] [FILE...]\n"
      "Reads the report of zelkosearch -format tabs from the FILEs (plain or gzip;\n"
      "none or - for standard input) and writes one table on standard output.\n");
  OptionEntry table[tableoptioncount];
  if (declareoptions(table, tableoptions.data(), tableoptioncount) != 0) fatalcase();
  printoptionhelp(nullptr, program, table, tableoptioncount);
}

enum class Outcome { run, help, version, error };

struct TableCommandLine {
  TableSettings settings;
  bool warnings = true;
  std::vector<const char *> files;
};

Outcome parsetablecommandline(int argc, char **argv, TableCommandLine *line) {
  OptionEntry table[tableoptioncount];
  if (declareoptions(table, tableoptions.data(), tableoptioncount) != 0) return Outcome::error;
  bool optionsended = false;
  for (int i = 1; i < argc; i++) {
    const char *word = argv[i];
    if (optionsended || word[0] != '-' || std::strcmp(word, "-") == 0) {
      line->files.push_back(word);
      continue;
    }
    const int64_t number = findoption(table, tableoptioncount, word);
    if (number < 0) {
      if (std::strcmp(word, "--version") == 0) return Outcome::version;
      return Outcome::error;
    }
    switch (static_cast<uint64_t>(number)) {
      case optionnumber("-help"): return Outcome::help;
      case optionnumber("-version"): return Outcome::version;
      case optionnumber("-tsv"): line->settings.format = TABLE_TSV; break;
      case optionnumber("-bed"): line->settings.format = TABLE_BED; break;
      case optionnumber("-extra"): line->settings.bedextra = true; break;
      case optionnumber("-gff3"): line->settings.format = TABLE_GFF3; break;
      case optionnumber("-genomic"): line->settings.genomic = true; break;
      case optionnumber("-ncompl"): line->settings.databasetext = true; break;
      case optionnumber("-dna"): line->settings.molecule = MOLECULE_DNA; break;
      case optionnumber("-protein"): line->settings.molecule = MOLECULE_PROTEIN; break;
      case optionnumber("-q"): line->warnings = false; break;
      case optionnumber("--"): optionsended = true; break;
      default: internalerror(); return Outcome::error;
    }
  }
  if (checkexclusions(table, exclusionlist.data(), exclusionlist.size()) != 0) {
    return Outcome::error;
  }
  if (line->settings.bedextra && line->settings.format != TABLE_BED) {
    reporterror("option -extra requires option -bed");
    return Outcome::error;
  }
  if (line->files.empty()) line->files.push_back("-");
  return Outcome::run;
}

// Reads the lines of one input through zlib, which passes plain files through unchanged.
// The block holds the unread rest of the input read so far; it grows only for a line longer
// than itself.
struct LineReader {
  gzFile file = nullptr;
  std::vector<char> block;
  size_t begin = 0;
  size_t end = 0;
  bool atend = false;
};

// zlib's message without the file name it puts in front ("name: message"); the caller names
// the input itself.
const char *readerror(gzFile file, int *code) {
  const char *message = gzerror(file, code);
  const char *separator = std::strstr(message, ": ");
  return separator != nullptr ? separator + 2 : message;
}

// The next line without its newline: 1, 0 at the end of the input, -1 after a read error or
// an overlong line (message in the ErrorBuffer).
int nextline(LineReader *reader, std::string_view *line) {
  while (true) {
    const char *start = reader->block.data() + reader->begin;
    const size_t available = reader->end - reader->begin;
    const void *newline = std::memchr(start, '\n', available);
    if (newline != nullptr) {
      const size_t length = static_cast<size_t>(static_cast<const char *>(newline) - start);
      *line = std::string_view(start, length);
      reader->begin += length + 1;
      return 1;
    }
    if (reader->atend) {
      if (available == 0) return 0;
      *line = std::string_view(start, available);  // a last line without its newline
      reader->begin = reader->end;
      return 1;
    }
    if (reader->begin > 0) {
      std::memmove(reader->block.data(), start, available);
      reader->begin = 0;
      reader->end = available;
    }
    if (reader->end == reader->block.size()) {
      if (reader->block.size() >= maxlinelength) {
        reporterror("a line is longer than %lu bytes", static_cast<unsigned long>(maxlinelength));
        return -1;
      }
      reader->block.resize(reader->block.size() * 2);
    }
    const size_t room = reader->block.size() - reader->end;
    const unsigned request = room > (1u << 30) ? (1u << 30) : static_cast<unsigned>(room);
    const int got = gzread(reader->file, reader->block.data() + reader->end, request);
    if (got < 0) {
      int code;
      reporterror("%s", readerror(reader->file, &code));
      return -1;
    }
    if (got == 0) {
      int code;
      const char *message = readerror(reader->file, &code);
      if (code != Z_OK) {
        reporterror("%s", message);
        return -1;
      }
      reader->atend = true;
    }
    reader->end += static_cast<size_t>(got);
  }
}

struct TableRun {
  const TableCommandLine *line;
  OutputBuffer out;
  std::string text;          // matched text of the current row, reused
  std::string numbername;    // name of a sequence whose description gives none
  bool regionwarned = false;
  bool headerwritten = false;
};

// Converts one record; -1 with the message in the ErrorBuffer.
int convertrecord(TableRun *run, const TabsRecord &record, uint64_t linenumber) {
  const TableSettings &settings = run->line->settings;
  MatchPlace place;
  place.sequence = sequencename(record.sequencedescription);
  place.start = record.position + 1;
  place.stop = record.position + record.length;
  place.strand = record.strand;
  if (settings.genomic) {
    GenomicRegion region;
    if (findregion(record.sequencedescription, &region)) {
      if (!genomiccoordinates(region, record.position, record.length, &place.start,
                              &place.stop)) {
        return reporterror(
            "line %lu: the match at %lu..%lu does not fit into the region %.*s:%lu-%lu",
            static_cast<unsigned long>(linenumber), static_cast<unsigned long>(place.start),
            static_cast<unsigned long>(place.stop), static_cast<int>(region.chromosome.size()),
            region.chromosome.data(), static_cast<unsigned long>(region.start),
            static_cast<unsigned long>(region.end));
      }
      place.sequence = region.chromosome;
      if (region.reverse) place.strand = turnedstrand(record.strand);
    } else if (!run->regionwarned) {
      run->regionwarned = true;
      if (run->line->warnings) {
        flushoutput(&run->out);
        printwarning(
            "sequence %lu (line %lu) has no name:start-end word in its description; its "
            "matches, and those of every other such sequence, keep their sequence "
            "coordinates.\n",
            static_cast<unsigned long>(record.sequencenumber),
            static_cast<unsigned long>(linenumber));
      }
    }
  }
  if (place.sequence.empty()) {
    // A sequence without a header word is named by its number, so that every row has a name.
    run->numbername = std::to_string(record.sequencenumber);
    place.sequence = run->numbername;
  }
  orientedtext(record, settings.databasetext, &run->text);
  writetablerow(settings, record, place, run->text, &run->out);
  maybeflush(&run->out);
  return 0;
}

// Converts one input; -1 with the message, prefixed with the input's name, in the ErrorBuffer.
int convertinput(TableRun *run, const char *name) {
  const bool standardinput = std::strcmp(name, "-") == 0;
  const char *shownname = standardinput ? standardinputname : name;
  LineReader reader;
  errno = 0;
  reader.file = standardinput ? gzdopen(0, "rb") : gzopen(name, "rb");
  if (reader.file == nullptr) {
    return reporterror("cannot open `%s': %s", shownname,
                       errno != 0 ? std::strerror(errno) : "out of memory");
  }
  gzbuffer(reader.file, 1u << 18);
  // The header follows the first input that opens, so that a wrong name leaves no output.
  if (!run->headerwritten) {
    writetableheader(run->line->settings, &run->out);
    run->headerwritten = true;
  }
  reader.block.resize(readblock);
  TabsRecord record;
  std::string_view line;
  uint64_t linenumber = 0;
  int status;
  while ((status = nextline(&reader, &line)) == 1) {
    linenumber++;
    if (parsetabsline(line, linenumber, &record) != 0 ||
        convertrecord(run, record, linenumber) != 0) {
      status = -1;
      break;
    }
  }
  gzclose(reader.file);
  if (status < 0) {
    const std::string message = errormessageorunknown();
    return reporterror("%s: %s", shownname, message.c_str());
  }
  return 0;
}

}  // namespace

int main(int argc, char **argv) {
  installnewhandler();
  TableCommandLine line;
  switch (parsetablecommandline(argc, argv, &line)) {
    case Outcome::help:
      printhelp(argv[0]);
      return finishoutput(0);
    case Outcome::version:
      printbanner();
      return finishoutput(0);
    case Outcome::error:
      printbanner();
      std::fflush(stdout);
      std::fputs("Use -help to show a list of available options.\n", stderr);
      std::fprintf(stderr, "*** Error: %s\n", errormessageorunknown());
      return 1;
    case Outcome::run:
      break;
  }
  TableRun run;
  run.line = &line;
  run.out.text.reserve(size_t{1} << 21);
  int status = 0;
  for (const char *name : line.files) {
    if (convertinput(&run, name) != 0) {
      status = 1;
      break;
    }
  }
  flushoutput(&run.out);
  if (status != 0) {
    std::fprintf(stderr, "*** Error: %s\n", errormessageorunknown());
    return 1;
  }
  return finishoutput(0);
}

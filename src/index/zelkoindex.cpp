// zelkoindex: builds the enhanced suffix array index of a sequence file, which zelkosearch
// then searches with -esa instead of scanning the file.
#include <divsufsort64.h>

#include <array>
#include <cstdio>
#include <cstring>

#include "base/error.hpp"
#include "base/output.hpp"
#include "base/procopt.hpp"
#include "index/buildindex.hpp"
#include "sequences/alphabet.hpp"

namespace {

constexpr std::array<OptionDeclaration, 8> indexoptions = {{
    {"-help", "Show help screen."},
    {"-version", "Show program version."},
    {"-db",
     "Name of the sequence file to index: a Fasta, GENBANK, or EMBL file,\n"
     "plain or gzip-compressed."},
    {"-dna", "Use DNA alphabet for input sequence."},
    {"-protein", "Use protein alphabet for input sequence."},
    {"-smap", "Name of a symbol map file for input sequence alphabet."},
    {"-indexname", "Name of the index to write (files NAME.prj, NAME.tis, NAME.suf, ...)."},
    {"-q", "Quiet execution, suppress status messages."},
}};
constexpr uint64_t optioncount = indexoptions.size();
consteval uint64_t optionnumber(std::string_view name) { return optionindex(indexoptions, name); }

constexpr std::array<ExclusionPair, 3> exclusionpairs = {{
    {"-smap", "-protein"}, {"-smap", "-dna"}, {"-protein", "-dna"},
}};
constexpr auto exclusionlist = makeexclusionlist(indexoptions, exclusionpairs);

const char *indexbanner() {
  return "Zelkoindex 1.3 64bit, compiled on " __DATE__ " at " __TIME__;
}

struct IndexConfiguration {
  const char *databasename = nullptr;
  const char *smapname = nullptr;
  const char *indexname = nullptr;
  bool dna = false, protein = false, quiet = false;
};

enum Outcome { RUN, HELP, VERSION, ERROR };

Outcome parsecommandline(IndexConfiguration *config, int argc, char **argv) {
  OptionEntry table[optioncount];
  if (declareoptions(table, indexoptions.data(), optioncount) != 0) {
    seterrorcode(1);
    return ERROR;
  }
  for (int next = 1; next < argc;) {
    const char *word = argv[next++];
    const int64_t number = findoption(table, optioncount, word);
    if (number < 0) {
      if (std::strcmp(word, "--version") == 0) return VERSION;
      seterrorcode(1);
      return ERROR;
    }
    const char **value = nullptr;
    switch (static_cast<uint64_t>(number)) {
      case optionnumber("-help"):
        return HELP;
      case optionnumber("-version"):
        return VERSION;
      case optionnumber("-db"):
        value = &config->databasename;
        break;
      case optionnumber("-smap"):
        value = &config->smapname;
        break;
      case optionnumber("-indexname"):
        value = &config->indexname;
        break;
      case optionnumber("-dna"):
        config->dna = true;
        break;
      case optionnumber("-protein"):
        config->protein = true;
        break;
      case optionnumber("-q"):
        config->quiet = true;
        break;
    }
    if (value != nullptr) {
      if (next >= argc) {
        reporterror("Missing argument");
        return ERROR;
      }
      *value = argv[next++];
    }
  }
  if (checkexclusions(table, exclusionlist.data(), exclusionlist.size()) != 0) {
    seterrorcode(1);
    return ERROR;
  }
  if (config->databasename == nullptr) {
    reporterror("option %s is mandatory", "-db");
    return ERROR;
  }
  if (!config->dna && !config->protein && config->smapname == nullptr) {
    reporterror("either option %s, %s, or %s is mandatory", "-dna", "-protein", "-smap");
    return ERROR;
  }
  if (config->indexname == nullptr) {
    reporterror("option %s is mandatory", "-indexname");
    return ERROR;
  }
  return RUN;
}

int run(const IndexConfiguration *config) {
  Alphabet alpha{};
  if (config->smapname != nullptr) {
    if (loadsymbolmapfile(&alpha, config->smapname) != 0) return -1;
  } else if (config->protein) {
    proteinalphabet(&alpha);
  } else {
    dnaalphabet(&alpha);
  }
  const IndexBuildOptions options{};
  return buildindex(config->databasename, &alpha, config->indexname, &options);
}

}  // namespace

int main(int argc, char **argv) {
  installnewhandler();
  IndexConfiguration config;
  switch (parsecommandline(&config, argc, argv)) {
    case HELP: {
      std::printf("* %s\n", indexbanner());
      OptionEntry table[optioncount];
      if (declareoptions(table, indexoptions.data(), optioncount) != 0) fatalcase();
      printoptionhelp(nullptr, argv[0], table, optioncount);
      return finishoutput(0);
    }
    case VERSION:
      std::printf("* %s\n* libdivsufsort %s\n", indexbanner(), divsufsort64_version());
      return finishoutput(0);
    case ERROR:
      std::printf("* %s\n", indexbanner());
      std::fflush(stdout);
      std::fputs("Use -help to show a list of available options.\n", stderr);
      std::fprintf(stderr, "*** Error: %s\n", errormessageorunknown());
      return 1;
    case RUN:
      break;
  }
  if (outputinit(!config.quiet, !config.quiet) != 0) {
    internalerror();
    std::fprintf(stderr, "*** Error: %s\n", errormessageorunknown());
    return 1;
  }
  const int result = run(&config);
  if (result != 0) std::fprintf(stderr, "*** Error: %s\n", errormessageorunknown());
  outputdestroy();
  return result == 0 ? 0 : 1;
}

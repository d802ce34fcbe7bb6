// zelko: one program with subcommands over the scan library. `zelko scan` goes from motif
// files and sequences to a table of matches with exact p-values and q-values.
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "base/error.hpp"
#include "scan/scan.hpp"
#include "zelko/commands.hpp"

namespace {

struct Command {
  const char *name;
  const char *summary;
  int (*run)(int argc, char **argv);
};

constexpr Command commands[] = {
    {"scan", "motif files and sequences to a table of matches with p- and q-values", scancommand},
    {"report", "the HTML page of a table zelko scan wrote: logos, counts, plots", reportcommand},
    {"enrich", "which motifs are enriched in target sequences against a control", enrichcommand},
    {"variants", "motif sites the alleles of a VCF make or break, with exact p-values",
     variantscommand},
};

void printcommands(FILE *out) {
  std::fputs(
      "Usage: zelko COMMAND [options] ...\n"
      "\n"
      "Commands:\n",
      out);
  for (const Command &command : commands) {
    std::fprintf(out, "  %-10s%s\n", command.name, command.summary);
  }
  std::fputs(
      "\n"
      "`zelko COMMAND --help' describes a command; zelko --version shows the version.\n",
      out);
}

}  // namespace

void printzelkoversion() { std::printf("zelko: %s\n", scan_version()); }

namespace {

int runzelko(int argc, char **argv) {
  if (argc < 2) {
    printcommands(stderr);
    return EXIT_USAGE;
  }
  const char *word = argv[1];
  // The single-dash forms, as the suite's other programs take them.
  if (std::strcmp(word, "--help") == 0 || std::strcmp(word, "-h") == 0 ||
      std::strcmp(word, "-help") == 0 || std::strcmp(word, "help") == 0) {
    printcommands(stdout);
    return EXIT_DONE;
  }
  if (std::strcmp(word, "--version") == 0 || std::strcmp(word, "-version") == 0) {
    printzelkoversion();
    return EXIT_DONE;
  }
  for (const Command &command : commands) {
    if (std::strcmp(word, command.name) == 0) return command.run(argc - 1, argv + 1);
  }
  std::fprintf(stderr, "zelko: unknown command `%s'\n\n", word);
  printcommands(stderr);
  return EXIT_USAGE;
}

}  // namespace

int main(int argc, char **argv) {
  installnewhandler();
  // A long file name or other long text in a message is reported cut, not fatal.
  setlongmessagescut(true);
  const int status = runzelko(argc, argv);
  // Whatever went to standard output (help, version, a table) must have arrived: a full disk
  // or a closed standard output is a failure, not a success.
  errno = 0;
  bool written = std::fflush(stdout) == 0 && std::ferror(stdout) == 0;
  int code = written ? 0 : (errno != 0 ? errno : EIO);
  errno = 0;
  if (std::fclose(stdout) != 0 && written && errno != EBADF) {
    written = false;
    code = errno != 0 ? errno : EIO;
  }
  // A command that failed has said why already.
  if (written || status != EXIT_DONE) return status;
  std::fprintf(stderr, "zelko: cannot write to standard output: %s\n", std::strerror(code));
  return 1;
}

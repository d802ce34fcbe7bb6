// zelko: one program with subcommands over the scan library. `zelko scan` goes from motif
// files and sequences to a table of matches with exact p-values and q-values.
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
};

void printcommands(FILE *out) {
  std::fputs(
      "Usage: zelko COMMAND [options] ...\n"
      "\n"
      "Commands:\n",
      out);
  for (const Command &command : commands) {
    std::fprintf(out, "  %-8s%s\n", command.name, command.summary);
  }
  std::fputs(
      "\n"
      "`zelko COMMAND --help' describes a command; zelko --version shows the version.\n",
      out);
}

}  // namespace

void printzelkoversion() { std::printf("zelko: %s\n", scan_version()); }

int main(int argc, char **argv) {
  installnewhandler();
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

// zelko: one program with subcommands over the scan library; `zelko scan` goes from motif
// files and sequences to a table of matches with exact p-values and q-values.
#include <cstdio>
#include <cstring>

#include "scan/scan.hpp"

int main(int argc, char **argv) {
  if (argc < 2) {
    std::fputs("Usage: zelko COMMAND [options]\nCommands:\n  scan    motifs and sequences to a table of matches\n", stderr);
    return 2;
  }
  std::fprintf(stderr, "zelko: not implemented yet\n");
  return 1;
}

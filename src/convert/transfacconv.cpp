// transfacconv: converts a library of TRANSFAC nucleotide weight matrices into a profile
// library on standard output.
#include <cstdio>
#include <cstdlib>
#include <new>

#include "convert/linereader.hpp"
#include "convert/transfacmatrices.hpp"

int main(int argc, char **argv) {
  std::set_new_handler([] {
    std::fputs("out of memory\n", stderr);
    std::exit(EXIT_FAILURE);
  });
  const char *program = argc > 0 ? argv[0] : "transfacconv";
  if (argc != 2) {
    std::fprintf(stderr,
                 "\n%s converts TRANSFAC pssms to ZELKO generic file format.\n"
                 "Converted pssms are printed to STDOUT\n",
                 program);
    std::fprintf(stderr, "Usage: %s <TRANSFAC LIB FILE>\n", program);
    return 255;
  }
  const char *filename = argv[1];
  std::fprintf(stderr, "Parsing matrix file:%s\n", filename);
  std::FILE *input = std::fopen(filename, "r");
  if (input == nullptr) {
    std::fprintf(stderr, "Cannot open file: %s\n", filename);
    return 1;
  }
  TransfacLibrary library;
  const int status = readtransfac(input, stderr, &library);
  std::fclose(input);
  // An endless line (a device, a file that is no text) is refused rather than held in memory.
  if (status == -2) {
    std::fprintf(stderr, "Line %lu of file %s is longer than %zu characters\n", library.longline,
                 filename, maxconverterline);
    return 1;
  }
  // A read error (a folder, a failing device) must not pass for a short file.
  if (status != 0) {
    std::fprintf(stderr, "Cannot read file: %s\n", filename);
    return 1;
  }
  if (writetransfac(stdout, stderr, library) != 0) {
    std::fputs("Cannot write to standard output\n", stderr);
    return 1;
  }
  return 0;
}

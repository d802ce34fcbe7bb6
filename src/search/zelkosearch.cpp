// zelkosearch: searches a sequence database with a library of scoring matrices.
#include <cstdio>

#include "base/error.hpp"
#include "base/output.hpp"
#include "search/banner.hpp"
#include "search/cmdline.hpp"
#include "search/driver.hpp"

int main(int argc, char **argv) {
  installnewhandler();
  RunConfiguration config;
  switch (parsecommandline(&config, argc, argv)) {
    case COMMANDLINE_HELP:
      printsearchbanner();
      printsearchhelp(argv[0]);
      return finishoutput(0);
    case COMMANDLINE_VERSION:
      printsearchversion();
      return finishoutput(0);
    case COMMANDLINE_ERROR:
      printsearchbanner();
      std::fflush(stdout);
      std::fputs("Use -help to show a list of available options.\n", stderr);
      std::fprintf(stderr, "*** Error: %s\n", errormessageorunknown());
      return 1;
    case COMMANDLINE_RUN:
      break;
  }
  // A report that could not be written completely is an error, reported once at the end.
  return finishoutput(runsearch(&config));
}

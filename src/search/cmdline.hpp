// The zelkosearch command line: reads the arguments into a RunConfiguration, converting and
// range-checking every value and checking the combination of options; prints help and version.
#pragma once

#include <cstdint>

#include "base/optionvalues.hpp"
#include "search/runconfig.hpp"

enum CommandLineOutcome : int {
  COMMANDLINE_RUN = 0,      // accepted: the RunConfiguration is complete
  COMMANDLINE_HELP = 1,     // -help: print the help, exit status 0
  COMMANDLINE_VERSION = 2,  // -version or --version: print the version, exit status 0
  COMMANDLINE_ERROR = 3     // the message is in the ErrorBuffer and the error code is set
};

// Initialises config and reads argv[1..argc-1] into it. On COMMANDLINE_RUN the strand set is
// not empty and the sort keys are "gn" for CisML; the report function is left null (the
// driver chooses it from the output format). Texts in config point into argv. Nothing but
// the words themselves is read.
CommandLineOutcome parsecommandline(RunConfiguration *config, int argc, char **argv);

// The option list of -help on standard output (without the banner); program names the
// program in the message of an inconsistent option table.
void printsearchhelp(const char *program);
// The banner line and the matching library's line of -version on standard output.
void printsearchversion();

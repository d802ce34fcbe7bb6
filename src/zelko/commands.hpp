// The subcommands of zelko and what they share.
#pragma once

// Exit statuses of every subcommand: success, a failure of the work, a usage error.
constexpr int EXIT_DONE = 0;
constexpr int EXIT_FAILED = 1;
constexpr int EXIT_USAGE = 2;

// zelko scan: argv[0] is "scan".
int scancommand(int argc, char **argv);

// "zelko 1.3 ..." with the build date, for --version of every subcommand.
void printzelkoversion();

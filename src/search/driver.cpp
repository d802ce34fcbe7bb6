// The search run driver (being built).
#include "search/driver.hpp"

#include <cstdio>

int runsearch(RunConfiguration *config) {
  std::fputs("*** Error: the search is not built yet\n", stderr);
  return 1;
}

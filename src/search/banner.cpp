// The banner line. It alone holds the build date and time, so only it recompiles per build.
#include "search/banner.hpp"

#include <cstdio>

#include "base/threadedbuild.hpp"

const char *searchbanner() {
  if constexpr (threadedbuild) {
    return "Zelkosearch 1.3-mt 64bit, compiled on " __DATE__ " at " __TIME__;
  } else {
    return "Zelkosearch 1.3 64bit, compiled on " __DATE__ " at " __TIME__;
  }
}

void printsearchbanner() { std::printf("* %s\n", searchbanner()); }

const char *searchprogramname() {
  if constexpr (threadedbuild) {
    return "Zelkosearch 1.3-mt 64bit";
  } else {
    return "Zelkosearch 1.3 64bit";
  }
}

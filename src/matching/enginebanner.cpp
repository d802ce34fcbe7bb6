// The matching engines' banner. Only this unit holds the engines' build date and time.
#include "matching/enginebanner.hpp"

const char *enginebanner() { return "libmervo 64bit, compiled on " __DATE__ " at " __TIME__; }

const char *enginefeatures() {
  return "core, libc malloc, ENABLE_MATCHER_PSSEARCH, ENABLE_MATCHER_PLASEARCH, "
         "ENABLE_MATCHER_PASEARCH";
}

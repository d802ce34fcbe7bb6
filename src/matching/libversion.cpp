// The matching library's banner. Only this unit holds the library's build date and time.
#include "matching/libversion.hpp"

const char *libmervobanner() { return "libmervo 64bit, compiled on " __DATE__ " at " __TIME__; }

const char *libmervofeatures() {
  return "core, libc malloc, ENABLE_MATCHER_PSSEARCH, ENABLE_MATCHER_PLASEARCH, "
         "ENABLE_MATCHER_PASEARCH";
}

// Defaults of the search settings.
#include "model/searchsettings.hpp"

#include <cstring>

void initsearchsettings(SearchSettings *settings) {
  std::memset(settings, 0, sizeof *settings);
  settings->jobs = 1;
  settings->multiplier = 1.0;
}

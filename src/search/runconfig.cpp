// Defaults of the run configuration.
#include "search/runconfig.hpp"

#include <cstring>

void initrunconfiguration(RunConfiguration *config) {
  std::memset(config, 0, sizeof *config);
  config->jobs = 1;
  config->format = FORMAT_HUMAN;
  config->multiplier = 1.0;
}

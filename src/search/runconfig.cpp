// Defaults of the run configuration.
#include "search/runconfig.hpp"

#include <cstring>

void initrunconfiguration(RunConfiguration *config) {
  std::memset(config, 0, sizeof *config);
  initsearchsettings(&config->settings);
  config->format = FORMAT_HUMAN;
}

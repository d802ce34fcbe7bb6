// RunConfiguration: all settings of one zelkosearch run, filled from the command line. What the
// engines, the threshold derivation and the reports read of it is its SearchSettings; the rest
// (inputs, output, messages, sequence range) belongs to the program and its driver.
#pragma once

#include <cstdint>

#include "model/kinds.hpp"
#include "model/match.hpp"
#include "model/searchsettings.hpp"

struct RunConfiguration {
  SearchSettings settings;  // threshold, strands, engine, distributions, jobs, input names
  const char *smapname;
  const char *sortkeys;
  bool distributiongiven;
  bool frequenciesgiven;
  bool warningsoff;
  bool statusoff;
  bool protein;
  bool dna;
  bool dbsizegiven;
  bool seqrangegiven;
  bool reducedalphabet;
  bool ncompl;
  uint64_t seqrangelower;
  uint64_t seqrangeupper;
  OutputFormat format;
  ReportFunction report;
};

// Every field zero, false or null, except format human and the defaults of initsearchsettings
// (jobs 1, multiplier 1.0).
void initrunconfiguration(RunConfiguration *config);

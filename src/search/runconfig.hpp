// RunConfiguration: all settings of one zelkosearch run, filled from the command line.
#pragma once

#include <cstdint>

struct Match;
using ReportFunction = int (*)(Match *match);

enum ThresholdKind : uint32_t {
  THRESHOLD_EVALUE = 0,
  THRESHOLD_PVALUE = 1,
  THRESHOLD_RAW = 2,
  THRESHOLD_MSS = 3,
  THRESHOLD_KBEST = 4
};
enum SearchAlgorithm : uint32_t { ALGORITHM_SIMPLE = 0, ALGORITHM_LOOKAHEAD = 1, ALGORITHM_ESA = 2 };
enum OutputFormat : uint32_t { FORMAT_NULL = 0, FORMAT_HUMAN = 1, FORMAT_TABS = 2, FORMAT_CISML = 3 };

constexpr unsigned char STRAND_FORWARD = 1;
constexpr unsigned char STRAND_REVERSE = 2;
constexpr unsigned char STRAND_COMPLEMENT = 4;
constexpr unsigned char STRAND_REVERSECOMPLEMENT = 8;
inline bool strandisreverse(unsigned char strand) { return (strand & (2 | 8)) != 0; }
inline bool strandiscomplement(unsigned char strand) { return (strand & (4 | 8)) != 0; }

struct RunConfiguration {
  const char *databasename;
  const char *libraryname;
  const char *smapname;
  const char *frequencyname;     // null with -uniform
  const char *distributionname;  // null again after -lazy
  const char *sortkeys;
  ThresholdKind thresholdkind;
  double thresholdvalue;
  uint64_t kbest;
  bool lazy;
  bool distributiongiven;
  bool frequenciesgiven;
  bool allmatrices;
  bool warningsoff;
  bool statusoff;
  bool protein;
  bool dna;
  bool dbsizegiven;
  bool seqrangegiven;
  bool reducedalphabet;
  bool ncompl;
  uint64_t jobs;
  unsigned char strands;
  uint64_t seqrangelower;
  uint64_t seqrangeupper;
  SearchAlgorithm algorithm;
  OutputFormat format;
  ReportFunction report;
  uint64_t dbsize;
  double *frequencies;  // owned, filled by the driver
  double multiplier;
};

// Every field zero, false or null, except jobs 1, format human and multiplier 1.0.
void initrunconfiguration(RunConfiguration *config);

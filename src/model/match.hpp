// The Match an engine hands to a ReportFunction, the ReportFunction itself, and the SearchJob
// carried with every Match: the search's settings, the profile and strand being searched and
// what the reports need of the run.
#pragma once

#include <cstdint>

#include "model/scoringmatrix.hpp"
#include "model/searchsettings.hpp"

struct Profile;
struct ProfileCollection;
struct MatchCollection;
struct Multiseq;
struct SearchJob;
struct Match;
struct SequenceRange;
struct LookaheadBatch;

// What an engine calls for every Match: 0 to go on, non-zero to stop the profile's search.
using ReportFunction = int (*)(Match *match);

constexpr uint32_t SOURCE_MULTISEQ = 1;
constexpr uint32_t SOURCE_VIRTUALTREE = 2;

struct Match {
  uint32_t sourcekind;  // 1 sequence file (Multiseq), 2 index (Virtualtree)
  uint64_t length;
  uint64_t endposition;  // absolute, of the last matched symbol
  const unsigned char *characters;  // 256 entries: symbol code to character
  SearchJob *job;
  const void *source;  // the Multiseq (kind 1) or the Virtualtree (kind 2)
  const ScoringMatrix *matrix;
  ScoreValue score;
};

// A profile routine searches every requested strand of one profile: 0 or -1.
using ProfileSearch = int (*)(SearchJob *job, Profile *profile);

struct SearchJob {
  const SearchSettings *settings;  // the search's settings, borrowed from the caller
  Profile *profile;
  unsigned char strand;
  void *reduceddata;          // reduced-alphabet data, or null
  ReportFunction firstreport;  // what the engines call: the format's report or collect_match
  ReportFunction nextreport;   // next stage behind the reduced-alphabet check
  const double *frequencies;  // null when the run has none
  const unsigned char *complementcharacters;  // 256 entries, or null
  uint64_t dbsize;
  uint64_t matchcount;
  uint64_t profilematchcount;  // matches reported for the current profile so far
  MatchCollection *collection;  // null when matches are printed at once
  unsigned char swapmap[256];
  ProfileCollection *profiles;
  ProfileSearch profileroutine;
  const void *database;  // the opened Virtualtree
  bool isindex;
  const SequenceRange *range;  // sequences the simple and lookahead engines search; null: all
  void *userdata;              // for a ReportFunction of the caller's own (the scan library)
  // Hits of the lookahead searches found ahead of the jobs, or null; batchnumbers holds the
  // batch's number of the matrix of each profile and strand (four per profile, in the order
  // in which the strands are searched), BATCH_NONE where the batch has none, and the profile
  // being searched has number batchindex there.
  LookaheadBatch *batch;
  const uint64_t *batchnumbers;
  uint64_t batchindex;
};
constexpr uint64_t BATCH_NONE = UINT64_MAX;

// The merge of shard reports: the reports of runs that each searched a part of one database
// (a sequence range, with the E-values of the whole database) become the report of one run
// over all of it. Records are compared on the run's sort keys with the statistics computed
// again from the library (the printed digits cannot tell close values apart), then in the
// order one job reports them: library order of the profiles, strands forward, complementary,
// reverse complementary, reverse, then position (best first for k-best runs). The shards are
// read in parallel, one record each at a time; k-best runs read them twice, first to find the
// k best of every profile and strand.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "merge/shardrecords.hpp"
#include "model/match.hpp"
#include "model/profile.hpp"
#include "search/runconfig.hpp"
#include "sequences/multiseq.hpp"

struct MergeRun {
  const RunConfiguration *config;
  ProfileCollection *profiles;
  SearchJob job;  // frequencies and database size for the statistics
  std::vector<std::vector<uint64_t>> profileofgroup;  // [group][position in group] -> index
  // The database the options name, whose sequences a shard without a sequence offset
  // searched; null when unknown.
  const Multiseq *database;
};

// One record of a shard with what orders and selects it.
struct ShardRecord {
  std::string text;
  uint64_t profile;
  unsigned char strand;
  uint64_t seqnum;
  uint64_t seqposition;
  ScoreValue score;
  double pvalue;
  double evalue;
  double mss;
  size_t thresholdstart;  // the threshold's characters in text
  size_t thresholdlength;
};

// Prepares run for merging reports of config's runs over profiles (thresholds prepared) with
// frequencies and dbsize as the runs had them; database (may be null) is the one the options
// name.
void mergerun_init(MergeRun *run, const RunConfiguration *config, ProfileCollection *profiles,
                   const double *frequencies, uint64_t dbsize,
                   const Multiseq *database = nullptr);

// Splits record->text, read last by reader, and settles its profile and statistics, adding
// the reader's offsets to the group and sequence numbers (in the text too): 0, or -1 with a
// message naming the shard and the line when the text is no record the run could have
// written: no record of the format, a profile the library lacks, statistics, a score below
// the threshold or a threshold other than the options give, a strand the options do not
// search, a window outside the database's sequences.
int settlerecord(MergeRun *run, ShardRecord *record, const ShardReader &reader);

// Order of two settled records in the merged report: <0, 0 or >0.
int comparerecords(const MergeRun *run, const ShardRecord &a, const ShardRecord &b);

// A shard's report and what its numbers lack: the groups of the library slices before the
// one it searched, the sequences of the databases before the one it searched.
struct ShardFile {
  const char *name;
  uint64_t groupoffset;
  uint64_t seqoffset;
};

// Writes the merged report of the shard files to out: 0, or -1 with the message in the
// ErrorBuffer. Shards that overlap are refused: a file named twice before anything is
// written, a record that two shards hold when it is met.
int mergeshards(MergeRun *run, const std::vector<ShardFile> &shards, FILE *out);

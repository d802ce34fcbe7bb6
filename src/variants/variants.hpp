// Variant effects on motif sites: for every allele of a VCF or BCF file and every motif, the
// best window overlapping the variant on the reference and on the alternative sequence of an
// indexed genome, with exact p-values of both, reported where either reaches the p-value
// cutoff. `zelko variants' and the Python module call it; it stands on the scan library
// (motifs, backgrounds, the exact distributions) and htslib (faidx, VCF/BCF).
//
// What is scored. REF and ALT lose the letters they share at their start, then at their end;
// what is left of REF (letters a .. b - 1 of the genome) is replaced by what is left of ALT.
// A window overlaps the variant when it holds one of those letters, or, for an allele that
// has none (the REF of an insertion, the ALT of a deletion), when it spans the place where
// they were. Each window is scored on the forward strand and, as in the scan, on the reverse
// complementary strand with the motif's reverse complementary matrix over the forward letters
// (its own distribution under the complemented background). A window that does not fit into
// its sequence, or holds a letter other than A, C, G and T (either case), is not scored. The
// best window of an allele is the one with the smallest p-value; of equal p-values the higher
// score, then the + strand, then the leftmost start. Every allele is scored alone against the
// reference, whatever other variants lie near it.
//
// Conventions: plain records and free functions, as in scan/scan.hpp. variants_run returns 0,
// or -1 with the message in scan_errormessage() and the caller's ErrorBuffer. It starts its
// own worker threads for the call and joins them before it returns; callbacks run on the
// calling thread only. Memory is bounded by the motifs and a few blocks of variants per
// thread, whatever the size of the VCF.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "scan/scan.hpp"

// How a reported pair changes the motif's site: only the alternative allele's best window
// reaches the cutoff (gain), only the reference's (loss), or both do.
enum VariantEffect { VARIANT_GAIN, VARIANT_LOSS, VARIANT_BOTH };
const char *variants_effectname(VariantEffect effect);

// What variants_run sees while it works, on the calling thread, at most every interval.
struct VariantProgress {
  uint64_t records = 0;     // VCF records done
  uint64_t rows = 0;        // pairs reported so far
  uint64_t bytesdone = 0;   // of the VCF file (compressed bytes for bgzip and BCF); 0 when
  uint64_t bytestotal = 0;  // the file's size is not known (standard input, a pipe)
  double elapsed = 0.0;     // seconds
  bool finished = false;    // the last report, at the end of the run
};
using VariantProgressFunction = int (*)(const VariantProgress &progress, void *context);

struct VariantOptions {
  double pvalue = 1e-4;     // a pair is reported when either allele's best window is at most it
  double minchange = 0.0;   // and |log2_ratio| is at least this
  uint64_t maxindel = 50;   // alleles whose REF or ALT, trimmed, is longer are skipped
  bool forwardonly = false;  // only the forward strand's windows
  // The background of weights and statistics: SCAN_BACKGROUND_SEQUENCES counts it from the
  // genome (order 0, letters A, C, G, T in either case; read in blocks, never held whole).
  ScanBackground background;
  double pseudocount = 1.0;
  std::string regions;      // a BED file (plain or gzip): only records whose REF overlaps one
                            // of its intervals are scored; empty: every record
  bool skipmissingcontigs = false;  // records on contigs the genome lacks: skipped (counted
                                    // and warned about) instead of failing the call
  uint64_t threads = 0;     // 0: the available cores
  std::atomic<bool> *cancel = nullptr;  // set to stop: the call fails with "cancelled"
  VariantProgressFunction progress = nullptr;
  void *progresscontext = nullptr;
  double progressinterval = 0.25;
  ScanWarningFunction warning = nullptr;  // null: standard error
  void *warningcontext = nullptr;
  bool warnings = true;
};

// One reported pair of an allele and a motif. Texts point into the call's own memory and
// last until the row function returns. A missing best window (an allele without a window
// that can be scored) has strand 0, start 0, score SCAN_NOSCORE, p-value 1 and no sequence;
// log2_ratio is then not a number.
struct VariantRow {
  uint64_t record = 0;          // the VCF record's number, from 0
  std::string_view chromosome;
  uint64_t position = 0;        // POS, 1-based
  std::string_view id, ref, alt;  // as the VCF writes them
  uint32_t altnumber = 0;       // the ALT allele's number in the record, from 1
  uint32_t motif = 0;           // index into ScanMotifs::motifs
  std::string_view motifname;   // its accession and name, one per motif (MA0071.1_RORA)
  // Best windows: strand '+' or '-', first letter (1-based; the alternative sequence's
  // letters before the variant keep their genome positions and the inserted ones follow on),
  // score (x1000 units), p-value, and the letters in the motif's reading direction (the
  // reverse complement on -) in upper case with those of the variant in lower case.
  char refstrand = 0, altstrand = 0;
  uint64_t refstart = 0, altstart = 0;
  int64_t refscore = 0, altscore = 0;
  double refpvalue = 1.0, altpvalue = 1.0;
  std::string_view refsequence, altsequence;
  double log2ratio = 0.0;       // log2(ref p-value / alt p-value): above 0 the ALT's site is
                                // the stronger one
  VariantEffect effect = VARIANT_BOTH;
};
// Sees each row (in the VCF's order; a record's alleles in order, each allele's motifs in
// motif order); non-zero stops the call (it fails with the message the function left, or
// "cancelled").
using VariantRowFunction = int (*)(const VariantRow &row, void *context);

enum VariantFormat {
  VARIANT_FORMAT_TSV,   // a header row and a row per pair
  VARIANT_FORMAT_VCF,   // every record of the VCF (as VCF text), an INFO field MOTIFS on those
                        // with reported pairs, declared in the header
  VARIANT_FORMAT_NONE   // rows to the row function only
};

struct VariantOutput {
  VariantFormat format = VARIANT_FORMAT_TSV;
  FILE *stream = nullptr;
  VariantRowFunction row = nullptr;
  void *rowcontext = nullptr;
  std::string commandline;  // VCF: a ##zelko_variantsCommand header line, when not empty
};

// What the call did.
struct VariantSummary {
  uint64_t records = 0;        // VCF records read
  uint64_t alleles = 0;        // ALT alleles scored
  uint64_t rows = 0;           // pairs reported
  uint64_t refmismatch = 0;    // records skipped: REF not the genome's letters
  uint64_t symbolic = 0;       // alleles skipped: symbolic (<DEL>, *, breakends) or missing
                               // (.), or with letters other than A, C, G, T and N
  uint64_t longindel = 0;      // alleles skipped: longer than maxindel
  uint64_t outside = 0;        // records outside the regions
  uint64_t missingcontig = 0;  // records skipped on contigs the genome lacks
  std::string backgroundsource;  // "genome", "uniform" or the file's name
  std::string backgroundletters;
  std::vector<double> backgroundfrequencies;
  uint64_t threadsused = 0;
  double elapsed = 0.0;
};

// The TSV header row (with its newline) and the columns of a row.
const char *variants_tsvheader();

// Prepares the motifs (DNA, both strands) for the background and scores every allele of the
// VCF or BCF file variants ("-": standard input; plain, bgzip or BCF) against the indexed
// Fasta genome (plain or bgzip, with its .fai and .gzi, made when missing). Fails naming the
// fault: motifs that are not DNA, a genome or VCF that cannot be read, a record on a contig
// the genome lacks (unless skipmissingcontigs), a BED file of regions that does not fit the
// genome. Records whose REF does not match the genome are skipped, counted and named (the
// first few) in a warning; skipped alleles are counted and warned about once.
int variants_run(ScanMotifs *motifs, const std::string &genome, const std::string &variants,
                 const VariantOptions &options, const VariantOutput &output,
                 VariantSummary *summary);

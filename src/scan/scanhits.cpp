// The columns of a match that follow from the scan's own: its stop, E-value and MSS from the
// motif and the run, its matched text from the sequences, as the tables write them.
#include "base/error.hpp"
#include "report/reports.hpp"
#include "scan/scaninternal.hpp"
#include "table/tabsrecord.hpp"

uint64_t scan_hitstop(const ScanMotifs &motifs, const ScanHits &hits, size_t i) {
  return hits.start[i] + motifs.motifs[hits.motif[i]].length - 1;
}

double scan_hitevalue(const ScanResult &result, size_t i) {
  return result.hits.pvalue[i] * static_cast<double>(result.run.totallength);
}

double scanmss(const ScanMotif &motif, int64_t score) {
  // As the search's statistics: a motif whose scores cannot vary has only its highest.
  const int64_t range = motif.maxscore - motif.minscore;
  double mss = range == 0 ? 1.0
                          : static_cast<double>(score - motif.minscore) /
                                static_cast<double>(range);
  if (mss > 1.0) mss = 1.0;
  if (mss < 0.0) mss = 0.0;
  return mss;
}

double scan_hitmss(const ScanMotifs &motifs, const ScanHits &hits, size_t i) {
  return scanmss(motifs.motifs[hits.motif[i]], hits.score[i]);
}

ScanRow scan_hitrow(const ScanHits &hits, size_t i) {
  ScanRow row;
  row.motif = hits.motif[i];
  row.sequence = hits.sequence[i];
  row.start = hits.start[i];
  row.strand = hits.strand[i];
  row.score = hits.score[i];
  row.pvalue = hits.pvalue[i];
  row.qvalue = hits.qvalue[i];
  return row;
}

void scanrowtext(const ScanMotifs &motifs, const ScanSequences &sequences, const ScanRow &row,
                 std::string *scratch, std::string *text) {
  text->clear();
  const ScanDatabase *database = sequences.database;
  if (database == nullptr || motifs.library == nullptr || !motifs.library->prepared) return;
  const Multiseq *multiseq = &database->tree.multiseq;
  if (multiseq->sequence == nullptr || row.sequence >= multiseq->numofsequences) return;
  const bool reverse = row.strand == '-';
  if (reverse && !database->complemented) return;
  // The letters as the search reports them (the motif's alphabet, or the complements on the
  // - strand), read in the motif's direction and in upper case as zelkotable turns them.
  const uint64_t first = seqstartposition(multiseq, row.sequence) + row.start - 1;
  const uint64_t last = first + motifs.motifs[row.motif].length - 1;
  const unsigned char *characters =
      reverse ? database->complementcharacters
              : motifs.library->profiles[row.motif]->matrix.alphabet->characters;
  scratch->clear();
  appendmatchingsequence(*scratch, multiseq->sequence, first, last, characters);
  TabsRecord record;
  record.strand = reverse ? "rc" : "fn";
  record.matchedtext = *scratch;
  orientedtext(record, false, text);
}

void scanprefetchtext(const ScanSequences &sequences, const ScanRow &row) {
  const ScanDatabase *database = sequences.database;
  if (database == nullptr) return;
  const Multiseq *multiseq = &database->tree.multiseq;
  if (multiseq->sequence == nullptr || row.sequence >= multiseq->numofsequences) return;
  __builtin_prefetch(multiseq->sequence + seqstartposition(multiseq, row.sequence) + row.start - 1);
}

void scan_rowtext(const ScanMotifs &motifs, const ScanSequences &sequences, const ScanRow &row,
                  std::string *text) {
  std::string scratch;
  scanrowtext(motifs, sequences, row, &scratch, text);
}

void scan_hittext(const ScanResult &result, const ScanMotifs &motifs,
                  const ScanSequences &sequences, size_t i, std::string *text) {
  text->clear();
  const ScanHits &hits = result.hits;
  if (hits.textoffset.size() == hits.motif.size() + 1) {
    text->assign(hits.text, hits.textoffset[i], hits.textoffset[i + 1] - hits.textoffset[i]);
    return;
  }
  if (!result.run.options.matchedtext) return;
  thread_local std::string scratch;
  scanrowtext(motifs, sequences, scan_hitrow(hits, i), &scratch, text);
}

void scan_keeptexts(ScanResult *result, const ScanMotifs &motifs,
                    const ScanSequences &sequences) {
  ScanHits &hits = result->hits;
  if (hits.textoffset.size() == hits.motif.size() + 1) return;
  std::string text, all;
  std::vector<uint64_t> offsets(1, 0);
  offsets.reserve(hits.motif.size() + 1);
  for (size_t i = 0; i < hits.motif.size(); i++) {
    scan_hittext(*result, motifs, sequences, i, &text);
    all += text;
    offsets.push_back(all.size());
  }
  hits.text.swap(all);
  hits.textoffset.swap(offsets);
}

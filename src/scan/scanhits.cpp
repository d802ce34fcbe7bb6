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

double scan_hitmss(const ScanMotifs &motifs, const ScanHits &hits, size_t i) {
  // As the search's statistics: a motif whose scores cannot vary has only its highest.
  const ScanMotif &motif = motifs.motifs[hits.motif[i]];
  const int64_t range = motif.maxscore - motif.minscore;
  double mss = range == 0 ? 1.0
                          : static_cast<double>(hits.score[i] - motif.minscore) /
                                static_cast<double>(range);
  if (mss > 1.0) mss = 1.0;
  if (mss < 0.0) mss = 0.0;
  return mss;
}

void scan_hittext(const ScanResult &result, const ScanMotifs &motifs,
                  const ScanSequences &sequences, size_t i, std::string *text) {
  text->clear();
  const ScanHits &hits = result.hits;
  if (hits.textoffset.size() == hits.motif.size() + 1) {
    text->assign(hits.text, hits.textoffset[i], hits.textoffset[i + 1] - hits.textoffset[i]);
    return;
  }
  const ScanDatabase *database = sequences.database;
  if (!result.run.options.matchedtext || database == nullptr || motifs.library == nullptr ||
      !motifs.library->prepared) {
    return;
  }
  const Multiseq *multiseq = &database->tree.multiseq;
  if (multiseq->sequence == nullptr || hits.sequence[i] >= multiseq->numofsequences) return;
  const bool reverse = hits.strand[i] == '-';
  if (reverse && !database->complemented) return;
  // The letters as the search reports them (the motif's alphabet, or the complements on the
  // - strand), read in the motif's direction and in upper case as zelkotable turns them.
  const uint64_t first = seqstartposition(multiseq, hits.sequence[i]) + hits.start[i] - 1;
  const uint64_t last = first + motifs.motifs[hits.motif[i]].length - 1;
  const unsigned char *characters =
      reverse ? database->complementcharacters
              : motifs.library->profiles[hits.motif[i]]->matrix.alphabet->characters;
  std::string letters;
  appendmatchingsequence(letters, multiseq->sequence, first, last, characters);
  TabsRecord record;
  record.strand = reverse ? "rc" : "fn";
  record.matchedtext = letters;
  orientedtext(record, false, text);
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

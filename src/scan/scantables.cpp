// The tables of a scan, written by zelkotable's writers from records laid out as the tabs
// report prints them, with the q-value beside.
#include <cerrno>
#include <cinttypes>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "base/error.hpp"
#include "scan/scaninternal.hpp"
#include "table/tablewriters.hpp"

namespace {

// A number as zelkosearch prints it: "%.6e" for probabilities, "%ld" for scores.
struct NumberText {
  char text[32];
  std::string_view real(double value) {
    const int length = std::snprintf(text, sizeof text, "%.6e", value);
    return std::string_view(text, static_cast<size_t>(length));
  }
  std::string_view integer(int64_t value) {
    const int length = std::snprintf(text, sizeof text, "%" PRId64, value);
    return std::string_view(text, static_cast<size_t>(length));
  }
};

// The motifs' names in BED and GFF3, which have one name column: the accession and the name
// joined by `_' ("MA0071.1_RORA"; the name alone without an accession), blanks as `_', and
// a name that is still taken (the same motif file twice) followed by `_2', `_3', ... in
// motif order, so that every motif's rows can be told apart.
std::vector<std::string> uniquenames(const ScanMotifs &motifs) {
  std::vector<std::string> names;
  std::set<std::string> taken;
  for (const ScanMotif &motif : motifs.motifs) {
    std::string name = motif.accession.empty()  ? motif.id
                       : motif.id.empty()       ? motif.accession
                       : motif.id == motif.accession ? motif.id
                                                     : motif.accession + "_" + motif.id;
    for (char &c : name) {
      if (c == ' ' || c == '\t') c = '_';
    }
    std::string unique = name;
    for (uint64_t k = 2; taken.count(unique) != 0; k++) unique = name + "_" + std::to_string(k);
    taken.insert(unique);
    names.push_back(std::move(unique));
  }
  return names;
}

int writetable(const ScanResult &result, const ScanMotifs &motifs,
               const ScanSequences &sequences, TableFormat format, FILE *stream) {
  TableSettings settings;
  settings.format = format;
  settings.qvalues = true;
  settings.molecule = sequences.alphabet == SCAN_ALPHABET_PROTEIN ? MOLECULE_PROTEIN : MOLECULE_DNA;
  OutputBuffer out;
  out.stream = stream;
  out.text.reserve(size_t{1} << 21);
  writetableheader(settings, &out);
  // Regions of a genome: rows in genome coordinates, and TSV ends with the region's names.
  const bool regions = !sequences.offsets.empty() &&
                       sequences.offsets.size() == sequences.count &&
                       sequences.regions.size() == sequences.count;
  const bool regioncolumn = regions && format == TABLE_TSV;
  if (regioncolumn) {
    out.text.pop_back();
    appendtext(&out, "\tregion\n");
  }
  const ScanHits &hits = result.hits;
  NumberText threshold, score, pvalue, evalue, mss, qvalue;
  std::string text;
  const std::vector<std::string> names =
      format == TABLE_TSV ? std::vector<std::string>() : uniquenames(motifs);
  for (size_t i = 0; i < hits.motif.size(); i++) {
    const ScanMotif &motif = motifs.motifs[hits.motif[i]];
    TabsRecord record;
    record.identifier = format == TABLE_TSV ? motif.id : names[hits.motif[i]];
    record.accession = motif.accession;
    const uint64_t offset = regions ? sequences.offsets[hits.sequence[i]] : 0;
    record.position = offset + hits.start[i] - 1;
    const uint64_t stop = scan_hitstop(motifs, hits, i);
    record.length = stop - hits.start[i] + 1;
    record.strand = hits.strand[i] == '-' ? "rc" : "fn";
    const ScanMotifSummary &summary = result.motifs[hits.motif[i]];
    record.threshold =
        threshold.integer(hits.strand[i] == '-' ? summary.reversethreshold : summary.threshold);
    record.score = score.integer(hits.score[i]);
    record.pvalue = pvalue.real(hits.pvalue[i]);
    record.pvaluenumber = hits.pvalue[i];
    record.evalue = evalue.real(scan_hitevalue(result, i));
    record.mss = mss.real(scan_hitmss(motifs, hits, i));
    record.sequencenumber = hits.sequence[i];
    record.qvalue = qvalue.real(hits.qvalue[i]);
    scan_hittext(result, motifs, sequences, i, &text);
    record.matchedtext = text;
    MatchPlace place;
    place.sequence = sequences.names[hits.sequence[i]];
    place.start = offset + hits.start[i];
    place.stop = offset + stop;
    place.strand = record.strand;
    writetablerow(settings, record, place, text, &out);
    if (regioncolumn) {
      out.text.back() = '\t';
      appendtext(&out, sequences.regions[hits.sequence[i]]);
      appendchar(&out, '\n');
    }
    maybeflush(&out);
  }
  flushoutput(&out);
  if (out.failed) return reporterror("cannot write the table: %s", std::strerror(out.error));
  errno = 0;
  if (std::fflush(stream) != 0 || std::ferror(stream) != 0) {
    return reporterror("cannot write the table: %s", std::strerror(errno != 0 ? errno : EIO));
  }
  return 0;
}

}  // namespace

int scan_writetsv(const ScanResult &result, const ScanMotifs &motifs,
                  const ScanSequences &sequences, FILE *stream) {
  ScanCall call;
  return call.finish(writetable(result, motifs, sequences, TABLE_TSV, stream));
}

int scan_writebed(const ScanResult &result, const ScanMotifs &motifs,
                  const ScanSequences &sequences, FILE *stream) {
  ScanCall call;
  return call.finish(writetable(result, motifs, sequences, TABLE_BED, stream));
}

int scan_writegff3(const ScanResult &result, const ScanMotifs &motifs,
                   const ScanSequences &sequences, FILE *stream) {
  ScanCall call;
  return call.finish(writetable(result, motifs, sequences, TABLE_GFF3, stream));
}

// The tables of a scan, written row by row by zelkotable's writers from records laid out as
// the tabs report prints them, with the q-value beside: the numbers formatted with to_chars
// into buffers of the writer, so that a row costs no allocation.
#include <cerrno>
#include <charconv>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "base/error.hpp"
#include "scan/scaninternal.hpp"
#include "table/tablewriters.hpp"

namespace {

// A number as zelkosearch prints it: "%.6e" for probabilities, "%ld" for scores (to_chars
// gives the same digits as printf, both exact).
struct NumberText {
  char text[40];
  std::string_view real(double value) {
    const auto result =
        std::to_chars(text, text + sizeof text, value, std::chars_format::scientific, 6);
    return std::string_view(text, static_cast<size_t>(result.ptr - text));
  }
  std::string_view integer(int64_t value) {
    const auto result = std::to_chars(text, text + sizeof text, value);
    return std::string_view(text, static_cast<size_t>(result.ptr - text));
  }
};

// The motifs' names in BED and GFF3, which have one name column: the accession and the name
// joined by `_' ("MA0071.1_RORA"; the name alone without an accession), blanks as `_', and
// a name that is still taken (the same motif file twice) followed by `_2', `_3', ... in
// motif order, so that every motif's rows can be told apart.
}  // namespace

std::vector<std::string> scanuniquenames(const ScanMotifs &motifs) {
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

namespace {

TableFormat tableformat(ScanTableFormat format) {
  return format == SCAN_TABLE_BED ? TABLE_BED : format == SCAN_TABLE_GFF3 ? TABLE_GFF3 : TABLE_TSV;
}

// Replaces the newline that ends the block by a last TSV column.
void appendlastcolumn(TextBlock *text, std::string_view value) {
  text->pop_back();
  text->push_back('\t');
  text->append(value);
  text->push_back('\n');
}

}  // namespace

// ---- TableRowWriter --------------------------------------------------------------------------

struct TableRowWriter::Numbers {
  NumberText threshold, score, pvalue, evalue, mss, qvalue;
};

TableRowWriter::TableRowWriter(const ScanMotifs &motifs, const ScanSequences &sequences,
                               const ScanRunInfo &run,
                               const std::vector<ScanMotifSummary> &summaries,
                               ScanTableFormat format, FILE *stream)
    : motifs_(motifs), sequences_(sequences), run_(run), summaries_(summaries),
      numbers_(new Numbers) {
  settings_.format = tableformat(format);
  settings_.qvalues = true;
  settings_.molecule =
      sequences.alphabet == SCAN_ALPHABET_PROTEIN ? MOLECULE_PROTEIN : MOLECULE_DNA;
  if (settings_.format != TABLE_TSV) names_ = scanuniquenames(motifs);
  regions_ = sequences.count > 0 && sequences.offsets.size() == sequences.count &&
             sequences.regions.size() == sequences.count;
  out_.stream = stream;
  out_.text.reserve(size_t{1} << 21);
  writetableheader(settings_, &out_);
  if (regions_ && settings_.format == TABLE_TSV) appendlastcolumn(&out_.text, "region");
}

TableRowWriter::~TableRowWriter() = default;

void TableRowWriter::numbers(const ScanRow &row, RowNumbers *out) {
  const ScanMotif &motif = motifs_.motifs[row.motif];
  Numbers &n = *numbers_;
  out->score = n.score.integer(row.score);
  out->pvalue = n.pvalue.real(row.pvalue);
  out->evalue = n.evalue.real(row.pvalue * static_cast<double>(run_.totallength));
  out->mss = n.mss.real(scanmss(motif, row.score));
  out->qvalue = n.qvalue.real(row.qvalue);
}

void TableRowWriter::row(const ScanRow &row, std::string_view text, const RowNumbers *given) {
  const ScanMotif &motif = motifs_.motifs[row.motif];
  const uint64_t offset = regions_ ? sequences_.offsets[row.sequence] : 0;
  RowNumbers own;
  if (given == nullptr) {
    numbers(row, &own);
    given = &own;
  }
  TabsRecord record;
  record.identifier = settings_.format == TABLE_TSV ? std::string_view(motif.id)
                                                    : std::string_view(names_[row.motif]);
  record.accession = motif.accession;
  record.position = offset + row.start - 1;
  record.length = motif.length;
  record.strand = row.strand == '-' ? "rc" : "fn";
  const ScanMotifSummary &summary = summaries_[row.motif];
  record.threshold = numbers_->threshold.integer(row.strand == '-' ? summary.reversethreshold
                                                                   : summary.threshold);
  record.score = given->score;
  record.pvalue = given->pvalue;
  record.pvaluenumber = row.pvalue;
  record.evalue = given->evalue;
  record.mss = given->mss;
  record.sequencenumber = row.sequence;
  record.qvalue = given->qvalue;
  record.matchedtext = text;
  MatchPlace place;
  place.sequence = sequences_.names[row.sequence];
  place.start = offset + row.start;
  place.stop = offset + row.start + motif.length - 1;
  place.strand = record.strand;
  writetablerow(settings_, record, place, text, &out_);
  if (regions_ && settings_.format == TABLE_TSV) {
    appendlastcolumn(&out_.text, sequences_.regions[row.sequence]);
  }
  maybeflush(&out_);
}

int TableRowWriter::finish() {
  flushoutput(&out_);
  if (out_.failed) return reporterror("cannot write the table: %s", std::strerror(out_.error));
  errno = 0;
  if (std::fflush(out_.stream) != 0 || std::ferror(out_.stream) != 0) {
    return reporterror("cannot write the table: %s", std::strerror(errno != 0 ? errno : EIO));
  }
  return 0;
}

// ---- The tables of a result ----------------------------------------------------------------

namespace {

int writetable(const ScanResult &result, const ScanMotifs &motifs,
               const ScanSequences &sequences, ScanTableFormat format, FILE *stream) {
  TableRowWriter writer(motifs, sequences, result.run, result.motifs, format, stream);
  const ScanHits &hits = result.hits;
  std::string text;
  for (size_t i = 0; i < hits.motif.size(); i++) {
    const ScanRow row = scan_hitrow(hits, i);
    scan_hittext(result, motifs, sequences, i, &text);
    writer.row(row, text);
  }
  return writer.finish();
}

}  // namespace

int scan_writetsv(const ScanResult &result, const ScanMotifs &motifs,
                  const ScanSequences &sequences, FILE *stream) {
  ScanCall call;
  return call.finish(writetable(result, motifs, sequences, SCAN_TABLE_TSV, stream));
}

int scan_writebed(const ScanResult &result, const ScanMotifs &motifs,
                  const ScanSequences &sequences, FILE *stream) {
  ScanCall call;
  return call.finish(writetable(result, motifs, sequences, SCAN_TABLE_BED, stream));
}

int scan_writegff3(const ScanResult &result, const ScanMotifs &motifs,
                   const ScanSequences &sequences, FILE *stream) {
  ScanCall call;
  return call.finish(writetable(result, motifs, sequences, SCAN_TABLE_GFF3, stream));
}

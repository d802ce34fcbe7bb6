// Rows of the TSV, BED and GFF3 tables, appended to one output block.
#include "table/tablewriters.hpp"

#include <algorithm>
#include <cerrno>

#include <charconv>
#include <cmath>

#include "base/error.hpp"
#include "base/output.hpp"

namespace {

constexpr size_t flushthreshold = size_t{1} << 20;

constexpr std::string_view tsvheader =
    "motif_id\tmotif_accession\tsequence_name\tsequence_number\tstart\tstop\tstrand\tscore\t"
    "p_value\te_value\tmss\tmatched_sequence\tthreshold\n";

// An empty field of BED and of GFF3 columns is written as ".".
std::string_view orperiod(std::string_view text) { return text.empty() ? "." : text; }

// GFF3 sequence IDs keep letters, digits and .:^*$@!+_?-| and escape every other byte as %XX.
bool plainseqidchar(unsigned char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
         std::string_view(".:^*$@!+_?-|").find(static_cast<char>(c)) != std::string_view::npos;
}

// Attribute values escape the separators ;=&, the percent sign and control characters.
bool plainattributechar(unsigned char c) {
  return c >= 0x20 && c != 0x7f && c != ';' && c != '=' && c != '&' && c != ',' && c != '%';
}

void appendescaped(OutputBuffer *out, std::string_view text, bool (*plain)(unsigned char)) {
  static constexpr char hex[] = "0123456789ABCDEF";
  for (const char c : text) {
    const unsigned char u = static_cast<unsigned char>(c);
    if (plain(u)) {
      out->text.push_back(c);
    } else {
      out->text.push_back('%');
      out->text.push_back(hex[u >> 4]);
      out->text.push_back(hex[u & 15]);
    }
  }
}

// A match is taken for a nucleotide match when it lies on a complementary strand, which only
// nucleotides have, or when its text holds nothing but a, c, g, t, u and n in lower case, as
// zelkosearch prints a DNA database. Protein databases print in upper case, so a peptide
// made of the letters A, C, G and T is not taken for DNA.
bool nucleotidematch(const TabsRecord &record) {
  if (iscomplementary(record)) return true;
  for (const char c : record.matchedtext) {
    switch (c) {
      case 'a': case 'c': case 'g': case 't': case 'u': case 'n':
        break;
      default:
        return false;
    }
  }
  return true;
}

std::string_view bedstrand(std::string_view strand) {
  if (strand == "fn") return "+";
  if (strand == "rc") return "-";
  return ".";
}

void writetsvrow(bool qvalues, const TabsRecord &record, const MatchPlace &place,
                 std::string_view text, OutputBuffer *out) {
  appendtext(out, record.identifier);
  appendchar(out, '\t');
  appendtext(out, record.accession);
  appendchar(out, '\t');
  appendtext(out, place.sequence);
  appendchar(out, '\t');
  appendnumber(out, record.sequencenumber);
  appendchar(out, '\t');
  appendnumber(out, place.start);
  appendchar(out, '\t');
  appendnumber(out, place.stop);
  appendchar(out, '\t');
  appendtext(out, strandsign(place.strand));
  appendchar(out, '\t');
  appendtext(out, record.score);
  appendchar(out, '\t');
  appendtext(out, record.pvalue);
  appendchar(out, '\t');
  appendtext(out, record.evalue);
  appendchar(out, '\t');
  appendtext(out, record.mss);
  appendchar(out, '\t');
  appendtext(out, text);
  appendchar(out, '\t');
  appendtext(out, record.threshold);
  if (qvalues) {
    appendchar(out, '\t');
    appendtext(out, record.qvalue);
  }
  appendchar(out, '\n');
}

void writebedrow(bool extra, const TabsRecord &record, const MatchPlace &place,
                 std::string_view text, OutputBuffer *out) {
  appendtext(out, place.sequence);
  appendchar(out, '\t');
  appendnumber(out, place.start - 1);
  appendchar(out, '\t');
  appendnumber(out, place.stop);
  appendchar(out, '\t');
  appendtext(out, orperiod(record.identifier));
  appendchar(out, '\t');
  appendnumber(out, record.pvalue.empty() ? 0 : bedscore(record.pvaluenumber));
  appendchar(out, '\t');
  appendtext(out, bedstrand(place.strand));
  if (extra) {
    appendchar(out, '\t');
    appendtext(out, orperiod(record.pvalue));
    appendchar(out, '\t');
    appendtext(out, record.score);
    appendchar(out, '\t');
    appendtext(out, orperiod(text));
  }
  appendchar(out, '\n');
}

void writegff3row(MoleculeKind molecule, const TabsRecord &record, const MatchPlace &place,
                  std::string_view text, OutputBuffer *out) {
  const bool protein = molecule == MOLECULE_PROTEIN ||
                       (molecule == MOLECULE_AUTO && !nucleotidematch(record));
  appendescaped(out, place.sequence, plainseqidchar);
  appendtext(out, "\tzelkosearch\t");
  appendtext(out, protein ? "binding_site" : "TF_binding_site");
  appendchar(out, '\t');
  appendnumber(out, place.start);
  appendchar(out, '\t');
  appendnumber(out, place.stop);
  appendchar(out, '\t');
  appendtext(out, record.score);
  appendchar(out, '\t');
  appendtext(out, bedstrand(place.strand));
  appendtext(out, "\t.\t");
  // Attributes in a fixed order; an absent value leaves its attribute out.
  struct Attribute {
    std::string_view name;
    std::string_view value;
  };
  const Attribute attributes[] = {{"Name", record.identifier},
                                  {"Alias", record.accession},
                                  {"pvalue", record.pvalue},
                                  {"qvalue", record.qvalue},
                                  {"sequence", text}};
  bool any = false;
  for (const Attribute &attribute : attributes) {
    if (attribute.value.empty()) continue;
    if (any) appendchar(out, ';');
    appendtext(out, attribute.name);
    appendchar(out, '=');
    appendescaped(out, attribute.value, plainattributechar);
    any = true;
  }
  if (!any) appendchar(out, '.');
  appendchar(out, '\n');
}

}  // namespace

void TextBlock::grow(size_t more) {
  size_t capacity = std::max<size_t>(capacity_ + capacity_ / 2, 256);
  if (capacity < size_ + more) capacity = size_ + more;
  data_ = allocorexit<char>(data_, capacity);
  capacity_ = capacity;
}

void flushoutput(OutputBuffer *out) {
  if (out->text.empty() || out->failed) {
    out->text.clear();
    return;
  }
  if (out->stream == nullptr) {
    if (writeoutput(out->text.data(), out->text.size()) != 0) out->failed = true;
  } else {
    errno = 0;
    if (std::fwrite(out->text.data(), 1, out->text.size(), out->stream) != out->text.size()) {
      out->failed = true;
      out->error = errno != 0 ? errno : EIO;
    }
  }
  out->text.clear();
}

void maybeflush(OutputBuffer *out) {
  if (out->text.size() >= flushthreshold) flushoutput(out);
}

void writetableheader(const TableSettings &settings, OutputBuffer *out) {
  if (settings.format == TABLE_TSV) {
    appendtext(out, tsvheader.substr(0, tsvheader.size() - 1));
    appendtext(out, settings.qvalues ? "\tq_value\n" : "\n");
  }
  if (settings.format == TABLE_GFF3) appendtext(out, "##gff-version 3\n");
}

void writetablerow(const TableSettings &settings, const TabsRecord &record,
                   const MatchPlace &place, std::string_view text, OutputBuffer *out) {
  switch (settings.format) {
    case TABLE_TSV:
      writetsvrow(settings.qvalues, record, place, text, out);
      break;
    case TABLE_BED:
      writebedrow(settings.bedextra, record, place, text, out);
      break;
    case TABLE_GFF3:
      writegff3row(settings.molecule, record, place, text, out);
      break;
  }
}

uint64_t bedscore(double pvalue) {
  if (!(pvalue < 1.0)) return 0;  // also a NaN
  if (pvalue <= 0.0) return 1000;
  const double score = std::round(-10.0 * std::log10(pvalue));
  return score >= 1000.0 ? 1000 : static_cast<uint64_t>(score);
}

// The CisML report: the run's matches as an XML document listing pattern by pattern and,
// within a pattern, sequence by sequence. It is written in three steps on standard output:
// the head before the searches, the body from the MatchCollection (collected with the sort
// keys "gn") after all searches, and the closing line last.
//
// Every text and attribute value is escaped so that the document is well-formed whatever the
// file names, identifiers and sequence descriptions hold: the five XML special characters
// become entity references, and bytes XML 1.0 does not allow (control characters other than
// tab, newline and carriage return, and bytes outside valid UTF-8) are written as "?".
//
// Contents: appendxmltext; cisml_write_head, cisml_write_body, cisml_write_tail; report_cisml.
#pragma once

#include <cstdint>
#include <string>

#include "model/match.hpp"

struct MatchCollection;

// Appends length bytes of text escaped for XML. With descriptionnewlines every newline is
// written as ". " (sequence descriptions), otherwise as it is.
void appendxmltext(std::string &text, const unsigned char *bytes, uint64_t length,
                   bool descriptionnewlines);

// Writes the XML declaration, the root start tag, the program name (for example "Zelkosearch
// 1.3-mt 64bit") and the run's parameters. Returns 0, or -1 after a failed write (message in
// the ErrorBuffer, error code set).
int cisml_write_head(const SearchSettings *settings, const char *programname);

// Walks collection (null counts as empty) in key order and writes one pattern element per
// Profile, one scanned-sequence element per sequence within it and one matched-element per
// entry. walkmatch supplies what every entry shares: source kind and source, character table
// and the SearchJob (settings, frequencies, complement table); its job's current Profile
// and strand are changed on the way. *ret_written is the number of matched-elements written.
// Returns 0, or -1 with the message in the ErrorBuffer and the error code set (a sequence
// whose bounds cannot be found, a score type other than integer or float, a failed write);
// the open pattern element is closed also then.
int cisml_write_body(MatchCollection *collection, const Match *walkmatch, uint64_t *ret_written);

// Writes the closing line of the document: 0, or -1 after a failed write, as above.
int cisml_write_tail();

// The ReportFunction of the CisML format. The engines never call it (the format always
// collects its matches first), so a call is an internal error: -1.
int report_cisml(Match *match);

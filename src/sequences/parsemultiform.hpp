// Rewriting GenBank and EMBL records as Fasta text inside their own buffer.
#pragma once

#include <cstdint>

enum SequenceFormat { FORMAT_GENBANK, FORMAT_EMBL };

// The three keys that shape a record: its start, the description line and the line that
// opens the sequence part.
struct RecordKeys {
  const char *startkey;
  const char *descriptionkey;
  const char *sequencekey;
};
extern const RecordKeys genbankkeys;  // "LOCUS", "\nDEFINITION", "\nORIGIN"
extern const RecordKeys emblkeys;     // "ID   ", "\nDE   ", "\nSQ   "

// Detects Fasta, GenBank or EMBL and leaves Fasta text at the start of buffer. Returns the
// new length; 0 when the text is none of the three; -1 when a GenBank record failed, -2 when
// an EMBL record failed (message in the ErrorBuffer, text only).
int64_t convertmultiformat(unsigned char *buffer, uint64_t length);

// The format the last successful convertmultiformat found (SOURCE_FASTA before any).
enum SourceFormat { SOURCE_FASTA, SOURCE_GENBANK, SOURCE_EMBL };
SourceFormat lastconvertedformat();

// Converts the one record at the start of text (length bytes) to ">id description\n" plus
// the sequence and a newline, written at destination, which may be text itself or lie
// before it. Returns the bytes written and the record's length in *ret_consumed; 0 when the
// text does not begin with the start key; -1 (EMBL: no "bp."/"aa." at the end of the first
// line), -2 (no description key), -3 (no sequence key), -4 (no "//" end) with the message.
int64_t convertrecord(SequenceFormat format, unsigned char *text, uint64_t length,
                      unsigned char *destination, uint64_t *ret_consumed,
                      const RecordKeys *keys);

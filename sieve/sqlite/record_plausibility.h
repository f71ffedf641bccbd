// Whether values read from free space can be what SQLite stored, or are bytes read from the
// wrong offset. A cell found with its first bytes overwritten has no payload length left to
// check its serial types against, so its values must show they are values.
//
// Facts relied on: text is stored in the database's encoding (UTF-8, or UTF-16 in two-byte
// code units, so an even number of bytes); numbers are stored big-endian, integers in 1, 2, 3,
// 4, 6 or 8 bytes (serial types 1..6), reals in 8 (type 7). Text read at a wrong offset shows
// as numbers whose bytes are all characters, as broken UTF-8 or UTF-16, or as UTF-16 whose
// code units are shifted by a byte.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "sieve/sqlite/record_decoder.h"
#include "sieve/sqlite/record_shape.h"

namespace sieve::sqlite {

// The text without a UTF-8 sequence its cut left incomplete at the end.
std::string_view WholeUtf8Sequences(std::string_view text);

// Text whose bytes are well formed in `encoding`: valid UTF-8, or UTF-16 of an even length
// with every surrogate paired. A value cut short (its overflow pages lost) is judged on the
// whole code units or sequences it kept.
bool TextWellFormed(const Value& value, TextEncoding encoding);

// UTF-16 text whose code units mostly hold a printable ASCII byte beside a zero in the
// wrong half: ASCII read one byte off its alignment.
bool Utf16ShiftedByOne(const Value& value, TextEncoding encoding);

// An integer of four or more bytes or a real whose stored bytes are all characters of
// `encoding` (printable ASCII; in UTF-16, those with zero bytes between them): text read
// as a number.
bool NumberHoldsText(std::uint64_t serialType, const Value& value, TextEncoding encoding);

// An integer of serial type 2..6 whose value would fit the next smaller size: SQLite always
// stores an integer in the fewest bytes of 1, 2, 3, 4, 6 or 8 that hold it.
bool IntegerOversized(std::uint64_t serialType, const Value& value);

// A record found without its cell prefix must have every value plausible by the rules above.
bool DamagedValuesPlausible(const CarvedRecord& record, TextEncoding encoding);

// Whether a record found without its cell prefix, whose header length could not be checked
// and which does not fill its freeblock, says enough to be believed: at least two known
// values when the table has two columns or more beside the rowid alias. A lone value beside
// NULLs is what a run of stale bytes (page numbers, zeros) reads as most often.
bool SaysEnoughUnchecked(const CarvedRecord& record, const RecordShape& shape);

// Whether the record's lost first serial type was a guess: its column may hold text or blob,
// of any length, yet a fixed size was assumed to find the later values. Only a record that
// fills its freeblock confirms the guess (the block's size then fixes the lost length).
bool LostTypeGuessed(const CarvedRecord& record, const RecordShape& shape);

}  // namespace sieve::sqlite

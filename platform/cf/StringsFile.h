// The parser of a bundle's string tables (".strings" files):
//
//   /* comment */  // comment
//   "key" = "value";
//   unquoted_key = "value";
//
// in UTF-8 (with or without a byte-order mark) or UTF-16 with a byte-order
// mark. Quoted strings take the escapes \" \\ \' \n \t \r \a \b \f \v, octal
// \NNN, and \Uxxxx or \uxxxx (two of them may form a surrogate pair); an entry
// "key"; maps the key to itself. Unquoted strings are made of A-Z a-z 0-9 and
// _ . $ : / -. A pure function, tested directly.
#pragma once

#include <cstddef>
#include <map>
#include <span>
#include <string>

namespace tv::cf {

using StringsTable = std::map<std::u16string, std::u16string>;

// Parses a whole file. On a syntax error returns false, leaves *out empty and
// sets *errorLine to the 1-based line where the faulty construct starts: one
// mistake voids the whole table, so that no half-read translation shows.
// A later entry replaces an earlier one with the same key.
bool ParseStringsFile(std::span<const unsigned char> bytes, StringsTable *out, size_t *errorLine);

}  // namespace tv::cf

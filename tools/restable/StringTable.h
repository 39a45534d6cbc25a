// The string-table compiler's parts: reading the readable source of a
// language library, laying its texts out in string-table blocks, and writing
// the C++ source that defines the module's resource directory
// (platform/os/resource.h).
//
// Source syntax, one string per line, UTF-8:
//   # a comment (only where a line starts with '#', after blanks)
//   23007, n,North                 id, a comma, then the text
//   20749, "toward %s "            quoted: kept exactly, blanks included
// The id is a whole number from 0 to 65535, each id at most once. An unquoted
// text is taken from the first non-blank character after the comma to the last
// non-blank of the line; a quoted text runs from the opening quote to a closing
// quote that must end the line. Both forms know the escapes \n (new line),
// \t (tab), \\ (backslash) and \" (quote); any other backslash is an error. An
// unquoted text may not be empty: write "" for an empty string (which reads the
// same as a missing one). Texts hold at most 65535 UTF-16 characters.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace restable {

struct StringEntry {
  std::uint16_t id;
  std::u16string text;
  int line;  // where it was defined, for messages
};

struct ParseResult {
  std::vector<StringEntry> entries;  // in source order
  std::vector<std::string> errors;   // "name:line: message", in source order
  bool Ok() const { return errors.empty(); }
};

// Reads a whole source. `sourceName` is put in front of each message. A source
// with errors still gives the entries of its good lines.
[[nodiscard]] ParseResult ParseStringTableSource(std::string_view source, std::string_view sourceName);

// Block number ((id / 16) + 1) to the block's 16-bit units: for each of the 16
// ids of the block in order, its length and its characters (length 0 for an
// id without text).
using StringBlocks = std::map<std::uint16_t, std::vector<std::uint16_t>>;
[[nodiscard]] StringBlocks BuildStringBlocks(const std::vector<StringEntry>& entries);

// The C++ source of a resource module holding `blocks` as RT_STRING resources;
// `sourceName` is named in its header comment.
[[nodiscard]] std::string WriteResourceSource(const StringBlocks& blocks, std::string_view sourceName);

}  // namespace restable

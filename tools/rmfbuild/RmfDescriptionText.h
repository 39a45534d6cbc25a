// The plain-text form of a map description, read by the `rmfbuild` command
// and written back for round trips. One statement per line; `#` starts a
// comment line; blank lines are skipped. Numbers are decimal (optionally
// negative) or hexadecimal with 0x; points are X,Y and boxes X1,Y1,X2,Y2 in
// map units; texts are "quoted" with the escapes \" \\ \n \t and \xHH.
//
//   header [version=N] [flags=F,F,...] [word4=N] [byte6=N] [word44=N]
//          [runs=merged|per-tile] [texts=checked|free]
//       F is wide-entries, compressed or a number (further flag bits).
//       version defaults to 0x11. runs=per-tile gives every tile its own
//       index entry; texts=free lets texts exceed the 5/50/250 widths.
//   box X1,Y1,X2,Y2            header bounding box (default: from the records)
//   region X1,Y1,X2,Y2         region box (default: the bounding box)
//   levelmasks M1,M2,...,M8    level-mask words of detail levels 1..8
//                              (default: from the records)
//   classes points|lines|areas|boundaries presence=N levels=B1,...,B8
//                              class summary; once one line is given, the
//                              categories not named are all zero
//                              (default: from the record codes)
//   annotation TEXT            one annotation text, the rest of the line
//                              ("FILENAME: x.rmf"), or a quoted text
//   tile id=N                  a tile by id ...
//   tile level=L point=X,Y     ... or the level's tile that holds the point
//   record [wide-points] [base=X,Y] [box=X1,Y1,X2,Y2] [byte2=N] [flags=N]
//          [word38=N] [word40=N] [word44=N] ... [word56=N]
//                              a structured record of the last tile; flags
//                              are further bits of byte 3, wordNN the spare
//                              header words at offset NN
//   points X,Y X,Y ...         points appended to the record
//   part "CODE" "NAME" "DETAIL" [class=N] [spare=N]
//                              a feature entry of the record; class bits by
//                              default from the code
//   vertices I I ...           point indexes appended to the part's words
//   attr "CODE" "NAME" "DETAIL"  an attribute triple word appended to the part
//   word N N ...               vertex words appended as written
//   raw [more] HEX...          a record of the last tile given as its
//                              uncompressed bytes (length word included);
//                              with `more` the builder sets its bit 1 of byte 3
//   stored HEX...              bytes put into the tile's data verbatim
//
// Example:
//   header version=0x11 flags=compressed
//   annotation FILENAME: small.rmf
//   tile level=3 point=1000,2000
//   record
//   points 1000,2000 1100,2050 1200,2100
//   part "431" "Main Street" ""
//   vertices 0 1 2
#pragma once

#include <string>
#include <string_view>

#include "tools/rmfbuild/RmfBuilder.h"

namespace rmfbuild {

struct ParseResult {
  bool ok = false;
  std::string error;  // "line N: why"
  MapDescription description;
  explicit operator bool() const { return ok; }
};

ParseResult ParseDescription(std::string_view text);

// The text of a description; ParseDescription of it gives a description that
// builds to the same bytes.
std::string FormatDescription(const MapDescription& description);

}  // namespace rmfbuild

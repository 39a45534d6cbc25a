// Small building blocks shared by the map engine: wide-text helpers over BSTRs,
// the fixed-capacity text containers CBstrArray and CKeyValueTable, the
// visited-point list of the intersection walk, the heading comparison with a
// tolerance, great-circle distance and course, a file-existence test and the
// writer of the debug log file.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/com/accessors.h"
#include "platform/com/oleauto.h"

// ---- wide texts ---------------------------------------------------------------

// A wide text handed to the helpers below. It takes a NUL-terminated pointer
// (a null pointer is the empty text), a view or a string. A BSTR passed here is
// read up to its first NUL; pass BstrView(b) to keep embedded NULs.
class TextRef {
 public:
  TextRef(const OLECHAR* text) : m_Text(text != nullptr ? std::u16string_view(text) : std::u16string_view()) {}
  TextRef(std::u16string_view text) : m_Text(text) {}
  TextRef(const std::u16string& text) : m_Text(text) {}

  std::u16string_view View() const { return m_Text; }

 private:
  std::u16string_view m_Text;
};

// The text of a BSTR by its stored length; a null BSTR is the empty text.
using com::BstrView;

// Replaces the BSTR `field` with a new copy of `text` and frees the old one, so
// code that fills an object's texts never leaks when it overwrites one. Returns
// false, leaving `field` as it was, when the copy cannot be allocated.
bool AssignBstr(BSTR& field, TextRef text);

// Simple (one character to one character) Unicode lower-casing for Basic
// Latin, Latin-1 Supplement, Latin Extended-A and -B, Greek and Coptic,
// Cyrillic with its supplement, and Latin Extended Additional; every other
// character is returned unchanged.
char16_t LowerCaseChar(char16_t c);
std::u16string LowerCaseText(TextRef text);
// Upper-casing of the 26 Basic Latin letters only (map names, street names
// compared without case); every other character is returned unchanged.
std::u16string UpperCaseAsciiText(std::u16string_view text);

// Whether `part` occurs in `text`: request keywords and texts already said are
// found this way (case-sensitive).
inline bool ContainsText(std::u16string_view text, std::u16string_view part) {
  return text.find(part) != std::u16string_view::npos;
}

// ---- CBstrArray -----------------------------------------------------------------

// A fixed number of text slots filled in order. Appending beyond the capacity
// drops the text; callers rely on a table silently ceasing to grow.
class CBstrArray {
 public:
  explicit CBstrArray(int nCapacity);
  ~CBstrArray();
  CBstrArray(const CBstrArray&) = delete;
  CBstrArray& operator=(const CBstrArray&) = delete;

  // Stores a copy of `text` in the next slot: 1, or 0 (nothing stored) when the
  // array is full, has no slots after Clear, or memory runs out.
  int Append(TextRef text);
  // A new BSTR copy of slot `index` that the caller frees; an index outside
  // 0 .. Count() - 1 gives an empty text.
  BSTR Get(int index) const;
  // The text of slot `index` without copying, valid until the array changes;
  // empty outside 0 .. Count() - 1.
  std::u16string_view At(int index) const;
  // Index of the first slot equal to `text` (same length, same characters), or -1.
  int Find(TextRef text) const;
  // Frees every slot and the slot array: Append answers 0 until Reset.
  void Clear();
  // Frees every slot and provides a fresh slot array of the same capacity.
  void Reset();

  int Count() const { return m_nCount; }
  int Capacity() const { return m_nCapacity; }

 private:
  friend class CKeyValueTable;
  bool HasFreeSlot() const;
  // Stores a text the caller allocated; the array owns it from then on.
  // False (and nothing taken) when there is no free slot.
  bool AppendOwned(BSTR bstr);
  void FreeSlots();

  int m_nCapacity;
  int m_nCount = 0;
  BSTR* m_pSlots = nullptr;
};

// ---- CKeyValueTable ---------------------------------------------------------------

// Pairs of texts with keys stored lower-cased, searched from the first entry.
// Duplicate keys are kept; a lookup finds the first.
class CKeyValueTable {
 public:
  explicit CKeyValueTable(int nCapacity);
  virtual ~CKeyValueTable();
  CKeyValueTable(const CKeyValueTable&) = delete;
  CKeyValueTable& operator=(const CKeyValueTable&) = delete;

  // Appends (lower-cased key, value). False, with nothing stored, when the
  // table is full or memory runs out; callers may ignore it.
  bool Add(TextRef key, TextRef value);
  bool Contains(TextRef key) const;
  // A new BSTR copy of the value of the first entry whose key equals the
  // lower-cased `key`, "" when there is none; the caller frees it.
  BSTR Lookup(TextRef key) const;
  // The same value without copying, valid until the table changes.
  std::u16string_view LookupView(TextRef key) const;

  int Count() const { return m_Keys.Count(); }
  int Capacity() const { return m_Keys.Capacity(); }
  const CBstrArray& Keys() const { return m_Keys; }
  const CBstrArray& Values() const { return m_Values; }

 private:
  int FindKey(TextRef key) const;

  CBstrArray m_Keys;
  CBstrArray m_Values;
};

// ---- visited points ------------------------------------------------------------------

inline constexpr int MAX_VISITED_POINTS = 100;

struct VisitedPoint {
  LONG x;
  LONG y;
  LONG value;
};

// Points (in map units) already reached by a walk, each with a value of its
// caller's choosing (the intersection walk keeps a heading there).
struct VisitedPointList {
  int m_nCount = 0;
  VisitedPoint m_Points[MAX_VISITED_POINTS] = {};
};

// Appends (x, y, value) when the list holds fewer than MAX_VISITED_POINTS
// entries and (x, y) is not in it yet; true when it was appended.
bool AddVisitedPoint(VisitedPointList& list, LONG x, LONG y, LONG value);
bool IsVisitedPoint(const VisitedPointList& list, LONG x, LONG y);

// ---- headings and the sphere ----------------------------------------------------------

// Whether a heading (degrees, -1 for none) and an orientation (degrees) lie
// within `tolerance` degrees of each other across the 0/360 seam. A missing
// heading matches everything.
bool AreHeadingAndOrientationSimilar(int heading, int orientation, int tolerance);

// Haversine distance in nautical miles between two points given in radians.
double GreatCircleDistance(double lat1, double lon1, double lat2, double lon2);
// Initial course from point 1 to point 2 in radians, clockwise from north, in
// 0 .. 2*pi (east-positive longitudes). Coincident points give 0.
double GreatCircleCourse(double lat1, double lon1, double lat2, double lon2);

// ---- files ----------------------------------------------------------------------------

// True when FindFirstFileW finds a match for the phone path (wildcards allowed).
bool FileExists(TextRef path);

// Appends "<MM DD YYYY hh:mm:ss> " (local time), the text as it is and "\n" to
// "gpsDebug.txt" in the phone folder `folder`, opening and closing the file for
// this one line. False when the folder name is empty or the file cannot be
// opened or written; the folder is never created.
bool WriteDebugLogLine(TextRef folder, TextRef text);

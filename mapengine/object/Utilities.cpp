// Small building blocks shared by the map engine: text helpers, the two
// fixed-capacity text containers, visited points, heading comparison,
// great-circle geometry, the file-existence test and the debug log writer.
#include "mapengine/object/Utilities.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <iterator>
#include <new>
#include <numbers>

#include "platform/os/clock.h"
#include "platform/os/device.h"
#include "platform/os/files.h"
#include "platform/os/format.h"
#include "platform/os/text.h"

namespace {

// A new BSTR holding `text`; nullptr when memory runs out or the text is too
// long for a BSTR.
BSTR AllocBstr(std::u16string_view text) {
  if (text.size() > 0x3FFFFFFFu) return nullptr;
  return SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
}

// Lower-case mappings as runs: characters first, first + step, ... up to last
// map to themselves plus delta. Sorted by first; runs do not overlap.
struct CaseRun {
  char16_t first;
  char16_t last;
  int delta;
  int step;
};

constexpr CaseRun kLowerCaseRuns[] = {
    // Latin-1 Supplement (the multiplication sign at 0xD7 stays)
    {0x00C0, 0x00D6, 32, 1}, {0x00D8, 0x00DE, 32, 1},
    // Latin Extended-A (0x130, capital I with dot, lower-cases to plain i)
    {0x0100, 0x012E, 1, 2}, {0x0130, 0x0130, -199, 1}, {0x0132, 0x0136, 1, 2}, {0x0139, 0x0147, 1, 2},
    {0x014A, 0x0176, 1, 2}, {0x0178, 0x0178, -121, 1}, {0x0179, 0x017D, 1, 2},
    // Latin Extended-B
    {0x0181, 0x0181, 210, 1}, {0x0182, 0x0184, 1, 2}, {0x0186, 0x0186, 206, 1}, {0x0187, 0x0187, 1, 1},
    {0x0189, 0x018A, 205, 1}, {0x018B, 0x018B, 1, 1}, {0x018E, 0x018E, 79, 1}, {0x018F, 0x018F, 202, 1},
    {0x0190, 0x0190, 203, 1}, {0x0191, 0x0191, 1, 1}, {0x0193, 0x0193, 205, 1}, {0x0194, 0x0194, 207, 1},
    {0x0196, 0x0196, 211, 1}, {0x0197, 0x0197, 209, 1}, {0x0198, 0x0198, 1, 1}, {0x019C, 0x019C, 211, 1},
    {0x019D, 0x019D, 213, 1}, {0x019F, 0x019F, 214, 1}, {0x01A0, 0x01A4, 1, 2}, {0x01A6, 0x01A6, 218, 1},
    {0x01A7, 0x01A7, 1, 1}, {0x01A9, 0x01A9, 218, 1}, {0x01AC, 0x01AC, 1, 1}, {0x01AE, 0x01AE, 218, 1},
    {0x01AF, 0x01AF, 1, 1}, {0x01B1, 0x01B2, 217, 1}, {0x01B3, 0x01B5, 1, 2}, {0x01B7, 0x01B7, 219, 1},
    {0x01B8, 0x01B8, 1, 1}, {0x01BC, 0x01BC, 1, 1}, {0x01C4, 0x01C4, 2, 1}, {0x01C5, 0x01C5, 1, 1},
    {0x01C7, 0x01C7, 2, 1}, {0x01C8, 0x01C8, 1, 1}, {0x01CA, 0x01CA, 2, 1}, {0x01CB, 0x01DB, 1, 2},
    {0x01DE, 0x01EE, 1, 2}, {0x01F1, 0x01F1, 2, 1}, {0x01F2, 0x01F4, 1, 2}, {0x01F6, 0x01F6, -97, 1},
    {0x01F7, 0x01F7, -56, 1}, {0x01F8, 0x021E, 1, 2}, {0x0220, 0x0220, -130, 1}, {0x0222, 0x0232, 1, 2},
    {0x023A, 0x023A, 10795, 1}, {0x023B, 0x023B, 1, 1}, {0x023D, 0x023D, -163, 1}, {0x023E, 0x023E, 10792, 1},
    {0x0241, 0x0241, 1, 1}, {0x0243, 0x0243, -195, 1}, {0x0244, 0x0244, 69, 1}, {0x0245, 0x0245, 71, 1},
    {0x0246, 0x024E, 1, 2},
    // Greek and Coptic
    {0x0370, 0x0372, 1, 2}, {0x0376, 0x0376, 1, 1}, {0x037F, 0x037F, 116, 1}, {0x0386, 0x0386, 38, 1},
    {0x0388, 0x038A, 37, 1}, {0x038C, 0x038C, 64, 1}, {0x038E, 0x038F, 63, 1}, {0x0391, 0x03A1, 32, 1},
    {0x03A3, 0x03AB, 32, 1}, {0x03CF, 0x03CF, 8, 1}, {0x03D8, 0x03EE, 1, 2}, {0x03F4, 0x03F4, -60, 1},
    {0x03F7, 0x03F7, 1, 1}, {0x03F9, 0x03F9, -7, 1}, {0x03FA, 0x03FA, 1, 1}, {0x03FD, 0x03FF, -130, 1},
    // Cyrillic and Cyrillic Supplement
    {0x0400, 0x040F, 80, 1}, {0x0410, 0x042F, 32, 1}, {0x0460, 0x0480, 1, 2}, {0x048A, 0x04BE, 1, 2},
    {0x04C0, 0x04C0, 15, 1}, {0x04C1, 0x04CD, 1, 2}, {0x04D0, 0x052E, 1, 2},
    // Latin Extended Additional (0x1E9E, capital sharp s, lower-cases to 0xDF)
    {0x1E00, 0x1E94, 1, 2}, {0x1E9E, 0x1E9E, -7615, 1}, {0x1EA0, 0x1EFE, 1, 2},
};

constexpr bool RunsAreOrdered() {
  for (std::size_t i = 0; i < std::size(kLowerCaseRuns); ++i) {
    const CaseRun& r = kLowerCaseRuns[i];
    if (r.first > r.last || (r.last - r.first) % r.step != 0) return false;
    if (i > 0 && kLowerCaseRuns[i - 1].last >= r.first) return false;
  }
  return true;
}
static_assert(RunsAreOrdered());

// Whether the stored (already lower-cased) key equals `key` once lower-cased,
// compared without building the lower-cased copy.
bool KeyEquals(std::u16string_view stored, std::u16string_view key) {
  if (stored.size() != key.size()) return false;
  for (std::size_t i = 0; i < key.size(); ++i) {
    if (stored[i] != LowerCaseChar(key[i])) return false;
  }
  return true;
}

// A new BSTR holding `text` lower-cased; nullptr when memory runs out.
BSTR AllocLowerCaseBstr(std::u16string_view text) {
  BSTR bstr = AllocBstr(text);
  if (bstr == nullptr) return nullptr;
  for (std::size_t i = 0; i < text.size(); ++i) bstr[i] = LowerCaseChar(text[i]);
  return bstr;
}

}  // namespace

// ---- wide texts ---------------------------------------------------------------

bool AssignBstr(BSTR& field, TextRef text) {
  BSTR copy = AllocBstr(text.View());
  if (copy == nullptr) return false;
  SysFreeString(field);
  field = copy;
  return true;
}

char16_t LowerCaseChar(char16_t c) {
  // Street names are mostly ASCII: settle those without the table.
  if (c < 0x80) return (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c + 32) : c;
  if (c < kLowerCaseRuns[0].first) return c;
  const CaseRun* end = std::end(kLowerCaseRuns);
  const CaseRun* run =
      std::lower_bound(std::begin(kLowerCaseRuns), end, c, [](const CaseRun& r, char16_t ch) { return r.last < ch; });
  if (run == end || c < run->first || (c - run->first) % run->step != 0) return c;
  return static_cast<char16_t>(c + run->delta);
}

std::u16string LowerCaseText(TextRef text) {
  std::u16string lower(text.View());
  for (char16_t& c : lower) c = LowerCaseChar(c);
  return lower;
}

// ---- CBstrArray -----------------------------------------------------------------

CBstrArray::CBstrArray(int nCapacity) : m_nCapacity(std::max(nCapacity, 0)) { Reset(); }

CBstrArray::~CBstrArray() { FreeSlots(); }

void CBstrArray::FreeSlots() {
  if (m_pSlots != nullptr) {
    for (int i = 0; i < m_nCount; ++i) SysFreeString(m_pSlots[i]);
    delete[] m_pSlots;
  }
  m_pSlots = nullptr;
  m_nCount = 0;
}

void CBstrArray::Clear() { FreeSlots(); }

void CBstrArray::Reset() {
  FreeSlots();
  // Without memory for the slots the array stays unusable (Append answers 0)
  // rather than failing its caller.
  if (m_nCapacity > 0) m_pSlots = new (std::nothrow) BSTR[static_cast<std::size_t>(m_nCapacity)]();
}

bool CBstrArray::HasFreeSlot() const { return m_pSlots != nullptr && m_nCount < m_nCapacity; }

bool CBstrArray::AppendOwned(BSTR bstr) {
  if (!HasFreeSlot()) return false;
  m_pSlots[m_nCount++] = bstr;
  return true;
}

int CBstrArray::Append(TextRef text) {
  if (!HasFreeSlot()) return 0;
  BSTR copy = AllocBstr(text.View());
  if (copy == nullptr) return 0;
  AppendOwned(copy);
  return 1;
}

std::u16string_view CBstrArray::At(int index) const {
  if (m_pSlots == nullptr || index < 0 || index >= m_nCount) return {};
  return BstrView(m_pSlots[index]);
}

BSTR CBstrArray::Get(int index) const { return AllocBstr(At(index)); }

int CBstrArray::Find(TextRef text) const {
  for (int i = 0; i < m_nCount; ++i) {
    if (At(i) == text.View()) return i;
  }
  return -1;
}

// ---- CKeyValueTable ---------------------------------------------------------------

CKeyValueTable::CKeyValueTable(int nCapacity) : m_Keys(nCapacity), m_Values(nCapacity) {}

CKeyValueTable::~CKeyValueTable() = default;

bool CKeyValueTable::Add(TextRef key, TextRef value) {
  // Both halves are allocated before either is stored, so keys and values
  // stay paired even when memory runs out.
  if (!m_Keys.HasFreeSlot() || !m_Values.HasFreeSlot()) return false;
  BSTR keyCopy = AllocLowerCaseBstr(key.View());
  BSTR valueCopy = AllocBstr(value.View());
  if (keyCopy == nullptr || valueCopy == nullptr) {
    SysFreeString(keyCopy);
    SysFreeString(valueCopy);
    return false;
  }
  m_Keys.AppendOwned(keyCopy);
  m_Values.AppendOwned(valueCopy);
  return true;
}

int CKeyValueTable::FindKey(TextRef key) const {
  for (int i = 0; i < m_Keys.Count(); ++i) {
    if (KeyEquals(m_Keys.At(i), key.View())) return i;
  }
  return -1;
}

std::u16string UpperCaseAsciiText(std::u16string_view text) {
  std::u16string upper(text);
  for (char16_t& c : upper) {
    if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - u'a' + u'A');
  }
  return upper;
}

bool CKeyValueTable::Contains(TextRef key) const { return FindKey(key) >= 0; }

std::u16string_view CKeyValueTable::LookupView(TextRef key) const {
  int index = FindKey(key);
  return index >= 0 ? m_Values.At(index) : std::u16string_view();
}

BSTR CKeyValueTable::Lookup(TextRef key) const { return AllocBstr(LookupView(key)); }

// ---- visited points ------------------------------------------------------------------

namespace {
// The number of entries that may be read, whatever a caller wrote into the count.
int UsableCount(const VisitedPointList& list) { return std::clamp(list.m_nCount, 0, MAX_VISITED_POINTS); }
}  // namespace

bool AddVisitedPoint(VisitedPointList& list, LONG x, LONG y, LONG value) {
  int count = UsableCount(list);
  if (count >= MAX_VISITED_POINTS || IsVisitedPoint(list, x, y)) return false;
  list.m_Points[count] = VisitedPoint{x, y, value};
  list.m_nCount = count + 1;
  return true;
}

bool IsVisitedPoint(const VisitedPointList& list, LONG x, LONG y) {
  int count = UsableCount(list);
  for (int i = 0; i < count; ++i) {
    if (list.m_Points[i].x == x && list.m_Points[i].y == y) return true;
  }
  return false;
}

// ---- headings and the sphere ----------------------------------------------------------

bool AreHeadingAndOrientationSimilar(int heading, int orientation, int tolerance) {
  if (heading == -1) return true;
  // 64-bit differences: any pair of int angles gives an answer, never an overflow.
  std::int64_t d = std::int64_t{heading} - orientation;
  if (d < 0) d = -d;
  std::int64_t across = 360 - d;
  if (across < 0) across = -across;
  return d < tolerance || across < tolerance;
}

namespace {
constexpr double kEarthRadiusNauticalMiles = 3437.90496760259;

// Central angle between two points by the haversine formula; the sine's
// argument is clamped so that rounding near antipodes cannot leave asin's domain.
double CentralAngle(double lat1, double lon1, double lat2, double lon2) {
  double sinHalfLat = std::sin((lat1 - lat2) / 2);
  double sinHalfLon = std::sin((lon1 - lon2) / 2);
  double a = sinHalfLat * sinHalfLat + std::cos(lat1) * std::cos(lat2) * sinHalfLon * sinHalfLon;
  return 2 * std::asin(std::sqrt(std::clamp(a, 0.0, 1.0)));
}
}  // namespace

double GreatCircleDistance(double lat1, double lon1, double lat2, double lon2) {
  return CentralAngle(lat1, lon1, lat2, lon2) * kEarthRadiusNauticalMiles;
}

double GreatCircleCourse(double lat1, double lon1, double lat2, double lon2) {
  constexpr double kTwoPi = 2 * std::numbers::pi;
  double d = CentralAngle(lat1, lon1, lat2, lon2);
  if (!(d > 0)) return 0;  // coincident points (and NaN input)
  // From a pole every course leads south (north pole) or north (south pole).
  double cosLat1 = std::cos(lat1);
  if (cosLat1 < 1e-12) return lat1 > 0 ? std::numbers::pi : 0;
  double sinD = std::sin(d);
  if (!(std::fabs(sinD) > 1e-15)) return 0;  // antipodes: every course leads there
  double cosCourse = (std::sin(lat2) - std::sin(lat1) * std::cos(d)) / (sinD * cosLat1);
  double course = std::acos(std::clamp(cosCourse, -1.0, 1.0));
  // acos gives 0 .. pi; a destination to the west lies on the other half of
  // the compass. At longitude differences of 0 and pi the sine is (about) 0
  // and the course is due north or south, which acos already gives.
  if (std::sin(lon2 - lon1) < 0) course = kTwoPi - course;
  if (!(course < kTwoPi) || !(course >= 0)) return 0;
  return course;
}

// ---- files ----------------------------------------------------------------------------

bool FileExists(TextRef path) {
  if (path.View().empty()) return false;
  try {
    std::u16string terminated(path.View());
    WIN32_FIND_DATAW data{};
    HANDLE search = FindFirstFileW(terminated.c_str(), &data);
    if (search == INVALID_HANDLE_VALUE) return false;
    FindClose(search);
    return true;
  } catch (...) {
    return false;
  }
}

bool WriteDebugLogLine(TextRef folder, TextRef text) {
  // An empty folder would turn into a path at the top of the host file system.
  if (folder.View().empty()) return false;
  try {
    SYSTEMTIME now{};
    GetLocalTime(&now);
    std::u16string line = platform::FormatW(u"<%02u %02u %4u %02u:%02u:%02u> ",
                                            {now.wMonth, now.wDay, now.wYear, now.wHour, now.wMinute, now.wSecond});
    // The text is appended, never used as a template: a '%' in it stays as it is.
    line.append(text.View());
    line.push_back(u'\n');
    std::string bytes = platform::Utf16ToUtf8(line);

    std::u16string phonePath(folder.View());
    phonePath.append(u"/gpsDebug.txt");
    std::string hostPath = platform::HostPath(phonePath);

    std::FILE* file = std::fopen(hostPath.c_str(), "a");
    if (file == nullptr) return false;
    bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    written = std::fflush(file) == 0 && written;
    written = std::fclose(file) == 0 && written;
    return written;
  } catch (...) {
    return false;
  }
}

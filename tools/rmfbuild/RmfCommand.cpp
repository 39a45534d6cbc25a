// The `rmfbuild` command: argument handling, file input and output, and the
// dump of a map file. The dump decodes with the map library's own decoders
// and checks every offset it follows against the size of the file, because
// it is meant for damaged files as much as for good ones.
#include "tools/rmfbuild/RmfCommand.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <sstream>

#include "mapengine/format/store/RmfFileFormat.h"
#include "mapengine/format/store/RmfTile.h"
#include "tools/rmfbuild/RmfBuilder.h"
#include "tools/rmfbuild/RmfDescriptionText.h"

namespace rmfbuild {
namespace {

constexpr const char* kUsage =
    "usage: rmfbuild DESCRIPTION.txt OUT.rmf\n"
    "       rmfbuild --dump [--all] FILE.rmf\n"
    "       rmfbuild --grid LEVEL TILES RECORDS SEED OUT [--compressed] [--wide-entries]\n"
    "                       [--run-per-tile] [--text]\n";

std::string Hex(std::uint32_t v, int width = 0) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%0*x", width, v);
  return buf;
}

std::string RectText(const TiRect& r) {
  return std::to_string(r.x1) + "," + std::to_string(r.y1) + "," + std::to_string(r.x2) + "," +
         std::to_string(r.y2);
}

// Printable form of bytes from a file: control bytes and quotes escaped.
std::string Printable(const char* p, std::size_t n) {
  std::string out = "\"";
  for (std::size_t i = 0; i < n; ++i) {
    auto c = static_cast<unsigned char>(p[i]);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20 || c >= 0x7f) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\x%02x", c);
      out += buf;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

bool ReadWholeFile(const std::string& path, std::vector<std::uint8_t>* bytes) {
  std::ifstream file(path, std::ios::binary);
  if (!file) return false;
  bytes->assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
  return !file.bad();
}

std::uint16_t Load16(const std::vector<std::uint8_t>& b, std::size_t at) { return GetU16(b, at); }

// A NUL-terminated text inside the record, cut at the record's end.
std::string TextAt(const std::vector<std::uint8_t>& rec, std::size_t at) {
  if (at >= rec.size()) return "<beyond record>";
  std::size_t end = at;
  while (end < rec.size() && rec[end] != 0) ++end;
  return Printable(reinterpret_cast<const char*>(&rec[at]), end - at);
}

std::string TripleAt(const std::vector<std::uint8_t>& rec, std::size_t at) {
  std::string out;
  for (int s = 0; s < 3; ++s) {
    if (at >= rec.size()) return out + " <beyond record>";
    if (s > 0) out += ' ';
    out += TextAt(rec, at);
    while (at < rec.size() && rec[at] != 0) ++at;
    ++at;
  }
  return out;
}

void DumpRecordDetails(const std::vector<std::uint8_t>& rec, const rmf::RmfRecordHeader& h,
                       std::uint32_t entrySize, std::ostream& out) {
  // A damaged record is dumped as far as its points and entries lie inside
  // it, so whether all of them do is not needed here.
  rmf::RmfRecordTables tables{};
  rmf::LocateRecordTables(h, static_cast<std::uint32_t>(rec.size()), entrySize, &tables);
  const std::size_t pointTable = tables.pointTable;
  const std::size_t pointCount = tables.pointCount;
  const std::size_t entryTable = tables.partTable;
  const std::size_t entryCount = tables.partCount;
  const std::size_t textBase = tables.textBase;
  const std::size_t wordBase = tables.wordBase;
  const std::size_t pointSize = tables.pointSize;
  for (std::size_t i = 0; i < pointCount; ++i) {
    std::size_t at = pointTable + i * pointSize;
    if (i >= tables.pointsInside) {
      out << "      points run past the record\n";
      break;
    }
    std::int64_t x = 0;
    std::int64_t y = 0;
    if (pointSize == 8) {
      x = static_cast<std::int32_t>(GetU32(rec, at));
      y = static_cast<std::int32_t>(GetU32(rec, at + 4));
    } else {
      x = std::int64_t{h.pointBase.x} + Load16(rec, at);
      y = std::int64_t{h.pointBase.y} + Load16(rec, at + 2);
    }
    out << "      point " << i << ": " << x << "," << y << "\n";
  }
  for (std::size_t e = 0; e < entryCount; ++e) {
    std::size_t at = entryTable + e * entrySize;
    if (e >= tables.partsInside) {
      out << "      feature entries run past the record\n";
      break;
    }
    const std::uint32_t bits = GetU32(rec, at + kEntClassBits);
    const std::size_t textOffset = Load16(rec, at + kEntTextOffset);
    const std::size_t wordOffset = Load16(rec, at + kEntWordOffset);
    const std::size_t wordCount = Load16(rec, at + kEntWordCount);
    out << "      part " << e << ": class " << Hex(bits, 8) << " text " << TripleAt(rec, textBase + textOffset)
        << "\n        words:";
    for (std::size_t w = 0; w < wordCount; ++w) {
      std::size_t wat = wordBase + 2 * (wordOffset + w);
      if (wat + 2 > rec.size()) {
        out << " <words run past the record>";
        break;
      }
      std::uint16_t word = Load16(rec, wat);
      if ((word & kAttributeWordBit) != 0) {
        out << " @[" << TripleAt(rec, textBase + (word & 0x7fff)) << "]";
      } else {
        out << ' ' << word;
      }
    }
    out << "\n";
  }
}

// The records of one tile's data [begin, end).
bool DumpTile(const std::vector<std::uint8_t>& bytes, std::uint32_t begin, std::uint32_t end,
              const rmf::RmfFileHeader& header, bool details, std::ostream& out) {
  const std::uint8_t* window = bytes.data() + begin;
  std::size_t left = end - begin;
  std::uint32_t offset = begin;
  bool ok = true;
  for (std::uint32_t seq = 0; left > 0; ++seq) {
    rmf::RmfRecordFrame frame{};
    rmf::RmfRecordStatus status = rmf::FrameRecord(window, left, header.recordsCompressed != 0, &frame);
    out << "    record " << seq << " at " << offset;
    if (status == rmf::RmfRecordStatus::kReadError) {
      out << ": length word " << (left >= 2 ? Load16(bytes, offset) : 0)
          << " cannot be framed in the " << left << " bytes left\n";
      return false;
    }
    out << ": stored " << frame.storedLength << ", raw " << frame.rawLength;
    if (status == rmf::RmfRecordStatus::kEmpty) {
      out << ", empty\n";
    } else if (status == rmf::RmfRecordStatus::kUnreadable) {
      out << ", unreadable\n";
      ok = false;
    } else {
      std::vector<std::uint8_t> rec(frame.rawLength);
      status = rmf::UnpackRecord(frame, rec.data(), rec.size());
      rmf::RmfRecordHeader h{};
      if (status != rmf::RmfRecordStatus::kOk) {
        out << ", does not unpack\n";
        ok = false;
      } else if (!rmf::DecodeRecordHeader(rec.data(), rec.size(), &h)) {
        out << ", shorter than a record header\n";
        ok = false;
      } else {
        const bool last = left == frame.storedLength;
        out << ", flags " << Hex(h.flags, 2) << (h.widePoints ? " wide-points" : "")
            << (h.moreFollows ? " more" : "");
        if (h.moreFollows == 0 && !last) out << " (more bit clear, but records follow)";
        if (h.moreFollows != 0 && last) out << " (more bit set on the tile's last record)";
        out << ", box " << RectText(h.box) << ", " << h.tableWords[1] << " points, " << h.tableWords[3]
            << " parts\n";
        if (details) DumpRecordDetails(rec, h, header.featureEntrySize, out);
      }
    }
    window += frame.storedLength;
    left -= frame.storedLength;
    offset += frame.storedLength;
  }
  return ok;
}

int Build(const std::string& descriptionPath, const std::string& outPath, std::ostream& out,
          std::ostream& err) {
  std::vector<std::uint8_t> text;
  if (!ReadWholeFile(descriptionPath, &text)) {
    err << "rmfbuild: cannot read " << descriptionPath << "\n";
    return 1;
  }
  ParseResult parsed =
      ParseDescription(std::string_view(reinterpret_cast<const char*>(text.data()), text.size()));
  if (!parsed) {
    err << "rmfbuild: " << descriptionPath << ": " << parsed.error << "\n";
    return 1;
  }
  std::string error;
  if (!WriteFile(parsed.description, outPath, &error)) {
    err << "rmfbuild: " << error << "\n";
    return 1;
  }
  out << "wrote " << outPath << "\n";
  return 0;
}

bool ParseCount(const std::string& s, std::uint32_t* out) {
  if (s.empty() || s.size() > 10) return false;
  std::uint64_t v = 0;
  for (char c : s) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + static_cast<std::uint64_t>(c - '0');
  }
  if (v > 0xffffffffu) return false;
  *out = static_cast<std::uint32_t>(v);
  return true;
}

int Grid(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  std::uint32_t numbers[4] = {};
  if (args.size() < 6) {
    err << kUsage;
    return 2;
  }
  for (int i = 0; i < 4; ++i) {
    if (!ParseCount(args[1 + i], &numbers[i])) {
      err << "rmfbuild: bad number \"" << args[1 + i] << "\"\n" << kUsage;
      return 2;
    }
  }
  GridOptions options;
  bool asText = false;
  for (std::size_t i = 6; i < args.size(); ++i) {
    if (args[i] == "--compressed") {
      options.compressed = true;
    } else if (args[i] == "--wide-entries") {
      options.wideEntries = true;
    } else if (args[i] == "--run-per-tile") {
      options.runPerTile = true;
    } else if (args[i] == "--text") {
      asText = true;
    } else {
      err << "rmfbuild: unknown option " << args[i] << "\n" << kUsage;
      return 2;
    }
  }
  MapDescription desc = GenerateGrid(numbers[0], numbers[1], numbers[2], numbers[3], options);
  const std::string& path = args[5];
  if (asText) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file << FormatDescription(desc);
    file.close();
    if (!file) {
      err << "rmfbuild: cannot write " << path << "\n";
      return 1;
    }
  } else {
    std::string error;
    if (!WriteFile(desc, path, &error)) {
      err << "rmfbuild: " << error << "\n";
      return 1;
    }
  }
  out << "wrote " << path << " (" << desc.tiles.size() << " tiles)\n";
  return 0;
}

}  // namespace

bool DumpFile(const std::vector<std::uint8_t>& bytes, std::ostream& out, bool details) {
  out << "file: " << bytes.size() << " bytes\n";
  rmf::RmfFileHeader h{};
  int decoded = rmf::DecodeFileHeader(bytes.data(), bytes.size(), &h);
  if (decoded != rmf::kRmfFileAccepted) {
    out << "header rejected: " << decoded << "\n";
    return false;
  }
  bool ok = true;
  out << "header: version " << Hex(h.version, 2) << " (" << int{h.versionMajor} << "." << int{h.versionMinor}
      << "), flags " << Hex(h.flags, 2) << (h.featureEntrySize == 12 ? " wide-entries" : "")
      << (h.recordsCompressed ? " compressed" : "") << ", word4 " << Hex(h.headerWord4) << ", byte6 "
      << Hex(h.headerByte6) << ", word44 " << Hex(h.headerWord44) << "\n";
  out << "box: " << RectText(h.box) << "\n";
  out << "levelmasks:";
  for (int d = 0; d < rmf::kDetailLevels; ++d) out << ' ' << Hex(h.levelMasks[d]);
  out << " (detail levels " << h.minLevel << ".." << h.maxLevel << ")\n";
  if (h.hasRegionBlocks != 0) {
    out << "region: " << RectText(h.regionBox) << "\n";
    static const char* const kNames[4] = {"points", "lines", "areas", "boundaries"};
    for (int c = 0; c < rmf::kFeatureCategories; ++c) {
      out << "classes " << kNames[c] << ": presence " << h.classPresence[c] << ", levels";
      for (int i = 0; i < rmf::kDetailLevels; ++i) out << ' ' << Hex(h.classLevels[c][i]);
      out << "\n";
    }
  }

  out << "annotations: offset " << h.annotationOffset << ", length " << h.annotationLength << "\n";
  if (h.annotationLength > 0) {
    if (h.annotationOffset >= bytes.size()) {
      out << "  annotation block lies beyond the file\n";
      ok = false;
    } else {
      std::size_t n = std::min<std::size_t>(h.annotationLength, bytes.size() - h.annotationOffset);
      const char* p = reinterpret_cast<const char*>(bytes.data() + h.annotationOffset);
      const char* end = p + n;
      while (p < end) {
        const char* nul = p;
        while (nul < end && *nul != '\0') ++nul;
        out << "  " << Printable(p, static_cast<std::size_t>(nul - p)) << "\n";
        p = nul + 1;
      }
      if (n < h.annotationLength) {
        out << "  (cut short by the end of the file)\n";
        ok = false;
      }
    }
  }

  out << "index: offset " << h.indexOffset << ", " << h.indexCount << " runs; offset table: offset "
      << h.offsetTableOffset << ", last entry " << h.offsetTableLast << "\n";
  const std::uint64_t tableEntries = std::uint64_t{h.offsetTableLast} + 1;
  auto tableEntry = [&](std::uint64_t i, std::uint32_t* value) {
    std::uint64_t at = std::uint64_t{h.offsetTableOffset} + 4 * i;
    if (i >= tableEntries || at + 4 > bytes.size()) return false;
    *value = GetU32(bytes, static_cast<std::size_t>(at));
    return true;
  };
  for (std::uint32_t r = 0; r < h.indexCount; ++r) {
    std::uint64_t at = std::uint64_t{h.indexOffset} + 12 * std::uint64_t{r};
    if (at + 12 > bytes.size()) {
      out << "run " << r << ": beyond the file\n";
      return false;
    }
    rmf::RmfIndexEntry e{};
    rmf::ReadIndexEntry(bytes.data() + at, 12, 0, &e);
    out << "run " << r << ": " << Hex(e.firstId, 8) << " .. " << Hex(e.lastId, 8) << ", position "
        << e.position << "\n";
    if (e.lastId < e.firstId) {
      out << "  last id below first id\n";
      ok = false;
      continue;
    }
    for (std::uint64_t id = e.firstId; id <= e.lastId; ++id) {
      const std::uint64_t pos = std::uint64_t{e.position} + (id - e.firstId);
      std::uint32_t begin = 0;
      std::uint32_t end = 0;
      if (!tableEntry(pos, &begin) || !tableEntry(pos + 1, &end)) {
        out << "  tile " << Hex(static_cast<std::uint32_t>(id), 8) << ": offsets beyond the table or file\n";
        ok = false;
        break;
      }
      out << "  tile " << Hex(static_cast<std::uint32_t>(id), 8) << " level "
          << RmfTileLevel(static_cast<std::uint32_t>(id)) << ": [" << begin << ", " << end << ")";
      if (begin == end) {
        out << " no data\n";
        continue;
      }
      if (begin > end || end > bytes.size()) {
        out << " bad offsets\n";
        ok = false;
        continue;
      }
      out << " " << (end - begin) << " bytes\n";
      ok = DumpTile(bytes, begin, end, h, details, out) && ok;
    }
  }
  return ok;
}

int RunCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  if (args.empty() || args[0] == "--help" || args[0] == "-h") {
    (args.empty() ? err : out) << kUsage;
    return args.empty() ? 2 : 0;
  }
  if (args[0] == "--dump") {
    bool details = args.size() == 3 && args[1] == "--all";
    if (args.size() != 2 && !details) {
      err << kUsage;
      return 2;
    }
    std::vector<std::uint8_t> bytes;
    if (!ReadWholeFile(args.back(), &bytes)) {
      err << "rmfbuild: cannot read " << args.back() << "\n";
      return 1;
    }
    return DumpFile(bytes, out, details) ? 0 : 1;
  }
  if (args[0] == "--grid") return Grid(args, out, err);
  if (args.size() != 2 || args[0].starts_with("--")) {
    err << kUsage;
    return 2;
  }
  return Build(args[0], args[1], out, err);
}

}  // namespace rmfbuild

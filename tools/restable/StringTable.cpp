// Parsing, block layout and source writing of the string-table compiler.
#include "tools/restable/StringTable.h"

#include <cstdio>
#include <optional>
#include <unordered_map>

namespace restable {
namespace {

// A source this broken is not worth reading on: say so once and stop.
constexpr std::size_t kMaxErrors = 50;
constexpr std::size_t kMaxTextUnits = 0xFFFF;  // the length field is 16 bits

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view Trim(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

// Strict UTF-8 to UTF-16: overlong forms, surrogates and code points above
// U+10FFFF are rejected, so a damaged source is reported instead of spoken.
std::optional<std::u16string> DecodeUtf8(std::string_view text) {
  std::u16string out;
  std::size_t i = 0;
  while (i < text.size()) {
    const auto lead = static_cast<unsigned char>(text[i]);
    char32_t cp;
    std::size_t extra;
    char32_t least;
    if (lead < 0x80) {
      cp = lead;
      extra = 0;
      least = 0;
    } else if ((lead & 0xE0) == 0xC0) {
      cp = lead & 0x1F;
      extra = 1;
      least = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
      cp = lead & 0x0F;
      extra = 2;
      least = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
      cp = lead & 0x07;
      extra = 3;
      least = 0x10000;
    } else {
      return std::nullopt;
    }
    if (extra > text.size() - i - 1) return std::nullopt;
    for (std::size_t k = 1; k <= extra; ++k) {
      const auto next = static_cast<unsigned char>(text[i + k]);
      if ((next & 0xC0) != 0x80) return std::nullopt;
      cp = (cp << 6) | (next & 0x3F);
    }
    if (cp < least || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return std::nullopt;
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(cp));
    }
    i += extra + 1;
  }
  return out;
}

// The id before the comma: digits only, 0 to 65535.
std::optional<std::uint16_t> ParseId(std::string_view text) {
  if (text.empty() || text.size() > 5) return std::nullopt;
  std::uint32_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + static_cast<std::uint32_t>(c - '0');
  }
  if (value > 0xFFFF) return std::nullopt;
  return static_cast<std::uint16_t>(value);
}

// The text after the comma with its quotes and escapes resolved; on failure
// `error` says why.
std::optional<std::string> ParseText(std::string_view raw, std::string& error) {
  std::string_view text = Trim(raw);
  const bool quoted = !text.empty() && text.front() == '"';
  if (quoted) {
    text.remove_prefix(1);
  } else if (text.empty()) {
    error = "the text is empty (write \"\" for an empty string)";
    return std::nullopt;
  }
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (quoted && c == '"') {
      if (i + 1 != text.size()) {
        error = "text continues after the closing quote";
        return std::nullopt;
      }
      return out;
    }
    if (c != '\\') {
      out.push_back(c);
      continue;
    }
    if (i + 1 == text.size()) {
      error = "a backslash ends the line (write \\\\ for a backslash)";
      return std::nullopt;
    }
    switch (text[++i]) {
      case 'n': out.push_back('\n'); break;
      case 't': out.push_back('\t'); break;
      case '\\': out.push_back('\\'); break;
      case '"': out.push_back('"'); break;
      default:
        error = std::string("unknown escape \\") + text[i] + " (known: \\n \\t \\\\ \\\")";
        return std::nullopt;
    }
  }
  if (quoted) {
    error = "the closing quote is missing";
    return std::nullopt;
  }
  return out;
}

std::string Message(std::string_view sourceName, int line, const std::string& what) {
  return std::string(sourceName) + ":" + std::to_string(line) + ": " + what;
}

}  // namespace

ParseResult ParseStringTableSource(std::string_view source, std::string_view sourceName) {
  ParseResult result;
  std::unordered_map<std::uint16_t, int> definedAt;
  if (source.substr(0, 3) == "\xEF\xBB\xBF") source.remove_prefix(3);  // a byte-order mark some editors add
  int lineNumber = 0;
  while (!source.empty()) {
    if (result.errors.size() >= kMaxErrors) {
      result.errors.push_back(Message(sourceName, lineNumber, "too many errors; stopped reading"));
      break;
    }
    const std::size_t end = source.find('\n');
    std::string_view line = source.substr(0, end);
    source.remove_prefix(end == std::string_view::npos ? source.size() : end + 1);
    ++lineNumber;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);

    const std::string_view content = Trim(line);
    if (content.empty() || content.front() == '#') continue;
    auto fail = [&](const std::string& what) { result.errors.push_back(Message(sourceName, lineNumber, what)); };

    const std::size_t comma = content.find(',');
    if (comma == std::string_view::npos) {
      fail("expected 'id, text'");
      continue;
    }
    const std::string_view idText = Trim(content.substr(0, comma));
    const std::optional<std::uint16_t> id = ParseId(idText);
    if (!id) {
      fail("bad id '" + std::string(idText) + "' (an id is a whole number from 0 to 65535)");
      continue;
    }
    std::string error;
    const std::optional<std::string> text = ParseText(content.substr(comma + 1), error);
    if (!text) {
      fail("string " + std::to_string(*id) + ": " + error);
      continue;
    }
    std::optional<std::u16string> wide = DecodeUtf8(*text);
    if (!wide) {
      fail("string " + std::to_string(*id) + ": the text is not valid UTF-8");
      continue;
    }
    if (wide->size() > kMaxTextUnits) {
      fail("string " + std::to_string(*id) + ": the text is longer than 65535 UTF-16 characters");
      continue;
    }
    const auto [previous, inserted] = definedAt.emplace(*id, lineNumber);
    if (!inserted) {
      fail("duplicate id " + std::to_string(*id) + " (first defined on line " + std::to_string(previous->second) +
           ")");
      continue;
    }
    result.entries.push_back(StringEntry{*id, std::move(*wide), lineNumber});
  }
  return result;
}

StringBlocks BuildStringBlocks(const std::vector<StringEntry>& entries) {
  // Texts by block, 16 slots each, before laying them out.
  std::map<std::uint16_t, std::vector<const std::u16string*>> slots;
  for (const StringEntry& entry : entries) {
    auto& block = slots[static_cast<std::uint16_t>(entry.id / 16 + 1)];
    block.resize(16, nullptr);
    block[entry.id % 16] = &entry.text;
  }
  StringBlocks blocks;
  for (const auto& [number, texts] : slots) {
    std::vector<std::uint16_t>& units = blocks[number];
    for (const std::u16string* text : texts) {
      if (text == nullptr) {
        units.push_back(0);
        continue;
      }
      units.push_back(static_cast<std::uint16_t>(text->size()));
      units.insert(units.end(), text->begin(), text->end());
    }
  }
  return blocks;
}

std::string WriteResourceSource(const StringBlocks& blocks, std::string_view sourceName) {
  std::string out;
  out += "// Generated by restable from ";
  out += sourceName;
  out += ": the string table of a resource module. Do not edit; change the source.\n";
  out += "#include \"platform/os/resource.h\"\n\nnamespace {\n\n";
  char hex[16];
  for (const auto& [number, units] : blocks) {
    const unsigned first = (number - 1u) * 16u;
    out += "// Strings " + std::to_string(first) + " to " + std::to_string(first + 15) + ".\n";
    out += "alignas(2) const std::uint16_t kBlock" + std::to_string(number) + "[] = {";
    for (std::size_t i = 0; i < units.size(); ++i) {
      out += i % 12 == 0 ? "\n    " : " ";
      std::snprintf(hex, sizeof hex, "0x%04X,", static_cast<unsigned>(units[i]));
      out += hex;
    }
    out += "\n};\n\n";
  }
  if (blocks.empty()) {
    out += "}  // namespace\n\n";
    out += "extern \"C\" __attribute__((visibility(\"default\"))) const ResourceDirectory TirvaneResourceDirectory;\n";
    out += "const ResourceDirectory TirvaneResourceDirectory = {kResourceDirectoryMagic, kResourceDirectoryVersion, 0, "
           "nullptr};\n";
    return out;
  }
  out += "const ResourceEntry kEntries[] = {\n";
  for (const auto& [number, units] : blocks) {
    const std::string name = "kBlock" + std::to_string(number);
    out += "    {kRtString, " + std::to_string(number) + ", sizeof " + name + ", " + name + "},\n";
  }
  out += "};\n\n}  // namespace\n\nTIRVANE_RESOURCE_DIRECTORY(kEntries);\n";
  return out;
}

}  // namespace restable

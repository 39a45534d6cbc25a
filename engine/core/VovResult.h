// Named results of the navigation engine's own operations (those that are not
// COM methods, which answer HRESULTs).
#pragma once

namespace vov {

// What reading or writing a settings file came to. Every read result leaves a
// usable record: whatever could not be read keeps its default.
enum class SettingsFileResult {
  kRead,            // every field the file's version has was read
  kMissing,         // no file: defaults
  kEmpty,           // an empty file: defaults
  kTooLarge,        // larger than the bound: not read, defaults
  kUnreadable,      // exists but could not be read: defaults
  kBadVersion,      // the version field is below 1 or not a number: defaults
  kOddByteCount,    // a last byte that is no whole UTF-16 unit was dropped
  kTruncated,       // fields of its version are missing, or the last is cut: defaults for those
  kMalformedField,  // a number field that does not parse: its default
  kWritten,         // the file was replaced
  kWriteFailed,     // the file could not be replaced; the old one is kept
};

// A stable English name of a result, for log lines.
const char16_t* SettingsFileResultName(SettingsFileResult result);

}  // namespace vov

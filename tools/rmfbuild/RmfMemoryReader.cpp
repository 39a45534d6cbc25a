// The map reader over map files held in memory (see RmfMemoryReader.h).
#include "tools/rmfbuild/RmfMemoryReader.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>
#include <utility>

#include "mapengine/format/RmfResult.h"

namespace rmfbuild {

// The memory is zeroed up front, so every page of it is in place before a
// benchmark times anything: over memory left untouched the cold-open
// benchmark of the reader ran about a quarter slower.
MemoryReader::MemoryReader(std::uint32_t arenaBytes)
    : memory_(new std::uint8_t[arenaBytes]()), arenaBytes_(arenaBytes) {
  Create();
}

MemoryReader::~MemoryReader() { Close(); }

void MemoryReader::Create() {
  reader_ = RmfReaderCreateInArena(memory_.get(), arenaBytes_);
  open_ = reader_ != nullptr;
}

void MemoryReader::Close() {
  if (!open_) return;
  RmfReaderClose(reader_);
  open_ = false;
}

RmfReader* MemoryReader::Restart() {
  Close();
  sources_.clear();
  error_.clear();
  Create();
  return reader_;
}

std::int32_t MemoryReader::Read(void* context, std::uint32_t offset, std::uint32_t count, void* destination,
                                std::int32_t) {
  const auto* source = static_cast<const Source*>(context);
  if (offset >= source->size) return 0;
  const std::size_t n = std::min<std::size_t>(count, source->size - offset);
  std::memcpy(destination, source->data + offset, n);
  return static_cast<std::int32_t>(n);
}

std::int32_t MemoryReader::Add(std::unique_ptr<Source> source) {
  error_.clear();
  if (!open_) {
    error_ = "no open reader";
    return kRmfBadArgument;
  }
  // Kept whatever the answer: a source the reader refused half-way may still
  // name its context until the reader closes.
  sources_.push_back(std::move(source));
  const std::int32_t result = RmfReaderAddSource(reader_, sources_.back().get(), Read, nullptr, nullptr);
  if (result < 1) error_ = "the reader refused the map: " + std::to_string(result);
  return result;
}

std::int32_t MemoryReader::AddBytes(std::vector<std::uint8_t> bytes) {
  auto source = std::make_unique<Source>();
  source->owned = std::move(bytes);
  source->data = source->owned.data();
  source->size = source->owned.size();
  return Add(std::move(source));
}

std::int32_t MemoryReader::AddBorrowedBytes(const std::uint8_t* data, std::size_t size) {
  auto source = std::make_unique<Source>();
  source->data = data;
  source->size = data != nullptr ? size : 0;
  return Add(std::move(source));
}

std::int32_t MemoryReader::AddFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) {
    error_ = "cannot read " + path;
    return 0;
  }
  return AddBytes(std::vector<std::uint8_t>(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()));
}

namespace {

// Whether the builder refused: then `error` says so, with its reason.
template <typename Result>
bool Refused(const Result& result, const char* what, std::string* error) {
  if (result.ok) return false;
  *error = std::string("the builder refused the ") + what + ": " + result.error;
  return true;
}

}  // namespace

std::int32_t MemoryReader::AddMap(const MapDescription& description, BuildResult* built) {
  BuildResult local;
  BuildResult& result = built != nullptr ? *built : local;
  result = Build(description);
  if (Refused(result, "map", &error_)) return 0;
  // The caller may keep its copy of the bytes; the reader reads its own.
  return built != nullptr ? AddBytes(result.bytes) : AddBytes(std::move(result.bytes));
}

std::int32_t MemoryReader::AddFeatures(const FeatureMap& map, FeatureBuild* built) {
  FeatureBuild local;
  FeatureBuild& result = built != nullptr ? *built : local;
  result = BuildFeatureMap(map);
  if (Refused(result, "features", &error_)) return 0;
  return AddMap(result.description);
}

}  // namespace rmfbuild

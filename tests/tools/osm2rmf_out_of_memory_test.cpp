// The converter's command when memory runs out: it ends with a message and
// exit status 1 and writes nothing, instead of ending the process on an
// uncaught exception. This program replaces the global allocation functions
// with ones that refuse, while armed, every request of at least a given
// size; it is a program of its own so that no other test runs under them.
#include <gtest/gtest.h>

#include <atomic>
#include <cstddef>
#include <cstdlib>
#include <filesystem>
#include <new>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/temp_folder.h"
#include "tools/osm2rmf/Osm2Rmf.h"

namespace {
// Requests of this many bytes or more fail; 0 disarms.
std::atomic<std::size_t> refuseFrom{0};
std::atomic<std::size_t> refused{0};
}  // namespace

void* operator new(std::size_t size) {
  const std::size_t limit = refuseFrom.load(std::memory_order_relaxed);
  if (limit != 0 && size >= limit) {
    refused.fetch_add(1, std::memory_order_relaxed);
    throw std::bad_alloc();
  }
  if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
  throw std::bad_alloc();
}
void* operator new[](std::size_t size) { return ::operator new(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  try {
    return ::operator new(size);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}
void* operator new[](std::size_t size, const std::nothrow_t& tag) noexcept { return ::operator new(size, tag); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }

namespace {

struct Armed {
  explicit Armed(std::size_t from) {
    refused = 0;
    refuseFrom = from;
  }
  ~Armed() { refuseFrom = 0; }
};

TEST(Osm2RmfCommand, RunningOutOfMemoryEndsWithAMessageAndWritesNothing) {
  const testing_support::TempFolder temp("osm2rmf-memory");
  // From requests the reader's buffers make to the few the map builder's
  // largest tables make.
  for (const std::size_t from : {std::size_t{64} << 20, std::size_t{1} << 20, std::size_t{256} << 10,
                                 std::size_t{64} << 10}) {
    SCOPED_TRACE(from);
    const std::filesystem::path out = temp / std::to_string(from);
    std::ostringstream said;
    std::ostringstream errors;
    int status = -1;
    std::size_t refusals = 0;
    {
      Armed armed(from);
      status = osm2rmf::RunCommand({OSM2RMF_WEST_OAKLAND, out.string(), "WestOakland"}, said, errors);
      refusals = refused.load();
    }
    if (refusals == 0) {
      // Nothing that large was asked for: the run is a normal one.
      EXPECT_EQ(status, 0) << errors.str();
      continue;
    }
    EXPECT_EQ(status, 1) << said.str();
    EXPECT_NE(errors.str().find("osm2rmf: out of memory"), std::string::npos) << errors.str();
    EXPECT_TRUE(!std::filesystem::exists(out) || std::filesystem::is_empty(out));
  }
  // The largest request of a run is far above 64 KiB, so the last case
  // failed for want of memory.
  EXPECT_GT(refused.load(), 0u);
}

}  // namespace

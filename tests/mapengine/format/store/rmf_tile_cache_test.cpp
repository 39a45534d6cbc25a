// Tests of the tile record cache: plain and compressed records cache the same
// bytes, damaged or inconsistent compressed records are dropped without a
// trace, giving one record back gives back its whole tile (and tells the
// holders of references), lookups keep hits newest, and a cache in a small
// arena evicts the oldest records.
#include "mapengine/format/store/RmfTileCache.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <list>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace {

using rmf::detail::TagArenaCheck;
using rmf::detail::TagBlockInfo;
using rmf::detail::TagRegionReport;
using rmf::detail::TcCompareChunkKeys;
using rmf::detail::TcCompareRecordKeys;
using rmf::detail::TcRecordCallback;

using Bytes = std::vector<unsigned char>;

// An arena over heap memory, with a record cache in it.
struct Fixture {
  explicit Fixture(std::uint32_t size) : memory(new unsigned char[size]) {
    arena = RmfTagT1(memory.get(), size);
    EXPECT_NE(arena, nullptr);
    EXPECT_EQ(tcHdrInitLocal(&cache, arena, TcRecordCallback, TcCompareRecordKeys, nullptr), 1);
  }
  void Check() const {
    std::string fault;
    EXPECT_TRUE(TagArenaCheck(arena, nullptr, nullptr, &fault)) << fault;
    EXPECT_GE(TiBtiVerifyBalance(const_cast<TiBtiTree*>(&cache.tree)), 0);
    EXPECT_EQ(TiBtiVerifySort(const_cast<TiBtiTree*>(&cache.tree)), 1);
  }
  std::unique_ptr<unsigned char[]> memory;
  RmfTagArena* arena = nullptr;
  RmfTileCache cache{};
};

RmfRecordKey Key(std::uint32_t tile, std::uint16_t sequence) {
  RmfRecordKey k{};
  k.tileId = tile;
  k.source = 3;
  k.sequence = sequence;
  return k;
}

// A plain record: its u16 length (counting itself), then pseudo-random bytes.
Bytes PlainRecord(std::size_t length, unsigned seed) {
  Bytes r(length);
  std::mt19937 rng(seed);
  for (auto& b : r) b = static_cast<unsigned char>(rng() % 7);  // compressible
  r[0] = static_cast<unsigned char>(length & 0xff);
  r[1] = static_cast<unsigned char>(length >> 8);
  return r;
}

// The compressed form of a plain record: u16 stored length, u16 raw length,
// zlib data of everything after the plain record's length word.
Bytes Compress(const Bytes& plain) {
  uLongf size = compressBound(plain.size());
  Bytes z(size);
  EXPECT_EQ(compress2(z.data(), &size, plain.data() + 2, plain.size() - 2, 9), Z_OK);
  z.resize(size);
  Bytes r(4 + z.size());
  const std::size_t stored = r.size();
  r[0] = static_cast<unsigned char>(stored & 0xff);
  r[1] = static_cast<unsigned char>(stored >> 8);
  r[2] = plain[0];
  r[3] = plain[1];
  std::copy(z.begin(), z.end(), r.begin() + 4);
  return r;
}

// Stores a compressed record from a heap buffer that holds exactly the bytes
// the cache may read (from the raw-length word on), so that AddressSanitizer
// reports any read beyond them.
void* StoreCompressed(RmfTileCache* cache, const RmfRecordKey& key, const Bytes& record, std::uint32_t storedLength,
                      std::uint32_t rawLength) {
  const std::size_t readable = storedLength >= 2 ? storedLength - 2 : 0;
  std::unique_ptr<unsigned char[]> exact(new unsigned char[readable]);
  std::memcpy(exact.get(), record.data() + 2, std::min(readable, record.size() - 2));
  return RmfTcT2(cache, &key, sizeof(key), exact.get(), 1, storedLength, rawLength);
}

void* StorePlain(RmfTileCache* cache, const RmfRecordKey& key, const Bytes& record) {
  std::unique_ptr<unsigned char[]> exact(new unsigned char[record.size()]);
  std::memcpy(exact.get(), record.data(), record.size());
  return RmfTcT2(cache, &key, sizeof(key), exact.get(), 0, static_cast<std::uint32_t>(record.size()),
                 static_cast<std::uint32_t>(record.size()));
}

const unsigned char* Payload(void* block) { return static_cast<unsigned char*>(block) + sizeof(RmfRecordKey); }

bool Cached(RmfTileCache* cache, std::uint32_t tile, std::uint16_t sequence) {
  const RmfRecordKey k = Key(tile, sequence);
  void* found = nullptr;
  return TiBtiFindForce(&cache->tree, const_cast<RmfRecordKey*>(&k), 0, &found, 0) == 1;
}

TEST(TileCacheHeader, InitChecksItsArguments) {
  std::unique_ptr<unsigned char[]> memory(new unsigned char[4096]);
  RmfTagArena* arena = RmfTagT1(memory.get(), 4096);
  ASSERT_NE(arena, nullptr);
  RmfTileCache cache;
  std::memset(&cache, 0x6b, sizeof(cache));
  const RmfTileCache before = cache;
  EXPECT_EQ(tcHdrInitLocal(&cache, nullptr, TcRecordCallback, TcCompareRecordKeys, nullptr), -1);
  EXPECT_EQ(tcHdrInitLocal(&cache, arena, nullptr, TcCompareRecordKeys, nullptr), -1);
  EXPECT_EQ(tcHdrInitLocal(&cache, arena, TcRecordCallback, nullptr, nullptr), -1);
  EXPECT_EQ(tcHdrInitLocal(nullptr, arena, TcRecordCallback, TcCompareRecordKeys, nullptr), -1);
  EXPECT_EQ(std::memcmp(&cache, &before, sizeof(cache)), 0);
  ASSERT_EQ(tcHdrInitLocal(&cache, arena, TcRecordCallback, TcCompareRecordKeys, nullptr), 1);
  EXPECT_EQ(cache.owner.context, &cache);
  int context = 0;
  ASSERT_EQ(tcHdrInitLocal(&cache, arena, TcRecordCallback, TcCompareRecordKeys, &context), 1);
  EXPECT_EQ(cache.owner.context, &context);
  EXPECT_EQ(cache.tree.context, &context);

  const std::int32_t free = RmfTagT13(arena);
  EXPECT_EQ(RmfTcT1(arena, TcRecordCallback, nullptr, nullptr), nullptr);  // allocated, then freed again
  EXPECT_EQ(RmfTagT13(arena), free);
  RmfTileCache* inArena = RmfTcT1(arena, TcRecordCallback, TcCompareRecordKeys, nullptr);
  ASSERT_NE(inArena, nullptr);
  EXPECT_EQ(reinterpret_cast<std::uintptr_t>(inArena) % 8, 0u);
  EXPECT_EQ(inArena->owner.context, inArena);
  const Bytes record = PlainRecord(40, 1);
  const RmfRecordKey k = Key(1, 0);
  void* block = StorePlain(inArena, k, record);
  ASSERT_NE(block, nullptr);
  EXPECT_EQ(RmfTcT3(inArena, &k), block);
  EXPECT_EQ(RmfTcT3(nullptr, &k), nullptr);
  EXPECT_EQ(RmfTcT3(inArena, nullptr), nullptr);
}

TEST(TileCacheStore, PlainAndCompressedRecordsCacheTheSameBytes) {
  Fixture plain(1 << 18);
  Fixture packed(1 << 18);
  const std::size_t lengths[] = {2, 3, 4, 31, 200, 4096, 65535};
  unsigned seed = 0;
  for (std::size_t length : lengths) {
    SCOPED_TRACE(testing::Message() << "length " << length);
    const Bytes record = PlainRecord(length, ++seed);
    const Bytes compressed = Compress(record);
    const RmfRecordKey k = Key(100 + seed, 0);
    void* a = StorePlain(&plain.cache, k, record);
    void* b = StoreCompressed(&packed.cache, k, compressed, static_cast<std::uint32_t>(compressed.size()),
                              static_cast<std::uint32_t>(length));
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(std::memcmp(Payload(a), record.data(), length), 0);
    EXPECT_EQ(std::memcmp(Payload(b), record.data(), length), 0);
    TagBlockInfo ia, ib;
    ASSERT_TRUE(rmf::detail::TagBlockState(plain.arena, a, &ia));
    ASSERT_TRUE(rmf::detail::TagBlockState(packed.arena, b, &ib));
    EXPECT_EQ(ia.size, ib.size);
    EXPECT_EQ(ia.owner, &plain.cache.owner);
    EXPECT_EQ(ia.pins, 0);
    const auto* key = static_cast<const RmfRecordKey*>(b);
    EXPECT_EQ(key->tileId, k.tileId);
    EXPECT_EQ(key->source, 3);
    EXPECT_EQ(key->references, 0u);
    EXPECT_EQ(RmfTcT3(&packed.cache, &k), b);
  }
  EXPECT_EQ(TiBtiNNodes(&plain.cache.tree), 7);
  EXPECT_EQ(TiBtiNNodes(&packed.cache.tree), 7);
  plain.Check();
  packed.Check();
}

TEST(TileCacheStore, DamagedOrInconsistentRecordsLeaveNothingBehind) {
  const Bytes record = PlainRecord(300, 42);
  const Bytes good = Compress(record);
  const auto stored = static_cast<std::uint32_t>(good.size());
  auto flipped = [&](std::size_t at) {
    Bytes b = good;
    b[at] ^= 0x5a;
    return b;
  };
  Bytes wrongWord = good;
  wrongWord[2] = static_cast<unsigned char>(wrongWord[2] + 1);  // raw-length word says 301
  struct Case {
    const char* what;
    Bytes bytes;
    std::uint32_t storedLength;
    std::uint32_t rawLength;
  } cases[] = {
      {"raw length 1", good, stored, 1},
      {"raw length 0", good, stored, 0},
      {"stored length 3", good, 3, 300},
      {"stored length 2", good, 2, 300},
      {"stored length 0", good, 0, 300},
      {"stored length 4: no zlib data", good, 4, 300},
      {"raw length word disagrees", wrongWord, stored, 300},
      {"inflates to less than raw length - 2", wrongWord, stored, 301},
      {"inflates to more than raw length - 2", good, stored, 299},
      {"zlib header damaged", flipped(4), stored, 300},
      {"deflate data damaged", flipped(4 + (good.size() - 4) / 2), stored, 300},
      {"checksum damaged", flipped(good.size() - 1), stored, 300},
      {"stream cut short", good, stored - 3, 300},
  };
  Fixture f(1 << 16);
  const Bytes other = PlainRecord(50, 7);
  ASSERT_NE(StorePlain(&f.cache, Key(9, 0), other), nullptr);
  const std::int32_t free = RmfTagT13(f.arena);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Bytes bytes = c.bytes;
    if (c.rawLength >= 2 && c.rawLength <= 0xffff) {
      // The word the cache checks is the one in the buffer.
      if (std::string(c.what).find("disagrees") == std::string::npos) {
        bytes[2] = static_cast<unsigned char>(c.rawLength & 0xff);
        bytes[3] = static_cast<unsigned char>(c.rawLength >> 8);
      }
    }
    const RmfRecordKey k = Key(5, 0);
    EXPECT_EQ(StoreCompressed(&f.cache, k, bytes, c.storedLength, c.rawLength), nullptr);
    EXPECT_EQ(RmfTcT3(&f.cache, &k), nullptr);
    EXPECT_EQ(RmfTagT13(f.arena), free);
    EXPECT_EQ(TiBtiNNodes(&f.cache.tree), 1);
    f.Check();
  }
  // Plain records whose length word disagrees, or that are too short to hold one.
  Bytes plainWrong = PlainRecord(20, 3);
  plainWrong[0] = 21;
  const RmfRecordKey k = Key(6, 0);
  EXPECT_EQ(RmfTcT2(&f.cache, &k, sizeof(k), plainWrong.data(), 0, 20, 20), nullptr);
  const unsigned char one = 1;
  EXPECT_EQ(RmfTcT2(&f.cache, &k, sizeof(k), &one, 0, 1, 1), nullptr);
  EXPECT_EQ(RmfTcT2(&f.cache, &k, 8, record.data(), 0, 300, 300), nullptr);  // key shorter than its node
  EXPECT_EQ(RmfTcT2(nullptr, &k, sizeof(k), record.data(), 0, 300, 300), nullptr);
  EXPECT_EQ(RmfTagT13(f.arena), free);
  // The good record still stores.
  EXPECT_NE(StoreCompressed(&f.cache, Key(5, 0), good, stored, 300), nullptr);
}

TEST(TileCacheStore, SecondStoreOfAKeyReturnsTheCachedRecord) {
  Fixture f(1 << 14);
  const Bytes record = PlainRecord(64, 5);
  void* first = StorePlain(&f.cache, Key(4, 1), record);
  ASSERT_NE(first, nullptr);
  const std::int32_t free = RmfTagT13(f.arena);
  EXPECT_EQ(StorePlain(&f.cache, Key(4, 1), record), first);
  EXPECT_EQ(RmfTagT13(f.arena), free);
  EXPECT_EQ(TiBtiNNodes(&f.cache.tree), 1);
}

// Holders of references: each reference is the start of a block the holder
// owns; the holder logs the calls and gives its block up.
struct Holder {
  RmfTagArena* arena = nullptr;
  std::vector<void*> calls;
  RmfTagOwner record{&Holder::Release, this};
  static std::int32_t Release(void* block, void*, void* context, RmfTagOwner*) {
    auto* self = static_cast<Holder*>(context);
    self->calls.push_back(block);
    EXPECT_EQ(static_cast<RmfRecordReference*>(block)->guard, kRmfReferenceReleased);
    EXPECT_EQ(RmfTagT12(self->arena, block), 1);
    EXPECT_EQ(RmfTagT5(self->arena, block), 1);
    return 1;
  }
  void* Reference() {
    void* p = RmfTagT3(arena, sizeof(RmfRecordReference) + 8, &record);
    EXPECT_NE(p, nullptr);
    return p;
  }
};

TEST(TileCacheGiveBack, OneRecordTakesItsWholeTileExceptRecordsInUse) {
  Fixture f(1 << 14);
  Holder holder;
  holder.arena = f.arena;
  void* t7[4];
  for (std::uint16_t s = 0; s < 4; ++s) {
    t7[s] = StorePlain(&f.cache, Key(7, s), PlainRecord(40 + s, s));
    ASSERT_NE(t7[s], nullptr);
  }
  ASSERT_NE(StorePlain(&f.cache, Key(6, 0), PlainRecord(40, 60)), nullptr);
  ASSERT_NE(StorePlain(&f.cache, Key(8, 0), PlainRecord(40, 80)), nullptr);
  ASSERT_NE(StorePlain(&f.cache, Key(8, 1), PlainRecord(40, 81)), nullptr);
  ASSERT_EQ(RmfTagT6(f.arena, t7[1]), 1);  // pinned
  ASSERT_EQ(RmfTagT7(f.arena, t7[2]), 2);  // referenced twice
  void* r0 = holder.Reference();
  void* r1 = holder.Reference();
  void* r3 = holder.Reference();
  void* rPinned = holder.Reference();
  ASSERT_EQ(rmf::detail::TcAttachReference(&f.cache, t7[0], r0), 1);
  ASSERT_EQ(rmf::detail::TcAttachReference(&f.cache, t7[0], r1), 1);
  ASSERT_EQ(rmf::detail::TcAttachReference(&f.cache, t7[3], r3), 1);
  ASSERT_EQ(rmf::detail::TcAttachReference(&f.cache, t7[1], rPinned), 1);
  EXPECT_EQ(static_cast<RmfRecordReference*>(r3)->tileId, 7u);
  EXPECT_EQ(static_cast<RmfRecordReference*>(r3)->sequence, 3);
  // Make the last record of tile 7 the oldest block and evict it.
  ASSERT_EQ(RmfTagT10(f.arena, t7[3], -1), 1);
  ASSERT_EQ(RmfTagT11(f.arena), 1);
  EXPECT_FALSE(Cached(&f.cache, 7, 0));
  EXPECT_TRUE(Cached(&f.cache, 7, 1));
  EXPECT_TRUE(Cached(&f.cache, 7, 2));
  EXPECT_FALSE(Cached(&f.cache, 7, 3));
  EXPECT_TRUE(Cached(&f.cache, 6, 0));
  EXPECT_TRUE(Cached(&f.cache, 8, 0));
  EXPECT_TRUE(Cached(&f.cache, 8, 1));
  EXPECT_EQ(TiBtiNNodes(&f.cache.tree), 5);
  // Holders of the records that went were told, newest reference first; the
  // reference to the pinned record stays linked.
  EXPECT_EQ(holder.calls, (std::vector<void*>{r1, r0, r3}));
  EXPECT_EQ(static_cast<RmfRecordReference*>(rPinned)->guard, kRmfReferenceLinked);
  EXPECT_EQ(rmf::detail::TcReleaseReference(&f.cache, r0), kRmfBadArgument);
  f.Check();
  // Once free of its pin, the pinned record goes with the next eviction of
  // its tile, and its reference is released.
  ASSERT_EQ(RmfTagT8(f.arena, t7[1]), 0);
  ASSERT_EQ(RmfTagT10(f.arena, t7[1], -1), 1);
  ASSERT_EQ(RmfTagT11(f.arena), 1);
  EXPECT_FALSE(Cached(&f.cache, 7, 1));
  EXPECT_TRUE(Cached(&f.cache, 7, 2));
  EXPECT_EQ(holder.calls.back(), rPinned);
  f.Check();
}

TEST(TileCacheGiveBack, ReleasingAReferenceUnlinksItOnce) {
  Fixture f(1 << 14);
  Holder holder;
  holder.arena = f.arena;
  void* rec = StorePlain(&f.cache, Key(3, 2), PlainRecord(30, 1));
  ASSERT_NE(rec, nullptr);
  void* a = holder.Reference();
  void* b = holder.Reference();
  void* c = holder.Reference();
  for (void* r : {a, b, c}) ASSERT_EQ(rmf::detail::TcAttachReference(&f.cache, rec, r), 1);
  EXPECT_EQ(rmf::detail::TcReleaseReference(&f.cache, b), 1);  // middle of the chain
  EXPECT_EQ(rmf::detail::TcReleaseReference(&f.cache, b), kRmfBadArgument);
  EXPECT_EQ(rmf::detail::TcReleaseReference(&f.cache, c), 1);  // head
  EXPECT_EQ(rmf::detail::TcReleaseReference(&f.cache, a), 1);  // last
  EXPECT_EQ(static_cast<RmfRecordKey*>(rec)->references, 0u);
  // A reference to a record that is no longer cached is not found.
  void* d = holder.Reference();
  ASSERT_EQ(rmf::detail::TcAttachReference(&f.cache, rec, d), 1);
  static_cast<RmfRecordReference*>(d)->sequence = 9;
  EXPECT_EQ(rmf::detail::TcReleaseReference(&f.cache, d), 0);
  EXPECT_EQ(static_cast<RmfRecordReference*>(d)->guard, kRmfReferenceReleased);
  int outside = 0;
  EXPECT_EQ(rmf::detail::TcAttachReference(&f.cache, rec, &outside), kRmfBadArgument);
  EXPECT_TRUE(holder.calls.empty());
}

// Arena room for exactly `records` records of one size, nothing more.
std::uint32_t ArenaFor(int records, std::uint32_t recordLength) {
  const std::uint32_t block = sizeof(RmfRecordKey) + ((recordLength + 3) & ~3u) + 40;
  return 48 + 40 + block * static_cast<std::uint32_t>(records);
}

TEST(TileCacheLru, LookupsMakeHitsNewest) {
  Fixture f(ArenaFor(3, 100));
  const Bytes record = PlainRecord(100, 9);
  for (std::uint32_t tile : {1u, 2u, 3u}) ASSERT_NE(StorePlain(&f.cache, Key(tile, 0), record), nullptr);
  const RmfRecordKey first = Key(1, 0);
  ASSERT_NE(RmfTcT3(&f.cache, &first), nullptr);
  ASSERT_NE(StorePlain(&f.cache, Key(4, 0), record), nullptr);
  EXPECT_TRUE(Cached(&f.cache, 1, 0));
  EXPECT_FALSE(Cached(&f.cache, 2, 0));
  EXPECT_TRUE(Cached(&f.cache, 3, 0));
  EXPECT_TRUE(Cached(&f.cache, 4, 0));
  f.Check();
}

// Random stores and lookups in a cache that holds a dozen records: the cached
// records are always the most recently stored or looked-up ones, with their
// contents intact.
TEST(TileCacheLru, SmallArenaEvictsTheOldest) {
  constexpr int kRoom = 12;
  constexpr std::uint32_t kLength = 120;
  Fixture f(ArenaFor(kRoom, kLength));
  std::list<std::uint32_t> order;  // tiles, least recently used first
  std::mt19937 rng(99);
  for (int step = 0; step < 3000; ++step) {
    SCOPED_TRACE(testing::Message() << "step " << step);
    const std::uint32_t tile = rng() % 40;
    const RmfRecordKey k = Key(tile, 0);
    const Bytes record = PlainRecord(kLength, tile);
    const bool cached = std::find(order.begin(), order.end(), tile) != order.end();
    if (rng() % 2 == 0) {
      void* hit = RmfTcT3(&f.cache, &k);
      ASSERT_EQ(hit != nullptr, cached);
      if (!cached) continue;
      ASSERT_EQ(std::memcmp(Payload(hit), record.data(), kLength), 0);
    } else {
      void* block = rng() % 2 == 0 ? StorePlain(&f.cache, k, record) : [&] {
        const Bytes z = Compress(record);
        return StoreCompressed(&f.cache, k, z, static_cast<std::uint32_t>(z.size()), kLength);
      }();
      ASSERT_NE(block, nullptr);
      ASSERT_EQ(std::memcmp(Payload(block), record.data(), kLength), 0);
    }
    order.remove(tile);
    order.push_back(tile);
    while (order.size() > static_cast<std::size_t>(kRoom)) order.pop_front();
    ASSERT_EQ(TiBtiNNodes(&f.cache.tree), static_cast<std::int32_t>(order.size()));
    for (std::uint32_t t : order) ASSERT_TRUE(Cached(&f.cache, t, 0)) << "tile " << t;
    if (step % 100 == 0) f.Check();
  }
}

TEST(TileCacheChunks, ChunkCacheGivesBackSingleBlocksAndFollowsMoves) {
  std::unique_ptr<unsigned char[]> memory(new unsigned char[8192]);
  RmfTagArena* arena = RmfTagT1(memory.get(), 8192);
  ASSERT_NE(arena, nullptr);
  RmfTileCache cache;
  ASSERT_EQ(tcHdrInitLocal(&cache, arena, rmf::detail::TcChunkCallback, TcCompareChunkKeys, nullptr), 1);
  auto chunk = [&](std::uint16_t source, std::int32_t first, std::int32_t count) {
    auto* k = static_cast<RmfChunkKey*>(RmfTagT3(arena, sizeof(RmfChunkKey) + 12 * 4, &cache.owner));
    EXPECT_NE(k, nullptr);
    k->source = source;
    k->first = first;
    k->count = count;
    EXPECT_EQ(cache.owner.release(nullptr, k, cache.owner.context, &cache.owner), 1);
    return k;
  };
  RmfChunkKey* a = chunk(0, 0, 4);
  RmfChunkKey* b = chunk(0, 4, 4);
  RmfChunkKey* c = chunk(1, -8, 4);
  RmfChunkKey* d = chunk(0, -170, 170);
  RmfChunkKey twin = *b;
  EXPECT_EQ(cache.owner.release(nullptr, &twin, cache.owner.context, &cache.owner), -1);  // key taken
  // Key order: source, then signed first position, then count.
  void* n = nullptr;
  std::vector<void*> inOrder;
  for (int r = TiBtiLeast(&cache.tree, &n); r == 1; r = TiBtiNext(&cache.tree, &n)) inOrder.push_back(n);
  EXPECT_EQ(inOrder, (std::vector<void*>{d, a, b, c}));
  // Evicting a chunk takes only that chunk.
  const RmfChunkKey bKey = *b;
  ASSERT_EQ(RmfTagT10(arena, b, -1), 1);
  ASSERT_EQ(RmfTagT11(arena), 1);
  EXPECT_EQ(RmfTcT3(&cache, &bKey), nullptr);
  EXPECT_EQ(RmfTcT3(&cache, a), a);
  EXPECT_EQ(TiBtiNNodes(&cache.tree), 3);
  // A block that moved is found at its new address.
  auto* moved = static_cast<RmfChunkKey*>(RmfTagT3(arena, sizeof(RmfChunkKey) + 12 * 4, &cache.owner));
  ASSERT_NE(moved, nullptr);
  std::memcpy(moved, c, sizeof(RmfChunkKey) + 12 * 4);
  ASSERT_EQ(cache.owner.release(c, moved, cache.owner.context, &cache.owner), 1);
  RmfChunkKey probe{};
  probe.source = 1;
  probe.first = -8;
  probe.count = 4;
  EXPECT_EQ(RmfTcT3(&cache, &probe), moved);
  EXPECT_GE(TiBtiVerifyBalance(&cache.tree), 1);
  std::string fault;
  EXPECT_TRUE(TagArenaCheck(arena, nullptr, nullptr, &fault)) << fault;
}

}  // namespace

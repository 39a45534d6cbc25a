// Shared pieces of the feature-query tests: map files built with the builder
// and read from memory into a reader in its own arena, features added to
// records part by part, and a query run to its end with every result kept.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "mapengine/format/features/RmfQuery.h"
#include "mapengine/format/store/RmfReader.h"
#include "tools/rmfbuild/RmfBuilder.h"
#include "tools/rmfbuild/RmfMemoryReader.h"

namespace rmfquerytest {

// Adds a part with its own triple and the points as its vertices, in order.
inline void AddPart(rmfbuild::Record& record, const rmfbuild::TextTriple& text, const std::vector<TiPoint>& points,
                    std::vector<rmfbuild::VertexWord> leading = {}) {
  rmfbuild::Part part;
  part.text = text;
  part.words = std::move(leading);
  for (const TiPoint& p : points) {
    part.words.push_back(rmfbuild::VertexWord::Point(static_cast<std::uint16_t>(record.points.size())));
    record.points.push_back(p);
  }
  record.parts.push_back(std::move(part));
}

// A closed ring: its points and the first one again.
inline void AddRing(rmfbuild::Record& record, const rmfbuild::TextTriple& text, const std::vector<TiPoint>& ring) {
  std::vector<TiPoint> closed = ring;
  closed.push_back(ring.front());
  AddPart(record, text, closed);
}

struct Hit {
  std::int32_t n = 0;  // the result of RmfQueryNext
  std::string code;
  std::string name;
  std::string detail;
  std::int32_t count = 0;
  RmfFeatureRef ref{};
  std::vector<TiPoint> points;
  std::vector<std::int32_t> vertices;  // the vertex positions the query keeps with the points
  std::vector<std::string> codes;      // every triple's code and name
  std::vector<std::string> names;
};

inline bool Referenced(const Hit& h) { return h.ref.featureId != 0; }

class QueryFixture : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_NE(reader_, nullptr); }

  // Builds the map and adds it as the reader's next source.
  void Open(const rmfbuild::MapDescription& d) { ASSERT_GE(maps_.AddMap(d), 1) << maps_.error(); }

  // Every result of the query until it finishes (at most maxCalls).
  std::vector<Hit> Run(int maxCalls = 100000) {
    std::vector<Hit> hits;
    RmfQueryStart(reader_);
    for (int i = 0; i < maxCalls; ++i) {
      Hit h;
      char code[6] = "xxxxx";
      char name[51];
      char detail[251];
      TiPoint* points = nullptr;
      h.n = RmfQueryNext(reader_, code, name, detail, &h.count, &h.ref, &points);
      if (h.n == 0) return hits;
      h.code = code;
      h.name = name;
      h.detail = detail;
      for (std::int32_t k = 0; k < h.n; ++k) {
        h.points.push_back(points[k]);
        h.vertices.push_back(reader_->queryWork.vertices[k]);
      }
      for (std::int32_t k = 0; k < h.count; ++k) {
        char c[6];
        char nm[51];
        EXPECT_EQ(RmfQueryResultText(reader_, k, c, nm, nullptr), 1);
        h.codes.push_back(c);
        h.names.push_back(nm);
      }
      hits.push_back(std::move(h));
    }
    ADD_FAILURE() << "the query did not finish";
    return hits;
  }

  rmfbuild::MemoryReader maps_{24u << 20};
  RmfReader* const reader_ = maps_.reader();
};

}  // namespace rmfquerytest

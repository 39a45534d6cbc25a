#include "tools/rmfbuild/RmfStreetParts.h"

#include <cstdint>

#include "mapengine/format/features/RmfQuery.h"

namespace rmfbuild {

std::vector<StreetPart> QueryStreetParts(RmfReader* reader, TiRect box) {
  std::vector<StreetPart> parts;
  RmfQuerySetLevels(reader, 1, 8);
  for (std::int32_t c = 0; c < 4; ++c) RmfQuerySetClassFilter(reader, c, c == 1 ? "4567" : "");
  RmfQuerySetRect(reader, box.x1, box.y1, box.x2, box.y2);
  RmfQueryStart(reader);
  for (;;) {
    char code[6] = {};
    char name[51] = {};
    char detail[251] = {};
    std::int32_t count = 0;
    RmfFeatureRef reference{};
    TiPoint* points = nullptr;
    const std::int32_t n = RmfQueryNext(reader, code, name, detail, &count, &reference, &points);
    if (n == 0 || n <= -2) break;
    if (n < 2 || points == nullptr || detail[0] == '\0') continue;
    parts.push_back(StreetPart{reference, std::vector<TiPoint>(points, points + n), detail});
  }
  return parts;
}

}  // namespace rmfbuild

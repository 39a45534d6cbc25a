// The peer router of the route benchmark, Routino: its database built from
// the extract by its planetsplitter command, and its library's route
// calculation in this process.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include <routino.h>

#include "bench/route/BenchRouter.h"

namespace routebench {

struct DatabaseBuild {
  bool ok = false;
  std::string error;
  double seconds = 0;
  std::uintmax_t bytes = 0;  // size of the database files written
};

// Runs `planetsplitter` on the extract with the tagging rules `tagging`,
// writing the database into `dir` (made if missing) and its messages into
// `dir`/planetsplitter.log.
DatabaseBuild BuildRoutinoDatabase(const std::string& planetsplitter, const std::string& tagging,
                                   const std::string& extract, const std::string& dir);

// Routes with the "foot" profile and the shortest route for walking and the
// "motorcar" profile and the quickest route for driving, as Routino's
// profiles file defines them. The library keeps its profiles and
// translations in global state: one router at a time.
//
// Routino's shortest route is not the shortest in metres: it divides each
// segment's length by the profile's preference for the segment's highway
// type and properties, and the foot profile prefers paths to main roads.
// On the bundled Neubrandenburg extract (200 pairs), its walking routes
// were 1.6 % longer at the median and 17 % longer at the 95th percentile
// than with every preference equal; a router that minimises metres comes
// out shorter by as much.
class RoutinoRouter final : public BenchRouter {
 public:
  // Loads the database in `databaseDir` and the profiles and translations
  // files in `dataDir`; null and the reason in `error` when any of it fails.
  static std::unique_ptr<RoutinoRouter> Open(const std::string& databaseDir, const std::string& dataDir,
                                             std::string* error);
  ~RoutinoRouter() override;
  RoutinoRouter(const RoutinoRouter&) = delete;
  RoutinoRouter& operator=(const RoutinoRouter&) = delete;

  const char* Name() const override { return directions_ ? "Routino+text" : "Routino"; }

  // With directions, a route comes with Routino's text directions (an
  // instruction per junction where the route turns or the road's name
  // changes, in words: ROUTINO_ROUTE_LIST_HTML, the HTML route's text as
  // plain text) instead of the list of all its points: the peer of a whole
  // route request that ends in spoken steps. (ROUTINO_ROUTE_LIST_TEXT, the
  // plain list of those junctions, crashes in Routino 3.3.3's library.)
  void SetDirections(bool directions) { directions_ = directions; }

  // The time covers finding the two waypoints (the nearest point of a road
  // the profile may use) and calculating the route with its list of points;
  // the length is read from that list afterwards. The library does not
  // tell how many nodes its search expanded.
  BenchRoute Route(LatLon from, LatLon to, TravelMode mode) override;

 private:
  RoutinoRouter() = default;

  Routino_Database* database_ = nullptr;
  Routino_Profile* walking_ = nullptr;  // owned by the library's profile list
  Routino_Profile* driving_ = nullptr;
  Routino_Translation* translation_ = nullptr;  // owned by the library's translation list
  bool profilesLoaded_ = false;
  bool translationsLoaded_ = false;
  bool directions_ = false;
};

}  // namespace routebench

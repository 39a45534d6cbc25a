// A virtual explorer that drives the map engine's exploration operations the
// way the navigation engine does: it keeps the virtual position, the
// heading, the side of the street, the cross streets of the current point
// with the one the user faces, and one step to undo. Forward and crossing
// are map-engine moves; turning picks another cross street of the list;
// backing up restores the point before the last move. After a move the
// position is the location the cross streets carry (one foot short of the
// intersection).
#pragma once

#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "mapengine/format/base/TiTypes.h"
#include "typelib/CartovelLib.h"
#include "mapengine/object/Utilities.h"
#include "tests/mapengine/object/cross_street_list.h"

class VirtualExplorer {
 public:
  struct State {
    TiPoint at{};
    int heading = -1;
    CARTOVELSideOfStreet side = CARTOVELSideUnknown;
    std::vector<HeardCrossStreet> list;
    int index = -1;
  };

  explicit VirtualExplorer(IMap& map) : map_(&map) {}

  // A new virtual position on `street` at `at`: the heading the map engine
  // chooses there, then the cross streets of that point. False when the map
  // engine finds no street there.
  bool Start(TiPoint at, const std::string& street, const std::string& address) {
    backup_.reset();
    state_ = State{};
    state_.at = at;
    const HeardCrossStreets initial = AskInitialHeading(*map_, at, street, address);
    if (initial.hr != S_OK || initial.heading == -1) return false;
    state_.heading = initial.heading;
    return Update();
  }

  // Turns to the next cross street clockwise (+1) or anticlockwise (-1);
  // a trail or walkway is passed over once.
  bool Turn(int step) {
    const int n = static_cast<int>(state_.list.size());
    if (n == 0) return false;
    int index = state_.index;
    if (index < 0) {
      // No cross street chosen yet: the first one at or clockwise of the
      // heading, or the one before it for a left turn.
      index = -1;
      for (int i = 0; i < n; ++i) {
        if (state_.list[static_cast<std::size_t>(i)].orientation >= state_.heading) {
          index = i;
          break;
        }
      }
      if (index < 0) {
        index = step > 0 ? 0 : n - 1;
      } else if (step < 0) {
        index = (index - 1 + n) % n;
      }
    } else {
      index = ((index + step) % n + n) % n;
    }
    if (state_.list[static_cast<std::size_t>(index)].connectType != 0) index = ((index + step) % n + n) % n;
    const HeardCrossStreet& chosen = state_.list[static_cast<std::size_t>(index)];
    state_.index = index;
    state_.heading = chosen.orientation;
    state_.side = static_cast<CARTOVELSideOfStreet>(chosen.side);
    if (n == 1 && chosen.side != CARTOVELSideUnknown) {
      state_.side = chosen.side == CARTOVELLeftSide ? CARTOVELRightSide : CARTOVELLeftSide;
    }
    return true;
  }

  // Presses turn (+1 right, -1 left) until the cross street at `index` is
  // faced; false when it cannot be reached (a walkway passed over on the
  // way).
  bool TurnTo(int index, int step) {
    const int n = static_cast<int>(state_.list.size());
    for (int presses = 0; presses <= n; ++presses) {
      if (state_.index == index) return true;
      if (!Turn(step)) return false;
    }
    return state_.index == index;
  }

  // Forward to the next intersection along the street faced, or across the
  // street in front. False (and nothing moved) when no cross street lies
  // within 50 degrees of the heading or the map engine finds none ahead.
  bool Forward() { return Move(ExploreStep::kMoveToNext); }
  bool Cross() { return Move(ExploreStep::kCrossThisStreet); }

  // Undoes the last move; only one step can be undone.
  bool Backup() {
    if (!backup_) return false;
    state_ = *backup_;
    backup_.reset();
    return true;
  }

  const State& state() const { return state_; }
  // The cross street faced, when one is chosen.
  const HeardCrossStreet* Current() const {
    if (state_.index < 0 || state_.index >= static_cast<int>(state_.list.size())) return nullptr;
    return &state_.list[static_cast<std::size_t>(state_.index)];
  }
  // Map answers other than S_OK seen so far.
  int failures() const { return failures_; }

 private:
  bool Update() {
    const HeardCrossStreets heard = AskUpdateCrossStreets(*map_, state_.at, state_.heading, state_.side, false);
    failures_ += heard.hr == S_OK ? 0 : 1;
    state_.list = heard.streets;
    state_.index = state_.list.empty() ? -1 : 0;
    return !state_.list.empty();
  }

  bool Move(ExploreStep step) {
    if (state_.list.empty()) return false;
    int heading = state_.heading;
    if (step == ExploreStep::kMoveToNext && Current() != nullptr) heading = Current()->orientation;
    bool ahead = false;
    for (const HeardCrossStreet& c : state_.list) {
      ahead = ahead || AreHeadingAndOrientationSimilar(heading, c.orientation, 50);
    }
    if (heading == -1 || !ahead) return false;
    const HeardCrossStreets heard = AskExploreStep(*map_, step, state_.at, heading, state_.side);
    failures_ += heard.hr == S_OK ? 0 : 1;
    if (heard.hr != S_OK || heard.streets.empty()) return false;
    backup_ = state_;
    state_.heading = heard.heading;
    state_.list = heard.streets;
    state_.index = 0;
    state_.at = state_.list[0].at;
    return true;
  }

  IMap* map_;
  State state_;
  std::optional<State> backup_;
  int failures_ = 0;
};

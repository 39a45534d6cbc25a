// Routino as the route benchmark's peer router: builds its database with
// the planetsplitter command and routes through its library.
#include "bench/route/RoutinoRouter.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <system_error>
#include <vector>

extern char** environ;

namespace routebench {
namespace {

// Starts a command with its output and errors in `log` and waits for it;
// its exit status, or -1 when it could not be started or was killed.
int RunLogged(std::vector<std::string> args, const std::string& log) {
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  if (posix_spawn_file_actions_init(&actions) != 0) return -1;
  posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_adddup2(&actions, 1, 2);
  pid_t pid = 0;
  const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) return -1;
  int status = 0;
  if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

// The route's length in metres from a list of ROUTINO_ROUTE_LIST_TEXT_ALL
// points or ROUTINO_ROUTE_LIST_TEXT directions: each entry carries the
// distance travelled up to it, so the last one's (the destination's) is the
// whole route's.
double RouteMetres(const Routino_Output* list) {
  double km = 0;
  for (const Routino_Output* p = list; p != nullptr; p = p->next) km = p->dist;
  return km * 1000.0;
}

struct WaypointDeleter {
  void operator()(Routino_Waypoint* w) const { std::free(w); }  // the library allocates them with malloc
};
using Waypoint = std::unique_ptr<Routino_Waypoint, WaypointDeleter>;

struct RouteDeleter {
  void operator()(Routino_Output* r) const { Routino_DeleteRoute(r); }
};
using RouteList = std::unique_ptr<Routino_Output, RouteDeleter>;

}  // namespace

DatabaseBuild BuildRoutinoDatabase(const std::string& planetsplitter, const std::string& tagging,
                                   const std::string& extract, const std::string& dir) {
  DatabaseBuild build;
  std::error_code ec;
  std::filesystem::create_directories(dir, ec);
  if (ec) {
    build.error = "cannot make " + dir + ": " + ec.message();
    return build;
  }
  const std::string log = (std::filesystem::path(dir) / "planetsplitter.log").string();
  const auto start = std::chrono::steady_clock::now();
  const int status = RunLogged({planetsplitter, "--dir=" + dir, "--tagging=" + tagging, "--loggable", extract}, log);
  build.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  if (status != 0) {
    build.error = planetsplitter + " failed (status " + std::to_string(status) + "), see " + log;
    return build;
  }
  for (const auto& entry : std::filesystem::directory_iterator(dir, ec)) {
    if (entry.path().extension() == ".mem") build.bytes += entry.file_size(ec);
  }
  build.ok = true;
  return build;
}

std::unique_ptr<RoutinoRouter> RoutinoRouter::Open(const std::string& databaseDir, const std::string& dataDir,
                                                   std::string* error) {
  std::unique_ptr<RoutinoRouter> router(new RoutinoRouter);
  auto fail = [error](std::string why) {
    *error = std::move(why) + " (Routino error " + std::to_string(Routino_errno) + ")";
    return nullptr;
  };
  if (Routino_CheckAPIVersion() != ROUTINO_ERROR_NONE) return fail("the Routino library and header differ");
  router->database_ = Routino_LoadDatabase(databaseDir.c_str(), nullptr);
  if (router->database_ == nullptr) return fail("cannot load the Routino database in " + databaseDir);
  const std::string profiles = (std::filesystem::path(dataDir) / "profiles.xml").string();
  if (Routino_ParseXMLProfiles(profiles.c_str()) != 0) return fail("cannot read " + profiles);
  router->profilesLoaded_ = true;
  const std::string translations = (std::filesystem::path(dataDir) / "translations.xml").string();
  if (Routino_ParseXMLTranslations(translations.c_str()) != 0) return fail("cannot read " + translations);
  router->translationsLoaded_ = true;
  router->translation_ = Routino_GetTranslation("en");
  if (router->translation_ == nullptr) return fail("no English translation in " + translations);
  router->walking_ = Routino_GetProfile("foot");
  router->driving_ = Routino_GetProfile("motorcar");
  if (router->walking_ == nullptr || router->driving_ == nullptr) return fail("no foot or motorcar profile in " + profiles);
  if (Routino_ValidateProfile(router->database_, router->walking_) != ROUTINO_ERROR_NONE ||
      Routino_ValidateProfile(router->database_, router->driving_) != ROUTINO_ERROR_NONE) {
    return fail("the foot or motorcar profile does not fit the database");
  }
  return router;
}

RoutinoRouter::~RoutinoRouter() {
  if (translationsLoaded_) Routino_FreeXMLTranslations();
  if (profilesLoaded_) Routino_FreeXMLProfiles();
  if (database_ != nullptr) Routino_UnloadDatabase(database_);
}

BenchRoute RoutinoRouter::Route(LatLon from, LatLon to, TravelMode mode) {
  const bool walking = mode == TravelMode::kWalking;
  Routino_Profile* profile = walking ? walking_ : driving_;
  const int options = (walking ? ROUTINO_ROUTE_SHORTEST : ROUTINO_ROUTE_QUICKEST) |
                      (directions_ ? ROUTINO_ROUTE_LIST_HTML : ROUTINO_ROUTE_LIST_TEXT_ALL);
  BenchRoute route;
  const auto start = std::chrono::steady_clock::now();
  Waypoint origin(Routino_FindWaypoint(database_, profile, from.lat, from.lon));
  Waypoint destination(Routino_FindWaypoint(database_, profile, to.lat, to.lon));
  RouteList list;
  if (origin != nullptr && destination != nullptr) {
    Routino_Waypoint* waypoints[2] = {origin.get(), destination.get()};
    list.reset(Routino_CalculateRoute(database_, profile, translation_, waypoints, 2, options, nullptr));
  }
  route.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  if (list == nullptr) return route;
  route.ok = true;
  route.metres = RouteMetres(list.get());
  return route;
}

}  // namespace routebench

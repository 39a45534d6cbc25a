// The main job of the build as it stands: installs the map engine on a device
// root the way the phone's installer does (its DllRegisterServer), creates
// Cartovel.Map by its ProgID as the navigation engine does, gives it the
// English language library, lets it find and load the maps of the device's
// maps folder, and prints what it reports through IMap, with the bounds and
// detail levels each loaded map's header declares.
//
//   cartovel-demo [--root DEVICE_ROOT] [--library PATH_TO_Cartovel.so]
#include <cstdio>
#include <cstring>
#include <string>

#include "mapengine/format/store/RmfFileFormat.h"
#include "mapengine/object/CartovelLib.h"
#include "platform/com/runtime.h"
#include "platform/os/device.h"
#include "platform/os/files.h"
#include "platform/os/module.h"
#include "platform/os/text.h"

namespace {

std::string ProgramFolder() {
  char16_t path[4096];
  DWORD n = GetModuleFileNameW(nullptr, path, 4096);
  std::string host = platform::Utf16ToUtf8(std::u16string_view(path, n));
  auto slash = host.rfind('/');
  return slash == std::string::npos ? std::string(".") : host.substr(0, slash);
}

std::string Hex(HRESULT hr) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(hr));
  return text;
}

std::string Text(BSTR b) { return platform::Utf16ToUtf8(std::u16string_view(b, SysStringLen(b))); }

BSTR Bstr(const std::string& text) {
  std::u16string wide = platform::Utf8ToUtf16(text);
  return SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
}

// The header of a map file as the map library decodes it: its box in degrees
// and its detail levels.
void PrintMapHeader(const std::string& phonePath) {
  std::FILE* file = std::fopen(platform::HostPathUtf8(phonePath).c_str(), "rb");
  if (file == nullptr) return;
  unsigned char bytes[500];
  size_t n = std::fread(bytes, 1, sizeof bytes, file);
  std::fclose(file);
  rmf::RmfFileHeader header{};
  if (rmf::DecodeFileHeader(bytes, n, &header) != 1) {
    std::printf("    header not readable\n");
    return;
  }
  const double perDegree = 745654.0444444445;
  std::printf("    bounds %.5f,%.5f .. %.5f,%.5f (lat,lon); detail levels %d..%d; %u index runs\n",
              header.box.y1 / perDegree, header.box.x1 / perDegree, header.box.y2 / perDegree,
              header.box.x2 / perDegree, header.minLevel, header.maxLevel, header.indexCount);
}

int Fail(const char* what, HRESULT hr) {
  std::fprintf(stderr, "cartovel-demo: %s failed (%s)\n", what, Hex(hr).c_str());
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  std::string library = ProgramFolder() + "/Cartovel.so";
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--root") == 0 && i + 1 < argc) {
      platform::SetDeviceRoot(argv[++i]);
    } else if (std::strcmp(argv[i], "--library") == 0 && i + 1 < argc) {
      library = argv[++i];
    } else {
      std::fprintf(stderr, "usage: cartovel-demo [--root DEVICE_ROOT] [--library Cartovel.so]\n");
      return 2;
    }
  }
  std::printf("device root: %s\n", platform::DeviceRoot().c_str());

  HMODULE server = LoadLibraryW(platform::Utf8ToUtf16(library).c_str());
  if (server == nullptr) {
    std::fprintf(stderr, "cartovel-demo: cannot load %s: %s\n", library.c_str(), platform::LastModuleError());
    return 1;
  }
  auto registerServer = reinterpret_cast<HRESULT (*)()>(GetProcAddress(server, "DllRegisterServer"));
  HRESULT hr = registerServer != nullptr ? registerServer() : E_FAIL;
  // CoCreateInstance loads the library again through the registry; this
  // handle was only for the registration.
  FreeLibrary(server);
  if (FAILED(hr)) return Fail("DllRegisterServer", hr);
  std::printf("registered: %s\n", library.c_str());

  hr = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  if (FAILED(hr)) return Fail("CoInitializeEx", hr);

  CLSID clsid{};
  hr = CLSIDFromProgID(u"Cartovel.Map", &clsid);
  if (FAILED(hr)) return Fail("CLSIDFromProgID(Cartovel.Map)", hr);
  std::printf("Cartovel.Map is %s\n", FormatGuid(clsid).c_str());

  IUnknown* unknown = nullptr;
  hr = CoCreateInstance(clsid, nullptr, CLSCTX_ALL, IID_IUnknown, reinterpret_cast<void**>(&unknown));
  if (FAILED(hr)) return Fail("CoCreateInstance", hr);
  OleRun(unknown);
  IMap* map = nullptr;
  hr = unknown->QueryInterface(IID_IMap, reinterpret_cast<void**>(&map));
  unknown->Release();
  if (FAILED(hr)) return Fail("QueryInterface(IMap)", hr);

  BSTR language = Bstr(ProgramFolder() + "/Lexiforn_EN.so");
  VARIANT_BOOL wordsLoaded = VARIANT_FALSE;
  map->SetResources(language, &wordsLoaded);
  SysFreeString(language);
  std::printf("language library: %s\n", wordsLoaded ? "Lexiforn_EN loaded" : "not loaded");

  BSTR none = Bstr("");
  BSTR settings = Bstr("\\CompactFlash\\settings");
  BSTR result = nullptr;
  map->Initalize(none, settings, none, VARIANT_TRUE, &result);
  std::printf("Initalize: %s\n", Text(result).c_str());
  SysFreeString(result);
  SysFreeString(settings);
  SysFreeString(none);

  BSTR mapPath = nullptr;
  map->get_MapPath(&mapPath);
  SHORT maps = 0, country = 0, provincial = 0, state = 0, regional = 0;
  LONG pois = 0;
  map->NumberOfMapsLoaded(&maps);
  map->LoadedCountryMaps(&country);
  map->LoadedProvincialMaps(&provincial);
  map->LoadedStateMaps(&state);
  map->LoadedRegionalMaps(&regional);
  map->NumberOfPOIsLoaded(&pois);
  std::printf("map path: \"%s\"\n", platform::Utf16ToUtf8(std::u16string_view(mapPath, SysStringLen(mapPath))).c_str());
  std::printf("maps loaded: %d (country %d, provincial %d, state %d, regional %d)\n", maps, country, provincial,
              state, regional);
  std::printf("points-of-interest files loaded: %d\n", static_cast<int>(pois));

  BSTR all = Bstr("");
  VARIANT names;
  VariantInit(&names);
  map->FindMatchingMaps(all, &names);
  SysFreeString(all);
  if (names.vt == (VT_ARRAY | VT_VARIANT)) {
    LONG lower = 0, upper = -1;
    SafeArrayGetLBound(names.parray, 1, &lower);
    SafeArrayGetUBound(names.parray, 1, &upper);
    std::printf("maps by name: %ld\n", static_cast<long>(upper - lower + 1));
    for (LONG i = lower; i <= upper; ++i) {
      VARIANT name;
      VariantInit(&name);
      SafeArrayGetElement(names.parray, &i, &name);
      if (name.vt == VT_BSTR) std::printf("  %s\n", Text(name.bstrVal).c_str());
      VariantClear(&name);
    }
  }
  VariantClear(&names);
  std::printf("map files:\n");
  WIN32_FIND_DATAW found{};
  std::string folder = Text(mapPath);
  HANDLE find = FindFirstFileW(platform::Utf8ToUtf16(folder + "*.rmf").c_str(), &found);
  if (find != INVALID_HANDLE_VALUE) {
    do {
      std::string name = platform::Utf16ToUtf8(found.cFileName);
      std::printf("  %s\n", name.c_str());
      PrintMapHeader(folder + name);
    } while (FindNextFileW(find, &found));
    FindClose(find);
  }
  SysFreeString(mapPath);

  map->CleanUp();

  map->Release();
  std::printf("live COM objects after release: %ld\n", com::LiveObjectCount());
  CoUninitialize();
  return com::LiveObjectCount() == 0 ? 0 : 1;
}

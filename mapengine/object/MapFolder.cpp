// The map folder: Initalize opens the maps of the folder it is given when that
// holds a "*.rmf", else, when asked to search, of the first of the storage
// cards' map folders (each after m_BaseMapPath) that does.
#include <string>
#include <string_view>

#include "mapengine/object/CMap.h"
#include "platform/os/files.h"
#include "platform/os/format.h"

namespace {

// Folders tried in this order, each after m_BaseMapPath, when the given folder
// holds no map.
const char16_t* const kMapFolderSearchList[] = {
    u"\\CompactFlash\\Maps\\",  u"\\Compact Flash\\Maps\\",  u"\\SD Card\\Maps\\",  u"\\PC Card\\Maps\\",
    u"\\Storage Card\\Maps\\",  u"\\CompactFlash2\\Maps\\", u"\\Compact Flash2\\Maps\\", u"\\SD Card2\\Maps\\",
    u"\\PC Card2\\Maps\\",      u"\\Storage Card2\\Maps\\",
};

}  // namespace

bool CMap::DirectoryHasMaps(const char16_t* pattern) const {
  std::u16string path = platform::FormatW(u"%s%s", {BstrView(m_MapPath), pattern});
  WIN32_FIND_DATAW data{};
  HANDLE find = FindFirstFileW(path.c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return false;
  FindClose(find);
  return true;
}

bool CMap::TryMapDirectory(const char16_t* folder) {
  SetMapDirectory(m_BaseMapPath, folder);
  if (DirectoryHasMaps(u"*.rmf")) return true;
  Log(u"No Map not found in:");
  Log(folder);
  return false;
}

bool CMap::FindMapDirectory(std::u16string_view folder, bool searchOtherFolders) {
  if (!folder.empty()) {
    std::u16string given(folder);
    SetMapDirectory(u"", given.c_str());
    if (DirectoryHasMaps(u"*.rmf")) return true;
    if (SysStringLen(m_MapPath) != 0) {
      Log(u"No Default Map not found in:");
      Log(given.c_str());
    }
  }
  if (!searchOtherFolders) return false;
  for (const char16_t* candidate : kMapFolderSearchList)
    if (TryMapDirectory(candidate)) return true;
  m_MapPath.Reset();
  return false;
}

// A small in-process COM server for the runtime tests, written the way the
// system's servers are: classes on com::ComClass, a class-object map, and the
// four exported entry points from COM_SERVER_ENTRY_POINTS.
#include "platform/com/atl.h"
#include "tests/platform/com_test_server.h"
#include "tests/platform/test_counter.h"

namespace {

using comtest::CTestCounter;

class CTestRefuser final : public com::ComClass<CTestRefuser, IUnknown> {
 public:
  HRESULT FinalConstruct() { return E_ACCESSDENIED; }
};

const com::ClassEntry kClasses[] = {
    {&CLSID_TestCounter, kTestCounterProgId, u"Test Counter Class", u"Free", &CTestCounter::CreateInstance},
    {&CLSID_TestRefuser, nullptr, u"Test Refuser Class", u"Free", &CTestRefuser::CreateInstance},
};

}  // namespace

COM_SERVER_ENTRY_POINTS(kClasses)

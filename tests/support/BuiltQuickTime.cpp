#include "support/BuiltQuickTime.h"

#include <cstdlib>
#include <string>

#include "support/TempDir.h"

namespace framory::testing {

void UseBuiltQuickTime(const char* runtimeFolder) {
  static TempDir store;
  static const bool done = [runtimeFolder] {
    WriteWholeFile(store.File("machine.ini"),
                   std::string("[Software\\Apple Computer, Inc.\\QuickTime]\n"
                               "QuickTime.qts folder=") +
                       runtimeFolder + "\n");
    setenv("FRAMORY_MACHINE_REGISTRY", store.File("machine.ini").c_str(), 1);
    setenv("XDG_CONFIG_HOME", store.Path().c_str(), 1);
    return true;
  }();
  (void)done;
}

}  // namespace framory::testing

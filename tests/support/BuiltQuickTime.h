// Points the QuickTime bridge at the runtime built with the tests: a machine
// store in a folder of the process's own names `runtimeFolder` as the
// QuickTime.qts folder, and the user's store is kept in that folder too. Done
// once per process; the folder goes when the process ends.
#pragma once

namespace framory::testing {

void UseBuiltQuickTime(const char* runtimeFolder);

}  // namespace framory::testing

#include "base/LastError.h"

namespace framory {
namespace {
thread_local std::uint32_t lastError = 0;
}

void SetLastError(std::uint32_t code) { lastError = code; }
std::uint32_t GetLastError() { return lastError; }

}  // namespace framory

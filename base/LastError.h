// The calling thread's last error code, read by ReportApiFailure. Platform
// code that fails sets it right before returning its failure: errno for
// system calls, the X error code where an X request failed.
#pragma once

#include <cstdint>

namespace framory {

void SetLastError(std::uint32_t code);
std::uint32_t GetLastError();

class LastErrorSource {
 public:
  virtual ~LastErrorSource() = default;
  virtual std::uint32_t LastError() const = 0;
};

// The thread's value set by SetLastError.
class ThreadLastErrorSource : public LastErrorSource {
 public:
  std::uint32_t LastError() const override { return GetLastError(); }
};

}  // namespace framory

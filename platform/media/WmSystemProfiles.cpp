#include "platform/media/WmSystemProfiles.h"

namespace framory {

namespace {

constexpr WmSystemProfileRow kProfiles[] = {
    {WmGuids::ProfileV80_384Video, "WMProfile_V80_384Video", kWmtVersion8, 384000, 32000, 352000,
     10, 5000},
    {WmGuids::ProfileV80_56Video, "WMProfile_V80_56Video", kWmtVersion8, 56000, 16000, 40000, 10,
     5000},
    {WmGuids::ProfileV80_700PALVideo, "WMProfile_V80_700PALVideo", kWmtVersion8, 768000, 64000,
     704000, 5, 5000},
};

}  // namespace

const WmSystemProfileRow* FindSystemProfile(const WmGuid& id, std::uint32_t version) {
  for (const WmSystemProfileRow& row : kProfiles) {
    if (row.Id == id && row.Version == version) return &row;
  }
  return nullptr;
}

std::int32_t WmSystemProfile::GetStreamCount(std::uint32_t* count) const {
  if (count == nullptr) return WmResult::InvalidArg;
  *count = 2;
  return WmResult::Ok;
}

}  // namespace framory

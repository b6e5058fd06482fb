// The profile manager of the Windows-Media-Format-like library. Like the
// original it starts at system profile version 9, which lists none of the
// profiles this library has; the version 8 profiles are found once the
// version is set to 8.
#pragma once

#include "writers/WmFormatApi.h"

namespace framory {

class WmSystemProfileManager : public WmProfileManager, public WmProfileManager2 {
 public:
  std::int32_t QueryInterface(const WmGuid& iid, WmProfileManager2** manager2) override;
  std::int32_t LoadProfileByID(const WmGuid& id, std::unique_ptr<WmProfile>* profile) override;
  std::int32_t SetSystemProfileVersion(std::uint32_t version) override;
  std::int32_t GetSystemProfileVersion(std::uint32_t* version) const override;

 private:
  std::uint32_t version_ = kWmtVersion9;
};

}  // namespace framory

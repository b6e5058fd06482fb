#include "platform/media/WmSystemProfileManager.h"

#include "platform/media/WmSystemProfiles.h"

namespace framory {

std::int32_t WmSystemProfileManager::QueryInterface(const WmGuid& iid,
                                                    WmProfileManager2** manager2) {
  if (manager2 == nullptr) return WmResult::InvalidArg;
  *manager2 = nullptr;
  if (!(iid == WmGuids::IidProfileManager2)) return WmResult::NoInterface;
  *manager2 = this;
  return WmResult::Ok;
}

std::int32_t WmSystemProfileManager::LoadProfileByID(const WmGuid& id,
                                                     std::unique_ptr<WmProfile>* profile) {
  if (profile == nullptr) return WmResult::InvalidArg;
  const WmSystemProfileRow* row = FindSystemProfile(id, version_);
  if (row == nullptr) return WmResult::InvalidArg;
  *profile = std::make_unique<WmSystemProfile>(*row);
  return WmResult::Ok;
}

std::int32_t WmSystemProfileManager::SetSystemProfileVersion(std::uint32_t version) {
  if (version != kWmtVersion8 && version != kWmtVersion9) return WmResult::InvalidArg;
  version_ = version;
  return WmResult::Ok;
}

std::int32_t WmSystemProfileManager::GetSystemProfileVersion(std::uint32_t* version) const {
  if (version == nullptr) return WmResult::InvalidArg;
  *version = version_;
  return WmResult::Ok;
}

}  // namespace framory

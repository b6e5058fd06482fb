#include "app/TrayState.h"

namespace framory {

void TrayState::Modify(std::int32_t iconId, const std::string& tip) {
  iconId_ = iconId;
  tip_ = tip.substr(0, kMaxTipLength);
  if (changed_) changed_();
}

}  // namespace framory

#include "platform/media/MediaLog.h"

#include <cstdlib>

extern "C" {
#include <libavutil/log.h>
}

namespace framory {

void QuietMediaLog() {
  if (std::getenv("FRAMORY_MEDIA_LOG") != nullptr) return;
  av_log_set_level(AV_LOG_ERROR);
}

}  // namespace framory

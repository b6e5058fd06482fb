#include "platform/wayland/WaylandScreenSource.h"

#include <unistd.h>

#include "platform/wayland/PipeWireScreenStream.h"
#include "platform/wayland/ScreenCastPortal.h"
#include "platform/wayland/WlrScreenCopy.h"

namespace framory {

WaylandScreenSource::WaylandScreenSource(StreamScreen& screen, Settings& settings)
    : screen_(screen), settings_(settings) {}

WaylandScreenSource::~WaylandScreenSource() {
  // The stream first: it reads from the portal's session.
  stream_.reset();
  copies_.reset();
  portal_.reset();
}

void WaylandScreenSource::Start(std::function<void(Way, const std::string&)> chosen) {
  chosen_ = std::move(chosen);
  way_ = Way::Asking;
  portal_ = std::make_unique<ScreenCastPortal>();
  portal_->Ask(settings_.PortalRestoreToken(), [this](const ScreenCastPortal::Result& result) {
    switch (result.What) {
      case ScreenCastPortal::Outcome::Granted: {
        // Each grant's token is good for the next start only.
        if (!result.RestoreToken.empty()) settings_.SetPortalRestoreToken(result.RestoreToken);
        stream_ = std::make_unique<PipeWireScreenStream>(screen_);
        if (stream_->Start(result.RemoteFd, result.Node)) {
          Choose(Way::Portal, "granted");
        } else {
          TryScreenCopies("the portal's stream could not be read: " + stream_->Error());
        }
        break;
      }
      case ScreenCastPortal::Outcome::Cancelled:
        Choose(Way::Declined, result.Why);
        break;
      case ScreenCastPortal::Outcome::Refused:
        TryScreenCopies(result.Why);
        break;
    }
  });
}

void WaylandScreenSource::TryScreenCopies(const std::string& portalAnswer) {
  stream_.reset();
  copies_ = std::make_unique<WlrScreenCopy>(screen_);
  if (copies_->Open() && copies_->Start()) {
    Choose(Way::ScreenCopy, portalAnswer);
    return;
  }
  const std::string why = portalAnswer + "; " + copies_->Error();
  copies_.reset();
  Choose(Way::Unavailable, why);
}

void WaylandScreenSource::Choose(Way way, const std::string& why) {
  way_ = way;
  if (chosen_) chosen_(way, why);
}

bool WaylandScreenSource::OffersWindows() const {
  return portal_ != nullptr && way_ == Way::Portal && portal_->OffersWindows();
}

void WaylandScreenSource::SetDrawPointer(bool draw) {
  if (copies_ != nullptr) copies_->SetDrawPointer(draw);
}

std::string WaylandScreenSource::Failure() const {
  if (stream_ != nullptr && stream_->Failed()) return stream_->Error();
  if (copies_ != nullptr && copies_->Failed()) return copies_->Error();
  return {};
}

}  // namespace framory

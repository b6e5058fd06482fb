// session: sway
// Choosing the screen source at start-up on a real Wayland desktop: headless
// sway with xdg-desktop-portal and its wlroots back end. On this machine
// without a GPU the back end answers CreateSession and SelectSources but
// refuses Start (response 2, "unable to receive a valid format" in its log):
// a real refusal, not the user's no, so the screen copies take over, and
// pictures of the screen arrive through them. The settings hold a restore
// token the portal does not take (it rejects SelectSources outright): the
// session is asked for again without it, so the refusal seen is Start's.
//
// No component here grants a portal stream, so the path of a granted stream
// (PipeWire remote, restore token kept) is exercised only up to the portal's
// refusal; the PipeWire stream itself is tested against real producers in
// PipeWireStream_test.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QTimer>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>

#include "base/Settings.h"
#include "capture/StreamScreen.h"
#include "platform/wayland/WaylandScreenSource.h"
#include "wayland/StreamTestSupport.h"

namespace framory {
namespace {

std::string PortalLog() {
  const char* logs = std::getenv("FRAMORY_SWAY_LOGS");
  if (logs == nullptr) return {};
  std::ifstream in(std::string(logs) + "/portal-wlr.log");
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

TEST(SwayPortal, ThePortalsRefusalToStartLeadsToScreenCopies) {
  int argc = 1;
  char name[] = "SwayPortal_test";
  char* argv[] = {name, nullptr};
  QCoreApplication application(argc, argv);
  Settings settings;
  settings.SetPortalRestoreToken("an-old-token");
  StreamScreen screen;
  WaylandScreenSource source(screen, settings);
  std::optional<WaylandScreenSource::Way> way;
  std::string why;
  source.Start([&](WaylandScreenSource::Way chosen, const std::string& text) {
    way = chosen;
    why = text;
    QCoreApplication::quit();
  });
  // A generous bound for a busy machine; the answer normally comes at once.
  QTimer::singleShot(60000, &application, [] { QCoreApplication::quit(); });
  QCoreApplication::exec();

  ASSERT_TRUE(way.has_value()) << "the portal never answered";
  EXPECT_EQ(*way, WaylandScreenSource::Way::ScreenCopy) << why;
  EXPECT_EQ(why, "Start answered 2") << "the refusal came where this machine refuses";
  EXPECT_NE(PortalLog().find("unable to receive a valid format"), std::string::npos)
      << "the back end refused for want of a format";
  EXPECT_EQ(settings.PortalRestoreToken(), "an-old-token") << "a refusal grants no new token";
  ASSERT_TRUE(testing::WaitUntil([&] { return screen.Width() > 0; })) << source.Failure();
  EXPECT_EQ(screen.Width(), 640);
  EXPECT_EQ(screen.Height(), 480);
  EXPECT_EQ(source.Failure(), "");
}

}  // namespace
}  // namespace framory

// libFuzzer target for the settings store's parser. Each input is taken as
// the whole store file; the target checks that
//  - loading never crashes and gives settings that, saved into the same file
//    and loaded again, come back unchanged (load -> save -> load), and
//  - escaping any text and unescaping it again gives the text back.
// The store lives in a private folder under $TMPDIR (ideally a tmpfs).
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>

#include "app/RegistryStore.h"
#include "app/SettingsStore.h"
#include "base/Settings.h"

namespace {

std::string Describe(const framory::Settings& s) {
  std::ostringstream o;
  o << s.TakeShotOnPrintScreen() << s.TakeShotOnClick() << s.TakeShotOnWinEvent()
    << s.TakeShotOnKey() << s.TakeShotOnTimer() << s.TakeShotOnAuto() << s.RestoreMouse()
    << s.RecordSound() << s.UseDesktopWindow() << s.UseMainAppWindow() << s.UseForegrounWindow()
    << s.UseForegrounWindowInside() << s.UseArea() << s.PutCursorInBitmap() << s.ResizeFGWindow()
    << s.SizeWindowToMovieSize() << s.HasMarkUserArea() << '|' << s.UserAreaLeft() << ','
    << s.UserAreaTop() << ',' << s.UserAreaRight() << ',' << s.UserAreaBottom() << '|'
    << s.ResizeFGWindowX() << 'x' << s.ResizeFGWindowY() << '|' << s.OutputType() << '|'
    << s.TimerValue() << "|[" << s.ProjectDirectory() << "][" << s.ProjectName() << ']';
  return o.str();
}

const std::string& StorePath() {
  static const std::string path = [] {
    const char* tmp = std::getenv("TMPDIR");
    std::string folder =
        std::string(tmp != nullptr && tmp[0] != '\0' ? tmp : "/tmp") + "/framory-fuzz-XXXXXX";
    if (mkdtemp(folder.data()) == nullptr) std::abort();
    return folder + "/registry.ini";
  }();
  return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);

  if (framory::RegistryStore::Unescape(framory::RegistryStore::Escape(input)) != input) {
    std::fprintf(stderr, "escape -> unescape changed the text\n");
    std::abort();
  }

  framory::RegistryStore store(StorePath());
  std::FILE* f = std::fopen(store.Path().c_str(), "wb");
  if (f == nullptr) std::abort();
  std::fwrite(input.data(), 1, input.size(), f);
  std::fclose(f);

  framory::Settings first;
  framory::LoadSettings(first, store);
  framory::SaveSettings(first, store);
  framory::Settings second;
  framory::LoadSettings(second, store);
  if (Describe(first) != Describe(second)) {
    std::fprintf(stderr, "load -> save -> load changed the settings:\n  %s\n  %s\n",
                 Describe(first).c_str(), Describe(second).c_str());
    std::abort();
  }
  return 0;
}

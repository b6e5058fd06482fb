#include "app/SettingsStore.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdio>
#include <vector>

#include "writers/OutputFormats.h"

namespace framory {

namespace {

// One persisted field: its value name and how to read and write it. The table
// order is the order of reading and writing.
struct FieldIo {
  const char* Name;
  enum Kind { Bool, Int, Text } Type;
  bool (Settings::*GetBool)() const = nullptr;
  void (Settings::*SetBool)(bool) = nullptr;
  std::int32_t (Settings::*GetInt)() const = nullptr;
  void (Settings::*SetInt)(std::int32_t) = nullptr;
  const std::string& (Settings::*GetText)() const = nullptr;
  void (Settings::*SetText)(std::string) = nullptr;
};

FieldIo B(const char* name, bool (Settings::*get)() const, void (Settings::*set)(bool)) {
  FieldIo f{name, FieldIo::Bool};
  f.GetBool = get;
  f.SetBool = set;
  return f;
}
FieldIo I(const char* name, std::int32_t (Settings::*get)() const,
          void (Settings::*set)(std::int32_t)) {
  FieldIo f{name, FieldIo::Int};
  f.GetInt = get;
  f.SetInt = set;
  return f;
}
FieldIo T(const char* name, const std::string& (Settings::*get)() const,
          void (Settings::*set)(std::string)) {
  FieldIo f{name, FieldIo::Text};
  f.GetText = get;
  f.SetText = set;
  return f;
}

const std::vector<FieldIo>& Fields() {
  using S = Settings;
  static const std::vector<FieldIo> fields = {
      B("TakeShotOnPrintScreen", &S::TakeShotOnPrintScreen, &S::SetTakeShotOnPrintScreen),
      B("TakeShotOnClick", &S::TakeShotOnClick, &S::SetTakeShotOnClick),
      B("TakeShotOnWinEvent", &S::TakeShotOnWinEvent, &S::SetTakeShotOnWinEvent),
      B("TakeShotOnKey", &S::TakeShotOnKey, &S::SetTakeShotOnKey),
      B("TakeShotOnTimer", &S::TakeShotOnTimer, &S::SetTakeShotOnTimer),
      B("TakeShotOnAuto", &S::TakeShotOnAuto, &S::SetTakeShotOnAuto),
      B("RestoreMouse", &S::RestoreMouse, &S::SetRestoreMouse),
      B("RecordSound", &S::RecordSound, &S::SetRecordSound),
      B("UseDesktopWindow", &S::UseDesktopWindow, &S::SetUseDesktopWindow),
      B("UseMainAppWindow", &S::UseMainAppWindow, &S::SetUseMainAppWindow),
      B("UseForegrounWindow", &S::UseForegrounWindow, &S::SetUseForegrounWindow),
      B("UseForegrounWindowInside", &S::UseForegrounWindowInside, &S::SetUseForegrounWindowInside),
      B("UseArea", &S::UseArea, &S::SetUseArea),
      B("PutCursorInBitmap", &S::PutCursorInBitmap, &S::SetPutCursorInBitmap),
      B("ResizeFGWindow", &S::ResizeFGWindow, &S::SetResizeFGWindow),
      B("SizeWindowToMovieSize", &S::SizeWindowToMovieSize, &S::SetSizeWindowToMovieSize),
      B("HasMarkUserArea", &S::HasMarkUserArea, &S::SetHasMarkUserArea),
      I("UserAreaBottom", &S::UserAreaBottom, &S::SetUserAreaBottom),
      I("UserAreaTop", &S::UserAreaTop, &S::SetUserAreaTop),
      I("UserAreaLeft", &S::UserAreaLeft, &S::SetUserAreaLeft),
      I("UserAreaRight", &S::UserAreaRight, &S::SetUserAreaRight),
      I("ResizeFGWindowX", &S::ResizeFGWindowX, &S::SetResizeFGWindowX),
      I("ResizeFGWindowY", &S::ResizeFGWindowY, &S::SetResizeFGWindowY),
      I("OutputType", &S::OutputType, &S::SetOutputType),
      I("TimerValue", &S::TimerValue, &S::SetTimerValue),
      T("ProjectDirectory", &S::ProjectDirectory, &S::SetProjectDirectory),
      T("ProjectName", &S::ProjectName, &S::SetProjectName),
      B("BareChordOnly", &S::BareChordOnly, &S::SetBareChordOnly),
      I("SoundSource", &S::SoundSource, &S::SetSoundSource),
      T("StreamServerAddress", &S::StreamServerAddress, &S::SetStreamServerAddress),
      B("RememberStreamServerAddress", &S::RememberStreamServerAddress,
        &S::SetRememberStreamServerAddress),
      T("PortalRestoreToken", &S::PortalRestoreToken, &S::SetPortalRestoreToken),
  };
  return fields;
}

}  // namespace

std::int32_t ScanInt(const std::string& text) {
  std::size_t i = 0;
  while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  if (i >= text.size() || !std::isdigit(static_cast<unsigned char>(text[i]))) return 0;
  // Accumulate with saturation: a number too large for 32 bits becomes the
  // nearest representable value instead of wrapping to a surprise.
  std::int64_t value = 0;
  for (; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); ++i) {
    value = value * 10 + (text[i] - '0');
    if (value > static_cast<std::int64_t>(INT32_MAX) + 1)
      value = static_cast<std::int64_t>(INT32_MAX) + 1;
  }
  if (negative) value = -value;
  if (value > INT32_MAX) value = INT32_MAX;
  return static_cast<std::int32_t>(value);
}

void BringIntoRange(Settings& settings) {
  using L = SettingsLimits;
  // The options view never takes a period below 10 ms.
  if (settings.TimerValue() < L::kMinTimerValue) settings.SetTimerValue(L::kMinTimerValue);
  // 0 stays: it means "no fixed size" to the capture and the clip session.
  auto size = [](std::int32_t v) { return std::clamp(v, 0, L::kMaxResizeSide); };
  settings.SetResizeFGWindowX(size(settings.ResizeFGWindowX()));
  settings.SetResizeFGWindowY(size(settings.ResizeFGWindowY()));
  auto coordinate = [](std::int32_t v) {
    return std::clamp(v, L::kMinScreenCoordinate, L::kMaxScreenCoordinate);
  };
  settings.SetUserAreaLeft(coordinate(settings.UserAreaLeft()));
  settings.SetUserAreaTop(coordinate(settings.UserAreaTop()));
  settings.SetUserAreaRight(coordinate(settings.UserAreaRight()));
  settings.SetUserAreaBottom(coordinate(settings.UserAreaBottom()));
  // A sound source no dialog offers becomes the microphone.
  if (settings.SoundSource() < 0 || settings.SoundSource() > 2) settings.SetSoundSource(0);
  // A code no dialog offers becomes the default picture type.
  if (!IsKnownOutputType(settings.OutputType())) settings.SetOutputType(OutputTypes::Bmp);
}

void LoadSettings(Settings& settings, const RegistryStore& store) {
  std::string reason;
  if (!store.Readable(&reason)) {
    std::fprintf(stderr, "framory: settings store %s is unreadable (%s); using the defaults\n",
                 store.Path().c_str(), reason.c_str());
    return;
  }
  for (const FieldIo& f : Fields()) {
    std::string text = store.ReadText(kSettingsKey, f.Name);
    if (text.empty()) continue;
    switch (f.Type) {
      case FieldIo::Bool:
        (settings.*f.SetBool)(text == "1");
        break;
      case FieldIo::Int:
        (settings.*f.SetInt)(ScanInt(text));
        break;
      case FieldIo::Text:
        (settings.*f.SetText)(text);
        break;
    }
  }
  BringIntoRange(settings);
}

void SaveSettings(const Settings& settings, RegistryStore& store) {
  std::string failure;
  for (const FieldIo& f : Fields()) {
    std::string text;
    switch (f.Type) {
      case FieldIo::Bool:
        text.assign(1, (settings.*f.GetBool)() ? '1' : '0');
        break;
      case FieldIo::Int:
        text = std::to_string((settings.*f.GetInt)());
        break;
      case FieldIo::Text:
        text = (settings.*f.GetText)();
        break;
    }
    // The streaming server's address carries the stream key: it reaches the
    // disk only when the user asked for it to be remembered.
    if (f.GetText == &Settings::StreamServerAddress && !settings.RememberStreamServerAddress())
      text.clear();
    // A failing value does not keep the others from being tried; the user
    // hears about the first failure once.
    if (!store.WriteText(kSettingsKey, f.Name, text) && failure.empty()) {
      failure = store.LastWriteError().empty() ? "unknown error" : store.LastWriteError();
    }
  }
  if (!failure.empty()) {
    std::fprintf(stderr, "framory: settings not saved to %s: %s\n", store.Path().c_str(),
                 failure.c_str());
  }
}

void LoadSettings(Settings& settings) { LoadSettings(settings, RegistryStore::CurrentUser()); }

void SaveSettings(const Settings& settings) {
  RegistryStore store = RegistryStore::CurrentUser();
  SaveSettings(settings, store);
}

}  // namespace framory

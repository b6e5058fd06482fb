#include "app/RemoteCommand.h"

#include <array>
#include <utility>

#include "app/SingleInstance.h"
#include "writers/OutputFormats.h"

namespace framory {

namespace {

constexpr std::array<std::pair<RemoteCommand, const char*>, 6> kWords = {{
    {RemoteCommand::ShowOptionsView, "show"},
    {RemoteCommand::ToggleRecording, "toggle-recording"},
    {RemoteCommand::ToggleOptionsView, "toggle-view"},
    {RemoteCommand::TakeShot, "shot"},
    {RemoteCommand::Quit, "quit"},
    {RemoteCommand::GetStatus, "status"},
}};

bool IsAlphanumeric(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

}  // namespace

const char* RemoteRequestWord(RemoteCommand command) {
  for (const auto& [each, word] : kWords) {
    if (each == command) return word;
  }
  return "";
}

std::optional<RemoteCommand> RemoteCommandOfWord(const std::string& word) {
  for (const auto& [command, each] : kWords) {
    if (word == each) return command;
  }
  return std::nullopt;
}

std::string OutputTypeName(std::int32_t outputType) {
  const OutputFormat* format = FindOutputFormat(outputType);
  if (format == nullptr) return "unknown";
  if (format->Extension == nullptr) return "live broadcast";
  std::string kind;
  for (const char* c = format->Extension + 1; *c != '\0'; ++c) {
    kind += (*c >= 'a' && *c <= 'z') ? static_cast<char>(*c - 'a' + 'A') : *c;
  }
  if (format->Family == OutputFamily::Pictures) return kind + " pictures";
  if (format->Family == OutputFamily::ScreenEncoder) return kind + " movie (screen encoder)";
  return kind + " movie";
}

std::string StatusLine(const RemoteState& state) {
  std::string line = state.Recording ? "recording" : "paused";
  line += "; output type " + std::to_string(state.OutputType) + " (" + state.OutputName + ")";
  line += state.CurrentFile.empty() ? "; no file yet" : "; file " + state.CurrentFile;
  // One line, whatever the file's name holds.
  for (char& c : line) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
  }
  return line;
}

std::string RemoteBusName(const std::string& displayKey) {
  std::string name = "org.framory.Framory.Display";
  const bool plainLocal = displayKey.size() > 1 && displayKey[0] == ':' &&
                          displayKey.find_first_not_of("0123456789", 1) == std::string::npos;
  if (plainLocal) return name + displayKey.substr(1);
  static constexpr char kHex[] = "0123456789abcdef";
  name += '_';
  for (const char c : displayKey) {
    if (IsAlphanumeric(c)) {
      name += c;
    } else {
      const auto b = static_cast<unsigned char>(c);
      name += '_';
      name += kHex[b >> 4];
      name += kHex[b & 0xF];
    }
  }
  return name;
}

std::string WaylandDisplayKey(const std::string& waylandDisplay, const std::string& runtimeDir) {
  if (waylandDisplay.empty() || waylandDisplay[0] == '/' || runtimeDir.empty()) {
    return waylandDisplay;
  }
  return runtimeDir + (runtimeDir.back() == '/' ? "" : "/") + waylandDisplay;
}

std::vector<std::string> RemoteBusNames(const std::string& xDisplay,
                                        const std::string& waylandDisplay) {
  std::vector<std::string> names;
  if (!xDisplay.empty()) names.push_back(RemoteBusName(DisplayKey(xDisplay)));
  if (!waylandDisplay.empty()) names.push_back(RemoteBusName("wayland:" + waylandDisplay));
  return names;
}

std::string RemoteBusNameFor(const std::string& xDisplay, const std::string& waylandDisplay) {
  const std::vector<std::string> names = RemoteBusNames(xDisplay, waylandDisplay);
  return names.empty() ? std::string() : names.front();
}

}  // namespace framory

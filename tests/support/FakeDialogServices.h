// Fakes for the dialog tests: the services the dialogs call (recorder, clip,
// input watch, main window queue, message boxes, desktop) recorded so that a
// test can check what a click did, with scripted message-box answers.
#pragma once

#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "app/Launchers.h"
#include "base/Settings.h"
#include "ui/DialogServices.h"

namespace framory::testing {

struct ShownBox {
  std::string Text;
  std::string Caption;
  std::uint32_t Style = 0;
};

class FakeDialogServices : public DialogServices {
 public:
  explicit FakeDialogServices(Settings& settings) : settings_(settings) {}

  bool Paused() const override { return paused; }
  void TogglePause() override {
    paused = !paused;
    ++toggles;
    if (onToggle) onToggle();
  }
  bool AnyTriggerEnabled() const override {
    return settings_.TakeShotOnClick() || settings_.TakeShotOnWinEvent() ||
           settings_.TakeShotOnKey() || settings_.TakeShotOnTimer();
  }
  void ClearMousePosSaved() override { ++mousePosCleared; }
  void ToggleMainView() override { ++mainViewToggles; }
  bool ClipOpen() const override { return clipOpen; }
  void EndClip() override {
    ++clipsEnded;
    clipOpen = false;
  }
  void ForgetResizedWindow() override { ++forgets; }
  void ArmMarking(bool arm) override { armed.push_back(arm); }
  std::string LastResult() const override { return lastResult; }
  void PostMainMessage(std::uint32_t message) override { posted.push_back(message); }
  int MessageBox(const std::string& text, const std::string& caption,
                 std::uint32_t style) override {
    boxes.push_back({text, caption, style});
    if (answers.empty()) return MessageBoxResults::Ok;
    const int answer = answers.front();
    answers.pop_front();
    return answer;
  }
  bool OpenPath(const std::string& path, std::optional<FailureBox> lateFailure) override {
    opened.push_back(path);
    lateFailures.push_back(std::move(lateFailure));
    return openSucceeds;
  }
  bool ChooseFolder(const std::string& title, const std::string&, std::string* chosen) override {
    folderTitles.push_back(title);
    if (!folderChoice.empty()) *chosen = folderChoice;
    return !folderChoice.empty();
  }

  bool paused = true;
  int toggles = 0;
  std::function<void()> onToggle;
  int mousePosCleared = 0;
  int mainViewToggles = 0;
  bool clipOpen = false;
  int clipsEnded = 0;
  int forgets = 0;
  std::vector<bool> armed;
  std::string lastResult;
  std::vector<std::uint32_t> posted;
  std::vector<ShownBox> boxes;
  std::deque<int> answers;
  std::vector<std::string> opened;
  std::vector<std::optional<FailureBox>> lateFailures;
  bool openSucceeds = true;
  std::string folderChoice;
  std::vector<std::string> folderTitles;

 private:
  Settings& settings_;
};

class FakeDesktop : public DesktopActions {
 public:
  bool OpenPath(const std::string& path, std::function<void()> failed) override {
    opened.push_back(path);
    lateFailures.push_back(std::move(failed));
    return openSucceeds;
  }
  bool StartProgram(const std::string& program,
                    const std::vector<std::string>& arguments) override {
    started.push_back(program);
    startedArguments.push_back(arguments);
    return startSucceeds;
  }

  std::vector<std::string> opened;
  // What each open was told to run if the desktop found nothing to open
  // the path with; a test runs one to stand for that failure.
  std::vector<std::function<void()>> lateFailures;
  bool openSucceeds = true;
  std::vector<std::string> started;
  std::vector<std::vector<std::string>> startedArguments;
  bool startSucceeds = true;
};

}  // namespace framory::testing

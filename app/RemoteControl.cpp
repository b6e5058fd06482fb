#include "app/RemoteControl.h"

#include <utility>

namespace framory {

RemoteControl::RemoteControl(const Settings& settings, Recorder& recorder, MessagePoster& poster,
                             std::function<std::string()> openClipFile)
    : settings_(settings),
      recorder_(recorder),
      poster_(poster),
      openClipFile_(std::move(openClipFile)) {
  told_ = State();
}

RemoteReply RemoteControl::Check(RemoteCommand command) const {
  RemoteReply reply{RemoteReply::Kind::Done, {}};
  const auto refuse = [&reply](const char* why) {
    reply.What = RemoteReply::Kind::Refused;
    reply.Text = why;
    return reply;
  };
  switch (command) {
    case RemoteCommand::GetStatus:
      reply.Text = StatusLine(State());
      return reply;
    case RemoteCommand::Quit:
    case RemoteCommand::ShowOptionsView:
      // A second start is answered as ever: showing takes nothing from a box.
      break;
    case RemoteCommand::ToggleRecording:
    case RemoteCommand::ToggleOptionsView:
    case RemoteCommand::TakeShot:
      if (modalBox_) return refuse(kRefusedBox);
      break;
  }
  // After the destroy message the loop is over; the shell drops whatever
  // is still delivered, and so does the remote control.
  if (recorder_.State().QuitRequested()) return refuse(kRefusedEnding);
  if (command == RemoteCommand::TakeShot && recorder_.Paused()) return refuse(kRefusedPaused);
  return reply;
}

void RemoteControl::Carry(RemoteCommand command) {
  if (Check(command).What != RemoteReply::Kind::Done) return;
  switch (command) {
    case RemoteCommand::ToggleRecording:
      recorder_.TogglePause();
      break;
    case RemoteCommand::ToggleOptionsView:
      // As the chord: an automatic trigger must not go on recording the
      // view, whether it opens or closes.
      if (!recorder_.Paused() && recorder_.AnyTriggerEnabled()) recorder_.TogglePause();
      poster_.PostMessage(MainWindowMessages::ToggleMainView);
      break;
    case RemoteCommand::ShowOptionsView:
      poster_.PostMessage(MainWindowMessages::ShowMainView);
      break;
    case RemoteCommand::TakeShot:
      recorder_.TakeShot();
      break;
    case RemoteCommand::Quit:
      poster_.PostMessage(kDestroyWindowMessage);
      break;
    case RemoteCommand::GetStatus:
      break;
  }
}

RemoteReply RemoteControl::Run(RemoteCommand command) {
  RemoteReply reply = Check(command);
  if (reply.What == RemoteReply::Kind::Done) Carry(command);
  return reply;
}

RemoteState RemoteControl::State() const {
  RemoteState state;
  state.Recording = !recorder_.Paused();
  state.OutputType = settings_.OutputType();
  state.OutputName = OutputTypeName(state.OutputType);
  state.CurrentFile = openClipFile_ ? openClipFile_() : std::string();
  if (state.CurrentFile.empty()) state.CurrentFile = lastFile_;
  return state;
}

void RemoteControl::FileWritten(const std::string& path) {
  if (!path.empty()) lastFile_ = path;
}

void RemoteControl::SetStateListener(std::function<void(const RemoteState&)> listener) {
  listener_ = std::move(listener);
  told_ = State();
}

void RemoteControl::Refresh() {
  RemoteState now = State();
  if (now == told_) return;
  told_ = std::move(now);
  if (listener_) listener_(told_);
}

}  // namespace framory

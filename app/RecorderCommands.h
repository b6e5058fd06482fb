// Carries out the options view's commands (RecorderCommand) with the rules
// that keep the recorder consistent: which choices pause the recorder and end
// the open clip first, how the triggers follow the output family, when the
// pause state is aligned with the automatic triggers, and the boxes each
// command shows, in their order. No widget is involved: the view maps its
// controls to commands and shows the settings and state afterwards.
#pragma once

#include "app/CommandHost.h"
#include "app/RecorderCommand.h"
#include "base/MessageBoxService.h"
#include "base/Settings.h"

namespace framory {

extern const char* const kBroadcastInstructions;

class RecorderCommands {
 public:
  RecorderCommands(Settings& settings, CommandHost& host, MessageBoxService& boxes);

  CommandResult Apply(const RecorderCommand& command);

 private:
  CommandResult Run(const Commands::SwitchTrigger& command);
  CommandResult Run(const Commands::SwitchOption& command);
  CommandResult Run(const Commands::ChooseOutputFamily& command);
  CommandResult Run(const Commands::ChooseBroadcastTarget& command);
  CommandResult Run(const Commands::ChooseFocus& command);
  CommandResult Run(const Commands::OfferAreaMarking& command);
  CommandResult Run(const Commands::LeaveView& command);
  CommandResult Run(const Commands::NewClip& command);
  CommandResult Run(const Commands::EndClipToView& command);
  CommandResult Run(const Commands::ImposeFamilyTriggers& command);

  // After it the recorder is paused exactly when an automatic trigger is on:
  // automatic capture waits for the user's start, Ctrl-Print Screen alone
  // works at once.
  void AlignPause();
  void PauseIfActive();
  // Ends the open clip and lets the next shot resize a window again. The
  // commands that change the output type do so after this, so that the clip
  // is finished as the type it was recorded in.
  void EndClipAndForgetResized();

  Settings& settings_;
  CommandHost& host_;
  MessageBoxService& boxes_;
};

}  // namespace framory

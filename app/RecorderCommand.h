// What the user asks of the recorder from the options view, as plain values:
// switch a trigger or an option, choose the output family or the camera's
// focus, leave the view, start a new clip, end the clip to look at it. The
// view turns each click into one of these; RecorderCommands carries it out
// with every rule that goes with it (pause, clip, triggers, boxes), so that the
// rules can be checked without a display.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <variant>

#include "base/Settings.h"
#include "capture/CaptureTarget.h"

namespace framory {

// The five events that can take a shot. All but PrintScreen are automatic
// triggers: while one of them is on, the recorder waits paused for the user's
// start. (RecorderCommands keeps a table of the fields in this order.)
enum class Trigger { Click, PrintScreen, Timer, WinEvent, Key };
// The on/off options of the view that are not triggers (tabled in this order
// too).
enum class Option { SizeWindowToMovieSize, ResizeFGWindow, RestoreMouse, PutCursorInBitmap };
// The three output choices of the options view: pictures, movies (every
// file type and the screen encoder), the broadcast.
enum class OutputChoice { Pictures, Movie, Broadcast };

bool TriggerOn(const Settings& settings, Trigger trigger);
bool OptionOn(const Settings& settings, Option option);
// The choice `outputType` belongs to; none for a code with no output format.
std::optional<OutputChoice> OutputChoiceOf(std::int32_t outputType);

namespace Commands {

struct SwitchTrigger {
  Trigger Which;
};
struct SwitchOption {
  Option Which;
};
struct ChooseOutputFamily {
  OutputChoice Family;
};
struct ChooseFocus {
  CaptureFocus Focus;
};
// The question that follows the choice of "Area": mark an area now?
struct OfferAreaMarking {};
// The view was left with "Hide this Window".
struct LeaveView {};
// "New / End Movie Clip".
struct NewClip {};
// The first part of "Play / View Last Result": an open clip is ended, if the
// user agrees, so that the last result can be opened.
struct EndClipToView {};
// The first showing of the view after start-up: the triggers of the output
// family replace the stored ones.
struct ImposeFamilyTriggers {};
// Where the broadcast goes, chosen below the broadcast instructions: to
// viewers on this network (the recorder's own HTTP port), or pushed to the
// streaming server at `Address`, remembered in the settings file when
// `Remember` is set.
struct ChooseBroadcastTarget {
  bool ToServer = false;
  std::string Address;
  bool Remember = false;
};

}  // namespace Commands

using RecorderCommand =
    std::variant<Commands::SwitchTrigger, Commands::SwitchOption, Commands::ChooseOutputFamily,
                 Commands::ChooseFocus, Commands::OfferAreaMarking, Commands::LeaveView,
                 Commands::NewClip, Commands::EndClipToView, Commands::ImposeFamilyTriggers,
                 Commands::ChooseBroadcastTarget>;

// What the view has to do after a command, besides showing the settings as
// they now are.
struct CommandResult {
  // The output family changed: fill the view again from the settings.
  bool Refill = false;
  // The clip or pause state may have changed: refresh the title and buttons.
  bool RefreshTitle = false;
  // The user answered No to the command's question; nothing was changed.
  bool Declined = false;
  // A command to run once the view shows this one's result.
  std::optional<RecorderCommand> Then;
};

}  // namespace framory

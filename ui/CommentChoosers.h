// The choosers the comment window runs: font, colour, and the save and open
// file choosers. The window asks through this interface so that tests can
// answer in place of a person; the program uses QtCommentChoosers.
#pragma once

#include <array>
#include <cstdint>
#include <string>

class QWidget;

namespace framory {

// A font as the font chooser returns it: the height is in pixels, negative
// for a character height as fonts are described on the screen; the weight is
// 100 to 900 (400 normal, 700 bold); the colour 0x00RRGGBB.
struct CommentFont {
  std::string Face;
  std::int32_t Height = 0;
  std::int32_t Weight = 400;
  bool Italic = false;
  bool Underline = false;
  bool StrikeOut = false;
  std::uint32_t Color = 0;
  std::int32_t Charset = 0;
  std::int32_t PitchAndFamily = 0;
  friend bool operator==(const CommentFont&, const CommentFont&) = default;
};

// 16 custom colours of a colour chooser, 0x00RRGGBB.
using CommentCustomColors = std::array<std::uint32_t, 16>;

class CommentChoosers {
 public:
  virtual ~CommentChoosers() = default;
  // Font chooser starting from `start` (null: the chooser's own default).
  // False when cancelled; `chosen` is then untouched.
  virtual bool ChooseFont(QWidget* owner, const CommentFont* start, CommentFont* chosen) = 0;
  // Colour chooser starting at black, fully open, with `custom` as its custom
  // colours (updated with the user's changes even when cancelled).
  virtual bool ChooseColor(QWidget* owner, CommentCustomColors& custom, std::uint32_t* chosen) = 0;
  // "Save As Rich Text File" / "Load File" choosers starting in `folder`.
  virtual bool ChooseSaveFile(QWidget* owner, const std::string& folder, std::string* path) = 0;
  virtual bool ChooseOpenFile(QWidget* owner, const std::string& folder, std::string* path) = 0;
};

}  // namespace framory

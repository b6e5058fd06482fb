// The comment window's popup menu: its items, command ids and separators in
// order. Each action carries its command id as data; no item is checkable.
#pragma once

#include <cstdint>
#include <memory>

class QMenu;
class QWidget;

namespace framory {

namespace CommentCommand {
inline constexpr std::int32_t Bold = 32775;
inline constexpr std::int32_t Underline = 32776;
inline constexpr std::int32_t Strikeout = 32777;
inline constexpr std::int32_t Italic = 32778;
inline constexpr std::int32_t Size01 = 32795;
inline constexpr std::int32_t Size02 = 32797;
inline constexpr std::int32_t Size025 = 32799;
inline constexpr std::int32_t Size05 = 32801;
inline constexpr std::int32_t Size075 = 32805;
inline constexpr std::int32_t Size10 = 32803;
inline constexpr std::int32_t Font = 32870;
inline constexpr std::int32_t FontColor = 32815;
inline constexpr std::int32_t BackgroundColor = 32872;
inline constexpr std::int32_t BorderNone = 32827;
inline constexpr std::int32_t BorderSimple = 32830;
inline constexpr std::int32_t BorderLeftTop = 32828;
inline constexpr std::int32_t BorderLeftBottom = 32829;
inline constexpr std::int32_t BorderTopLeft = 32836;
inline constexpr std::int32_t BorderTopRight = 32837;
inline constexpr std::int32_t BorderRightMiddle = 32835;
inline constexpr std::int32_t AllowAlone = 32822;
inline constexpr std::int32_t AvoidAlone = 32823;
inline constexpr std::int32_t ToggleTitleBar = 32781;
inline constexpr std::int32_t Move = 32782;
inline constexpr std::int32_t MovieSize = 32866;
inline constexpr std::int32_t Save = 32824;
inline constexpr std::int32_t Load = 32825;
inline constexpr std::int32_t Clear = 32819;
inline constexpr std::int32_t Close = 32779;
}  // namespace CommentCommand

// Builds the popup (the first submenu of menu resource 135).
std::unique_ptr<QMenu> BuildCommentMenu(QWidget* parent);
// The twips of a "Font Size" command, 0 for any other command.
std::int32_t CommentSizeTwips(std::int32_t command);
// The border style of a "Border Style" command, -1 for any other command.
std::int32_t CommentBorderStyleOf(std::int32_t command);

}  // namespace framory

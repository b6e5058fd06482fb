// The comment window's geometry in plain numbers: the border record each
// "Border Style" command sets (margins kept free on the arrow's side, the gap
// between frame and edit), the arrow polyline of a style for a client size,
// where the frame and the edit go, the window's shape while its title bar is
// hidden, and where "Set Size to Movie Size" puts the window on the screen.
// Rectangles here have exclusive right and bottom edges.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

#include "base/Geometry.h"

namespace framory {

// Border styles by their stored numbers.
namespace CommentBorderStyle {
inline constexpr std::int32_t NoBorder = 0;
inline constexpr std::int32_t ArrowLeftTowardTop = 1;
inline constexpr std::int32_t ArrowLeftTowardBottom = 2;
inline constexpr std::int32_t Simple = 3;
inline constexpr std::int32_t ArrowTopTowardLeft = 4;
inline constexpr std::int32_t ArrowTopTowardRight = 5;
inline constexpr std::int32_t ArrowRightTowardMiddle = 6;
}  // namespace CommentBorderStyle

struct CommentBorder {
  std::int32_t Style = CommentBorderStyle::Simple;
  std::int32_t Left = 0;
  std::int32_t Right = 0;
  std::int32_t Top = 0;
  std::int32_t Bottom = 0;
  std::int32_t Inset = 3;
  friend bool operator==(const CommentBorder&, const CommentBorder&) = default;
};

// The open polyline (x0, y0) -> +(dx1, dy1) -> +(dx2, dy2); there is an arrow
// when the first step is not zero.
struct CommentArrow {
  std::int32_t X0 = 0;
  std::int32_t Y0 = 0;
  std::int32_t Dx1 = 0;
  std::int32_t Dy1 = 0;
  std::int32_t Dx2 = 0;
  std::int32_t Dy2 = 0;
  bool Exists() const { return Dx1 != 0 || Dy1 != 0; }
  std::array<Point, 3> Points() const {
    return {Point{X0, Y0}, Point{X0 + Dx1, Y0 + Dy1}, Point{X0 + Dx1 + Dx2, Y0 + Dy1 + Dy2}};
  }
  friend bool operator==(const CommentArrow&, const CommentArrow&) = default;
};

// The record a border style command sets; an unknown style reads as Simple.
CommentBorder CommentBorderFor(std::int32_t style);
// The arrow of the border's style for a client area of width x height.
CommentArrow CommentArrowFor(const CommentBorder& border, std::int32_t width, std::int32_t height);
// The rectangle the frame is drawn around.
Rect CommentFrameRect(const CommentBorder& border, std::int32_t width, std::int32_t height);
// Where the text edit goes, inside the frame by the inset.
Rect CommentEditRect(const CommentBorder& border, std::int32_t width, std::int32_t height);
// The window's shape while the title bar is hidden: the framed box united with
// a box around the arrow (5 pixels beyond its greatest coordinates for the
// pen). Empty when there is no arrow: the window keeps its full rectangle.
std::vector<Rect> CommentWindowShape(const CommentBorder& border, const CommentArrow& arrow,
                                     std::int32_t width, std::int32_t height);

// Where "Set Size to Movie Size" puts the window: the size of the open clip's
// movie, else the fixed resize size when resizing is on, else nothing; limited
// to the screen; the window keeps its top-left corner unless it would then
// pass the screen's right or bottom edge, when it moves back (never beyond 0).
struct CommentSizeSource {
  bool ClipOpen = false;
  std::int32_t MovieWidth = 0;
  std::int32_t MovieHeight = 0;
  bool ResizeFGWindow = false;
  std::int32_t ResizeFGWindowX = 0;
  std::int32_t ResizeFGWindowY = 0;
};
std::optional<Rect> CommentMovieSizePlacement(const CommentSizeSource& source, Point windowTopLeft,
                                              std::int32_t screenWidth, std::int32_t screenHeight);

}  // namespace framory

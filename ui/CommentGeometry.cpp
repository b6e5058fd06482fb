#include "ui/CommentGeometry.h"

#include <algorithm>

namespace framory {

CommentBorder CommentBorderFor(std::int32_t style) {
  CommentBorder border;
  border.Style = style;
  border.Inset = 3;
  switch (style) {
    case CommentBorderStyle::NoBorder:
      border.Inset = 0;
      break;
    case CommentBorderStyle::ArrowLeftTowardTop:
    case CommentBorderStyle::ArrowLeftTowardBottom:
      border.Left = 10;
      break;
    case CommentBorderStyle::ArrowTopTowardLeft:
    case CommentBorderStyle::ArrowTopTowardRight:
      border.Top = 10;
      break;
    case CommentBorderStyle::ArrowRightTowardMiddle:
      border.Right = 10;
      break;
    default:
      border.Style = CommentBorderStyle::Simple;
      break;
  }
  return border;
}

CommentArrow CommentArrowFor(const CommentBorder& b, std::int32_t w, std::int32_t h) {
  CommentArrow a;
  switch (b.Style) {
    case CommentBorderStyle::ArrowLeftTowardTop:
      a = {b.Left, h / 5, 1 - b.Left, -3, b.Left - 1, 10};
      break;
    case CommentBorderStyle::ArrowLeftTowardBottom:
      a = {b.Left, 4 * (h / 5), 1 - b.Left, 3, b.Left - 1, -10};
      break;
    case CommentBorderStyle::ArrowTopTowardLeft:
      a = {w / 5, b.Top + 1, -10, -b.Top, 3, b.Top};
      break;
    case CommentBorderStyle::ArrowTopTowardRight:
      a = {(4 * w) / 5, b.Top + 1, 3, -b.Top, -10, b.Top};
      break;
    case CommentBorderStyle::ArrowRightTowardMiddle:
      a = {w - b.Right, h / 2 - 6, b.Right, 6, -b.Right, 6};
      break;
    default:
      break;
  }
  return a;
}

Rect CommentFrameRect(const CommentBorder& b, std::int32_t w, std::int32_t h) {
  return Rect{b.Left, b.Top, w - b.Right, h - b.Bottom};
}

Rect CommentEditRect(const CommentBorder& b, std::int32_t w, std::int32_t h) {
  const std::int32_t width = std::max(0, w - b.Left - b.Right - 2 * b.Inset);
  const std::int32_t height = std::max(0, h - b.Top - b.Bottom - 2 * b.Inset);
  return Rect{b.Left + b.Inset, b.Top + b.Inset, b.Left + b.Inset + width,
              b.Top + b.Inset + height};
}

std::vector<Rect> CommentWindowShape(const CommentBorder& border, const CommentArrow& arrow,
                                     std::int32_t width, std::int32_t height) {
  if (!arrow.Exists()) return {};
  const auto points = arrow.Points();
  Rect box{points[0].x, points[0].y, points[0].x, points[0].y};
  for (const Point& p : points) {
    box.left = std::min(box.left, p.x);
    box.top = std::min(box.top, p.y);
    box.right = std::max(box.right, p.x);
    box.bottom = std::max(box.bottom, p.y);
  }
  box.right += 5;
  box.bottom += 5;
  return {CommentFrameRect(border, width, height), box};
}

std::optional<Rect> CommentMovieSizePlacement(const CommentSizeSource& source, Point topLeft,
                                              std::int32_t screenWidth, std::int32_t screenHeight) {
  std::int32_t width = 0;
  std::int32_t height = 0;
  if (source.ClipOpen) {
    width = source.MovieWidth;
    height = source.MovieHeight;
  } else if (source.ResizeFGWindow) {
    width = source.ResizeFGWindowX;
    height = source.ResizeFGWindowY;
  } else {
    return std::nullopt;
  }
  if (width < 1 || height < 1) return std::nullopt;
  width = std::min(width, screenWidth);
  height = std::min(height, screenHeight);
  std::int32_t x = topLeft.x;
  std::int32_t y = topLeft.y;
  if (static_cast<std::int64_t>(x) + width > screenWidth) x = std::max(0, screenWidth - width);
  if (static_cast<std::int64_t>(y) + height > screenHeight) y = std::max(0, screenHeight - height);
  return Rect{x, y, x + width, y + height};
}

}  // namespace framory

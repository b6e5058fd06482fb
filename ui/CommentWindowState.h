// What the comment window keeps between showings: the focus option the
// capture target reads, the border, the remembered font and the two sets of
// custom colours. A window opened again starts from these with a fresh text.
#pragma once

#include "ui/CommentChoosers.h"
#include "ui/CommentGeometry.h"

namespace framory {

struct CommentWindowState {
  // True: "Allow Recording of Comment Window Alone"; false: "Avoid Focus on
  // Comment Window Alone".
  bool AllowCommentWindowAlone = false;
  CommentBorder Border = CommentBorderFor(CommentBorderStyle::Simple);
  bool FontChosen = false;
  CommentFont RememberedFont;
  CommentCustomColors TextCustomColors{};
  CommentCustomColors BackgroundCustomColors{};
};

}  // namespace framory

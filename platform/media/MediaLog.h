// FFmpeg's own messages. Its libraries print warnings to stderr as they go
// (a clipped coefficient, a guessed rate), once per frame at worst; a program
// that runs all day in the background keeps only the errors. Setting
// FRAMORY_MEDIA_LOG in the environment keeps FFmpeg's usual level, for a
// user tracking down a problem.
#pragma once

namespace framory {

// Process-wide: also quiets the encoder's and the QuickTime runtime's use of
// the same libraries.
void QuietMediaLog();

}  // namespace framory

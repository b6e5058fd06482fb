// Writes an RtfDocument as RTF that word processors read: code page 1252
// header, font and colour tables built from the runs, one \pard paragraph per
// paragraph with each run in its own group, characters outside ASCII as \'hh
// (code page 1252) or \uN with a "?" fallback. Bullets use the old-style \pn
// list destination with a \pntext bullet, which readers without list support
// show as a bullet character.
#pragma once

#include <string>

#include "ui/RtfDocument.h"

namespace framory {

class RtfWriter {
 public:
  static std::string Write(const RtfDocument& document);
};

}  // namespace framory

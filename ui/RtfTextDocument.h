// Moves documents between RTF and the text widget's QTextDocument: RTF bytes
// (or plain text) into the widget, and the widget's contents out as RTF. The
// parsing and writing are RtfReader's and RtfWriter's; this adapter only maps
// RtfDocument onto Qt's block and character formats and back.
#pragma once

#include <string>
#include <string_view>

#include "ui/RtfDocument.h"

class QTextDocument;

namespace framory {

class RtfTextDocument {
 public:
  // Replaces the document's contents with the RTF in `bytes`, or with the
  // bytes as plain text when they are not RTF.
  static void Load(std::string_view bytes, QTextDocument* target);
  static std::string SaveRtf(const QTextDocument& source);

  static void Apply(const RtfDocument& document, QTextDocument* target);
  // Runs with no font of their own take the document's default font.
  static RtfDocument Extract(const QTextDocument& source);
};

}  // namespace framory

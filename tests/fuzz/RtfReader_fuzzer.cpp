// Feeds arbitrary bytes to the RTF reader, writes what it read and reads that
// again. Any crash, sanitizer report, leak or hang is a fault; so is a written
// document that does not read back with the same paragraphs.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "ui/RtfReader.h"
#include "ui/RtfWriter.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const framory::RtfDocument document = framory::RtfReader::Read(bytes);
  if (!framory::RtfReader::LooksLikeRtf(bytes)) framory::RtfReader::PlainTextToUtf8(bytes);
  const std::string written = framory::RtfWriter::Write(document);
  const framory::RtfDocument again = framory::RtfReader::Read(written);
  if (again.Paragraphs.size() != document.Paragraphs.size()) __builtin_trap();
  return 0;
}

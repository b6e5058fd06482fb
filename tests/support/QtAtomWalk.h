// Reads the atom structure of a QuickTime file independently of the code
// that wrote it: every atom's size must cover exactly its header and its
// children (for the container atoms), and the top-level atoms must cover the
// whole file. Fields are read big-endian from the file's bytes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace framory::testing {

struct QtAtom {
  std::string type;
  std::uint64_t offset = 0;  // of the atom's header
  std::uint64_t size = 0;    // header included
  std::uint64_t header = 8;  // 16 for a 64-bit size
  std::vector<QtAtom> children;
  std::uint64_t Payload() const { return offset + header; }
};

struct QtAtomWalk {
  bool ok = false;
  std::string error;  // what was malformed, and where
  std::vector<std::uint8_t> bytes;
  std::vector<QtAtom> top;

  // The first atom along a path such as "moov/trak/mdia/mdhd"; null if none.
  const QtAtom* Find(const std::string& path) const;
  std::uint32_t U32(std::uint64_t offset) const;
  std::uint16_t U16(std::uint64_t offset) const;
  std::string FourCC(std::uint64_t offset) const;
};

QtAtomWalk WalkQtAtoms(const std::string& path);

}  // namespace framory::testing

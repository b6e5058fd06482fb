#include "support/QtAtomWalk.h"

#include <fstream>
#include <iterator>
#include <set>
#include <sstream>

namespace framory::testing {

namespace {

const std::set<std::string>& Containers() {
  static const std::set<std::string> kContainers = {"moov", "trak", "edts", "mdia",
                                                    "minf", "dinf", "stbl", "udta"};
  return kContainers;
}

bool WalkRange(const QtAtomWalk& walk, std::uint64_t begin, std::uint64_t end, bool topLevel,
               const std::string& where, std::vector<QtAtom>* out, std::string* error) {
  std::uint64_t at = begin;
  while (at < end) {
    std::ostringstream place;
    place << where << " at offset " << at;
    if (end - at < 8) {
      *error = "truncated atom header " + place.str();
      return false;
    }
    QtAtom atom;
    atom.offset = at;
    atom.size = walk.U32(at);
    atom.type = walk.FourCC(at + 4);
    if (atom.size == 1) {
      if (end - at < 16) {
        *error = "truncated 64-bit size " + place.str();
        return false;
      }
      atom.size = (std::uint64_t{walk.U32(at + 8)} << 32) | walk.U32(at + 12);
      atom.header = 16;
    } else if (atom.size == 0 && topLevel) {
      atom.size = end - at;  // runs to the end of the file
    }
    if (atom.size < atom.header || atom.size > end - at) {
      std::ostringstream s;
      s << "atom '" << atom.type << "' " << place.str() << " has size " << atom.size << " but "
        << end - at << " bytes remain in its parent";
      *error = s.str();
      return false;
    }
    if (Containers().count(atom.type) != 0 &&
        !WalkRange(walk, atom.Payload(), at + atom.size, false, where + "/" + atom.type,
                   &atom.children, error)) {
      return false;
    }
    out->push_back(std::move(atom));
    at += out->back().size;
  }
  return true;
}

const QtAtom* FindIn(const std::vector<QtAtom>& atoms, const std::string& path) {
  const std::size_t slash = path.find('/');
  const std::string head = path.substr(0, slash);
  for (const QtAtom& atom : atoms) {
    if (atom.type != head) continue;
    if (slash == std::string::npos) return &atom;
    return FindIn(atom.children, path.substr(slash + 1));
  }
  return nullptr;
}

}  // namespace

const QtAtom* QtAtomWalk::Find(const std::string& path) const { return FindIn(top, path); }

std::uint32_t QtAtomWalk::U32(std::uint64_t offset) const {
  if (offset + 4 > bytes.size()) return 0;
  return (std::uint32_t{bytes[offset]} << 24) | (std::uint32_t{bytes[offset + 1]} << 16) |
         (std::uint32_t{bytes[offset + 2]} << 8) | bytes[offset + 3];
}

std::uint16_t QtAtomWalk::U16(std::uint64_t offset) const {
  if (offset + 2 > bytes.size()) return 0;
  return static_cast<std::uint16_t>((bytes[offset] << 8) | bytes[offset + 1]);
}

std::string QtAtomWalk::FourCC(std::uint64_t offset) const {
  if (offset + 4 > bytes.size()) return "";
  return std::string(bytes.begin() + static_cast<std::ptrdiff_t>(offset),
                     bytes.begin() + static_cast<std::ptrdiff_t>(offset + 4));
}

QtAtomWalk WalkQtAtoms(const std::string& path) {
  QtAtomWalk walk;
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    walk.error = "cannot open " + path;
    return walk;
  }
  walk.bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  walk.ok = WalkRange(walk, 0, walk.bytes.size(), true, "file", &walk.top, &walk.error);
  return walk;
}

}  // namespace framory::testing

// mov_atom_check FILE: walks the atoms of a QuickTime file, prints them as a
// tree and exits 0 only when every size and every nesting is well formed and
// the movie's video track with its sample tables is there.
#include <cstdio>
#include <string>

#include "support/QtAtomWalk.h"

namespace {

void Print(const framory::testing::QtAtom& atom, int depth) {
  std::printf("%*s%s %llu\n", depth * 2, "", atom.type.c_str(),
              static_cast<unsigned long long>(atom.size));
  for (const auto& child : atom.children) Print(child, depth + 1);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: mov_atom_check FILE\n");
    return 2;
  }
  const framory::testing::QtAtomWalk walk = framory::testing::WalkQtAtoms(argv[1]);
  for (const auto& atom : walk.top) Print(atom, 0);
  if (!walk.ok) {
    std::printf("malformed: %s\n", walk.error.c_str());
    return 1;
  }
  for (const char* path :
       {"ftyp", "mdat", "moov/mvhd", "moov/trak/tkhd", "moov/trak/mdia/mdhd", "moov/trak/mdia/hdlr",
        "moov/trak/mdia/minf/vmhd", "moov/trak/mdia/minf/stbl/stsd",
        "moov/trak/mdia/minf/stbl/stts", "moov/trak/mdia/minf/stbl/stsc",
        "moov/trak/mdia/minf/stbl/stsz", "moov/trak/mdia/minf/stbl/stco"}) {
    if (walk.Find(path) == nullptr) {
      std::printf("missing: %s\n", path);
      return 1;
    }
  }
  std::printf("well formed\n");
  return 0;
}

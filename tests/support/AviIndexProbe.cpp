#include "support/AviIndexProbe.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <map>
#include <string_view>

namespace framory::testing {

namespace {

std::uint32_t U32(std::string_view s, std::size_t at) {
  std::uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<std::uint8_t>(s[at + i]);
  return v;
}
std::uint64_t U64(std::string_view s, std::size_t at) {
  return U32(s, at) | (std::uint64_t{U32(s, at + 4)} << 32);
}

struct Reader {
  std::string_view d;
  AviIndexReport& r;
  std::map<std::int64_t, std::uint32_t> chunkSizes;

  bool Fail(const std::string& why) {
    r.Problem = why;
    return false;
  }

  void Header(std::size_t begin, std::size_t end) {
    for (std::size_t p = begin; p + 8 <= end;) {
      const std::string id(d.substr(p, 4));
      const std::uint32_t size = U32(d, p + 4);
      if (id == "avih") r.AvihFrames = U32(d, p + 8 + 16);
      if (id == "strh") r.StrhLength = U32(d, p + 8 + 32);
      if (id == "indx") {
        r.SuperIndexEntries = static_cast<std::int32_t>(U32(d, p + 8 + 4));
        for (std::int32_t i = 0; i < r.SuperIndexEntries; ++i) {
          const std::size_t e = p + 8 + 24 + 16 * static_cast<std::size_t>(i);
          r.SuperIndexFrames += U32(d, e + 12);
        }
      }
      if (id == "LIST" && d.substr(p + 8, 4) == "odml") r.DmlhFrames = U32(d, p + 8 + 4 + 8);
      if (id == "LIST" && (d.substr(p + 8, 4) == "hdrl" || d.substr(p + 8, 4) == "strl")) {
        Header(p + 12, p + 8 + size);
      }
      p += 8 + size + (size & 1);
    }
  }

  bool Movi(std::size_t begin, std::size_t end, std::size_t moviTag) {
    for (std::size_t p = begin; p < end;) {
      if (p + 8 > end) return Fail("chunk header past the movie list");
      const std::string id(d.substr(p, 4));
      const std::uint32_t size = U32(d, p + 4);
      if (p + 8 + size > end) return Fail("chunk " + id + " past the movie list");
      if (id == "00dc" || id == "00db") {
        r.FrameChunks.push_back(static_cast<std::int64_t>(p));
        chunkSizes[static_cast<std::int64_t>(p)] = size;
      } else if (id == "ix00") {
        const std::uint32_t n = U32(d, p + 8 + 4);
        const std::string chunkId(d.substr(p + 8 + 8, 4));
        const std::uint64_t base = U64(d, p + 8 + 12);
        if (base != moviTag) return Fail("ix00 base is not its movie list");
        for (std::uint32_t i = 0; i < n; ++i) {
          const std::size_t e = p + 8 + 24 + 8 * std::size_t{i};
          const std::uint32_t sizeField = U32(d, e + 4);
          r.Ix.push_back({chunkId, (sizeField & 0x80000000u) ? 0u : 0x10u,
                          static_cast<std::int64_t>(base + U32(d, e) - 8),
                          sizeField & 0x7FFFFFFFu});
        }
      }
      p += 8 + size + (size & 1);
    }
    return true;
  }

  bool Run() {
    std::size_t p = 0;
    std::size_t firstMovi = 0;
    while (p < d.size()) {
      if (p + 12 > d.size() || d.substr(p, 4) != "RIFF")
        return Fail("no RIFF part at " + std::to_string(p));
      const std::uint32_t size = U32(d, p + 4);
      const std::size_t end = p + 8 + size;
      if (size == 0 || end > d.size()) return Fail("RIFF part size does not fit the file");
      const std::string type(d.substr(p + 8, 4));
      if ((r.Parts == 0) != (type == "AVI ")) return Fail("unexpected RIFF type " + type);
      ++r.Parts;
      for (std::size_t c = p + 12; c + 8 <= end;) {
        const std::string id(d.substr(c, 4));
        const std::uint32_t csize = U32(d, c + 4);
        if (c + 8 + csize > end) return Fail(id + " past its RIFF part");
        if (id == "LIST" && d.substr(c + 8, 4) == "hdrl") Header(c + 12, c + 8 + csize);
        if (id == "LIST" && d.substr(c + 8, 4) == "movi") {
          if (r.Parts == 1) firstMovi = c + 8;
          if (!Movi(c + 12, c + 8 + csize, c + 8)) return false;
        }
        if (id == "idx1") {
          for (std::size_t e = c + 8; e + 16 <= c + 8 + csize; e += 16) {
            r.Idx1.push_back({std::string(d.substr(e, 4)), U32(d, e + 4),
                              static_cast<std::int64_t>(firstMovi + U32(d, e + 8)),
                              U32(d, e + 12)});
          }
        }
        c += 8 + csize + (csize & 1);
      }
      p = end;
    }
    r.IndexesMatchChunks = true;
    for (const auto* list : {&r.Idx1, &r.Ix}) {
      for (const AviIndexEntry& e : *list) {
        const auto found = chunkSizes.find(e.Offset);
        if (found == chunkSizes.end() || found->second != e.Size ||
            d.substr(static_cast<std::size_t>(e.Offset), 4) != e.Id) {
          r.IndexesMatchChunks = false;
        }
      }
    }
    return true;
  }
};

}  // namespace

AviIndexReport ReadAviIndex(const std::string& path) {
  AviIndexReport report;
  // Mapped, not read: the OpenDML files of the tests are over 1 GB.
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  struct stat st;
  if (fd < 0 || fstat(fd, &st) != 0 || st.st_size == 0) {
    if (fd >= 0) close(fd);
    report.Problem = "cannot read " + path;
    return report;
  }
  void* map = mmap(nullptr, static_cast<std::size_t>(st.st_size), PROT_READ, MAP_PRIVATE, fd, 0);
  close(fd);
  if (map == MAP_FAILED) {
    report.Problem = "cannot map " + path;
    return report;
  }
  Reader reader{
      std::string_view(static_cast<const char*>(map), static_cast<std::size_t>(st.st_size)),
      report,
      {}};
  report.Ok = reader.Run();
  munmap(map, static_cast<std::size_t>(st.st_size));
  return report;
}

}  // namespace framory::testing

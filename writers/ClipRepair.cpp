#include "writers/ClipRepair.h"

#include <sys/stat.h>

#include <cstdlib>

#include "writers/AsfRepair.h"
#include "writers/AviRepair.h"
#include "writers/MovRepair.h"

namespace framory {

namespace {

struct KindRepair {
  ClipKind Kind;
  ClipRepairFunction Repair;
};

constexpr KindRepair kRepairs[] = {
    {ClipKind::Avi, &RepairAviClip},
    {ClipKind::Asf, &RepairAsfClip},
    {ClipKind::QuickTime, &RepairQuickTimeClip},
    {ClipKind::PlaysAsCut, &KeepPlayableClip},
};

}  // namespace

ClipRepairFunction ClipRepairFor(ClipKind kind) {
  for (const KindRepair& row : kRepairs) {
    if (row.Kind == kind) return row.Repair;
  }
  return nullptr;
}

ClipRepairOutcome RepairAviClip(const JournalledClip& clip) { return AviRepair(clip.Path).Run(); }

ClipRepairOutcome RepairAsfClip(const JournalledClip& clip) {
  // The journal's frame duration, where it makes sense (no setting comes
  // near a day).
  std::int64_t frame = std::atoll(clip.Fact("frame-ms").c_str());
  if (frame < 0 || frame > 86400000) frame = 0;
  return AsfRepair(clip.Path, frame).Run();
}

ClipRepairOutcome RepairQuickTimeClip(const JournalledClip& clip) {
  return MovRepair(clip.Path, MovSampleNotes::Read(clip)).Run();
}

ClipRepairOutcome KeepPlayableClip(const JournalledClip& clip) {
  struct stat st;
  if (stat(clip.Path.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_size == 0) {
    return ClipRepairOutcome::NoFile;
  }
  return ClipRepairOutcome::Repaired;
}

}  // namespace framory

// What became of a clip that the journal named at start-up, and the repair
// of each kind of clip: one function per ClipKind, so that a kind is added
// with its function and its row in ClipRepairFor's table.
#pragma once

#include "writers/ClipJournal.h"

namespace framory {

enum class ClipRepairOutcome {
  Repaired,      // the file was finished (or plays as it was cut)
  Complete,      // nothing to do: the file was finished already
  NoFile,        // no file at the path, or an empty one (no frame was ever written)
  Unrepairable,  // not a clip of this kind, or its header itself is cut off
  WriteFailed,   // the file could not be changed
};

using ClipRepairFunction = ClipRepairOutcome (*)(const JournalledClip& clip);

// The repair of `kind`'s clips.
ClipRepairFunction ClipRepairFor(ClipKind kind);

// The repair of each kind (writers/ClipRepair.cpp and the kinds' own files).
ClipRepairOutcome RepairAviClip(const JournalledClip& clip);
ClipRepairOutcome RepairAsfClip(const JournalledClip& clip);
ClipRepairOutcome RepairQuickTimeClip(const JournalledClip& clip);
// Files that play as they were cut are only named: Repaired when there is a
// file with something in it.
ClipRepairOutcome KeepPlayableClip(const JournalledClip& clip);

}  // namespace framory

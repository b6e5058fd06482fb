// Loading and saving the settings record as text values under the key
// "Software\Framory" of the current user's registry store.
#pragma once

#include <cstdint>
#include <string>

#include "app/RegistryStore.h"
#include "base/Settings.h"

namespace framory {

inline constexpr const char* kSettingsKey = "Software\\Framory";

// Reads the 27 values in their fixed order. An empty or missing value keeps the
// field as it is; booleans are true only for the text "1"; numbers are scanned
// like "%d" (leading blanks, optional sign, digits, the rest ignored; no
// number gives 0). A stored HasMarkUserArea of "1" restores the area-marked
// flag, so a marked area survives a restart. The loaded values are then
// brought into range (BringIntoRange). A store that exists but cannot be
// read (see RegistryStore) leaves every default and says so in one line on
// stderr.
void LoadSettings(Settings& settings, const RegistryStore& store);
// Writes the 27 values in the same order: booleans as "1"/"0", numbers in
// decimal, texts as they are. A failing write does not stop the others; the
// first failure is reported once on stderr with the store's path and reason.
void SaveSettings(const Settings& settings, RegistryStore& store);

// Values the dialogs never store are brought to the nearest one they would:
// TimerValue at least 10 ms; resize sizes 0 to SettingsLimits::kMaxResizeSide;
// user-area corners within the X coordinate range; an unknown OutputType
// becomes the default (BMP pictures).
void BringIntoRange(Settings& settings);

// The current user's store.
void LoadSettings(Settings& settings);
void SaveSettings(const Settings& settings);

// "%d" scanning of a stored number.
std::int32_t ScanInt(const std::string& text);

}  // namespace framory

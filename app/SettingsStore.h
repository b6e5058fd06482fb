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
// flag, so a marked area survives a restart.
void LoadSettings(Settings& settings, const RegistryStore& store);
// Writes the 27 values in the same order: booleans as "1"/"0", numbers in
// decimal, texts as they are. A failing write is silent; the rest are still
// written.
void SaveSettings(const Settings& settings, RegistryStore& store);

// The current user's store.
void LoadSettings(Settings& settings);
void SaveSettings(const Settings& settings);

// "%d" scanning of a stored number.
std::int32_t ScanInt(const std::string& text);

}  // namespace framory

// File names cross the Windows-Media-like interfaces as UTF-16, while a file
// name on this system is any string of bytes (a folder made under a Latin-1
// locale, say). A byte that does not belong to well-formed UTF-8 travels as
// the lone low surrogate U+DC00 + byte (U+DC80..U+DCFF), which well-formed
// UTF-8 never yields, so every name comes back byte for byte on the other
// side of the interface.
#pragma once

#include <string>

namespace framory {

// The UTF-16 form of `path`; bytes that are not UTF-8 are carried as above.
// Exact for every name that holds no zero byte.
std::u16string PathToWide(const std::string& path);
// The bytes of a name made by PathToWide. False for a zero unit or a
// surrogate that is neither half of a pair nor a carried byte.
bool WideToPath(const std::u16string& wide, std::string* path);
// Whether `path` is well-formed UTF-8 (for the places that need it so).
bool IsUtf8(const std::string& path);

}  // namespace framory

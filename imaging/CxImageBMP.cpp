#include "imaging/CxImageBMP.h"

#include <cstring>

namespace framory {

namespace {

void PutLe16(std::uint8_t* at, std::uint16_t v) {
  at[0] = static_cast<std::uint8_t>(v);
  at[1] = static_cast<std::uint8_t>(v >> 8);
}

void PutLe32(std::uint8_t* at, std::uint32_t v) {
  PutLe16(at, static_cast<std::uint16_t>(v));
  PutLe16(at + 2, static_cast<std::uint16_t>(v >> 16));
}

}  // namespace

bool CxImageBMP::Encode(CxFile* file) {
  if (!CheckEncodeInputs(file)) return false;
  HeaderToBlock();

  const std::uint64_t blockSize = BlockSize();
  std::uint8_t fileHeader[14] = {'B', 'M'};
  PutLe32(fileHeader + 2, static_cast<std::uint32_t>(14 + blockSize));
  PutLe32(fileHeader + 10, 14 + sizeof(CxBitmapInfoHeader) + 4 * ColorCount());

  // A short write (a full disk) would leave a truncated picture behind that
  // still claims success; it is reported instead.
  const bool written = file->Write(fileHeader, sizeof fileHeader, 1) == 1 &&
                       file->Write(Block(), static_cast<std::size_t>(blockSize), 1) == 1 &&
                       file->Flush() && !file->HasError();
  if (!written) {
    SetLastError("BMP write error --- out of disk space?");
    return false;
  }
  return true;
}

}  // namespace framory

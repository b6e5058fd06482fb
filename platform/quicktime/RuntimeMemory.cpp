// Handles, the runtime's relocatable blocks: a handle points at a master
// pointer that points at the block's bytes. Blocks never move here, so
// HLock and MoveHHi only check their handle. Every live block is listed by
// its address so that the codec can find how much room a caller's pointer
// has before writing through it.
#include <cstdlib>
#include <cstring>
#include <map>

#include "platform/quicktime/QtRuntime.h"

namespace {

struct HandleBlock {
  Ptr master;  // first: a Handle is the address of this field
  Size bytes;
};

// Live blocks by the address of their bytes.
std::map<const char*, HandleBlock*>& LiveBlocks() {
  static std::map<const char*, HandleBlock*> blocks;
  return blocks;
}

HandleBlock* BlockOf(Handle h) {
  if (h == nullptr) return nullptr;
  auto* block = reinterpret_cast<HandleBlock*>(h);
  auto it = LiveBlocks().find(block->master);
  return it != LiveBlocks().end() && it->second == block ? block : nullptr;
}

// One byte at least, so that every block has an address of its own.
char* AllocateBytes(Size bytes) {
  return static_cast<char*>(std::calloc(static_cast<std::size_t>(bytes > 0 ? bytes : 1), 1));
}

}  // namespace

namespace qtrt {

std::int64_t BytesFromPointerToHandleEnd(const void* p) {
  const char* c = static_cast<const char*>(p);
  auto& blocks = LiveBlocks();
  auto it = blocks.upper_bound(c);
  if (it == blocks.begin()) return -1;
  --it;
  const HandleBlock* block = it->second;
  if (c < block->master || c >= block->master + block->bytes) return -1;
  return block->master + block->bytes - c;
}

bool SetHandleBytes(Handle h, Size bytes) {
  HandleBlock* block = BlockOf(h);
  if (block == nullptr || bytes < 0) return false;
  if (bytes == block->bytes) return true;
  char* grown = AllocateBytes(bytes);
  if (grown == nullptr) return false;
  std::memcpy(grown, block->master, static_cast<std::size_t>(std::min(bytes, block->bytes)));
  LiveBlocks().erase(block->master);
  std::free(block->master);
  block->master = grown;
  block->bytes = bytes;
  LiveBlocks()[grown] = block;
  return true;
}

Size HandleBytes(Handle h) {
  const HandleBlock* block = BlockOf(h);
  return block != nullptr ? block->bytes : -1;
}

}  // namespace qtrt

Handle QtRt_NewHandle(Size byteCount) {
  if (byteCount < 0) return nullptr;
  auto* block = static_cast<HandleBlock*>(std::malloc(sizeof(HandleBlock)));
  if (block == nullptr) return nullptr;
  block->master = AllocateBytes(byteCount);
  if (block->master == nullptr) {
    std::free(block);
    return nullptr;
  }
  block->bytes = byteCount;
  LiveBlocks()[block->master] = block;
  return &block->master;
}

void QtRt_DisposeHandle(Handle h) {
  HandleBlock* block = BlockOf(h);
  if (block == nullptr) return;
  LiveBlocks().erase(block->master);
  std::free(block->master);
  std::free(block);
}

// Blocks stay where they are for their whole life: locking and moving high
// have nothing left to do.
void QtRt_HLock(Handle) {}
void QtRt_MoveHHi(Handle) {}

// A small text-file stand-in for the registry: one file per hive, a section per
// key path ("[Software\Framory]", backslashes kept) and a line "Name=Text" per
// text value. Backslash, carriage return and line feed in a text are written
// as \\, \r and \n so that every text round-trips.
//
// Every read opens, reads and closes the file, and every write rewrites it
// through a temporary file in the same folder that is renamed over the old
// one, so a crash never leaves a half-written store. When the store is a
// symbolic link, the file it names is rewritten in that file's own folder.
// A missing or unreadable file, a missing section and a missing value all
// read as the empty text; lines that are not understood are ignored on
// reading and kept on rewriting.
//
// Only a regular file of at most kMaxStoreBytes is read, opened without
// blocking: a FIFO, a device or a runaway file in the store's place reads as
// an unreadable store and is never replaced by a save. A real store holds
// about 1 KB, so the limit leaves plenty of room for hand-written comments
// and other keys while keeping start-up and exit instant.
#pragma once

#include <string>

namespace framory {

class RegistryStore {
 public:
  // The longest text a read returns: longer stored values read as missing,
  // as a 2048-byte query buffer holding the text and its terminator would.
  static constexpr std::size_t kMaxTextLength = 2047;
  // The largest store file read (1 MiB).
  static constexpr std::size_t kMaxStoreBytes = 1024 * 1024;

  explicit RegistryStore(std::string path) : path_(std::move(path)) {}

  // The current user's store: $XDG_CONFIG_HOME/framory/registry.ini, with
  // $HOME/.config when XDG_CONFIG_HOME is unset or empty.
  static RegistryStore CurrentUser();
  // The machine-wide, read-only store: /etc/framory/registry.ini, or the file
  // named by FRAMORY_MACHINE_REGISTRY.
  static RegistryStore LocalMachine();

  // The text of value `name` in key `subKey`; empty when missing or unreadable.
  std::string ReadText(const std::string& subKey, const std::string& name) const;
  // Stores `text` as value `name` of key `subKey`, creating the file, its
  // folder and the key as needed. False when the store could not be written.
  bool WriteText(const std::string& subKey, const std::string& name, const std::string& text);
  // Why the last WriteText failed (a system error text); empty after success.
  const std::string& LastWriteError() const { return lastError_; }
  // True when the store can be read or does not exist yet; otherwise false
  // with the reason (not a regular file, too large, a system error text).
  bool Readable(std::string* reason) const;

  const std::string& Path() const { return path_; }

  static std::string Escape(const std::string& text);
  static std::string Unescape(const std::string& stored);

 private:
  std::string path_;
  std::string lastError_;
};

// The current user's registry, as the settings use it.
std::string ReadRegistryText(const std::string& subKey, const std::string& name);
void WriteRegistryText(const std::string& subKey, const std::string& name, const std::string& text);

}  // namespace framory

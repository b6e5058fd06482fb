// The parts of the bridge that are not exported: the lock name, the search
// path joins and the reading of the registry text files.
#include <gtest/gtest.h>

#include <string>

#include "bridge/CinelinkInternal.h"
#include "support/TempDir.h"

namespace {

using framory::testing::TempDir;
using framory::testing::WriteWholeFile;

TEST(CinelinkInternals, LockNameIsThePrefixAndTheProcessIdInHex) {
  char name[64];
  CinelinkLockName(255, name, sizeof name);
  EXPECT_STREQ(name, "QTMLInitTermMutexff");
  CinelinkLockName(1234, name, sizeof name);
  EXPECT_STREQ(name, "QTMLInitTermMutex4d2");
}

TEST(CinelinkInternals, FolderJoinAddsASeparatorOnlyWhenMissing) {
  char out[CINELINK_PATH_CAPACITY];
  ASSERT_TRUE(CinelinkJoinFolder(out, sizeof out, "/opt/qt", "QuickTime.qts"));
  EXPECT_STREQ(out, "/opt/qt/QuickTime.qts");
  ASSERT_TRUE(CinelinkJoinFolder(out, sizeof out, "/opt/qt/", "QuickTime.qts"));
  EXPECT_STREQ(out, "/opt/qt/QuickTime.qts");
  ASSERT_TRUE(CinelinkJoinFolder(out, sizeof out, "C:\\QuickTime\\", "QuickTime.qts"));
  EXPECT_STREQ(out, "C:\\QuickTime\\QuickTime.qts");
  // A path that does not fit the 260-character buffer is refused, not cut.
  const std::string longFolder(CINELINK_PATH_CAPACITY - 13, 'a');
  EXPECT_FALSE(CinelinkJoinFolder(out, sizeof out, longFolder.c_str(), "QuickTime.qts"));
  const std::string fits(CINELINK_PATH_CAPACITY - 15, 'a');
  EXPECT_TRUE(CinelinkJoinFolder(out, sizeof out, fits.c_str(), "QuickTime.qts"));
}

TEST(CinelinkInternals, StoreValuesAreReadLikeTheProgramWritesThem) {
  TempDir dir;
  const std::string path = dir.File("registry.ini");
  WriteWholeFile(path,
                 "[Software\\Framory]\n"
                 "QuickTime.qts folder=/wrong\n"
                 "\n"
                 "[software\\apple computer, inc.\\quicktime]\r\n"
                 "Other=1\r\n"
                 "  quicktime.qts FOLDER =/opt/with\\\\backslash\\n\r\n");
  char out[64];
  ASSERT_TRUE(CinelinkReadStoreText(path.c_str(), "Software\\Apple Computer, Inc.\\QuickTime",
                                    "QuickTime.qts folder", out, sizeof out));
  EXPECT_STREQ(out, "/opt/with\\backslash\n");
  EXPECT_FALSE(CinelinkReadStoreText(path.c_str(), "Software\\Apple Computer, Inc.\\QuickTime",
                                     "Missing", out, sizeof out));
  // Too long for the caller's buffer reads as missing.
  char small[8];
  EXPECT_FALSE(CinelinkReadStoreText(path.c_str(), "Software\\Apple Computer, Inc.\\QuickTime",
                                     "QuickTime.qts folder", small, sizeof small));
  EXPECT_FALSE(CinelinkReadStoreText(dir.File("none.ini").c_str(), "Software\\Framory",
                                     "QuickTime.qts folder", out, sizeof out));
}

}  // namespace

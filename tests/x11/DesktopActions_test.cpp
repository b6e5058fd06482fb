// Opening a file or folder with the desktop's default application, on X11
// through Qt and xdg-open. A stand-in xdg-open first on the search path
// writes down what it was given; the test decodes that URL back to the file
// name it stands for.
#include "platform/qt/QtDesktopActions.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QGuiApplication>
#include <cstdlib>
#include <string>

#include "support/TempDir.h"
#include "support/X11TestWindows.h"

namespace framory {
namespace {

using testing::TempDir;

// The bytes a file URL names: the path after "file://", percent-decoded.
std::string PathOfFileUrl(const std::string& url) {
  if (url.rfind("file://", 0) != 0) return "<not a file URL: " + url + ">";
  std::string path;
  for (std::size_t i = 7; i < url.size(); ++i) {
    if (url[i] == '%' && i + 2 < url.size()) {
      path.push_back(static_cast<char>(std::stoi(url.substr(i + 1, 2), nullptr, 16)));
      i += 2;
    } else {
      path.push_back(url[i]);
    }
  }
  return path;
}

// A folder whose name is not UTF-8 (made under a Latin-1 locale), the
// results folder of a project say, opens as itself; a missing one is
// refused before anything is started.
TEST(QtDesktopActions, OpensAFolderWhoseNameIsNotUtf8AsItself) {
  TempDir dir;
  const std::string log = dir.File("opened.txt");
  const std::string bin = dir.File("bin");
  ASSERT_EQ(::mkdir(bin.c_str(), 0755), 0);
  ASSERT_TRUE(testing::WriteWholeFile(bin + "/xdg-open", "#!/bin/sh\nprintf '%s' \"$1\" > '" + log +
                                                             ".part' && mv '" + log + ".part' '" +
                                                             log + "'\n"));
  ASSERT_EQ(::chmod((bin + "/xdg-open").c_str(), 0755), 0);
  setenv("PATH", (bin + ":" + std::getenv("PATH")).c_str(), 1);
  // Qt asks the desktop's own opener when it knows the desktop; here none.
  for (const char* name :
       {"XDG_CURRENT_DESKTOP", "KDE_FULL_SESSION", "DESKTOP_SESSION", "GNOME_DESKTOP_SESSION_ID"}) {
    unsetenv(name);
  }
  int argc = 1;
  char name[] = "DesktopActions_test";
  char* argv[] = {name, nullptr};
  QGuiApplication app(argc, argv);

  const std::string folder = dir.File("Aufnahmen caf\xE9 \xC4rger #1");
  ASSERT_EQ(::mkdir(folder.c_str(), 0755), 0);
  QtDesktopActions desktop;
  EXPECT_FALSE(desktop.OpenPath(folder + "-missing", nullptr)) << "a missing folder";
  ASSERT_TRUE(desktop.OpenPath(folder, nullptr));
  ASSERT_TRUE(X11TestWindows::WaitFor([&] {
    struct stat info {};
    return ::stat(log.c_str(), &info) == 0;
  })) << "xdg-open was not started";
  EXPECT_EQ(PathOfFileUrl(testing::ReadWholeFile(log)), folder);
}

}  // namespace
}  // namespace framory

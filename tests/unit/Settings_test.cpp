#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <iterator>
#include <sstream>
#include <vector>

#include "app/RegistryStore.h"
#include "app/SettingsStore.h"
#include "base/Settings.h"
#include "support/TempDir.h"
#include "writers/OutputFormats.h"

namespace framory {
namespace {

using testing::ReadWholeFile;
using testing::TempDir;
using testing::WriteWholeFile;

const char* const kNamesInOrder[] = {"TakeShotOnPrintScreen",
                                     "TakeShotOnClick",
                                     "TakeShotOnWinEvent",
                                     "TakeShotOnKey",
                                     "TakeShotOnTimer",
                                     "TakeShotOnAuto",
                                     "RestoreMouse",
                                     "RecordSound",
                                     "UseDesktopWindow",
                                     "UseMainAppWindow",
                                     "UseForegrounWindow",
                                     "UseForegrounWindowInside",
                                     "UseArea",
                                     "PutCursorInBitmap",
                                     "ResizeFGWindow",
                                     "SizeWindowToMovieSize",
                                     "HasMarkUserArea",
                                     "UserAreaBottom",
                                     "UserAreaTop",
                                     "UserAreaLeft",
                                     "UserAreaRight",
                                     "ResizeFGWindowX",
                                     "ResizeFGWindowY",
                                     "OutputType",
                                     "TimerValue",
                                     "ProjectDirectory",
                                     "ProjectName",
                                     "BareChordOnly",
                                     "SoundSource",
                                     "StreamServerAddress",
                                     "RememberStreamServerAddress",
                                     "PortalRestoreToken"};

// Every field of the record as one comparable text.
std::string Describe(const Settings& s) {
  std::ostringstream o;
  o << s.TakeShotOnPrintScreen() << s.TakeShotOnClick() << s.TakeShotOnWinEvent()
    << s.TakeShotOnKey() << s.TakeShotOnTimer() << s.TakeShotOnAuto() << s.RestoreMouse()
    << s.RecordSound() << s.UseDesktopWindow() << s.UseMainAppWindow() << s.UseForegrounWindow()
    << s.UseForegrounWindowInside() << s.UseArea() << s.PutCursorInBitmap() << s.ResizeFGWindow()
    << s.SizeWindowToMovieSize() << s.HasMarkUserArea() << " area " << s.UserAreaLeft() << ","
    << s.UserAreaTop() << "," << s.UserAreaRight() << "," << s.UserAreaBottom() << " resize "
    << s.ResizeFGWindowX() << "x" << s.ResizeFGWindowY() << " type " << s.OutputType() << " timer "
    << s.TimerValue() << " dir [" << s.ProjectDirectory() << "] name [" << s.ProjectName() << "]"
    << " bare chord " << s.BareChordOnly() << " sound from " << s.SoundSource() << " server ["
    << s.StreamServerAddress() << "] remember " << s.RememberStreamServerAddress() << " token ["
    << s.PortalRestoreToken() << "]";
  return o.str();
}

std::string Section(const std::string& body) { return "[Software\\Framory]\n" + body; }

long Entries(const std::string& folder) {
  return std::distance(std::filesystem::directory_iterator(folder),
                       std::filesystem::directory_iterator());
}

TEST(Settings, DefaultsOfAFirstRun) {
  TempDir dir;
  RegistryStore store(dir.File("none/registry.ini"));
  Settings s;
  LoadSettings(s, store);
  EXPECT_EQ(Describe(s), Describe(Settings{}));
  EXPECT_TRUE(s.TakeShotOnKey());
  EXPECT_TRUE(s.UseMainAppWindow());
  EXPECT_FALSE(s.TakeShotOnPrintScreen() || s.TakeShotOnClick() || s.TakeShotOnWinEvent() ||
               s.TakeShotOnTimer() || s.TakeShotOnAuto());
  EXPECT_FALSE(s.UseDesktopWindow() || s.UseForegrounWindow() || s.UseForegrounWindowInside() ||
               s.UseArea());
  EXPECT_TRUE(s.RestoreMouse());
  EXPECT_TRUE(s.PutCursorInBitmap());
  EXPECT_TRUE(s.SizeWindowToMovieSize());
  EXPECT_EQ(s.ResizeFGWindowX(), 640);
  EXPECT_EQ(s.ResizeFGWindowY(), 480);
  EXPECT_EQ(s.OutputType(), 0);
  EXPECT_EQ(s.TimerValue(), 100);
  EXPECT_EQ(s.ProjectDirectory(), "");
  EXPECT_EQ(s.ProjectName(), "Project1");
  EXPECT_EQ(s.UserArea(), (Rect{0, 0, 0, 0}));
}

TEST(Settings, SaveWritesAll32ValuesAsTextInOrderAndCreatesTheFolder) {
  TempDir dir;
  RegistryStore store(dir.File("deep/er/registry.ini"));
  Settings s;
  s.SetUserAreaLeft(-1280);
  SaveSettings(s, store);

  std::istringstream file(ReadWholeFile(store.Path()));
  std::string line;
  std::getline(file, line);
  EXPECT_EQ(line, "[Software\\Framory]");
  std::vector<std::string> names, values;
  while (std::getline(file, line)) {
    if (line.empty()) continue;
    auto eq = line.find('=');
    ASSERT_NE(eq, std::string::npos) << line;
    names.push_back(line.substr(0, eq));
    values.push_back(line.substr(eq + 1));
  }
  ASSERT_EQ(names.size(), 32u);
  for (std::size_t i = 0; i < 32; ++i) EXPECT_EQ(names[i], kNamesInOrder[i]) << i;
  EXPECT_EQ(values[0], "0");       // TakeShotOnPrintScreen
  EXPECT_EQ(values[3], "1");       // TakeShotOnKey
  EXPECT_EQ(values[19], "-1280");  // UserAreaLeft
  EXPECT_EQ(values[21], "640");
  EXPECT_EQ(values[24], "100");
  EXPECT_EQ(values[25], "");
  EXPECT_EQ(values[26], "Project1");
  EXPECT_EQ(values[27], "0") << "BareChordOnly is off by default";
}

TEST(Settings, SaveThenLoadReproducesEveryField) {
  TempDir dir;
  RegistryStore store(dir.File("registry.ini"));
  Settings s;
  s.SetTakeShotOnPrintScreen(true);
  s.SetTakeShotOnClick(true);
  s.SetTakeShotOnWinEvent(true);
  s.SetTakeShotOnKey(false);
  s.SetTakeShotOnTimer(true);
  s.SetTakeShotOnAuto(true);
  s.SetRestoreMouse(false);
  s.SetRecordSound(true);
  s.SetUseDesktopWindow(true);
  s.SetUseMainAppWindow(false);
  s.SetUseForegrounWindow(true);
  s.SetUseForegrounWindowInside(true);
  s.SetUseArea(true);
  s.SetPutCursorInBitmap(false);
  s.SetResizeFGWindow(true);
  s.SetSizeWindowToMovieSize(false);
  s.SetHasMarkUserArea(true);
  s.SetUserArea(Rect{-1280, 7, 300, 401});
  s.SetResizeFGWindowX(800);
  s.SetResizeFGWindowY(600);
  s.SetOutputType(BroadcastOutputType);
  s.SetTimerValue(40);
  s.SetProjectDirectory("/home/u/Shots [1]/a=b\\c/");
  s.SetProjectName("Demo\nTwo\r\\Lines");
  s.SetBareChordOnly(true);
  s.SetSoundSource(2);
  s.SetStreamServerAddress("rtmp://live.example/app/secret-key");
  s.SetRememberStreamServerAddress(true);
  s.SetPortalRestoreToken("4c1e7b2a-token");
  SaveSettings(s, store);

  Settings loaded;
  LoadSettings(loaded, store);
  // Includes the area-marked flag: a marked area survives a restart.
  EXPECT_EQ(Describe(loaded), Describe(s));
}

TEST(Settings, StreamKeyReachesTheDiskOnlyWhenRemembered) {
  TempDir dir;
  RegistryStore store(dir.File("registry.ini"));
  Settings s;
  s.SetStreamServerAddress("rtmp://live.example/app/secret-key");
  s.SetRememberStreamServerAddress(false);
  SaveSettings(s, store);
  EXPECT_EQ(ReadWholeFile(store.Path()).find("secret-key"), std::string::npos);
  Settings loaded;
  LoadSettings(loaded, store);
  EXPECT_EQ(loaded.StreamServerAddress(), "");

  s.SetRememberStreamServerAddress(true);
  SaveSettings(s, store);
  LoadSettings(loaded, store);
  EXPECT_EQ(loaded.StreamServerAddress(), "rtmp://live.example/app/secret-key");
}

TEST(Settings, StoredMarkedAreaRestoresTheFlagOnly) {
  TempDir dir;
  RegistryStore store(dir.File("registry.ini"));
  ASSERT_TRUE(WriteWholeFile(store.Path(), Section("HasMarkUserArea=1\nUserAreaLeft=100\n")));
  Settings s;
  LoadSettings(s, store);
  EXPECT_TRUE(s.HasMarkUserArea());
  EXPECT_EQ(s.UserAreaLeft(), 100);

  ASSERT_TRUE(WriteWholeFile(store.Path(), Section("HasMarkUserArea=0\n")));
  Settings t;
  t.SetHasMarkUserArea(true);
  LoadSettings(t, store);
  EXPECT_FALSE(t.HasMarkUserArea());
}

TEST(Settings, TextFormsOfBooleansAndNumbers) {
  TempDir dir;
  RegistryStore store(dir.File("registry.ini"));
  ASSERT_TRUE(WriteWholeFile(store.Path(), Section("TakeShotOnKey=01\n"
                                                   "RestoreMouse=true\n"
                                                   "TakeShotOnClick=1\n"
                                                   "PutCursorInBitmap= 1\n"
                                                   "TimerValue=25ms\n"
                                                   "ResizeFGWindowX=  -42abc\n"
                                                   "ResizeFGWindowY=+7\n"
                                                   "OutputType=abc\n"
                                                   "UserAreaTop=-\n"
                                                   "UserAreaBottom=99999999999\n"
                                                   "UserAreaRight=-99999999999\n")));
  Settings s;
  LoadSettings(s, store);
  EXPECT_FALSE(s.TakeShotOnKey()) << "01 is not the text 1";
  EXPECT_FALSE(s.RestoreMouse()) << "true is not the text 1";
  EXPECT_TRUE(s.TakeShotOnClick());
  EXPECT_FALSE(s.PutCursorInBitmap()) << "a blank before the 1 makes another text";
  EXPECT_EQ(s.TimerValue(), 25);
  EXPECT_EQ(s.ResizeFGWindowX(), 0) << "-42 scanned, then brought to the smallest size";
  EXPECT_EQ(s.ResizeFGWindowY(), 7);
  EXPECT_EQ(s.OutputType(), 0) << "no number scans as 0";
  EXPECT_EQ(s.UserAreaTop(), 0);
  EXPECT_EQ(s.UserAreaBottom(), 32767) << "too large saturates, then the X range applies";
  EXPECT_EQ(s.UserAreaRight(), -32768);
}

TEST(Settings, EmptyValuesKeepDefaults) {
  TempDir dir;
  RegistryStore store(dir.File("registry.ini"));
  ASSERT_TRUE(WriteWholeFile(store.Path(), Section("ProjectName=\nTakeShotOnKey=\nTimerValue=\n"
                                                   "OutputType=30\n")));
  Settings s;
  LoadSettings(s, store);
  EXPECT_EQ(s.ProjectName(), "Project1");
  EXPECT_TRUE(s.TakeShotOnKey());
  EXPECT_EQ(s.TimerValue(), 100);
  EXPECT_EQ(s.OutputType(), BroadcastOutputType);
}

// Values no dialog would store come back as the nearest one it would; values
// inside the ranges are kept exactly.
TEST(Settings, LoadedValuesAreBroughtIntoRange) {
  TempDir dir;
  RegistryStore store(dir.File("registry.ini"));
  struct Case {
    const char* stored;
    std::string expected;
  } cases[] = {
      {"TimerValue=0\n", " timer 10"},
      {"TimerValue=-40\n", " timer 10"},
      {"TimerValue=9\n", " timer 10"},
      {"TimerValue=10\n", " timer 10"},
      {"TimerValue=2147483647\n", " timer 2147483647"},
      {"ResizeFGWindowX=20000\nResizeFGWindowY=20000\n", " resize 8188x8188"},
      {"ResizeFGWindowX=-5\nResizeFGWindowY=0\n", " resize 0x0"},
      {"ResizeFGWindowX=8188\nResizeFGWindowY=1\n", " resize 8188x1"},
      {"UserAreaLeft=-2147483648\nUserAreaRight=2147483647\nUserAreaTop=-1280\n"
       "UserAreaBottom=99999\n",
       " area -32768,-1280,32767,32767"},
      {"OutputType=7\n", " type 0"},
      {"OutputType=-1\n", " type 0"},
      {"OutputType=25\n", " type 0"},
      {"OutputType=19\n", " type 19"},
      {"SoundSource=3\n", " sound from 0 "},
      {"SoundSource=-1\n", " sound from 0 "},
      {"SoundSource=2\n", " sound from 2 "},
  };
  for (const Case& c : cases) {
    ASSERT_TRUE(WriteWholeFile(store.Path(), Section(c.stored)));
    Settings s;
    LoadSettings(s, store);
    EXPECT_NE(Describe(s).find(c.expected), std::string::npos)
        << c.stored << " gave " << Describe(s);
  }
}

TEST(Settings, GarbageStoreNeverCrashesAndKeepsDefaults) {
  TempDir dir;
  RegistryStore store(dir.File("registry.ini"));
  std::string garbage =
      "\x01\x02 not ini at all\n[\n]\n=novalue\n[Software\\Framory\n"
      "TimerValue 50\n[Other]\nTimerValue=7\n";
  garbage += std::string("\0\xff\xfe", 3);
  ASSERT_TRUE(WriteWholeFile(store.Path(), garbage));
  Settings s;
  LoadSettings(s, store);
  EXPECT_EQ(Describe(s), Describe(Settings{})) << "values of other keys must not leak in";

  // Saving over it keeps the unknown lines and the other key, and works.
  SaveSettings(s, store);
  EXPECT_EQ(store.ReadText("Other", "TimerValue"), "7");
  EXPECT_NE(ReadWholeFile(store.Path()).find("not ini at all"), std::string::npos);
  Settings again;
  LoadSettings(again, store);
  EXPECT_EQ(Describe(again), Describe(s));
}

// A save that cannot be made says so once on stderr, with the path and the
// system's reason, and leaves nothing behind.
TEST(Settings, UnwritableStoreIsReportedOnceAndLeavesNoFile) {
  TempDir dir;
  ASSERT_TRUE(WriteWholeFile(dir.File("file"), "x"));
  struct Case {
    std::string path;
    const char* reason;
  };
  std::vector<Case> cases = {{dir.File("file/sub/registry.ini"), "Not a directory"}};
  // root writes through permission bits, so the read-only folder only
  // counts for other users.
  if (geteuid() != 0) {
    ASSERT_EQ(mkdir(dir.File("ro").c_str(), 0500), 0);
    cases.push_back({dir.File("ro/registry.ini"), "Permission denied"});
  }
  for (const Case& c : cases) {
    RegistryStore store(c.path);
    ::testing::internal::CaptureStderr();
    SaveSettings(Settings{}, store);
    const std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(err, "framory: settings not saved to " + c.path + ": " + c.reason + "\n");
    EXPECT_EQ(store.ReadText(kSettingsKey, "TimerValue"), "");
  }
  EXPECT_EQ(ReadWholeFile(dir.File("file")), "x");
}

// Whatever sits in the store's place, start-up neither hangs, nor floods
// memory, nor crashes: the defaults are used, one line on stderr says why,
// and a save does not destroy what is there.
TEST(Settings, HostileStoresReadAsUnreadableAndAreNotReplaced) {
  TempDir dir;
  ASSERT_EQ(mkfifo(dir.File("fifo").c_str(), 0600), 0);
  ASSERT_EQ(symlink("/dev/zero", dir.File("zero").c_str()), 0);
  ASSERT_EQ(symlink("/dev/urandom", dir.File("urandom").c_str()), 0);
  // Twice the limit of blank lines with one real value at the end.
  ASSERT_TRUE(WriteWholeFile(dir.File("huge"),
                             Section(std::string(2 * 1024 * 1024, '\n') + "TimerValue=55\n")));
  ASSERT_EQ(mkdir(dir.File("folder").c_str(), 0700), 0);
  const struct {
    const char* name;
    const char* reason;
  } cases[] = {{"fifo", "not a regular file"},
               {"zero", "not a regular file"},
               {"urandom", "not a regular file"},
               {"huge", "larger than 1048576 bytes"},
               {"folder", "not a regular file"}};
  for (const auto& c : cases) {
    RegistryStore store(dir.File(c.name));
    Settings s;
    s.SetTimerValue(77);  // as it stood before loading
    ::testing::internal::CaptureStderr();
    LoadSettings(s, store);
    std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(err, "framory: settings store " + store.Path() + " is unreadable (" + c.reason +
                       "); using the defaults\n");
    EXPECT_EQ(s.TimerValue(), 77) << c.name;

    ::testing::internal::CaptureStderr();
    SaveSettings(s, store);
    err = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(err, "framory: settings not saved to " + store.Path() + ": " + c.reason + "\n");
  }
  struct stat st;
  ASSERT_EQ(lstat(dir.File("fifo").c_str(), &st), 0);
  EXPECT_TRUE(S_ISFIFO(st.st_mode)) << "the FIFO is still there";
  ASSERT_EQ(lstat(dir.File("zero").c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  EXPECT_EQ(std::filesystem::file_size(dir.File("huge")), 2u * 1024 * 1024 + 33);
  EXPECT_EQ(Entries(dir.Path()), 5) << "no temporary file was left";
}

// A store that is a link into another folder (a dotfiles repository) keeps
// being that link: the save rewrites the file it names, atomically, in that
// file's folder, even when the file does not exist yet.
TEST(Settings, SaveThroughASymbolicLinkKeepsTheLink) {
  TempDir dir;
  ASSERT_EQ(mkdir(dir.File("config").c_str(), 0700), 0);
  ASSERT_EQ(mkdir(dir.File("dotfiles").c_str(), 0700), 0);
  ASSERT_TRUE(WriteWholeFile(dir.File("dotfiles/framory.ini"), "; mine\n[Other]\nX=1\n"));
  ASSERT_EQ(symlink("../dotfiles/framory.ini", dir.File("config/registry.ini").c_str()), 0);
  // A dangling link, through a second link, to a file not yet made.
  ASSERT_EQ(symlink(dir.File("dotfiles/new.ini").c_str(), dir.File("config/b.ini").c_str()), 0);
  ASSERT_EQ(symlink("b.ini", dir.File("config/a.ini").c_str()), 0);

  Settings s;
  s.SetTimerValue(250);
  s.SetProjectName("Linked");
  for (const char* name : {"config/registry.ini", "config/a.ini"}) {
    RegistryStore store(dir.File(name));
    ::testing::internal::CaptureStderr();
    SaveSettings(s, store);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "") << name;
    Settings back;
    LoadSettings(back, store);
    EXPECT_EQ(Describe(back), Describe(s)) << name;
  }
  struct stat st;
  for (const char* link : {"config/registry.ini", "config/a.ini", "config/b.ini"}) {
    ASSERT_EQ(lstat(dir.File(link).c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode)) << link << " is still a link";
  }
  const std::string target = ReadWholeFile(dir.File("dotfiles/framory.ini"));
  EXPECT_EQ(target.rfind("; mine\n[Other]\nX=1\n", 0), 0u) << "the file's own lines stay";
  EXPECT_NE(target.find("TimerValue=250\n"), std::string::npos);
  EXPECT_NE(ReadWholeFile(dir.File("dotfiles/new.ini")).find("ProjectName=Linked\n"),
            std::string::npos);
  EXPECT_EQ(Entries(dir.File("dotfiles")), 2) << "no temporary file in the target's folder";
}

TEST(Settings, ProjectFolderAndOutputTypePredicates) {
  Settings s;
  s.SetProjectDirectory("C:\\Results");
  s.SetProjectName("Demo");
  EXPECT_EQ(s.ProjectFolder(), "C:\\ResultsDemo");
  s.SetProjectDirectory("/home/u/Framory/");
  EXPECT_EQ(s.ProjectFolder(), "/home/u/Framory/Demo");

  for (int code : {0, 1, 2, 3, 10, 11, 12, 13, 14, 15}) {
    s.SetOutputType(code);
    EXPECT_FALSE(SoundAllowedFor(s.OutputType())) << code;
    EXPECT_FALSE(IsEncoderOutputType(s.OutputType())) << code;
  }
  for (int code : {16, 17, 18}) {
    s.SetOutputType(code);
    EXPECT_TRUE(SoundAllowedFor(s.OutputType())) << code;
    EXPECT_FALSE(IsEncoderOutputType(s.OutputType())) << code;
  }
  for (int code : {19, 30}) {
    s.SetOutputType(code);
    EXPECT_TRUE(SoundAllowedFor(s.OutputType())) << code;
    EXPECT_TRUE(IsEncoderOutputType(s.OutputType())) << code;
  }
  EXPECT_TRUE(IsPictureOutputType(3));
  EXPECT_FALSE(IsPictureOutputType(10));
}

TEST(RegistryStore, TextsRoundTripWithEscapes) {
  TempDir dir;
  RegistryStore store(dir.File("registry.ini"));
  const std::string texts[] = {"plain", "back\\slash\\", "a\nb\r\nc",       "\\n literal",
                               "=x=y",  " padded ",      "[not a section]", ""};
  int i = 0;
  for (const std::string& t : texts) {
    ASSERT_TRUE(store.WriteText("Software\\Test", "V" + std::to_string(i++), t));
  }
  i = 0;
  for (const std::string& t : texts) {
    EXPECT_EQ(store.ReadText("Software\\Test", "V" + std::to_string(i++)), t);
  }
  // One line per value: no raw line break was written.
  std::string file = ReadWholeFile(store.Path());
  EXPECT_NE(file.find("V2=a\\nb\\r\\nc\n"), std::string::npos) << file;
  EXPECT_NE(file.find("V1=back\\\\slash\\\\\n"), std::string::npos) << file;
}

TEST(RegistryStore, KeysAreSeparateAndNamesCaseBlind) {
  TempDir dir;
  RegistryStore store(dir.File("registry.ini"));
  ASSERT_TRUE(store.WriteText("Software\\A", "Name", "a"));
  ASSERT_TRUE(store.WriteText("Software\\B", "Name", "b"));
  ASSERT_TRUE(store.WriteText("Software\\A", "Other", "a2"));
  ASSERT_TRUE(store.WriteText("software\\a", "NAME", "a3"));
  EXPECT_EQ(store.ReadText("Software\\A", "Name"), "a3");
  EXPECT_EQ(store.ReadText("Software\\A", "Other"), "a2");
  EXPECT_EQ(store.ReadText("Software\\B", "name"), "b");
  EXPECT_EQ(store.ReadText("Software\\C", "Name"), "");
  EXPECT_EQ(store.ReadText("Software", "Name"), "");
  // Rewriting a value replaces its line; it does not add another.
  std::string file = ReadWholeFile(store.Path());
  EXPECT_EQ(file.find("Name=a\n"), std::string::npos) << file;
}

TEST(RegistryStore, OverlongTextReadsAsMissing) {
  TempDir dir;
  RegistryStore store(dir.File("registry.ini"));
  ASSERT_TRUE(store.WriteText("K", "Fits", std::string(2047, 'x')));
  ASSERT_TRUE(store.WriteText("K", "TooLong", std::string(2048, 'x')));
  EXPECT_EQ(store.ReadText("K", "Fits").size(), 2047u);
  EXPECT_EQ(store.ReadText("K", "TooLong"), "");
}

TEST(RegistryStore, RewriteLeavesNoTemporaryFiles) {
  TempDir dir;
  RegistryStore store(dir.File("registry.ini"));
  for (int i = 0; i < 5; ++i) ASSERT_TRUE(store.WriteText("K", "V", std::to_string(i)));
  int entries = 0;
  for (auto& e : std::filesystem::directory_iterator(dir.Path())) {
    (void)e;
    ++entries;
  }
  EXPECT_EQ(entries, 1);
  EXPECT_EQ(store.ReadText("K", "V"), "4");
}

TEST(RegistryStore, LocationsFollowTheEnvironment) {
  const char* oldConfig = std::getenv("XDG_CONFIG_HOME");
  std::string saved = oldConfig ? oldConfig : "";
  setenv("XDG_CONFIG_HOME", "/tmp/cfg", 1);
  EXPECT_EQ(RegistryStore::CurrentUser().Path(), "/tmp/cfg/framory/registry.ini");
  setenv("XDG_CONFIG_HOME", "", 1);
  const char* home = std::getenv("HOME");
  EXPECT_EQ(RegistryStore::CurrentUser().Path(),
            std::string(home ? home : "") + "/.config/framory/registry.ini");
  if (oldConfig)
    setenv("XDG_CONFIG_HOME", saved.c_str(), 1);
  else
    unsetenv("XDG_CONFIG_HOME");

  setenv("FRAMORY_MACHINE_REGISTRY", "/tmp/machine.ini", 1);
  EXPECT_EQ(RegistryStore::LocalMachine().Path(), "/tmp/machine.ini");
  unsetenv("FRAMORY_MACHINE_REGISTRY");
  EXPECT_EQ(RegistryStore::LocalMachine().Path(), "/etc/framory/registry.ini");
}

}  // namespace
}  // namespace framory

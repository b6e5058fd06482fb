// The Cinelink bridge against runtimes built for these tests. Every case
// runs in a child process of its own, because the bridge's binding state
// lives for the whole process and a case must start from a freshly loaded
// library. The child is told where to find a runtime only through the
// stores (machine and user registry files), the program folder or an
// already loaded library, exactly as the bridge searches.
#include <dlfcn.h>
#include <fcntl.h>
#include <pthread.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "TestRuntimeRecord.h"
#include "bridge/Cinelink.h"
#include "support/ChildProcess.h"
#include "support/ProgramLog.h"
#include "support/TempDir.h"

namespace {

using framory::testing::ReadWholeFile;
using framory::testing::TempDir;
using framory::testing::WriteWholeFile;

std::string RuntimeDir(const std::string& variant) {
  return std::string(CINELINK_TEST_RUNTIMES_DIR) + "/" + variant;
}
std::string RuntimePath(const std::string& variant) {
  return RuntimeDir(variant) + "/QuickTime.qts";
}

// Collects failed checks inside a child process.
class Checks {
 public:
  template <typename A, typename B>
  void Eq(const A& actual, const B& expected, const std::string& what) {
    if (!(actual == expected)) {
      std::ostringstream s;
      s << what << ": got " << actual << ", expected " << expected << "\n";
      failures_ += s.str();
    }
  }
  void True(bool condition, const std::string& what) {
    if (!condition) failures_ += what + "\n";
  }
  const std::string& Failures() const { return failures_; }

 private:
  std::string failures_;
};

// Runs `body` in a forked child and returns its failures ("" when none);
// a crash is a failure too.
std::string InChild(const std::function<void(Checks&)>& body) {
  return framory::testing::RunInChild([&] {
    Checks checks;
    body(checks);
    return checks.Failures();
  });
}

std::string StoreText(const std::string& folder) {
  std::string escaped;
  for (char c : folder) escaped += c == '\\' ? std::string("\\\\") : std::string(1, c);
  return "[Software\\Apple Computer, Inc.\\QuickTime]\nQuickTime.qts folder=" + escaped + "\n";
}

// A test's private stores and log: the machine store file, the user's
// config folder and the runtime's log of initialisations.
class BridgeRig {
 public:
  BridgeRig() {
    std::filesystem::create_directories(dir_.Path() + "/config/framory");
    std::filesystem::create_directories(dir_.Path() + "/run");
  }
  void MachineStore(const std::string& folder) { WriteWholeFile(MachinePath(), StoreText(folder)); }
  void UserStore(const std::string& folder) {
    WriteWholeFile(dir_.Path() + "/config/framory/registry.ini", StoreText(folder));
  }
  std::string MachinePath() const { return dir_.File("machine.ini"); }
  std::string LogPath() const { return dir_.File("runtime.log"); }
  std::string Log() const { return ReadWholeFile(LogPath()); }
  std::string RunDir() const { return dir_.Path() + "/run"; }
  const TempDir& Dir() const { return dir_; }

  // In the child, before the first bridge call.
  void Enter() const {
    setenv("FRAMORY_MACHINE_REGISTRY", MachinePath().c_str(), 1);
    setenv("XDG_CONFIG_HOME", (dir_.Path() + "/config").c_str(), 1);
    setenv("XDG_RUNTIME_DIR", RunDir().c_str(), 1);
    setenv("CINELINK_TEST_LOG", LogPath().c_str(), 1);
  }

 private:
  TempDir dir_;
};

bool Loaded(const std::string& path) {
  void* h = dlopen(path.c_str(), RTLD_LAZY | RTLD_NOLOAD);
  if (h == nullptr) return false;
  dlclose(h);
  return true;
}

const TestCall* LastCall(const std::string& runtimePath) {
  void* h = dlopen(runtimePath.c_str(), RTLD_LAZY | RTLD_NOLOAD);
  if (h == nullptr) return nullptr;
  auto get = reinterpret_cast<const TestCall* (*)()>(dlsym(h, "TestRuntimeLastCall"));
  dlclose(h);  // the caller keeps it loaded
  return get != nullptr ? get() : nullptr;
}

enum class Probe { kAddMediaSample, kGetMaxCompressionSize, kDoubles };
const Probe kProbes[] = {Probe::kAddMediaSample, Probe::kGetMaxCompressionSize, Probe::kDoubles};

// Makes one call whose arguments the bind hook could disturb: an export
// with three stack arguments, one with one, or eight doubles passed through
// a variadic pointer; then checks that they arrived exactly as passed. Each
// is made as the first call after a state change, so the hook runs first.
void CheckArgumentsArrive(Checks& c, const std::string& runtimePath, Probe probe,
                          const std::string& when) {
  if (probe == Probe::kAddMediaSample) {
    auto media = reinterpret_cast<Media>(0x1111222233334444);
    auto handle = reinterpret_cast<Handle>(0x5555666677778888);
    auto desc = reinterpret_cast<SampleDescriptionHandle>(0x0123456789ABCDEF);
    TimeValue sampleTime = 0;
    const OSErr added =
        AddMediaSample(media, handle, -17, 0xFEDCBA98u, 333, desc, 0x7654321, -2, &sampleTime);
    c.Eq(added, 7, when + ": AddMediaSample result");
    c.Eq(sampleTime, 4242, when + ": sampleTime written through the pointer");
    const TestCall* call = LastCall(runtimePath);
    c.True(call != nullptr, when + ": runtime recorded the call");
    if (call == nullptr) return;
    c.Eq(call->selector, 0x0002007Cu, when + ": AddMediaSample selector");
    const std::int64_t expected[9] = {0x1111222233334444,
                                      0x5555666677778888,
                                      -17,
                                      0xFEDCBA98ll,
                                      333,
                                      0x0123456789ABCDEF,
                                      0x7654321,
                                      -2,
                                      reinterpret_cast<std::int64_t>(&sampleTime)};
    for (int i = 0; i < 9; ++i) {
      c.Eq(call->integers[i], expected[i], when + ": AddMediaSample argument " + std::to_string(i));
    }
    return;
  }

  if (probe == Probe::kGetMaxCompressionSize) {
    Rect rect{1, 2, 3, 4};
    std::int32_t size = 0;
    const OSErr sized =
        GetMaxCompressionSize(reinterpret_cast<PixMapHandle>(0x42), &rect, -5, 512, 0x6A706567,
                              reinterpret_cast<CompressorComponent>(0x99), &size);
    c.Eq(sized, 0, when + ": GetMaxCompressionSize result");
    c.Eq(size, 123456, when + ": size written through the stack argument");
    const TestCall* call = LastCall(runtimePath);
    c.True(call != nullptr, when + ": runtime recorded the call");
    if (call == nullptr) return;
    const std::int64_t sizeExpected[7] = {
        0x42, reinterpret_cast<std::int64_t>(&rect), -5, 512, 0x6A706567,
        0x99, reinterpret_cast<std::int64_t>(&size)};
    for (int i = 0; i < 7; ++i) {
      c.Eq(call->integers[i], sizeExpected[i],
           when + ": GetMaxCompressionSize argument " + std::to_string(i));
    }
    return;
  }

  // FixRatio's stub called as a variadic function: AL holds the number of
  // vector registers used, xmm0-xmm7 the doubles.
  auto variadic = reinterpret_cast<std::int32_t (*)(std::int32_t, ...)>(
      reinterpret_cast<void (*)()>(&FixRatio));
  const std::int32_t echoed = variadic(-99, 1.5, -2.25, 3.125, 1e100, -1e-100, 6.0, 7.75, 8.5);
  c.Eq(echoed, -99, when + ": variadic first argument");
  const TestCall* call = LastCall(runtimePath);
  c.True(call != nullptr, when + ": runtime recorded the call");
  if (call == nullptr) return;
  const double doubles[8] = {1.5, -2.25, 3.125, 1e100, -1e-100, 6.0, 7.75, 8.5};
  for (int i = 0; i < 8; ++i) {
    c.Eq(call->doubles[i], doubles[i], when + ": double in xmm" + std::to_string(i));
  }
}

TEST(Cinelink, ExportsExactlyTheTwentyEightRoutines) {
  const std::string command = std::string("nm -D --defined-only ") + CINELINK_LIBRARY;
  framory::testing::NoteShellCommand(command);
  FILE* pipe = popen(command.c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  std::vector<std::string> names;
  char line[512];
  while (fgets(line, sizeof line, pipe) != nullptr) {
    std::istringstream fields(line);
    std::string address, kind, name;
    fields >> address >> kind >> name;
    if (!name.empty()) names.push_back(name);
  }
  pclose(pipe);
  const std::vector<std::string> expected = {"AddMediaSample",   "AddMovieResource",
                                             "BeginMediaEdits",  "CloseMovieFile",
                                             "CompressImage",    "CreateMovieFile",
                                             "DisposeGWorld",    "DisposeHandle",
                                             "DisposeMovie",     "EndMediaEdits",
                                             "EnterMovies",      "ExitMovies",
                                             "FSMakeFSSpec",     "FixRatio",
                                             "GetGWorld",        "GetMaxCompressionSize",
                                             "GetMediaDuration", "HLock",
                                             "InitializeQTML",   "InsertMediaIntoTrack",
                                             "MoveHHi",          "NewGWorldFromHBITMAP",
                                             "NewHandle",        "NewMovieTrack",
                                             "NewTrackMedia",    "SetGWorld",
                                             "TerminateQTML",    "c2pstrcpy"};
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, expected);
}

TEST(Cinelink, NothingFoundGivesLoadFailureThenUnboundEverywhere) {
  BridgeRig rig;  // no store values, no runtime beside the test program
  EXPECT_EQ(InChild([&](Checks& c) {
              rig.Enter();
              c.Eq(InitializeQTML(0), kQtmlLoadFailed, "first InitializeQTML");
              c.Eq(EnterMovies(), kQtmlUnbound, "EnterMovies after the failure");
              c.Eq(AddMediaSample(nullptr, nullptr, 0, 0, 0, nullptr, 1, 0, nullptr), kQtmlUnbound,
                   "AddMediaSample after the failure");
              c.True(NewHandle(16) == nullptr, "NewHandle gives no handle, not a wild one");
              c.True(NewMovieTrack(nullptr, 0, 0, 0) == nullptr, "NewMovieTrack gives none");
              c.True(NewTrackMedia(nullptr, 0, 0, nullptr, 0) == nullptr,
                     "NewTrackMedia gives none");
              c.Eq(GetMediaDuration(nullptr), kQtmlUnbound, "GetMediaDuration");
              TerminateQTML();  // count 0: nothing happens
              c.Eq(InitializeQTML(0), kQtmlLoadFailed, "InitializeQTML again");
              // Before any initialisation the lazy binding finds nothing either.
            }),
            "");
  EXPECT_EQ(InChild([&](Checks& c) {
              rig.Enter();
              c.Eq(CloseMovieFile(3), kQtmlUnbound, "a call before InitializeQTML");
            }),
            "");
}

TEST(Cinelink, InitializeAndTerminateNest) {
  BridgeRig rig;
  rig.MachineStore(RuntimeDir("good"));
  const std::string path = RuntimePath("good");
  EXPECT_EQ(InChild([&](Checks& c) {
              rig.Enter();
              c.Eq(InitializeQTML(5), 0, "first InitializeQTML");
              c.True(Loaded(path), "runtime loaded by the first InitializeQTML");
              c.Eq(InitializeQTML(0), 0, "second InitializeQTML");
              c.Eq(rig.Log(), std::string("init 5\n"), "one QuickTime initialisation, flag passed");
              TerminateQTML();
              c.True(Loaded(path), "still loaded after the inner TerminateQTML");
              c.Eq(rig.Log(), std::string("init 5\n"), "no termination yet");
              c.Eq(EnterMovies(), -50, "calls still reach the runtime");
              TerminateQTML();
              c.Eq(rig.Log(), std::string("init 5\nterm\n"), "the last TerminateQTML ends it");
              c.True(!Loaded(path), "the last TerminateQTML frees the runtime");
              c.Eq(EnterMovies(), kQtmlUnbound, "calls after the end are unbound");
              TerminateQTML();  // count already 0
              c.Eq(rig.Log(), std::string("init 5\nterm\n"), "an extra TerminateQTML does nothing");
              c.Eq(InitializeQTML(0), 0, "initialising again");
              c.Eq(rig.Log(), std::string("init 5\nterm\ninit 0\n"),
                   "loaded and initialised again");
              TerminateQTML();
            }),
            "");
}

class CinelinkEntryMissing : public ::testing::TestWithParam<const char*> {};

TEST_P(CinelinkEntryMissing, RefusesTheRuntimeAndFreesIt) {
  BridgeRig rig;
  rig.MachineStore(RuntimeDir(GetParam()));
  const std::string path = RuntimePath(GetParam());
  EXPECT_EQ(InChild([&](Checks& c) {
              rig.Enter();
              c.Eq(InitializeQTML(0), kQtmlEntryMissing, "InitializeQTML");
              c.True(!Loaded(path), "the runtime was freed again");
              c.Eq(rig.Log(), std::string(), "QuickTime was never initialised");
              c.Eq(EnterMovies(), kQtmlUnbound, "later calls are unbound");
              TerminateQTML();
              c.Eq(rig.Log(), std::string(), "nor terminated");
            }),
            "");
}

INSTANTIATE_TEST_SUITE_P(EachEntryPoint, CinelinkEntryMissing,
                         ::testing::Values("no_dispatcher", "no_call_component",
                                           "no_call_component_with_storage"));

TEST(Cinelink, RuntimeInitialisationErrorComesBackUnchanged) {
  BridgeRig rig;
  rig.MachineStore(RuntimeDir("init_error"));
  const std::string path = RuntimePath("init_error");
  EXPECT_EQ(InChild([&](Checks& c) {
              rig.Enter();
              c.Eq(InitializeQTML(0), -4321, "InitializeQTML");
              c.True(!Loaded(path), "the runtime was freed");
              c.Eq(EnterMovies(), kQtmlUnbound, "later calls are unbound");
              TerminateQTML();
              c.Eq(rig.Log(), std::string("init 0\n"), "no termination for a failed start");
            }),
            "");
}

TEST(Cinelink, StoreFoldersWithAndWithoutTrailingSeparator) {
  // The machine store without a trailing separator.
  {
    BridgeRig rig;
    rig.MachineStore(RuntimeDir("good"));
    EXPECT_EQ(InChild([&](Checks& c) {
                rig.Enter();
                c.Eq(InitializeQTML(0), 0, "machine store, no separator");
              }),
              "");
  }
  // The user store, ending in "/", when the machine store has no value.
  {
    BridgeRig rig;
    rig.UserStore(RuntimeDir("good") + "/");
    EXPECT_EQ(InChild([&](Checks& c) {
                rig.Enter();
                c.Eq(InitializeQTML(0), 0, "user store ending in /");
              }),
              "");
  }
  // The machine store wins over the user's.
  {
    BridgeRig rig;
    rig.MachineStore(RuntimeDir("init_error"));
    rig.UserStore(RuntimeDir("good"));
    EXPECT_EQ(InChild([&](Checks& c) {
                rig.Enter();
                c.Eq(InitializeQTML(0), -4321, "machine store searched first");
              }),
              "");
  }
  // A folder that does not hold the runtime falls through to the next step.
  {
    BridgeRig rig;
    rig.MachineStore(rig.Dir().Path());
    rig.UserStore(RuntimeDir("good"));
    EXPECT_EQ(InChild([&](Checks& c) {
                rig.Enter();
                c.Eq(InitializeQTML(0), 0, "user store after an empty machine folder");
              }),
              "");
  }
}

// Runs the probe program (a copy in a folder of its own) with the rig's
// stores and `libraryPath` as LD_LIBRARY_PATH; its one line of output.
// With `preload`, the probe loads that library before its first call.
std::string RunProbe(const std::string& probe, const BridgeRig& rig,
                     const std::string& libraryPath = "", const std::string& preload = "") {
  const std::string command =
      "env FRAMORY_MACHINE_REGISTRY='" + rig.MachinePath() + "' XDG_CONFIG_HOME='" +
      rig.Dir().Path() + "/config' XDG_CACHE_HOME='" + rig.Dir().Path() + "/cache' " +
      "CINELINK_TEST_LOG='" + rig.LogPath() + "' " +
      (libraryPath.empty() ? "" : "LD_LIBRARY_PATH='" + libraryPath + "' ") + "'" + probe + "'" +
      (preload.empty() ? "" : " '" + preload + "'");
  framory::testing::NoteShellCommand(command);
  FILE* pipe = popen(command.c_str(), "r");
  char line[128] = "";
  if (pipe != nullptr) {
    if (fgets(line, sizeof line, pipe) == nullptr) line[0] = '\0';
    pclose(pipe);
  }
  return line;
}

TEST(Cinelink, ProgramFolderIsSearched) {
  TempDir folder;
  const std::string probe = folder.File("cinelink_probe");
  std::filesystem::copy_file(CINELINK_PROBE, probe);
  BridgeRig rig;
  EXPECT_EQ(RunProbe(probe, rig), "-2093 -2095\n") << "nothing beside the program";
  std::filesystem::copy_file(RuntimePath("good"), folder.File("QuickTime.qts"));
  EXPECT_EQ(RunProbe(probe, rig), "0 -50\n") << "the runtime beside the program";
}

TEST(Cinelink, LibraryFolderIsSearchedLast) {
  // The program alone in one folder; Cinelink, with a runtime beside it, in
  // another one that the loader is pointed at.
  TempDir programFolder, libraryFolder;
  const std::string probe = programFolder.File("cinelink_probe");
  std::filesystem::copy_file(CINELINK_PROBE, probe);
  std::filesystem::copy_file(CINELINK_LIBRARY, libraryFolder.File("libCinelink.so"));
  BridgeRig rig;
  EXPECT_EQ(RunProbe(probe, rig, libraryFolder.Path()), "-2093 -2095\n") << "no runtime anywhere";
  std::filesystem::copy_file(RuntimePath("good"), libraryFolder.File("QuickTime.qts"));
  EXPECT_EQ(RunProbe(probe, rig, libraryFolder.Path()), "0 -50\n")
      << "the runtime beside the library";
}

// A different runtime in every place the bridge searches at once: already
// loaded, beside the program, in the machine store's folder, in the user
// store's folder and beside the library. Each run binds the first of those
// still there; then that one is taken away and the next run must bind the
// next one, down the list.
TEST(Cinelink, SearchOrderBindsTheFirstPlaceThatHoldsARuntime) {
  TempDir programFolder, libraryFolder;
  const std::string probe = programFolder.File("cinelink_probe");
  std::filesystem::copy_file(CINELINK_PROBE, probe);
  std::filesystem::copy_file(RuntimePath("id_program"), programFolder.File("QuickTime.qts"));
  std::filesystem::copy_file(CINELINK_LIBRARY, libraryFolder.File("libCinelink.so"));
  std::filesystem::copy_file(RuntimePath("id_library"), libraryFolder.File("QuickTime.qts"));
  BridgeRig rig;
  rig.MachineStore(RuntimeDir("id_machine"));
  rig.UserStore(RuntimeDir("id_user"));
  std::string preload = RuntimePath("id_loaded");

  // Runs the probe; which runtime it initialised ("" for none).
  const auto bound = [&](const std::string& expectedOutput) {
    WriteWholeFile(rig.LogPath(), "");
    EXPECT_EQ(RunProbe(probe, rig, libraryFolder.Path(), preload), expectedOutput);
    const std::string log = rig.Log();
    const std::string prefix = "init 0 ";
    if (log.rfind(prefix, 0) != 0) return log;
    return log.substr(prefix.size(), log.find('\n') - prefix.size());
  };
  EXPECT_EQ(bound("0 -50\n"), "loaded");
  preload.clear();
  EXPECT_EQ(bound("0 -50\n"), "program");
  std::filesystem::remove(programFolder.File("QuickTime.qts"));
  EXPECT_EQ(bound("0 -50\n"), "machine");
  WriteWholeFile(rig.MachinePath(), "");
  EXPECT_EQ(bound("0 -50\n"), "user");
  rig.UserStore(rig.Dir().Path());  // a folder without a runtime
  EXPECT_EQ(bound("0 -50\n"), "library");
  std::filesystem::remove(libraryFolder.File("QuickTime.qts"));
  EXPECT_EQ(bound("-2093 -2095\n"), "");
}

// Every forwarded routine reaches the dispatcher with its own selector. The
// numbers are QuickTime's, written out here from its published list rather
// than taken from the bridge's own table, so a wrong number there shows.
TEST(Cinelink, EachRoutineReachesTheDispatcherWithItsSelector) {
  struct Routine {
    const char* Name;
    std::uint32_t Selector;
    std::function<void()> Call;
  };
  const Routine routines[] = {
      {"AddMediaSample", 0x0002007C,
       [] { AddMediaSample(nullptr, nullptr, 0, 0, 0, nullptr, 1, 0, nullptr); }},
      {"AddMovieResource", 0x000200D7, [] { AddMovieResource(nullptr, 0, nullptr, nullptr); }},
      {"BeginMediaEdits", 0x00020072, [] { BeginMediaEdits(nullptr); }},
      {"CloseMovieFile", 0x000200D5, [] { CloseMovieFile(0); }},
      {"CompressImage", 0x00030006,
       [] { CompressImage(nullptr, nullptr, 0, 0, nullptr, nullptr); }},
      {"CreateMovieFile", 0x00020191, [] { CreateMovieFile(nullptr, 0, 0, 0, nullptr, nullptr); }},
      {"DisposeGWorld", 0x001C0005, [] { DisposeGWorld(nullptr); }},
      {"DisposeHandle", 0x00150032, [] { DisposeHandle(nullptr); }},
      {"DisposeMovie", 0x00020023, [] { DisposeMovie(nullptr); }},
      {"EndMediaEdits", 0x00020073, [] { EndMediaEdits(nullptr); }},
      {"EnterMovies", 0x00020001, [] { EnterMovies(); }},
      {"ExitMovies", 0x00020002, [] { ExitMovies(); }},
      {"FSMakeFSSpec", 0x000F00E2, [] { FSMakeFSSpec(0, 0, nullptr, nullptr); }},
      {"FixRatio", 0x00100001, [] { FixRatio(1, 2); }},
      {"GetGWorld", 0x001C0006, [] { GetGWorld(nullptr, nullptr); }},
      {"GetMaxCompressionSize", 0x00030004,
       [] { GetMaxCompressionSize(nullptr, nullptr, 0, 0, 0, nullptr, nullptr); }},
      {"GetMediaDuration", 0x0002006A, [] { GetMediaDuration(nullptr); }},
      {"HLock", 0x00150019, [] { HLock(nullptr); }},
      {"InsertMediaIntoTrack", 0x00020183, [] { InsertMediaIntoTrack(nullptr, 0, 0, 0, 0); }},
      {"MoveHHi", 0x0015002E, [] { MoveHHi(nullptr); }},
      {"NewGWorldFromHBITMAP", 0x00170001,
       [] { NewGWorldFromHBITMAP(nullptr, nullptr, nullptr, 0, nullptr, nullptr); }},
      {"NewHandle", 0x00150008, [] { NewHandle(16); }},
      {"NewMovieTrack", 0x00020188, [] { NewMovieTrack(nullptr, 0, 0, 0); }},
      {"NewTrackMedia", 0x0002018E, [] { NewTrackMedia(nullptr, 0, 0, nullptr, 0); }},
      {"SetGWorld", 0x001C0007, [] { SetGWorld(nullptr, nullptr); }},
      {"c2pstrcpy", 0x00280019, [] { c2pstrcpy(nullptr, nullptr); }},
  };
  ASSERT_EQ(std::size(routines), 26u);
  BridgeRig rig;
  rig.MachineStore(RuntimeDir("good"));
  const std::string path = RuntimePath("good");
  EXPECT_EQ(InChild([&](Checks& c) {
              rig.Enter();
              c.Eq(InitializeQTML(0), 0, "InitializeQTML");
              void* runtime = dlopen(path.c_str(), RTLD_LAZY | RTLD_NOLOAD);
              auto lastSelector = reinterpret_cast<std::uint32_t (*)()>(
                  runtime != nullptr ? dlsym(runtime, "TestRuntimeLastSelector") : nullptr);
              c.True(lastSelector != nullptr, "the runtime tells its last selector");
              if (lastSelector == nullptr) return;
              c.Eq(lastSelector(), 0x001D0008u, "InitializeQTML's selector");
              for (const Routine& routine : routines) {
                routine.Call();
                std::ostringstream got;
                got << std::hex << lastSelector();
                std::ostringstream expected;
                expected << std::hex << routine.Selector;
                c.Eq(got.str(), expected.str(), std::string(routine.Name) + " selector");
              }
              dlclose(runtime);
              TerminateQTML();
            }),
            "");
}

TEST(Cinelink, AlreadyLoadedRuntimeIsUsedAndRebound) {
  BridgeRig rig;  // no store values: only the loaded library can be found
  const std::string path = RuntimePath("good");
  for (Probe probe : kProbes) {
    EXPECT_EQ(InChild([&](Checks& c) {
                rig.Enter();
                void* own = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
                c.True(own != nullptr, "test loads the runtime");
                c.Eq(InitializeQTML(0), 0, "InitializeQTML finds the loaded runtime");
                TerminateQTML();
                c.True(Loaded(path), "our own reference keeps it loaded");
                // Unbound after use: the next call runs Rebind first, which
                // binds the still-loaded runtime again.
                CheckArgumentsArrive(c, path, probe, "after Rebind");
                dlclose(own);
              }),
              "");
  }
}

TEST(Cinelink, LazyBindBeforeInitialisation) {
  BridgeRig rig;
  const std::string path = RuntimePath("good");
  // Loaded by someone else: the first call binds and keeps no reference.
  for (Probe probe : kProbes) {
    EXPECT_EQ(InChild([&](Checks& c) {
                rig.Enter();
                void* own = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
                CheckArgumentsArrive(c, path, probe, "after LazyBind");
                dlclose(own);
                c.True(!Loaded(path), "the lazy binding holds no reference");
              }),
              "");
  }
  // Only found by the search: the lazy binding cannot keep it, so the call
  // stays unbound instead of jumping into a freed library.
  rig.MachineStore(RuntimeDir("good"));
  EXPECT_EQ(InChild([&](Checks& c) {
              rig.Enter();
              c.Eq(EnterMovies(), kQtmlUnbound, "call before InitializeQTML");
              c.True(!Loaded(path), "nothing left loaded");
              c.Eq(InitializeQTML(0), 0, "InitializeQTML afterwards");
              c.Eq(EnterMovies(), -50, "bound after InitializeQTML");
              TerminateQTML();
            }),
            "");
}

// Whether /proc/locks shows a process waiting for a lock on `inode`.
bool SomeoneWaitsOn(ino_t inode) {
  std::ifstream locks("/proc/locks");
  std::string line;
  const std::string suffix = ":" + std::to_string(inode) + " ";
  while (std::getline(locks, line)) {
    if (line.find("->") != std::string::npos && line.find(suffix) != std::string::npos) return true;
  }
  return false;
}

TEST(Cinelink, InitialisationWaitsForTheNamedProcessLock) {
  BridgeRig rig;
  rig.MachineStore(RuntimeDir("good"));
  EXPECT_EQ(InChild([&](Checks& c) {
              rig.Enter();
              char name[64];
              std::snprintf(name, sizeof name, "QTMLInitTermMutex%lx",
                            static_cast<unsigned long>(getpid()));
              const std::string lockPath = rig.RunDir() + "/" + name;
              const int fd = open(lockPath.c_str(), O_RDWR | O_CREAT, 0600);
              c.True(fd >= 0 && flock(fd, LOCK_EX) == 0, "the test takes the lock by its name");
              struct stat st;
              fstat(fd, &st);
              pthread_t thread;
              pthread_create(
                  &thread, nullptr,
                  [](void*) -> void* {
                    InitializeQTML(0);
                    return nullptr;
                  },
                  nullptr);
              bool waiting = false;
              for (int i = 0; i < 1000 && !waiting; ++i) {
                waiting = SomeoneWaitsOn(st.st_ino);
                if (!waiting) usleep(10000);
              }
              c.True(waiting, "InitializeQTML waits for the lock");
              c.Eq(rig.Log(), std::string(), "nothing initialised while the lock is held");
              flock(fd, LOCK_UN);
              close(fd);
              pthread_join(thread, nullptr);
              c.Eq(rig.Log(), std::string("init 0\n"), "initialised once the lock is free");
              TerminateQTML();
              c.True(access(lockPath.c_str(), F_OK) != 0, "no lock file left behind");
            }),
            "");
}

std::string Octal(unsigned value) {
  char text[16];
  std::snprintf(text, sizeof text, "%o", value);
  return text;
}

// Takes an flock on `path` (created when missing) through a descriptor of
// its own; the file's inode, or 0 when that failed.
ino_t HoldLock(const std::string& path, int* fd) {
  *fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
  struct stat st {};
  if (*fd < 0 || flock(*fd, LOCK_EX) != 0 || fstat(*fd, &st) != 0) return 0;
  return st.st_ino;
}

// Without a trustworthy runtime folder the lock must not live where another
// user can create its name first: such a user holding that file's lock would
// make InitializeQTML wait forever. Here "another user" pre-creates the name
// the lock once had in /tmp (owned by nobody when the test runs as root) and
// holds its lock, and the lock's own folder was left open to everyone by an
// earlier careless run. InitializeQTML must still succeed, taking its lock in
// the user's private folder, which it leaves with mode 0700.
TEST(Cinelink, LockNeverLivesInASharedFolder) {
  // Once with no runtime folder at all, once with one that others may write.
  for (const bool sharedRuntimeDir : {false, true}) {
    BridgeRig rig;
    rig.MachineStore(RuntimeDir("good"));
    const std::string home = rig.Dir().Path() + "/home";
    const std::string folder = home + "/.cache/framory/cinelink";
    std::filesystem::create_directories(folder);
    chmod(folder.c_str(), 0777);
    const std::string loose = rig.Dir().Path() + "/loose";
    std::filesystem::create_directories(loose);
    chmod(loose.c_str(), 0777);
    EXPECT_EQ(InChild([&](Checks& c) {
                rig.Enter();
                unsetenv("XDG_CACHE_HOME");
                setenv("HOME", home.c_str(), 1);
                if (sharedRuntimeDir) {
                  setenv("XDG_RUNTIME_DIR", loose.c_str(), 1);
                } else {
                  unsetenv("XDG_RUNTIME_DIR");
                }
                char name[64];
                std::snprintf(name, sizeof name, "QTMLInitTermMutex%lx",
                              static_cast<unsigned long>(getpid()));
                const std::string hostilePath = std::string("/tmp/") + name;
                const std::string loosePath = loose + "/" + name;
                int hostileFd = -1, looseFd = -1, privateFd = -1;
                const ino_t hostile = HoldLock(hostilePath, &hostileFd);
                const ino_t looseHeld = HoldLock(loosePath, &looseFd);
                if (geteuid() == 0) {
                  chown(hostilePath.c_str(), 65534, 65534);
                  chown(loosePath.c_str(), 65534, 65534);
                }
                const ino_t own = HoldLock(folder + "/" + name, &privateFd);
                c.True(hostile != 0 && looseHeld != 0 && own != 0, "the test holds the locks");

                std::atomic<bool> done{false};
                std::atomic<int> result{1};
                std::thread init([&] {
                  result = InitializeQTML(0);
                  done = true;
                });
                // Until InitializeQTML is done: it may wait for the lock in the
                // private folder, which is then let go, never for another's.
                bool waitedForOwn = false;
                while (!done) {
                  for (auto [inode, fd, where] :
                       {std::tuple{hostile, &hostileFd, "/tmp"},
                        std::tuple{looseHeld, &looseFd, "the shared runtime folder"}}) {
                    if (*fd >= 0 && SomeoneWaitsOn(inode)) {
                      c.True(false, std::string("InitializeQTML waits for a lock in ") + where);
                      close(*fd);
                      *fd = -1;
                    }
                  }
                  if (privateFd >= 0 && SomeoneWaitsOn(own)) {
                    waitedForOwn = true;
                    close(privateFd);
                    privateFd = -1;
                  }
                  usleep(1000);
                }
                init.join();
                c.Eq(result.load(), 0, "InitializeQTML");
                c.True(waitedForOwn, "InitializeQTML took its lock in " + folder);
                c.Eq(rig.Log(), std::string("init 0\n"), "QuickTime initialised");
                struct stat st {};
                c.True(lstat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode), "the folder");
                c.Eq(Octal(st.st_mode & 07777), std::string("700"), "the lock folder's mode");
                c.Eq(st.st_uid, geteuid(), "the lock folder's owner");
                TerminateQTML();
                for (int fd : {hostileFd, looseFd, privateFd}) {
                  if (fd >= 0) close(fd);
                }
                unlink(hostilePath.c_str());
              }),
              "")
        << (sharedRuntimeDir ? "with a shared runtime folder" : "without a runtime folder");
  }
}

}  // namespace

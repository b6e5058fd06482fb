// The ways out of the program other than "Stop and Exit": quit signals turned
// into a request on the event loop, the exit handler that saves the work when
// the toolkit ends the process, and the journal of open clips that lets the
// next start find a clip a crash left behind.
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "app/ClipRecovery.h"
#include "app/EmergencyExit.h"
#include "app/QuitSignals.h"
#include "support/ChildProcess.h"
#include "support/ManualClock.h"
#include "support/TempDir.h"
#include "writers/ClipJournal.h"

namespace framory {
namespace {

using testing::ChildWaitStatus;
using testing::ReadWholeFile;
using testing::TempDir;
using testing::WriteWholeFile;

class FakeSocketWatch : public SocketWatch {
 public:
  void Watch(int fd, std::function<void()> onReadable) override { watched[fd] = onReadable; }
  void Unwatch(int fd) override { watched.erase(fd); }
  // Waits (bounded) until a watched descriptor is readable and serves it, as
  // the event loop would.
  bool Serve() {
    for (auto& [fd, callback] : watched) {
      pollfd p{fd, POLLIN, 0};
      if (poll(&p, 1, 5000) == 1) {
        callback();
        return true;
      }
    }
    return false;
  }
  std::map<int, std::function<void()>> watched;
};

TEST(QuitSignals, TermIntAndHupBecomeOneQuitRequestOnTheLoop) {
  FakeSocketWatch watch;
  std::vector<int> requests;
  {
    QuitSignals signals(watch, [&requests](int number) { requests.push_back(number); });
    ASSERT_TRUE(signals.Install());
    QuitSignals second(watch, [](int) {});
    EXPECT_FALSE(second.Install()) << "one set of handlers at a time";
    ASSERT_EQ(watch.watched.size(), 1u);

    for (int number : {SIGTERM, SIGINT, SIGHUP}) {
      requests.clear();
      ASSERT_EQ(raise(number), 0);  // handled: the test process goes on
      EXPECT_TRUE(requests.empty()) << "nothing happens inside the signal handler";
      ASSERT_TRUE(watch.Serve());
      EXPECT_EQ(requests, std::vector<int>{number});
    }
    // Signals that pile up before the loop gets to them make one request.
    requests.clear();
    raise(SIGTERM);
    raise(SIGHUP);
    ASSERT_TRUE(watch.Serve());
    EXPECT_EQ(requests, std::vector<int>{SIGHUP});
  }
  EXPECT_TRUE(watch.watched.empty());
  struct sigaction now;
  sigaction(SIGTERM, nullptr, &now);
  EXPECT_EQ(now.sa_handler, SIG_DFL) << "the previous disposition is back";
}

TEST(EmergencyExit, RunsOnceWhenSomeoneElseCallsExitAndNeverOnTheNormalPath) {
  TempDir dir;
  const std::string marks = dir.File("marks");
  const auto mark = [marks] {
    const int fd = open(marks.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
    [[maybe_unused]] const ssize_t n = write(fd, "ran\n", 4);
    close(fd);
  };

  // The toolkit's exit(1): the steps run, the status stays 1.
  int status = ChildWaitStatus([&] {
    EmergencyExit::Arm(mark);
    std::exit(1);
  });
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1);
  EXPECT_EQ(ReadWholeFile(marks), "ran\n");

  // The normal path disarms it before returning from main.
  std::remove(marks.c_str());
  status = ChildWaitStatus([&] {
    EmergencyExit::Arm(mark);
    EmergencyExit::Disarm();
    std::exit(0);
  });
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_EQ(ReadWholeFile(marks), "");

  // However often it is reached, the steps run once.
  status = ChildWaitStatus([&] {
    EmergencyExit::Arm(mark);
    const bool first = EmergencyExit::RunOnce();
    const bool again = EmergencyExit::RunOnce();
    std::exit(first && !again ? 0 : 2);
  });
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_EQ(ReadWholeFile(marks), "ran\n");
}

std::vector<std::string> Records(const std::string& folder) {
  std::vector<std::string> found;
  if (DIR* dir = opendir(folder.c_str())) {
    while (const dirent* e = readdir(dir)) {
      const std::string n = e->d_name;
      if (n.size() > 8 && n.substr(n.size() - 8) == ".journal") found.push_back(n);
    }
    closedir(dir);
  }
  return found;
}

TEST(ClipJournal, RecordsTheOpenClipUntilItIsFinishedAndHandsOutOnlyAbandonedOnes) {
  TempDir dir;
  const std::string folder = dir.File("state/framory");
  ClipJournal journal(folder);
  ASSERT_TRUE(journal.Begin("/clips/movie0.avi"));
  ASSERT_EQ(Records(folder).size(), 1u);
  EXPECT_EQ(ReadWholeFile(folder + "/" + Records(folder)[0]), "/clips/movie0.avi");
  // Another instance starting now leaves a clip that is being written alone.
  EXPECT_TRUE(ClipJournal(folder).TakeAbandoned().empty());
  EXPECT_EQ(Records(folder).size(), 1u);
  journal.End();
  EXPECT_TRUE(Records(folder).empty());

  // A process that dies with its clip open leaves the record; it is handed
  // out once, and a clip opened next by this process is not among them.
  const int status = ChildWaitStatus([&] {
    ClipJournal dying(folder);
    dying.Begin("/clips/movie 1\nwith a line break.avi");
    raise(SIGKILL);
  });
  EXPECT_TRUE(WIFSIGNALED(status));
  ASSERT_TRUE(journal.Begin("/clips/movie2.avi"));
  ClipJournal next(folder);
  EXPECT_EQ(next.TakeAbandoned(),
            std::vector<std::string>{"/clips/movie 1\nwith a line break.avi"});
  EXPECT_TRUE(next.TakeAbandoned().empty());
  EXPECT_EQ(Records(folder).size(), 1u);
  journal.End();
}

// Each record says what kind of clip it is, with the facts and the notes its
// repair needs; a record written before kinds existed (the bare path) is an
// AVI clip; notes appended while the clip records survive a kill.
TEST(ClipJournal, RecordsTheKindFactsAndNotesOfAClipAndReadsOldRecordsAsAvi) {
  TempDir dir;
  const std::string folder = dir.File("state");
  ASSERT_EQ(mkdir(folder.c_str(), 0700), 0);
  ASSERT_TRUE(WriteWholeFile(folder + "/clip-old.journal", "/clips/movie0.avi"));
  JournalledClip wmv;
  wmv.Path = "/clips/movie 1\nwith a line break.wmv";
  wmv.Kind = ClipKind::Asf;
  wmv.Facts = {{"type", "16"}, {"period-ms", "100"}};
  const std::string notes("\0\x01\xff\n=binary", 11);
  const int status = ChildWaitStatus([&] {
    ClipJournal dying(folder);
    if (!dying.Begin(wmv) || !dying.Note(notes.data(), 5) || !dying.Note(notes.data() + 5, 6)) {
      _exit(1);
    }
    raise(SIGKILL);
  });
  ASSERT_TRUE(WIFSIGNALED(status));
  JournalledClip cut;
  cut.Path = "/clips/movie2.mp4";
  cut.Kind = ClipKind::PlaysAsCut;
  ASSERT_TRUE(ClipJournal(folder).Leave(cut));

  std::vector<JournalledClip> taken = ClipJournal(folder).TakeAbandonedClips();
  ASSERT_EQ(taken.size(), 3u);
  std::sort(taken.begin(), taken.end(),
            [](const JournalledClip& a, const JournalledClip& b) { return a.Path < b.Path; });
  EXPECT_EQ(taken[0].Path, "/clips/movie 1\nwith a line break.wmv");
  EXPECT_EQ(taken[0].Kind, ClipKind::Asf);
  EXPECT_EQ(taken[0].Fact("type"), "16");
  EXPECT_EQ(taken[0].Fact("period-ms"), "100");
  EXPECT_EQ(taken[0].Fact("missing"), "");
  EXPECT_EQ(taken[0].Notes, notes);
  EXPECT_EQ(taken[1].Path, "/clips/movie0.avi");
  EXPECT_EQ(taken[1].Kind, ClipKind::Avi);
  EXPECT_TRUE(taken[1].Facts.empty());
  EXPECT_EQ(taken[2].Path, "/clips/movie2.mp4");
  EXPECT_EQ(taken[2].Kind, ClipKind::PlaysAsCut);

  // A record of an unknown kind, or a cut-off one, is not ours.
  ASSERT_TRUE(WriteWholeFile(folder + "/clip-a.journal", std::string("/c/m.xyz\0webm2\0", 16)));
  ASSERT_TRUE(WriteWholeFile(folder + "/clip-b.journal", std::string("/c/m.wmv\0asf", 12)));
  ASSERT_TRUE(
      WriteWholeFile(folder + "/clip-c.journal", std::string("/c/m.wmv\0asf\nnoequals\0", 23)));
  EXPECT_TRUE(ClipJournal(folder).TakeAbandonedClips().empty());
  // Without a record open there is nothing to note in.
  ClipJournal idle(folder);
  EXPECT_FALSE(idle.Note("x", 1));
}

TEST(ClipJournal, IgnoresWhatIsNotARecordAndSurvivesAnUnusableFolder) {
  TempDir dir;
  const std::string folder = dir.File("framory");
  ASSERT_EQ(mkdir(folder.c_str(), 0700), 0);
  ASSERT_EQ(mkfifo((folder + "/clip-fifo.journal").c_str(), 0600), 0);
  ASSERT_EQ(symlink("/etc/passwd", (folder + "/clip-link.journal").c_str()), 0);
  ASSERT_TRUE(WriteWholeFile(folder + "/clip-huge.journal", std::string(100000, 'x')));
  ASSERT_TRUE(WriteWholeFile(folder + "/clip-empty.journal", ""));
  ASSERT_TRUE(WriteWholeFile(folder + "/notes.txt", "/clips/not-a-record.avi"));
  // No hang on the FIFO, nothing followed through the link, nothing handed out.
  EXPECT_TRUE(ClipJournal(folder).TakeAbandoned().empty());
  EXPECT_EQ(ReadWholeFile(folder + "/notes.txt"), "/clips/not-a-record.avi");

  // The journal folder cannot be made: recording goes on without a record.
  ASSERT_TRUE(WriteWholeFile(dir.File("file"), "a file where the folder would be"));
  ClipJournal blocked(dir.File("file/framory"));
  EXPECT_FALSE(blocked.Begin("/clips/movie0.avi"));
  EXPECT_FALSE(blocked.Open());
  EXPECT_TRUE(blocked.TakeAbandoned().empty());
}

// The notes of a clip reach the disk at once after a quiet spell, then once
// a second while they keep coming (never later, never more often), notes
// written while a sync runs wait for the next, and the clip's last notes
// go at once.
TEST(ClipJournal, NotesAreSyncedAtOnceThenOnceASecondAndTheLastOnesAtOnce) {
  constexpr std::int64_t kMs = 1'000'000;
  testing::ManualClock clock;
  auto now = [&] { return clock.NowNanoseconds(); };
  JournalSyncPace pace;
  EXPECT_EQ(pace.DueAt(), JournalSyncPace::kNoSync) << "nothing noted, nothing to sync";

  pace.Noted(now());
  EXPECT_EQ(pace.DueAt(), now()) << "the first note is synced at once";
  const std::int64_t firstSync = now();
  pace.Syncing(firstSync);
  EXPECT_EQ(pace.DueAt(), JournalSyncPace::kNoSync);

  // A note every 40 ms (a MOV clip at 25 frames a second): one sync a
  // second, each covering every note before it.
  std::int64_t lastSync = firstSync;
  int syncs = 0;
  for (int frame = 1; frame <= 125; ++frame) {
    clock.AdvanceMilliseconds(40);
    pace.Noted(now());
    ASSERT_NE(pace.DueAt(), JournalSyncPace::kNoSync) << "frame " << frame;
    EXPECT_LE(pace.DueAt(), lastSync + 1000 * kMs) << "a note waits past a second";
    if (pace.DueAt() <= now()) {
      EXPECT_GE(now() - lastSync, 1000 * kMs) << "synced more than once a second";
      lastSync = now();
      pace.Syncing(now());
      ++syncs;
    }
  }
  EXPECT_EQ(syncs, 5) << "five seconds of notes";

  // A note written while a sync runs is not covered by it.
  clock.AdvanceMilliseconds(1000);
  pace.Noted(now());
  pace.Syncing(now());
  clock.AdvanceMilliseconds(10);
  pace.Noted(now());
  EXPECT_EQ(pace.DueAt(), now() - 10 * kMs + 1000 * kMs);

  // The clip ends: its last notes go now, without waiting for the pace.
  pace.Hurry();
  EXPECT_EQ(pace.DueAt(), now());
  pace.Syncing(now());
  pace.Hurry();
  EXPECT_EQ(pace.DueAt(), JournalSyncPace::kNoSync) << "nothing left, nothing to hurry";

  // After a quiet spell the next note goes at once again; an ended record
  // leaves nothing to sync.
  clock.AdvanceMilliseconds(5000);
  pace.Noted(now());
  EXPECT_EQ(pace.DueAt(), now());
  pace.Forget();
  EXPECT_EQ(pace.DueAt(), JournalSyncPace::kNoSync);
}

TEST(ClipRecovery, TheBoxNamesRepairedAndUnrepairableClipsApart) {
  EXPECT_EQ(ClipRecovery::Message({}, {}), "");
  EXPECT_EQ(ClipRecovery::Message({"/p/movie3.avi"}, {}),
            "The last movie clip was not finished when Framory ended. It has been repaired and "
            "keeps every frame that was written:\n/p/movie3.avi");
  EXPECT_EQ(ClipRecovery::Message({"/p/movie3.avi", "/q/movie0.avi"}, {"/r/movie1.avi"},
                                  {"/s/movie2.avi"}),
            "These movie clips were not finished when Framory ended. They have been repaired and "
            "keep every frame that was written:\n/p/movie3.avi\n/q/movie0.avi\n\n"
            "This movie clip was not finished when Framory ended and could not be repaired now: "
            "it cannot be written (is the disk full, or the file read-only?). Framory will try "
            "again at the next start:\n/s/movie2.avi\n\n"
            "This movie clip was not finished when Framory ended and could not be repaired. It "
            "was left as it is:\n/r/movie1.avi");
}

TEST(ClipJournal, ALeftRecordIsTakenUpByTheNextStart) {
  TempDir dir;
  ClipJournal journal(dir.Path());
  ASSERT_TRUE(journal.Begin("/clips/open.avi"));
  ASSERT_TRUE(journal.Leave("/clips/retry.avi"));
  EXPECT_TRUE(journal.Open()) << "leaving a record does not end the open one";
  EXPECT_EQ(ClipJournal(dir.Path()).TakeAbandoned(), std::vector<std::string>{"/clips/retry.avi"});
  journal.End();
}

}  // namespace
}  // namespace framory

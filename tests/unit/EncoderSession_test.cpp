// What the encoder session tells the encoder and in which order, checked
// against a scripted encoder that logs every call: the rectangle rounding,
// the property-bag rules, the profile (content type, audience, frame-rate
// values), the result rules of Configure, the destructor's order, and the
// merge's result rules. The real encoder's output is checked by the X11
// tests; this file covers the choices only the session makes.
#include "writers/EncoderSession.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>

#include "capture/WriterFailureBoxes.h"
#include "support/RecorderFakes.h"

namespace framory {
namespace {

using testing::FakeBoxes;
using Log = std::vector<std::string>;

// Every call lands in one log as "Object.Call(arguments)"; a call named in
// `failing` returns E_FAIL.
struct Script {
  Log log;
  std::set<std::string> failing;
  // What the encoder says when its prepare failed.
  EncoderFailureKind failureKind = EncoderFailureKind::Unknown;
  HResult Call(const std::string& entry) {
    log.push_back(entry);
    const std::string name = entry.substr(0, entry.find('('));
    return failing.count(name) || failing.count(entry) ? EncoderResult::Fail : EncoderResult::Ok;
  }
};

std::string Args(std::initializer_list<std::string> parts) {
  std::string out = "(";
  for (const std::string& part : parts) out += (out.size() > 1 ? "," : "") + part;
  return out + ")";
}
std::string N(std::int32_t value) { return std::to_string(value); }

struct ScriptedBag : EncoderPropertyBag {
  explicit ScriptedBag(Script& s) : script(s) {}
  HResult WriteBool(const std::string& name, bool value) override {
    return script.Call("Bag.Write" + Args({name, value ? "true" : "false"}));
  }
  HResult WriteLong(const std::string& name, std::int32_t value) override {
    return script.Call("Bag.Write" + Args({name, N(value)}));
  }
  Script& script;
};

struct ScriptedSource : EncoderSource {
  ScriptedSource(Script& s, std::int32_t t) : script(s), type(t), bag(s) {}
  HResult SetInput(const std::string& input, const std::string& scheme,
                   const std::string& init) override {
    return script.Call("Source.SetInput" + Args({input, scheme, init}));
  }
  EncoderPropertyBag* PropertyBag() override { return type == kEncoderVideo ? &bag : nullptr; }
  Script& script;
  std::int32_t type;
  ScriptedBag bag;
};

struct ScriptedGroup : EncoderSourceGroup, EncoderSourceGroupCollection {
  explicit ScriptedGroup(Script& s) : script(s) {}
  HResult Add(const std::string& name, EncoderSourceGroup** group) override {
    *group = this;
    return script.Call("Groups.Add" + Args({name}));
  }
  HResult AddSource(std::int32_t type, EncoderSource** source) override {
    sources.push_back(std::make_unique<ScriptedSource>(script, type));
    *source = sources.back().get();
    return script.Call("Group.AddSource" + Args({N(type)}));
  }
  HResult SetProfile(EncoderProfile*) override { return script.Call("Group.SetProfile()"); }
  Script& script;
  std::vector<std::unique_ptr<ScriptedSource>> sources;
};

struct ScriptedEncoder : MediaEncoder, EncoderFile, EncoderBroadcast {
  explicit ScriptedEncoder(Script& s) : script(s), group(s) {}
  HResult SourceGroupCollection(EncoderSourceGroupCollection** c) override {
    *c = &group;
    return script.Call("Encoder.SourceGroupCollection()");
  }
  HResult File(EncoderFile** f) override {
    *f = this;
    return script.Call("Encoder.File()");
  }
  HResult Broadcast(EncoderBroadcast** b) override {
    *b = this;
    return script.Call("Encoder.Broadcast()");
  }
  HResult SetLocalFileName(const std::string& path) override {
    return script.Call("File.SetLocalFileName" + Args({path}));
  }
  HResult SetPortNumber(std::int32_t protocol, std::int32_t port) override {
    return script.Call("Broadcast.SetPortNumber" + Args({N(protocol), N(port)}));
  }
  HResult PrepareToEncode(bool on) override {
    return script.Call(std::string("Encoder.PrepareToEncode(") + (on ? "true)" : "false)"));
  }
  HResult Start() override { return script.Call("Encoder.Start()"); }
  HResult Pause() override { return script.Call("Encoder.Pause()"); }
  HResult Stop() override { return script.Call("Encoder.Stop()"); }
  EncoderFailureKind LastFailureKind() const override { return script.failureKind; }
  Script& script;
  ScriptedGroup group;
};

struct ScriptedAudience : EncoderAudience {
  explicit ScriptedAudience(Script& s) : script(s) {}
  HResult SetVideoCodec(std::int32_t st, std::int32_t v) override {
    return script.Call("Audience.SetVideoCodec" + Args({N(st), N(v)}));
  }
  HResult SetVideoWidth(std::int32_t st, std::int32_t v) override {
    return script.Call("Audience.SetVideoWidth" + Args({N(st), N(v)}));
  }
  HResult SetVideoHeight(std::int32_t st, std::int32_t v) override {
    return script.Call("Audience.SetVideoHeight" + Args({N(st), N(v)}));
  }
  HResult SetVideoBufferWindow(std::int32_t st, std::int32_t v) override {
    return script.Call("Audience.SetVideoBufferWindow" + Args({N(st), N(v)}));
  }
  HResult SetVideoFps(std::int32_t st, std::int32_t v) override {
    return script.Call("Audience.SetVideoFps" + Args({N(st), N(v)}));
  }
  HResult SetVideoImageSharpness(std::int32_t st, std::int32_t v) override {
    return script.Call("Audience.SetVideoImageSharpness" + Args({N(st), N(v)}));
  }
  Script& script;
};

struct ScriptedProfile : EncoderProfile {
  explicit ScriptedProfile(Script& s) : script(s), audience(s) {}
  ~ScriptedProfile() override { script.log.push_back("Profile.Release()"); }
  HResult SetValidateMode(bool) override { return script.Call("Profile.SetValidateMode(true)"); }
  HResult SetName(const std::string& n) override {
    return script.Call("Profile.SetName" + Args({n}));
  }
  HResult SetDescription(const std::string& d) override {
    return script.Call("Profile.SetDescription" + Args({d}));
  }
  HResult SetContentType(std::int32_t t) override {
    return script.Call("Profile.SetContentType" + Args({N(t)}));
  }
  HResult SetVideoBitrateMode(std::int32_t st, std::int32_t m) override {
    return script.Call("Profile.SetVideoBitrateMode" + Args({N(st), N(m)}));
  }
  HResult FindCodecIndex(std::int32_t type, const std::string& fourCC,
                         std::int32_t* index) override {
    *index = 7;
    return script.Call("Profile.FindCodecIndex" + Args({N(type), fourCC}));
  }
  HResult AddAudience(std::int32_t bits, EncoderAudience** a) override {
    *a = &audience;
    return script.Call("Profile.AddAudience" + Args({N(bits)}));
  }
  HResult Validate() override { return script.Call("Profile.Validate()"); }
  Script& script;
  ScriptedAudience audience;
};

// What the stream editor answers at one poll of a running merge.
struct EditorPoll {
  std::int32_t running = 1;
  std::int32_t progress = 0;
  bool runStateFails = false;
  bool progressFails = false;
};

struct ScriptedEditor : EncoderStreamEditor {
  explicit ScriptedEditor(Script& s) : script(s) {}
  HResult SetOutputFile(const std::string& p) override {
    return script.Call("Editor.SetOutputFile" + Args({p}));
  }
  HResult AddStream(const std::string& p, std::int32_t type, std::int32_t language, std::int32_t,
                    std::int32_t, std::int32_t, std::int32_t) override {
    return script.Call("Editor.AddStream" + Args({p, N(type), N(language)}));
  }
  HResult Validate() override { return script.Call("Editor.Validate()") < 0 ? checkResult : 0; }
  HResult Start() override { return script.Call("Editor.Start()"); }
  // With `polls`, each RunState starts the next poll's answers (the last
  // one holds); without, every poll answers `running` and `progress`.
  HResult RunState(std::int32_t* state) override {
    if (!polls.empty()) {
      current = polls[std::min(runStates, polls.size() - 1)];
      ++runStates;
      *state = current.running;
      const HResult result = script.Call("Editor.RunState()");
      return current.runStateFails ? EncoderResult::Fail : result;
    }
    *state = running;
    return script.Call("Editor.RunState()");
  }
  HResult Progress(std::int32_t* percent) override {
    if (!polls.empty()) {
      *percent = current.progress;
      const HResult result = script.Call("Editor.Progress()");
      return current.progressFails ? EncoderResult::Fail : result;
    }
    *percent = progress;
    return script.Call("Editor.Progress()");
  }
  HResult Stop() override { return script.Call("Editor.Stop()"); }
  Script& script;
  HResult checkResult = EncoderResult::Fail;
  std::int32_t running = 0, progress = 100;
  std::vector<EditorPoll> polls;
  std::size_t runStates = 0;
  EditorPoll current;
};

struct ScriptedLibrary : MediaEncoderLibrary {
  HResult CreateEncoder(std::unique_ptr<MediaEncoder>* encoder) override {
    if (script.Call("CreateEncoder()") < 0) return EncoderResult::Fail;
    *encoder = std::make_unique<ScriptedEncoder>(script);
    return 0;
  }
  HResult CreateProfile(std::unique_ptr<EncoderProfile>* profile) override {
    if (script.Call("CreateProfile()") < 0) return EncoderResult::Fail;
    *profile = std::make_unique<ScriptedProfile>(script);
    return 0;
  }
  HResult CreateStreamEditor(std::unique_ptr<EncoderStreamEditor>* editor) override {
    if (script.Call("CreateStreamEditor()") < 0) return EncoderResult::Fail;
    auto made = std::make_unique<ScriptedEditor>(script);
    made->checkResult = checkResult;
    made->running = editorRunning;
    made->progress = editorProgress;
    made->polls = editorPolls;
    *editor = std::move(made);
    return 0;
  }
  Script script;
  HResult checkResult = EncoderResult::Fail;
  std::int32_t editorRunning = 0, editorProgress = 100;
  std::vector<EditorPoll> editorPolls;
};

std::vector<std::string> Matching(const Log& log, const std::string& prefix) {
  std::vector<std::string> out;
  for (const std::string& entry : log)
    if (entry.rfind(prefix, 0) == 0) out.push_back(entry);
  return out;
}

TEST(EncoderSessionTest, CaptureRectIsRoundedInwardToEvenValuesAndBadOnesAreIgnored) {
  ScriptedLibrary library;
  FakeBoxes boxes;
  WriterFailureBoxes reports{boxes};
  EncoderSession session(library, reports);
  EXPECT_TRUE(session.WholeScreen());
  EXPECT_EQ(session.CaptureRect(), (Rect{-1, -1, -1, -1}));
  EXPECT_EQ(session.FramesPerSecond(), 10.0);
  EXPECT_TRUE(session.RecordAudio() && session.RecordVideo() && !session.Broadcast());
  for (const Rect& bad :
       {Rect{-1, 0, 10, 10}, Rect{0, -2, 10, 10}, Rect{10, 0, 9, 10}, Rect{0, 10, 10, 9}}) {
    session.SetCaptureRect(bad);
    EXPECT_TRUE(session.WholeScreen());
  }
  session.SetCaptureRect(Rect{101, 51, 700, 501});
  EXPECT_EQ(session.CaptureRect(), (Rect{102, 52, 700, 500}));
  EXPECT_FALSE(session.WholeScreen());
  EXPECT_TRUE(library.script.log.empty()) << "a stored rectangle reaches no encoder";
}

TEST(EncoderSessionTest, ConfigureBuildsTheScreenEncoderInItsOrder) {
  ScriptedLibrary library;
  FakeBoxes boxes;
  WriterFailureBoxes reports{boxes};
  {
    EncoderSession session(library, reports);
    session.SetCaptureRect(Rect{101, 51, 700, 501});
    session.SetFramesPerSecond(1000.0 / 30);
    ASSERT_EQ(session.Configure("/tmp/movie1.wmv"), 0);
    EXPECT_TRUE(boxes.shown.empty());
  }
  const Log expected = {
      "CreateEncoder()", "Encoder.SourceGroupCollection()", "Groups.Add(SourceGroup1)",
      "Group.AddSource(1)", "Source.SetInput(Device://Default_Audio_Device,,)",
      "Group.AddSource(2)", "Source.SetInput(ScreenCap://ScreenCapture1,,)",
      "Bag.Write(Screen,false)", "Bag.Write(Left,102)", "Bag.Write(Right,700)", "Bag.Write(Top,52)",
      "Bag.Write(Bottom,500)", "Bag.Write(FlashRect,true)", "CreateProfile()",
      "Profile.SetValidateMode(true)", "Profile.SetName(Custom Screen Capture Profile)",
      "Profile.SetDescription(A Custom Video Profile For Screen Capture)",
      "Profile.SetContentType(17)", "Profile.FindCodecIndex(1,MPG3)", "Profile.AddAudience(400000)",
      "Profile.FindCodecIndex(2,MSS2)", "Audience.SetVideoCodec(0,7)",
      "Audience.SetVideoWidth(0,0)", "Audience.SetVideoHeight(0,0)",
      "Audience.SetVideoBufferWindow(0,5000)", "Audience.SetVideoFps(0,33333)",
      "Audience.SetVideoImageSharpness(0,95)", "Profile.Validate()", "Group.SetProfile()",
      "Encoder.File()", "File.SetLocalFileName(/tmp/movie1.wmv)", "Encoder.PrepareToEncode(true)",
      // Destruction: the profile first, then the encoder out of encoding.
      "Profile.Release()", "Encoder.PrepareToEncode(false)", "Encoder.Stop()"};
  EXPECT_EQ(library.script.log, expected);
}

TEST(EncoderSessionTest, ContentTypeFrameRateAndBroadcastFollowTheFields) {
  struct Case {
    bool audio, video, broadcast;
    double fps;
    std::vector<std::string> expected;
  };
  const Case cases[] = {
      {false,
       true,
       false,
       10.0,
       {"Profile.SetContentType(16)", "Profile.SetVideoBitrateMode(0,1)",
        "Audience.SetVideoFps(0,10000)"}},
      {true, false, false, 10.0, {"Profile.SetContentType(1)"}},
      {false,
       true,
       true,
       1.0,
       {"Profile.SetContentType(16)", "Profile.SetVideoBitrateMode(0,1)",
        "Audience.SetVideoFps(0,1000)", "Broadcast.SetPortNumber(1,8080)"}},
  };
  for (const Case& c : cases) {
    ScriptedLibrary library;
    FakeBoxes boxes;
    WriterFailureBoxes reports{boxes};
    EncoderSession session(library, reports);
    session.SetRecordAudio(c.audio);
    session.SetRecordVideo(c.video);
    session.SetBroadcast(c.broadcast);
    session.SetFramesPerSecond(c.fps);
    ASSERT_EQ(session.Configure(c.broadcast ? "" : "/tmp/x.wmv"), 0);
    std::vector<std::string> got;
    for (const char* prefix : {"Profile.SetContentType", "Profile.SetVideoBitrateMode",
                               "Audience.SetVideoFps", "Broadcast."})
      for (const std::string& entry : Matching(library.script.log, prefix)) got.push_back(entry);
    EXPECT_EQ(got, c.expected);
    // No video: no screen-capture source and no property bag.
    EXPECT_EQ(Matching(library.script.log, "Bag.").empty(), !c.video);
    EXPECT_EQ(Matching(library.script.log, "Encoder.File").empty(), c.broadcast);
    // A session that never got a rectangle writes only "Screen" = true.
    if (c.video) {
      EXPECT_EQ(Matching(library.script.log, "Bag."), (Log{"Bag.Write(Screen,true)"}));
    }
  }
}

TEST(EncoderSessionTest, FailuresFollowTheResultRules) {
  // Nothing is downloaded on Linux: without a known reason the box points
  // at the terminal output, which names it.
  const std::string box =
      "Unable to use the screen encoder. It could not be set up; Framory's terminal output "
      "(stderr) names the reason.";
  {
    // No encoder: E_FAIL and the box; starting and pausing do nothing.
    ScriptedLibrary library;
    library.script.failing = {"CreateEncoder"};
    FakeBoxes boxes;
    WriterFailureBoxes reports{boxes};
    EncoderSession session(library, reports);
    EXPECT_EQ(session.Configure("/tmp/x.wmv"), EncoderResult::Fail);
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].text, box);
    EXPECT_EQ(boxes.shown[0].caption, "Error");
    EXPECT_EQ(boxes.shown[0].flags, MessageBoxFlags::SystemModal | MessageBoxFlags::IconError);
    session.StartEncoding();
    session.PauseEncoding();
    EXPECT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(library.script.log, (Log{"CreateEncoder()"}));
  }
  {
    // A failing "Left" ends the rectangle's writes unreported; the failed
    // audio input is ignored; a failed prepare is the result, and a failed
    // start shows its own box.
    ScriptedLibrary library;
    library.script.failing = {"Bag.Write(Left,102)",
                              "Source.SetInput(Device://Default_Audio_Device,,)",
                              "Encoder.PrepareToEncode(true)", "Encoder.Start"};
    FakeBoxes boxes;
    WriterFailureBoxes reports{boxes};
    EncoderSession session(library, reports);
    session.SetCaptureRect(Rect{101, 51, 700, 501});
    EXPECT_EQ(session.Configure("/tmp/x.wmv"), EncoderResult::Fail);
    EXPECT_EQ(Matching(library.script.log, "Bag."),
              (Log{"Bag.Write(Screen,false)", "Bag.Write(Left,102)"}));
    EXPECT_FALSE(Matching(library.script.log, "Profile.Validate").empty());
    session.StartEncoding();
    ASSERT_EQ(boxes.shown.size(), 2u);
    EXPECT_EQ(boxes.shown[1].text, "Unable to start using Windows Media Encoder 9.");
    EXPECT_EQ(boxes.shown[1].flags, MessageBoxFlags::IconError);
  }
  {
    // A profile call that fails makes Configure fail with E_FAIL at once.
    ScriptedLibrary library;
    library.script.failing = {"Audience.SetVideoFps"};
    FakeBoxes boxes;
    WriterFailureBoxes reports{boxes};
    EncoderSession session(library, reports);
    EXPECT_EQ(session.Configure("/tmp/x.wmv"), EncoderResult::Fail);
    EXPECT_TRUE(Matching(library.script.log, "Group.SetProfile").empty());
    EXPECT_TRUE(Matching(library.script.log, "Encoder.PrepareToEncode(true)").empty());
  }
}

TEST(EncoderSessionTest, ConfigureBoxNamesAKnownReasonAndTheStartBoxStays) {
  const std::pair<EncoderFailureKind, std::string> cases[] = {
      {EncoderFailureKind::NoSoundServer,
       "Unable to use the screen encoder. No sound server is running to record from: start "
       "PulseAudio or PipeWire (pipewire-pulse), or untick \"Record Sound as Well\" under "
       "\"Settings..\"."},
      {EncoderFailureKind::BroadcastPortTaken,
       "Unable to use the screen encoder. TCP port 8080, on which the broadcast is served, is "
       "taken by another program."},
      {EncoderFailureKind::NoDisplay,
       "Unable to use the screen encoder. The X display cannot be opened to capture the "
       "screen."},
  };
  for (const auto& [kind, text] : cases) {
    ScriptedLibrary library;
    library.script.failing = {"Encoder.PrepareToEncode(true)", "Encoder.Start"};
    library.script.failureKind = kind;
    FakeBoxes boxes;
    WriterFailureBoxes reports{boxes};
    EncoderSession session(library, reports);
    EXPECT_EQ(session.Configure("/tmp/x.wmv"), EncoderResult::Fail);
    session.StartEncoding();
    ASSERT_EQ(boxes.shown.size(), 2u) << text;
    EXPECT_EQ(boxes.shown[0].text, text);
    EXPECT_EQ(boxes.shown[0].caption, "Error");
    EXPECT_EQ(boxes.shown[0].text.find("download"), std::string::npos);
    EXPECT_EQ(boxes.shown[1].text, "Unable to start using Windows Media Encoder 9.");
  }
}

TEST(EncoderSessionTest, MergeSucceedsOnlyWhenTheEditorFinished) {
  FakeBoxes boxes;
  WriterFailureBoxes reports{boxes};
  {
    ScriptedLibrary library;
    library.script.failing = {"CreateStreamEditor"};
    EXPECT_FALSE(EncoderSession::MergeSoundTrack(library, reports, "v", "a", "m"));
    EXPECT_TRUE(boxes.shown.empty());
  }
  {
    ScriptedLibrary library;
    library.checkResult = EncoderResult::OutputIsInput;
    library.script.failing = {"Editor.Validate"};
    EXPECT_FALSE(EncoderSession::MergeSoundTrack(library, reports, "v", "a", "m"));
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].text, "Output file is used as input");
    EXPECT_EQ(Matching(library.script.log, "Editor.").back(), "Editor.Stop()");
    EXPECT_TRUE(Matching(library.script.log, "Editor.Start").empty());
  }
  {
    // The run ended without reaching the end: the merged file is not there.
    ScriptedLibrary library;
    library.editorProgress = 40;
    EXPECT_FALSE(EncoderSession::MergeSoundTrack(library, reports, "v", "a", "m"));
  }
  {
    ScriptedLibrary library;
    library.script.failing = {"Editor.RunState"};
    library.editorRunning = 1;
    EXPECT_FALSE(EncoderSession::MergeSoundTrack(library, reports, "v", "a", "m"));
  }
  {
    ScriptedLibrary library;
    EXPECT_TRUE(EncoderSession::MergeSoundTrack(library, reports, "v", "a", "m"));
    EXPECT_EQ(Matching(library.script.log, "Editor."),
              (Log{"Editor.SetOutputFile(m)", "Editor.AddStream(a,1,1033)",
                   "Editor.AddStream(v,2,1033)", "Editor.Validate()", "Editor.Start()",
                   "Editor.RunState()", "Editor.Progress()", "Editor.Stop()"}));
  }
  {
    // A merge takes several polls: it is done only once the editor says so.
    ScriptedLibrary library;
    library.editorPolls = {{1, 20}, {1, 60}, {0, 100}};
    EXPECT_TRUE(EncoderSession::MergeSoundTrack(library, reports, "v", "a", "m"));
    EXPECT_EQ(Matching(library.script.log, "Editor.RunState").size(), 3u);
    EXPECT_EQ(Matching(library.script.log, "Editor.").back(), "Editor.Stop()");
  }
  {
    // 99 % counts as done, though the editor still runs: polling stops there.
    // (Polled once more, this editor would fail.)
    ScriptedLibrary library;
    library.editorPolls = {{1, 30}, {1, 99}, {1, 99, true}};
    EXPECT_TRUE(EncoderSession::MergeSoundTrack(library, reports, "v", "a", "m"));
    EXPECT_EQ(Matching(library.script.log, "Editor.RunState").size(), 2u);
    EXPECT_EQ(Matching(library.script.log, "Editor.").back(), "Editor.Stop()");
  }
  for (const EditorPoll& failure :
       {EditorPoll{1, 50, true, false}, EditorPoll{1, 50, false, true}}) {
    // A call that fails midway ends the polling; the merged file is not whole.
    ScriptedLibrary library;
    library.editorPolls = {{1, 30}, failure, {0, 100}};
    EXPECT_FALSE(EncoderSession::MergeSoundTrack(library, reports, "v", "a", "m"));
    EXPECT_EQ(Matching(library.script.log, "Editor.RunState").size(), 2u);
    EXPECT_EQ(Matching(library.script.log, "Editor.").back(), "Editor.Stop()");
  }
  {
    // A missing path: nothing is made.
    ScriptedLibrary library;
    EXPECT_FALSE(EncoderSession::MergeSoundTrack(library, reports, "v", "", "m"));
    EXPECT_TRUE(library.script.log.empty());
  }
}

TEST(EncoderSessionTest, MergeErrorTableNamesEachCheckFailure) {
  const std::map<std::uint32_t, std::string> table = {
      {0x80070002, "File could not be found."},
      {0xC00D1B98, "Missing Audience"},
      {0xC00D1B9C, "Language Mismatch"},
      {0xC00D1B84, "Output file is used as input"},
      {0xC00D1B9F, "Invalid input language"},
      {0xC00D0026, "Unknown stream type"},
      {0xC00D002F, "Invalid or corrupt data"},
      {0xC00D1B5B, "Unsupported source type"},
      {0x80004005, "Other problem with source files"}};
  FakeBoxes boxes;
  WriterFailureBoxes reports{boxes};
  EncoderSession::ReportMergeError(reports, 0);
  EncoderSession::ReportMergeError(reports, 1);
  EXPECT_TRUE(boxes.shown.empty());
  for (const auto& [code, text] : table) {
    EncoderSession::ReportMergeError(reports, static_cast<HResult>(code));
    ASSERT_FALSE(boxes.shown.empty());
    EXPECT_EQ(boxes.shown.back().text, text);
    EXPECT_EQ(boxes.shown.back().caption, "Could Not Mix Video and Audio");
    EXPECT_EQ(boxes.shown.back().flags, MessageBoxFlags::SystemModal | MessageBoxFlags::IconError);
  }
}

}  // namespace
}  // namespace framory

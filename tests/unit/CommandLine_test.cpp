#include "app/CommandLine.h"

#include <gtest/gtest.h>

namespace framory {
namespace {

CommandLine Parse(std::vector<std::string> arguments) {
  arguments.insert(arguments.begin(), "framory");
  return ParseCommandLine(arguments);
}

TEST(CommandLineTest, HelpAndVersionWinWhereverTheyStand) {
  EXPECT_EQ(Parse({}).What, CommandLine::Action::Run);
  EXPECT_EQ(Parse({"--help"}).What, CommandLine::Action::Help);
  EXPECT_EQ(Parse({"-h"}).What, CommandLine::Action::Help);
  EXPECT_EQ(Parse({"-display", ":3", "--version"}).What, CommandLine::Action::Version);
  EXPECT_NE(HelpText().find("--version"), std::string::npos);
  EXPECT_EQ(VersionText().rfind("framory ", 0), 0u);
}

TEST(CommandLineTest, ToolkitOptionsPassWithTheirValues) {
  CommandLine spaced = Parse({"-display", ":7", "-platform", "offscreen"});
  EXPECT_EQ(spaced.What, CommandLine::Action::Run);
  EXPECT_EQ(spaced.Display, ":7");
  EXPECT_EQ(spaced.Platform, "offscreen");
  CommandLine joined = Parse({"--display=:8", "--platform=xcb"});
  EXPECT_EQ(joined.What, CommandLine::Action::Run);
  EXPECT_EQ(joined.Display, ":8");
  EXPECT_EQ(joined.Platform, "xcb");
}

TEST(CommandLineTest, AnythingElseIsOneLineOfError) {
  for (const std::vector<std::string>& bad : {std::vector<std::string>{"--frobnicate"},
                                              {"-x"},
                                              {"movie.avi"},
                                              {"-display"},
                                              {"--platform="},
                                              {"-platform", "xcb", "--bogus"}}) {
    CommandLine result = Parse(bad);
    EXPECT_EQ(result.What, CommandLine::Action::Error) << bad.back();
    EXPECT_FALSE(result.Error.empty());
    EXPECT_EQ(result.Error.find('\n'), std::string::npos);
  }
  EXPECT_NE(Parse({"--frobnicate"}).Error.find("--frobnicate"), std::string::npos);
}

TEST(CommandLineTest, RemoteOptionsNameOneCommandForTheDisplayGiven) {
  const CommandLine toggle = Parse({"-display", ":5", "--toggle-recording"});
  EXPECT_EQ(toggle.What, CommandLine::Action::Remote);
  EXPECT_EQ(toggle.Command, RemoteCommand::ToggleRecording);
  EXPECT_EQ(toggle.Display, ":5");
  EXPECT_EQ(Parse({"--toggle-view"}).Command, RemoteCommand::ToggleOptionsView);
  EXPECT_EQ(Parse({"--shot"}).Command, RemoteCommand::TakeShot);
  EXPECT_EQ(Parse({"--quit"}).Command, RemoteCommand::Quit);
  EXPECT_EQ(Parse({"--status", "--status"}).Command, RemoteCommand::GetStatus);
  // Two different commands in one call: which one first would be a guess.
  const CommandLine both = Parse({"--shot", "--quit"});
  EXPECT_EQ(both.What, CommandLine::Action::Error);
  EXPECT_NE(both.Error.find("--shot"), std::string::npos);
  EXPECT_NE(both.Error.find("--quit"), std::string::npos);
  EXPECT_EQ(Parse({"--status", "--help"}).What, CommandLine::Action::Help);
  // The help text (and so the manual page) lists every one of them.
  for (const char* option :
       {"--toggle-recording", "--toggle-view", "--shot", "--quit", "--status"}) {
    EXPECT_NE(HelpText().find(option), std::string::npos) << option;
  }
}

}  // namespace
}  // namespace framory

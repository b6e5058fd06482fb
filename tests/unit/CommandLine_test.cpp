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

}  // namespace
}  // namespace framory

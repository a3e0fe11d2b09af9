// Tagvert: tests of the command line's argument parsing and default names.
// SPDX-License-Identifier: Apache-2.0
#include "cli/arguments.h"

#include <gtest/gtest.h>

namespace tagvert::cli {
namespace {

TEST(ParseArgumentsTest, ToIfWithOutputAndDirection) {
  const auto r = ParseArguments({"to-if", "a.ttx", "-o", "b.if", "--direction", "0x00040000"});
  ASSERT_TRUE(r.ok()) << r.error;
  EXPECT_EQ(r.options.command, Command::ToIf);
  EXPECT_EQ(r.options.inputs, std::vector<std::string>{"a.ttx"});
  EXPECT_EQ(r.options.output, "b.if");
  EXPECT_EQ(r.options.direction, 0x00040000);
}

TEST(ParseArgumentsTest, OptionsMayComeFirstAndUseEqualsForms) {
  const auto r = ParseArguments({"--quiet", "to-if", "--output=x.if", "--direction=262144", "-"});
  ASSERT_TRUE(r.ok()) << r.error;
  EXPECT_TRUE(r.options.quiet);
  EXPECT_EQ(r.options.output, "x.if");
  EXPECT_EQ(r.options.direction, 262144);
  EXPECT_EQ(r.options.inputs, std::vector<std::string>{"-"});
}

TEST(ParseArgumentsTest, DoubleDashEndsOptions) {
  const auto r = ParseArguments({"detect", "--", "-odd-name.ttx"});
  ASSERT_TRUE(r.ok()) << r.error;
  EXPECT_EQ(r.options.inputs, std::vector<std::string>{"-odd-name.ttx"});
}

TEST(ParseArgumentsTest, UsageErrorsSayWhatIsWrongInOneSentence) {
  const struct {
    std::vector<std::string> args;
    const char* message;  // the whole message, or its start when it ends in "..."
  } rows[] = {
      {{}, "no command given."},
      {{"convert", "a"}, "unknown command 'convert'."},
      {{"to-if"}, "no input file given."},
      {{"to-if", "a", "b", "-o", "x.if"},
       "-o names the output of one input; give -O DIR for several inputs."},
      {{"to-if", "a", "-o", "x.if", "-O", "out"}, "give either -o or -O, not both."},
      {{"to-if", "a", "-"}, "standard input (-) can only be converted alone."},
      {{"to-if", "-", "-O", "out"}, "standard input has no file name to put into -O DIR; give -o."},
      {{"to-if", "a", "-j", "0"}, "'0' is not a number of jobs: give a whole number from 1."},
      {{"to-if", "a", "-j", "0x2"}, "'0x2' is not a number of jobs: give a whole number from 1."},
      {{"to-if", "a", "-jx"}, "'x' is not a number of jobs: give a whole number from 1."},
      {{"to-if", "a", "-O"}, "option -O needs a folder name."},
      {{"to-if", "a", "-o"}, "option -o needs a file name."},
      {{"to-if", "a", "--output="}, "option --output= needs a file name."},
      {{"to-if", "a", "--direction"}, "option --direction needs a value."},
      {{"to-if", "a", "--direction", "12x"},
       "'12x' is not a direction: give a decimal or 0x hexadecimal number or one of the..."},
      {{"to-if", "a", "--direction", "0x100000000"}, "'0x100000000' is not a direction: ..."},
      {{"to-if", "a", "--bogus"}, "unknown option '--bogus'."},
      {{"to-if", "a", "--codes"}, "--codes applies only to show."},
      {{"to-if", "a", "--json"}, "--json applies only to stats."},
      {{"to-if", "a", "--strict"}, "--against and --strict apply only to from-if."},
      {{"from-if", "a", "b", "--against", "s.if"},
       "--against names the IF sent for one input; convert one file with it."},
      {{"from-if", "a", "--direction", "1"}, "--direction applies only to to-if."},
      {{"detect"}, "no file given to detect."},
      {{"detect", "a", "-k"}, "detect takes only file names."},
      {{"languages", "a"}, "languages takes no arguments."},
      {{"info", "x"}, "info takes no arguments."},
      {{"show"}, "show takes one file."},
      {{"show", "a", "b"}, "show takes one file."},
      {{"show", "a", "-o", "x"},
       "show writes to standard output and takes no -o, -O, -j or --keep-going."},
      {{"pseudo"}, "no file given to pseudo-translate."},
      {{"pseudo", "a", "-j", "2"}, "pseudo takes files, -o, -O, --direction and --force."},
      {{"pseudo", "-"}, "pseudo reads files, not standard input."},
      {{"check"}, "no file given to check."},
      {{"check", "a", "-f"}, "check takes files and --direction."},
      {{"stats"}, "no file given to count."},
      {{"stats", "a", "-o", "x"}, "stats takes files, --json, --direction and --force."},
  };
  for (const auto& row : rows) {
    std::string joined;
    for (const auto& a : row.args)
      joined += a + " ";
    SCOPED_TRACE(joined);
    const auto r = ParseArguments(row.args);
    ASSERT_FALSE(r.ok());
    const std::string_view message = row.message;
    if (message.ends_with("...")) {
      EXPECT_TRUE(r.error.starts_with(message.substr(0, message.size() - 3))) << r.error;
      EXPECT_EQ(r.error.back(), '.');
    } else {
      EXPECT_EQ(r.error, message);
    }
  }
}

TEST(ParseArgumentsTest, BatchOptionsSetJobsKeepGoingAndForce) {
  const struct {
    std::vector<std::string> args;
    unsigned jobs;
    bool keepGoing;
    bool force;
  } rows[] = {
      {{"to-if", "a", "b", "-O", "out", "-j", "3"}, 3, false, false},
      {{"from-if", "a", "b", "--output-dir=out", "-j4", "-k"}, 4, true, false},
      {{"to-if", "a", "b", "-O", "out", "--jobs=12", "--keep-going", "-f"}, 12, true, true},
      {{"to-if", "a", "-O", "out", "--force"}, 0, false, true},
  };
  for (const auto& row : rows) {
    const auto r = ParseArguments(row.args);
    ASSERT_TRUE(r.ok()) << r.error;
    EXPECT_EQ(r.options.outputDir, "out");
    EXPECT_EQ(r.options.jobs, row.jobs);
    EXPECT_EQ(r.options.keepGoing, row.keepGoing);
    EXPECT_EQ(r.options.force, row.force);
  }
}

TEST(ParseArgumentsTest, EveryCommandHasHelpWithOneLinePerOption) {
  for (const Command command :
       {Command::ToIf, Command::FromIf, Command::Detect, Command::Languages, Command::Info}) {
    const std::string help = CommandHelp(command);
    EXPECT_TRUE(help.starts_with("Usage: tagvert ")) << help;
    EXPECT_NE(help.find("--help"), std::string::npos) << help;
    // An option line names the option and says what it does on the same line.
    std::size_t at = 0;
    while ((at = help.find("\n  -", at)) != std::string::npos) {
      const std::size_t end = help.find('\n', at + 1);
      const std::string line = help.substr(at + 1, end - at - 1);
      EXPECT_NE(line.find("   "), std::string::npos) << line;
      EXPECT_LE(line.size(), 90U) << line;
      at = end;
    }
  }
  const std::string usage = UsageText();
  for (const char* name :
       {"to-if", "from-if", "detect", "languages", "info", "show", "stats", "pseudo"}) {
    EXPECT_NE(usage.find(std::string("  ") + name + " "), std::string::npos) << name;
  }
}

TEST(ParseArgumentsTest, HelpNeedsNoInput) {
  auto r = ParseArguments({"to-if", "--help"});
  ASSERT_TRUE(r.ok());
  EXPECT_TRUE(r.options.help);
  EXPECT_EQ(r.options.command, Command::ToIf);
  r = ParseArguments({"--help"});
  ASSERT_TRUE(r.ok());
  EXPECT_NE(CommandHelp(r.options.command).find("to-if"), std::string::npos);
}

TEST(ParseDirectionTest, NumbersInBothBases) {
  EXPECT_EQ(ParseDirection("0"), 0);
  EXPECT_EQ(ParseDirection("262144"), 0x40000);
  EXPECT_EQ(ParseDirection("0x40000"), 0x40000);
  EXPECT_EQ(ParseDirection("0XFFFFFFFF"), -1);
  EXPECT_EQ(ParseDirection("4294967295"), -1);
  EXPECT_FALSE(ParseDirection(""));
  EXPECT_FALSE(ParseDirection("0x"));
  EXPECT_FALSE(ParseDirection("-1"));
  EXPECT_FALSE(ParseDirection("4294967296"));
}

TEST(DefaultOutputTest, ToIfAppendsIf) {
  EXPECT_EQ(DefaultToIfOutput("doc.ttx"), "doc.ttx.if");
  EXPECT_EQ(DefaultToIfOutput("dir.v2/doc"), "dir.v2/doc.if");
}

TEST(DefaultOutputTest, FromIfDropsIfAndInsertsOut) {
  EXPECT_EQ(DefaultFromIfOutput("doc.ttx.if"), "doc.out.ttx");
  EXPECT_EQ(DefaultFromIfOutput("doc.if"), "doc.out.ttx");
  EXPECT_EQ(DefaultFromIfOutput("DOC.TTX.IF"), "DOC.out.TTX");
  EXPECT_EQ(DefaultFromIfOutput("a.b/doc.if"), "a.b/doc.out.ttx");
  EXPECT_EQ(DefaultFromIfOutput("a.b/doc.ttx"), "a.b/doc.out.ttx");
  EXPECT_EQ(DefaultFromIfOutput("dir/.hidden.if"), "dir/.hidden.out.ttx");
  EXPECT_EQ(DefaultPseudoOutput("a.b/doc.ttx", false), "a.b/doc.pseudo.ttx");
  EXPECT_EQ(DefaultPseudoOutput("C:\\v1.2\\doc", true), "C:\\v1.2\\doc.pseudo.ttx");
}

TEST(DefaultOutputTest, BackslashSeparatesFoldersOnWindows) {
  const struct {
    const char* input;
    const char* expected;
  } rows[] = {
      {"C:\\work\\v1.2\\doc.if", "C:\\work\\v1.2\\doc.out.ttx"},
      {"C:\\work\\v1.2\\doc.ttx.if", "C:\\work\\v1.2\\doc.out.ttx"},
      {"C:/work/v1.2\\doc", "C:/work/v1.2\\doc.out.ttx"},
      {"C:\\work/v1.2/doc.if", "C:\\work/v1.2/doc.out.ttx"},
      {"\\\\server\\share.x\\.hidden.if", "\\\\server\\share.x\\.hidden.out.ttx"},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(DefaultFromIfOutput(row.input, true), row.expected) << row.input;
  }
  // Elsewhere a backslash is a character of the name.
  EXPECT_EQ(DefaultFromIfOutput("v1.2\\doc.if", false), "v1.out.2\\doc");
}

TEST(DefaultOutputTest, OutputInFolderKeepsTheFileName) {
  const struct {
    const char* dir;
    const char* output;
    bool backslash;
    const char* expected;
  } rows[] = {
      {"out", "a/b/doc.ttx.if", false, "out/doc.ttx.if"},
      {"out/", "doc.ttx.if", false, "out/doc.ttx.if"},
      {"out", "a\\doc.if", false, "out/a\\doc.if"},
      {"D:\\out", "C:\\in\\doc.out.ttx", true, "D:\\out\\doc.out.ttx"},
      {"D:\\out\\", "C:/in/doc.out.ttx", true, "D:\\out\\doc.out.ttx"},
      {"out/", "C:\\in/x\\doc.ttx.if", true, "out/doc.ttx.if"},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(OutputInFolder(row.dir, row.output, row.backslash), row.expected) << row.output;
  }
}

TEST(ParseDirectionTest, LanguageTagsInEitherCase) {
  EXPECT_EQ(ParseDirection("de-de"), 0x00040000);
  EXPECT_EQ(ParseDirection("DE-DE"), 0x00040000);
  EXPECT_EQ(ParseDirection("en-gb"), 0x04020000);
  EXPECT_EQ(ParseDirection("en-us"), 0x00010000);
  EXPECT_EQ(ParseDirection("Zh-Tw"), 0x04000000);
  EXPECT_FALSE(ParseDirection("unk-unk"));
  EXPECT_FALSE(ParseDirection("de"));
}

TEST(ParseDirectionTest, UnknownTagIsAUsageErrorListingTheKnownOnes) {
  const auto r = ParseArguments({"to-if", "a.ttx", "--direction", "xx-yy"});
  ASSERT_FALSE(r.ok());
  EXPECT_NE(r.error.find("'xx-yy'"), std::string::npos);
  EXPECT_NE(r.error.find("de-de"), std::string::npos);
  EXPECT_NE(r.error.find("tr-tr"), std::string::npos);
  // en-us has two codes but is listed once.
  EXPECT_EQ(r.error.find("en-us"), r.error.rfind("en-us"));
}

}  // namespace
}  // namespace tagvert::cli

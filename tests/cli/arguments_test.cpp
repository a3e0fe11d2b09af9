// Tagvert: tests of the command line's argument parsing, its table of commands and options, and
// the default output names.
// SPDX-License-Identifier: Apache-2.0
#include "cli/arguments.h"

#include <regex>
#include <set>
#include <sstream>

#include <gtest/gtest.h>

#include "cli/command_table.h"
#include "cli/output_files.h"

namespace tagvert::cli {
namespace {

// The options that a row sets, as "name=value" words in a fixed order.
std::string Summary(const CCliOptions& o) {
  std::string out;
  for (const auto& input : o.inputs)
    out += "in=" + input + " ";
  if (o.output) out += "o=" + *o.output + " ";
  if (o.outputDir) out += "O=" + *o.outputDir + " ";
  if (o.direction) out += "direction=" + std::to_string(*o.direction) + " ";
  if (o.jobs != 0) out += "j=" + std::to_string(o.jobs) + " ";
  if (o.quiet) out += "quiet ";
  if (o.keepGoing) out += "keep-going ";
  if (o.force) out += "force ";
  return out;
}

TEST(ParseArgumentsTest, OptionsInEveryFormAndPlace) {
  const struct {
    std::vector<std::string> args;
    const char* options;
  } rows[] = {
      {{"to-if", "a.ttx", "-o", "b.if", "--direction", "0x00040000"},
       "in=a.ttx o=b.if direction=262144 "},
      // Options may come first and use the equals forms; "--" ends the options.
      {{"--quiet", "to-if", "--output=x.if", "--direction=262144", "-"},
       "in=- o=x.if direction=262144 quiet "},
      {{"detect", "--", "-odd-name.ttx"}, "in=-odd-name.ttx "},
      {{"to-if", "a", "b", "-O", "out", "-j", "3"}, "in=a in=b O=out j=3 "},
      {{"from-if", "a", "--output-dir=out", "-j4", "-k"}, "in=a O=out j=4 keep-going "},
      {{"to-if", "a", "-O", "out", "--jobs=12", "--keep-going", "-f"},
       "in=a O=out j=12 keep-going force "},
      {{"to-if", "a", "-O", "out", "--force"}, "in=a O=out force "},
  };
  for (const auto& row : rows) {
    const auto r = ParseArguments(row.args);
    ASSERT_TRUE(r.ok()) << r.error;
    EXPECT_EQ(Summary(r.options), row.options);
  }
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
      {{"to-if", "a", "--against", "s.if"}, "--against applies only to from-if."},
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

// The table is the one description of the commands: each command's help lists exactly the
// options of its row (the man page and the completion are checked against the help by
// tests/package/docs_test.sh), and the parser takes exactly those options (and the ones every
// command takes) for it.
TEST(CommandTableTest, HelpAndParserFollowTheTable) {
  const std::regex name("--?[a-zA-Z][a-zA-Z-]*");
  for (const CCommand* command : Commands()) {
    SCOPED_TRACE(command->name);
    // The names in the option column of the help: the lines that start with "  -", up to the
    // three spaces before the description.
    std::set<std::string> listed;
    std::istringstream help(command->help());
    for (std::string line; std::getline(help, line);) {
      if (!line.starts_with("  -")) continue;
      const std::string column = line.substr(0, line.find("   ", 2));
      for (std::sregex_iterator n(column.begin(), column.end(), name), end; n != end; ++n)
        listed.insert(n->str());
    }
    std::set<std::string> expected;
    for (const COption& option : Options()) {
      if ((command->options | Bit(Option::Help)) & Bit(option.id)) {
        if (option.shortName != nullptr) expected.insert(option.shortName);
        expected.insert(option.longName);
      }
      // One file (none for the commands that take none) and the option with a good value.
      std::vector<std::string> args = {command->name};
      if (command->files != nullptr) args.emplace_back("f");
      args.emplace_back(option.longName);
      if (option.needs != nullptr) args.emplace_back(option.id == Option::Jobs ? "2" : "1");
      const bool takes = ((command->options | kEveryCommand) & Bit(option.id)) != 0;
      EXPECT_EQ(ParseArguments(args).ok(), takes) << option.longName;
    }
    EXPECT_EQ(listed, expected);
  }
}

TEST(ParseDirectionTest, NumbersInBothBasesAndLanguageTagsInEitherCase) {
  EXPECT_EQ(ParseDirection("0"), 0);
  EXPECT_EQ(ParseDirection("262144"), 0x40000);
  EXPECT_EQ(ParseDirection("0x40000"), 0x40000);
  EXPECT_EQ(ParseDirection("0XFFFFFFFF"), -1);
  EXPECT_EQ(ParseDirection("4294967295"), -1);
  EXPECT_EQ(ParseDirection("DE-DE"), 0x00040000);
  EXPECT_EQ(ParseDirection("en-gb"), 0x04020000);
  EXPECT_EQ(ParseDirection("Zh-Tw"), 0x04000000);
  // A bare language selects the table's first tag of it.
  EXPECT_EQ(ParseDirection("de"), 0x00040000);
  EXPECT_EQ(ParseDirection("EN"), 0x00010000);
  EXPECT_EQ(ParseDirection("zh"), 0x02000000);
  for (const char* refused : {"", "0x", "-1", "4294967296", "unk-unk", "xx", "fr-", "-fr", "fr-ca"})
    EXPECT_FALSE(ParseDirection(refused)) << refused;
}

TEST(DefaultOutputTest, ToIfAppendsIfFromIfInsertsOut) {
  EXPECT_EQ(DefaultToIfOutput("doc.ttx"), "doc.ttx.if");
  EXPECT_EQ(DefaultToIfOutput("dir.v2/doc"), "dir.v2/doc.if");
  EXPECT_EQ(DefaultPseudoOutput("a.b/doc.ttx", false), "a.b/doc.pseudo.ttx");
  EXPECT_EQ(DefaultPseudoOutput("C:\\v1.2\\doc", true), "C:\\v1.2\\doc.pseudo.ttx");
  const struct {
    const char* input;
    bool backslash;
    const char* expected;
  } rows[] = {
      {"doc.ttx.if", false, "doc.out.ttx"},
      {"doc.if", false, "doc.out.ttx"},
      {"DOC.TTX.IF", false, "DOC.out.TTX"},
      {"a.b/doc.if", false, "a.b/doc.out.ttx"},
      {"a.b/doc.ttx", false, "a.b/doc.out.ttx"},
      {"dir/.hidden.if", false, "dir/.hidden.out.ttx"},
      // Only on Windows a backslash separates folders.
      {"v1.2\\doc.if", false, "v1.out.2\\doc"},
      {"C:\\work\\v1.2\\doc.if", true, "C:\\work\\v1.2\\doc.out.ttx"},
      {"C:\\work\\v1.2\\doc.ttx.if", true, "C:\\work\\v1.2\\doc.out.ttx"},
      {"C:/work/v1.2\\doc", true, "C:/work/v1.2\\doc.out.ttx"},
      {"C:\\work/v1.2/doc.if", true, "C:\\work/v1.2/doc.out.ttx"},
      {"\\\\server\\share.x\\.hidden.if", true, "\\\\server\\share.x\\.hidden.out.ttx"},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(DefaultFromIfOutput(row.input, row.backslash), row.expected) << row.input;
  }
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

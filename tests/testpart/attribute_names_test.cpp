// The attribute description reader: names before the first ':', messages for
// lines without one.
#include <gtest/gtest.h>

#include "support/scratch_dir.h"
#include "testpart/attribute_names.h"

namespace {

struct ReadResult {
  AttributeNames names;
  std::string console;
};

ReadResult read_names_from(const std::string& bytes) {
  ScratchDir dir;
  write_file("d.names", bytes);
  ReadResult result;
  testing::internal::CaptureStdout();
  read_attribute_names(result.names, std::fopen("d.names", "r"));
  result.console = testing::internal::GetCapturedStdout();
  return result;
}

TEST(AttributeNames, TakesTheTextBeforeTheFirstColonOnly) {
  const ReadResult r = read_names_from(
      "class: yes,no.\n"
      "age: continuous.\n"
      " colour :red:green\n"
      "x:\n");
  EXPECT_EQ(r.names, (AttributeNames{"class", "age", " colour ", "x"}));
  EXPECT_EQ(r.console, "");
}

TEST(AttributeNames, LineStartingWithColonDefinesNothingSilently) {
  const ReadResult r = read_names_from("a:1\n:comment\nb:2\n");
  EXPECT_EQ(r.names, (AttributeNames{"a", "b"}));
  EXPECT_EQ(r.console, "");
}

TEST(AttributeNames, LinesWithoutColonAreReportedOnce) {
  // The empty line defines nothing; the line without colon is a name.
  const ReadResult r = read_names_from("a:1\n\nplain line\nb:2\n");
  EXPECT_EQ(r.names, (AttributeNames{"a", "plain line", "b"}));
  EXPECT_EQ(r.console, "Error: ':' expected\nError: ':' expected\n");
}

TEST(AttributeNames, EmptyLastLineAndUnterminatedLastLine) {
  EXPECT_EQ(read_names_from("a:1\n\n").console, "Error: ':' expected\n");
  EXPECT_EQ(read_names_from("a:1\n\n").names, (AttributeNames{"a"}));
  const ReadResult r = read_names_from("a:1\nlast");
  EXPECT_EQ(r.names, (AttributeNames{"a", "last"}));
  EXPECT_EQ(r.console, "Error: ':' expected\n");
  // A final line feed adds no empty line.
  EXPECT_EQ(read_names_from("a:1\nb:2\n").console, "");
}

TEST(AttributeNames, EmptyFileGivesNoNames) {
  const ReadResult r = read_names_from("");
  EXPECT_TRUE(r.names.empty());
  EXPECT_EQ(r.console, "");
}

TEST(AttributeNames, WindowsLineEndsReadLikeLineFeeds) {
  const ReadResult r = read_names_from("a:1\r\nb\r\n\r\n");
  EXPECT_EQ(r.names, (AttributeNames{"a", "b"}));
  EXPECT_EQ(r.console, "Error: ':' expected\nError: ':' expected\n");
}

TEST(AttributeNames, LongNamesAreKeptWhole) {
  const std::string name99(99, 'n');
  const std::string name500 = std::string(250, 'x') + std::string(250, 'y');
  const ReadResult r = read_names_from(name99 + ":a\n" + name500 + ": b\n" + name500 + "\n");
  EXPECT_EQ(r.names, (AttributeNames{name99, name500, name500}));
  EXPECT_EQ(r.console, "Error: ':' expected\n");
}

TEST(AttributeNames, AnyByteMayStandInAName) {
  const std::string odd = std::string("a\0b\xff", 4);
  const ReadResult r = read_names_from(odd + ":x\n");
  EXPECT_EQ(r.names, (AttributeNames{odd}));
}

}  // namespace

// The benchmark's data generator: the same arguments give the same bytes, a
// smaller correlated set is a prefix of a larger one, and every record has the
// class and 22 attributes its .names file declares.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "e2e/e2e_support.h"
#include "support/scratch_dir.h"

namespace {

const std::string kGenerator = std::string(VARNEL_BIN_DIR) + "/make_bench_data";

size_t field_count(const std::string& line) {
  return static_cast<size_t>(std::count(line.begin(), line.end(), ',')) + 1;
}

}  // namespace

TEST(BenchData, SameArgumentsGiveTheSameBytesAndWellFormedRecords) {
  if (!std::filesystem::exists(kGenerator)) GTEST_SKIP() << "make_bench_data is not built";
  ScratchDir dir;
  struct Case {
    std::string kind;
    std::string classes;  // the values the class column may take
  };
  for (const Case& c : {Case{"correlated", "01"}, Case{"dense", "yn"}}) {
    SCOPED_TRACE(c.kind);
    ASSERT_EQ(run_program(kGenerator, {c.kind, "300", "7", c.kind + "-a"}).status, 0);
    ASSERT_EQ(run_program(kGenerator, {c.kind, "300", "7", c.kind + "-b"}).status, 0);
    ASSERT_EQ(run_program(kGenerator, {c.kind, "300", "8", c.kind + "-c"}).status, 0);
    const std::string data = read_file(c.kind + "-a.data");
    EXPECT_TRUE(data == read_file(c.kind + "-b.data"));
    EXPECT_EQ(read_file(c.kind + "-a.names"), read_file(c.kind + "-b.names"));
    EXPECT_FALSE(data == read_file(c.kind + "-c.data"));

    const std::vector<std::string> names = e2e::lines_of(read_file(c.kind + "-a.names"));
    ASSERT_EQ(names.size(), 23u);
    EXPECT_EQ(names[0].rfind("class: ", 0), 0u);
    const std::vector<std::string> records = e2e::lines_of(data);
    ASSERT_EQ(records.size(), 300u);
    for (const std::string& record : records) {
      ASSERT_EQ(field_count(record), 23u) << record;
      ASSERT_NE(c.classes.find(record[0]), std::string::npos) << record;
    }
  }
  ASSERT_EQ(run_program(kGenerator, {"correlated", "120", "7", "prefix"}).status, 0);
  const std::string prefix = read_file("prefix.data");
  EXPECT_EQ(e2e::lines_of(prefix).size(), 120u);
  EXPECT_TRUE(read_file("correlated-a.data").starts_with(prefix));
}

TEST(BenchData, BadArgumentsGetTheUsageAndWriteNothing) {
  if (!std::filesystem::exists(kGenerator)) GTEST_SKIP() << "make_bench_data is not built";
  ScratchDir dir;
  for (const std::vector<std::string>& args : {std::vector<std::string>{},
                                               {"sparse", "10", "1", "x"},
                                               {"dense", "-5", "1", "x"},
                                               {"dense", "10x", "1", "x"},
                                               {"correlated", "10", "1"},
                                               {"dense", "3000000000", "1", "x"}}) {
    const CommandResult result = run_program(kGenerator, args);
    EXPECT_EQ(result.status, 2);
    EXPECT_NE(result.output.find("usage: make_bench_data"), std::string::npos) << result.output;
  }
  EXPECT_TRUE(std::filesystem::is_empty("."));
  const CommandResult unwritable = run_program(kGenerator, {"dense", "10", "1", "no/such/dir/x"});
  EXPECT_EQ(unwritable.status, 1);
  EXPECT_NE(unwritable.output.find("Error: cannot write"), std::string::npos) << unwritable.output;
}

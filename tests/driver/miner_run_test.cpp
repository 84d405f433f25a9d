// The miner's parameter file and its run: exact bytes, the command line
// shown, where the miner is found, what is removed before it runs, what the
// miner shares with the driver, and whose fault a failure is.
#include <fcntl.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <optional>

#include "common/messages.h"
#include "common/run_files.h"
#include "driver/miner_run.h"
#include "minerio/miner_files.h"
#include "minerio/miner_params.h"

namespace {

namespace fs = std::filesystem;

// Runs the miner as the driver would for dataset d, class attribute and value
// as given, min_sup 5, max_pvalue 0.05 and output name o.
bool run_miner_for(const std::string& target_attr, const std::string& target_value) {
  MinerContext context;
  return run_miner(miner_params_for("d_part_0", target_attr, target_value, 5, 0.05, "o"),
                   "./Brimel", context);
}

std::string parameter_text(const std::string& target_value, int min_sup,
                           const std::string& max_pvalue) {
  return "data_file=d_part_0.data\n"
         "names_file=d_part_0.names\n"
         "materialization_mode=freq only\n"
         "signal_type=rule\n"
         "context_attributes=\n"
         "comparing_attributes=\n"
         "target_attribute=a\n"
         "target_value=" +
         target_value +
         "\n"
         "test-statistic=fisher's exact test\n"
         "compare_mode=pairwise\n"
         "min_sup=" +
         std::to_string(min_sup) +
         "\n"
         "max_len=100\n"
         "max_pvalue=" +
         max_pvalue +
         "\n"
         "max_local_pvalue=0.050000\n"
         "effect_size_method=confidence\n"
         "min_diff=0.000000\n"
         "seeding_method=global\n"
         "data_perm_method=swap\n"
         "output_mode=all\n"
         "gen_tid_list=yes\n"
         "output=o\n";
}

void make_executable(const fs::path& path, const std::string& script) {
  write_file(path, script);
  fs::permissions(path, fs::perms::owner_all);
}

bool write_parameters(const std::string& target_value, int min_sup, double max_pvalue) {
  return write_miner_params(
      "orsk.para", miner_params_for("d_part_0", "a", target_value, min_sup, max_pvalue, "o"));
}

TEST(MinerParameterFile, WorkedExampleByteForByte) {
  ScratchDir dir;
  ASSERT_TRUE(write_parameters("v", 5, 0.05));
  const std::string text = read_file("orsk.para");
  EXPECT_EQ(text, parameter_text("v", 5, "0.050000"));
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 21);
}

TEST(MinerParameterFile, SixDecimalsUnlessTheyChangeTheLevelAndAnEmptyTargetValue) {
  ScratchDir dir;
  write_file("orsk.para", std::string(5000, 'x'));  // an older, longer file is truncated
  write_parameters("", 1, 0.0000001);
  EXPECT_EQ(read_file("orsk.para"), parameter_text("", 1, "1e-07"));
  write_parameters("v", 2, 1);
  EXPECT_EQ(read_file("orsk.para"), parameter_text("v", 2, "1.000000"));
  write_parameters("v", 2, 0.0000123);
  EXPECT_EQ(read_file("orsk.para"), parameter_text("v", 2, "1.23e-05"));
  // What is written is read back as the same settings.
  MinerParams read;
  ASSERT_TRUE(read_miner_params("orsk.para", read));
  EXPECT_EQ(read.max_pvalue, 0.0000123);
  EXPECT_EQ(read.min_sup, 2);
  EXPECT_EQ(read.target_value, "v");
  EXPECT_EQ(read.output, "o");
  EXPECT_TRUE(read.gen_tid_list);
}

TEST(MinerParameterFile, UncreatableFileIsReportedAndTheMinerNotRun) {
  ScratchDir dir;
  fs::create_directory("orsk.para");
  make_executable("Brimel", "#!/bin/sh\n: > ran\n");
  EXPECT_EQ(capture_stdout([] { run_miner_for("a", "v"); }),
            "Error: cannot open file orsk.para for write\n");
  EXPECT_FALSE(fs::exists("ran"));
}

// A working directory others may write to must not decide what runs.
TEST(MinerCommand, InstalledMinerFirstThenTheLocalOne) {
  ScratchDir dir;
  fs::create_directory("install");
  EXPECT_EQ(find_miner_executable("install"), "./Brimel");  // nowhere: the start fails visibly
  make_executable("Brimel", "#!/bin/sh\n");
  EXPECT_EQ(find_miner_executable("install"), "./Brimel");
  write_file("install/Brimel", "not executable");
  EXPECT_EQ(find_miner_executable("install"), "./Brimel");
  make_executable("install/Brimel", "#!/bin/sh\n");
  EXPECT_EQ(find_miner_executable("install"), "install/Brimel");
  EXPECT_EQ(find_miner_executable(""), "./Brimel");
}

TEST(MinerCommand, InstalledPathIsQuotedForDisplay) {
  EXPECT_EQ(miner_command_line("./Brimel"), "./Brimel orsk.para\n");
  EXPECT_EQ(miner_command_line("/opt/my tools/Brimel"), "'/opt/my tools/Brimel' orsk.para\n");
  EXPECT_EQ(miner_command_line("/a'b/Brimel"), "'/a'\\''b/Brimel' orsk.para\n");
}

TEST(MinerRun, ShowsTheCommandAndWaits) {
  ScratchDir dir;
  // The fake miner records its arguments, prints a line and writes one file.
  make_executable("Brimel",
                  "#!/bin/sh\n"
                  "printf '%s|' \"$0\" \"$@\" > args.txt\n"
                  "echo mined\n"
                  "echo new > o.cfptree.stat\n");
  const std::string console = capture_stdout([] { run_miner_for("a", "v"); });
  EXPECT_EQ(console, "./Brimel orsk.para\nmined\n");
  EXPECT_EQ(read_file("args.txt"), "./Brimel|orsk.para|");
  EXPECT_EQ(read_file("o.cfptree.stat"), "new\n");
  EXPECT_EQ(read_file("orsk.para"), parameter_text("v", 5, "0.050000"));
}

TEST(MinerRun, LineBreakInATextIsRefused) {
  ScratchDir dir;
  make_executable("Brimel", "#!/bin/sh\n: > ran\n");
  EXPECT_EQ(capture_stdout([] { run_miner_for("a", "v\noutput=/tmp/elsewhere"); }),
            "Error: the target value holds a line break; the miner is not run\n");
  EXPECT_EQ(capture_stdout([] { run_miner_for("a\r", "v"); }),
            "Error: the target attribute holds a line break; the miner is not run\n");
  EXPECT_FALSE(fs::exists("ran"));
  EXPECT_FALSE(fs::exists("orsk.para"));
}

TEST(MinerRun, MinerThatCannotStartIsReported) {
  ScratchDir dir;
  make_executable("Brimel", "#!/no/such/interpreter\n");
  const std::string console = capture_stdout([] { run_miner_for("a", "v"); });
  EXPECT_EQ(console.rfind("./Brimel orsk.para\nError: cannot start the miner ./Brimel: ", 0), 0u)
      << console;
}

}  // namespace

namespace {

// Runs the scripted ./Brimel as the driver would, with `context`, and
// returns the console and the log of what it reported.
struct MinerOutcome {
  bool ok = false;
  std::string console;
  ReportedLines reported;
};

MinerOutcome run_scripted_miner(MinerContext& context) {
  MinerOutcome outcome;
  MessageScope scope(outcome.reported);
  outcome.console = capture_stdout([&] {
    outcome.ok =
        run_miner(miner_params_for("d_part_0", "a", "v", 5, 0.05, "o"), "./Brimel", context);
  });
  return outcome;
}

struct TimeoutSetting {
  explicit TimeoutSetting(const char* value) { setenv(kMinerTimeoutVariable, value, 1); }
  ~TimeoutSetting() { unsetenv(kMinerTimeoutVariable); }
};

}  // namespace

// The miner gets the link to the driver and the experiment's locks, and
// nothing else of the driver's descriptors beyond the console.
TEST(MinerRun, TheMinerHoldsTheLinkAndTheLocks) {
  ScratchDir dir;
  make_executable("Brimel",
                  "#!/bin/sh\n"
                  "[ -p /proc/self/fd/$VARNEL_DRIVER_FD ] && echo link\n"
                  "for fd in $LOCKS; do [ -e /proc/self/fd/$fd ] && echo lock; done\n"
                  "[ -e /proc/self/fd/$OTHER ] || echo no other\n");
  MinerContext context;
  context.locks.directory = open("dir.lock", O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  context.locks.split_parts = open("parts.lock", O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  const int other = open("other", O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  setenv("LOCKS",
         (std::to_string(context.locks.directory) + " " + std::to_string(context.locks.split_parts))
             .c_str(),
         1);
  setenv("OTHER", std::to_string(other).c_str(), 1);
  const MinerOutcome outcome = run_scripted_miner(context);
  unsetenv("LOCKS");
  unsetenv("OTHER");
  EXPECT_TRUE(outcome.ok);
  EXPECT_EQ(outcome.console, "./Brimel orsk.para\nlink\nlock\nlock\nno other\n");
  for (const int fd : {context.locks.directory, context.locks.split_parts, other}) close(fd);
}

// A miner's failure is the system's (a signal, the miner's own status for
// one, a time limit passed) or the data's (any other status); the time limit
// is off unless set, and a setting that is no time runs nothing.
TEST(MinerRun, FailuresAreTheSystemsOrTheDatas) {
  ScratchDir dir;
  const struct {
    const char* script;
    const char* timeout;  // null: unset
    std::string error;
    int io_errors;
  } cases[] = {
      {"exit 3", nullptr, "Error: the miner ./Brimel exited with status 3\n", 0},
      {"exit 75", nullptr, "Error: the miner ./Brimel exited with status 75\n", 1},
      {"kill -KILL $$", nullptr, "Error: the miner ./Brimel was killed by signal 9\n", 1},
      {"exec sleep 60", "0.3",
       "Error: the miner ./Brimel ran longer than the 0.3 seconds of VARNEL_MINER_TIMEOUT and "
       "was killed\n",
       1},
      {"sleep 0.2; exit 0", "", "", 0},  // empty: no limit
      {": > ran", "ten",
       "Error: VARNEL_MINER_TIMEOUT=ten: a number of seconds above 0 expected; "
       "the miner is not run\n",
       0},
      {": > ran", "-1",
       "Error: VARNEL_MINER_TIMEOUT=-1: a number of seconds above 0 expected; "
       "the miner is not run\n",
       0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.script);
    make_executable("Brimel", std::string("#!/bin/sh\n") + c.script + "\n");
    std::optional<TimeoutSetting> timeout;
    if (c.timeout != nullptr) timeout.emplace(c.timeout);
    MinerContext context;
    const auto start = std::chrono::steady_clock::now();
    const MinerOutcome outcome = run_scripted_miner(context);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
    EXPECT_EQ(outcome.ok, c.error.empty());
    const std::string shown = fs::exists("orsk.para") ? "./Brimel orsk.para\n" : "";
    EXPECT_EQ(outcome.console, shown + c.error);
    EXPECT_EQ(outcome.reported.io_errors, c.io_errors);
    EXPECT_FALSE(fs::exists("ran"));
    fs::remove("orsk.para");
  }
}

// Faults from outside, run end to end on the example data with the real
// driver and miner: unwritable places, a full disk, a miner that dies or
// leaves damaged files, hostile names, huge and garbage inputs, two
// experiments at once. Each must end in clear messages, an exit status that
// says whether an error was met, and a summary file that keeps what it held
// and gains a line only for an experiment without errors.
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <future>
#include <map>
#include <nlohmann/json.hpp>
#include <random>
#include <thread>

#include "common/run_files.h"
#include "driver/experiment_report.h"
#include "driver/miner_run.h"
#include "e2e/e2e_support.h"
#include "minerio/driver_link.h"
#include "support/scratch_dir.h"

namespace {

namespace fs = std::filesystem;
using e2e::lines_of;

const std::string kBin = VARNEL_BIN_DIR;
const std::string kVarnel = kBin + "/varnel";

// What the summary file held before; the second line is not one of ours and
// must survive untouched all the same.
const std::string kEarlierSummary =
    "RANDOM_VARNEL earlier\t5 100 0.0500 0.0500\tCONFIDENCE 0.000\t0.0100\t1 1 1 1\t"
    "5.000E-02 5.000E-02 1.000E-03\t1 1 1\t\n"
    "a line written by hand\n";

// One summary line as the driver writes it: every value read back and
// written again gives the same line, so nothing is missing or garbled.
bool is_summary_line(const std::string& line) {
  std::vector<char> name(line.size() + 1);
  ExperimentSettings settings;
  double elapsed = 0.0;
  int32_t rules_tested = 0;
  RuleCountRecord holdout;
  RuleCountRecord counts;
  const int read = std::sscanf(
      line.c_str(),
      "RANDOM_VARNEL %[^\t]\t%d %d %lf %lf\tCONFIDENCE %lf\t%lf\t%d %d %d %d\t%lf %lf %lf\t"
      "%d %d %d",
      name.data(), &settings.min_sup, &settings.max_len, &settings.max_pvalue,
      &settings.max_local_pvalue, &settings.min_diff, &elapsed, &rules_tested,
      &holdout.sig_at_level, &holdout.sig_at_corrected, &holdout.sig_at_fdr, &counts.level,
      &counts.corrected_level, &counts.fdr_pvalue, &counts.sig_at_level, &counts.sig_at_corrected,
      &counts.sig_at_fdr);
  settings.dataset_name = name.data();
  return read == 17 &&
         format_summary_line(settings, elapsed, rules_tested, holdout, counts) == line + "\n";
}

// Experiments of the current test that ended without an error: only they
// may add a summary line.
std::atomic<size_t> successful_runs{0};

CommandResult run_varnel(const std::string& program, const std::vector<std::string>& args) {
  CommandResult result = run_program(program, args);
  if (result.status == 0) ++successful_runs;
  return result;
}

// The summary file still begins with `earlier` and holds one complete line
// after it for every experiment of the test that succeeded.
void expect_summary_grew(const std::string& earlier) {
  const size_t added = successful_runs.load();
  const std::string now = read_file(kSummaryFile);
  ASSERT_TRUE(now.starts_with(earlier)) << now;
  const std::vector<std::string> lines = lines_of(now.substr(earlier.size()));
  ASSERT_EQ(lines.size(), added) << now;
  EXPECT_TRUE(now.ends_with("\n")) << now;
  for (const std::string& line : lines) EXPECT_TRUE(is_summary_line(line)) << line;
}

bool contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

void make_executable(const std::string& path, const std::string& script) {
  write_file(path, script);
  fs::permissions(path, fs::perms::owner_all);
}

// A scratch directory with the example data as "vote" and an earlier summary
// file; the real miner is found beside varnel unless a test places its own
// (beside a varnel of its own).
struct FaultExperiment {
  ScratchDir dir;
  std::string varnel = kVarnel;

  FaultExperiment() {
    successful_runs = 0;
    const std::string examples = std::string(VARNEL_SOURCE_DIR) + "/examples/";
    write_file("vote.data", read_file(examples + "vote.data"));
    write_file("vote.names", read_file(examples + "vote.names"));
    write_file("Varnel.sum.txt", kEarlierSummary);
  }

  // A miner "Brimel" here that runs the real one and then does `after` to
  // its output files, named "$out...".
  void place_miner(const std::string& after) {
    place_script("#!/bin/sh\n'" + kBin + "/Brimel' \"$1\" > miner.log\n" +
                 "out=$(sed -n 's/^output=//p' orsk.para)\n" + after);
  }

  // A miner "Brimel" here that is `script`.
  void place_script(const std::string& script) {
    make_executable("Brimel", script);
    varnel = e2e::varnel_beside_scripted_miner();
  }

  CommandResult run(const std::vector<std::string>& args = {"vote", "Class", "1", "20", "0.05",
                                                            "o"}) {
    return run_varnel(varnel, args);
  }
};

// An experiment either met no error and printed its report, or stopped at
// the error, said so last and exited with status 1, with no report unless
// the summary line itself failed.
void expect_clean_ending(const CommandResult& result) {
  const bool failed = contains(result.output, "Error: ");
  EXPECT_EQ(result.status, failed ? 1 : 0) << result.output;
  // Only the summary file's own failure comes after the report.
  EXPECT_EQ(contains(result.output, "#significant rules at FDR "),
            !failed || contains(result.output, "Error: cannot write file Varnel.sum.txt\n") ||
                contains(result.output, "for appending\n"))
      << result.output;
  if (failed) {
    EXPECT_TRUE(
        result.output.ends_with("Error: the experiment failed; no summary line was written\n"))
        << result.output;
  }
}

// --- Places that cannot be written -------------------------------------

bool can_create_in(const std::string& dir) {
  const std::string probe = dir + "/write-probe";
  const int fd = open(probe.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  close(fd);
  unlink(probe.c_str());
  return true;
}

bool can_append_to(const std::string& file) {
  const int fd = open(file.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
  if (fd < 0) return false;
  close(fd);
  return true;
}

bool set_immutable(const std::string& path, bool on) {
  const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  int flags = 0;
  bool done = ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
  if (done) {
    flags = on ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
    done = ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
  }
  close(fd);
  return done;
}

// Takes away the write permission of `path`. Root ignores permissions, so
// there the file system's immutable flag stands in, where it has one. Undone
// at the end, so the scratch directory can go.
struct WriteProtection {
  std::string path;
  fs::perms old_perms;
  bool immutable = false;

  WriteProtection(const std::string& protected_path, bool (*is_writable)(const std::string&))
      : path(protected_path), old_perms(fs::status(protected_path).permissions()) {
    fs::permissions(path, fs::perms::owner_read | fs::perms::owner_exec | fs::perms::group_read |
                              fs::perms::others_read);
    if (is_writable(path)) immutable = set_immutable(path, true);
  }
  ~WriteProtection() {
    if (immutable) set_immutable(path, false);
    fs::permissions(path, old_perms);
  }
};

TEST(Faults, UnwritableWorkingDirectory) {
  for (const bool had_summary : {true, false}) {
    FaultExperiment e;
    if (!had_summary) fs::remove("Varnel.sum.txt");
    const std::vector<fs::path> before{fs::directory_iterator("."), fs::directory_iterator()};
    WriteProtection guard(".", can_create_in);
    if (can_create_in(".")) GTEST_SKIP() << "this file system lets us write anywhere";

    const CommandResult out = e.run();
    expect_clean_ending(out);
    EXPECT_TRUE(
        out.output.starts_with("Warning: cannot create the lock file varnel.lock; "
                               "experiments in this directory are not kept apart\n"))
        << out.output;
    EXPECT_TRUE(contains(out.output,
                         "Error: cannot open file vote_part_0.data for write\n"
                         "Error: cannot open file vote_part_1.data for write\n"))
        << out.output;
    // The split failed, so the miner is not started.
    EXPECT_FALSE(contains(out.output, "orsk.para")) << out.output;
    const std::vector<fs::path> after{fs::directory_iterator("."), fs::directory_iterator()};
    EXPECT_EQ(after, before);
    if (had_summary) {
      expect_summary_grew(kEarlierSummary);  // the file itself may still be appended to
    } else {
      EXPECT_FALSE(fs::exists(kSummaryFile));
    }
  }
}

TEST(Faults, SummaryFileThatCannotBeWritten) {
  {
    FaultExperiment e;
    WriteProtection guard("Varnel.sum.txt", can_append_to);
    if (can_append_to("Varnel.sum.txt")) GTEST_SKIP() << "this file system lets us write anywhere";
    const CommandResult out = e.run();
    expect_clean_ending(out);
    EXPECT_TRUE(
        out.output.ends_with("\nError: cannot open file varnel.sum.txt for appending\n"
                             "Error: the experiment failed; no summary line was written\n"))
        << out.output;
    EXPECT_EQ(read_file(kSummaryFile), kEarlierSummary);
  }
  {
    // Works as root too: no file can be opened where a folder stands.
    FaultExperiment e;
    fs::remove("Varnel.sum.txt");
    fs::create_directory("Varnel.sum.txt");
    write_file("Varnel.sum.txt/inside", kEarlierSummary);
    const CommandResult out = e.run();
    expect_clean_ending(out);
    EXPECT_TRUE(
        out.output.ends_with("\nError: cannot open file varnel.sum.txt for appending\n"
                             "Error: the experiment failed; no summary line was written\n"))
        << out.output;
    EXPECT_EQ(read_file("Varnel.sum.txt/inside"), kEarlierSummary);
  }
  {
    // A full disk: opening works, writing does not.
    FaultExperiment e;
    fs::remove("Varnel.sum.txt");
    fs::create_symlink("/dev/full", "Varnel.sum.txt");
    const CommandResult out = e.run();
    expect_clean_ending(out);
    EXPECT_TRUE(
        out.output.ends_with("\nError: cannot write file Varnel.sum.txt\n"
                             "Error: the experiment failed; no summary line was written\n"))
        << out.output;
  }
}

// /dev/full accepts every open and fails every write, like a disk that has
// just filled up. Each output in turn: the experiment fails, and none of its
// result files stays to pass for a result.
TEST(Faults, FullDiskForTheOutputFiles) {
  FaultExperiment e;
  // (The rule file is the miner's too: in its place /dev/full would be read.)
  for (const std::string file :
       {"o.tgtvalues.txt", "o.sorted.tidlist.txt", "o.sorted.rulenum.txt", "o.rules.csv"}) {
    // Placed once the miner is done: the run removes every earlier output.
    e.place_miner("rm -f '" + file + "'; ln -s /dev/full '" + file + "'\n");
    const CommandResult out = e.run();
    SCOPED_TRACE(file);
    expect_clean_ending(out);
    EXPECT_TRUE(contains(out.output, "Error: cannot write file " + file + "\n")) << out.output;
    for (const std::string result : {"o.tgtvalues.txt", "o.sorted.tidlist.txt",
                                     "o.sorted.rules.txt", "o.sorted.rulenum.txt", "o.rules.csv"})
      EXPECT_FALSE(fs::exists(result)) << result;
  }
  expect_summary_grew(kEarlierSummary);
}

TEST(Faults, FullDiskForTheParameterFile) {
  FaultExperiment e;
  fs::create_symlink("/dev/full", "orsk.para");
  e.place_script("#!/bin/sh\n: > miner-ran\n");
  const CommandResult out = e.run();
  expect_clean_ending(out);
  EXPECT_TRUE(contains(out.output, "Error: cannot write file orsk.para\n")) << out.output;
  EXPECT_FALSE(fs::exists("miner-ran")) << "the miner ran on a parameter file that was not written";
  expect_summary_grew(kEarlierSummary);
}

// --- A miner that dies or leaves damaged files ------------------------------

TEST(Faults, MinerKilledHalfWay) {
  FaultExperiment e;
  e.place_miner(
      "rm \"$out.tidlist.dir\" \"$out.tidlist\" \"$out.attrvalue2item.txt\" "
      "\"$out.sorted.rulenum.txt\"\nkill -KILL $$\n");
  const CommandResult out = e.run();
  expect_clean_ending(out);
  // Its one error line, and nothing that follows from it.
  EXPECT_TRUE(out.output.ends_with("\nError: the miner " + e2e::scripted_miner() +
                                   " was killed by signal 9\n"
                                   "Error: the experiment failed; no summary line was written\n"))
      << out.output;
  expect_summary_grew(kEarlierSummary);
}

TEST(Faults, MinerFilesCutShort) {
  // Half of a binary file always lacks data that its counts or offsets
  // promise; half of a text file may end at a line end and look whole.
  const std::map<std::string, std::string> reported = {
      {".tgtvalues", "Error: file o.tgtvalues holds "},
      {".tidlist.dir", "Error: file o.tidlist.dir holds "},
      {".tidlist", " is outside file o.tidlist\n"}};
  FaultExperiment e;
  for (const std::string& suffix : miner_output_files("")) {
    e.place_miner("f=\"$out" + suffix + "\"\ntruncate -s $(( $(wc -c < \"$f\") / 2 )) \"$f\"\n");
    const CommandResult out = e.run();
    SCOPED_TRACE(suffix);
    expect_clean_ending(out);
    if (reported.contains(suffix)) {
      EXPECT_TRUE(contains(out.output, reported.at(suffix))) << out.output;
    }
  }
  // A rule file cut at a line end looks whole but for the count the
  // statistics file states.
  e.place_miner("head -n 10 \"$out.sorted.rules.txt\" > cut\nmv cut \"$out.sorted.rules.txt\"\n");
  const CommandResult out = e.run();
  expect_clean_ending(out);
  EXPECT_TRUE(contains(out.output, "Error: file o.sorted.rules.txt holds 10 rules, not the "))
      << out.output;
  expect_summary_grew(kEarlierSummary);
}

// Bytes of every value, line ends and the separators the readers look for
// among them.
std::string garbage(size_t size, unsigned seed) {
  std::mt19937 random(seed);
  const std::string separators = "\n\r,=: .-0123456789";
  std::string bytes(size, '\0');
  for (char& byte : bytes) {
    const unsigned draw = random();
    byte =
        static_cast<char>(draw % 3 == 0 ? separators[(draw >> 8) % separators.size()] : draw >> 8);
  }
  return bytes;
}

TEST(Faults, GarbageInEveryInput) {
  FaultExperiment e;
  unsigned seed = 1;
  for (const std::string input : {"vote.data", "vote.names"}) {
    const std::string kept = read_file(input);
    for (const size_t size : {size_t{1} << 6, size_t{1} << 16}) {
      write_file(input, garbage(size, seed++));
      SCOPED_TRACE(input);
      expect_clean_ending(e.run());
    }
    write_file(input, kept);
  }
  for (const std::string& suffix : miner_output_files("")) {
    for (const size_t size : {size_t{1} << 6, size_t{1} << 16}) {
      write_file("garbage", garbage(size, seed++));
      e.place_miner("cp garbage \"$out" + suffix + "\"\n");
      SCOPED_TRACE(suffix);
      expect_clean_ending(e.run());
    }
  }
  expect_summary_grew(kEarlierSummary);
}

// --- Hostile names and huge inputs -----------------------------------------

TEST(Faults, NamesNeverReachAShell) {
  FaultExperiment e;
  // Each name must be taken as it stands; a shell would run the commands.
  const std::string hostile = "a b'c\"d;touch pwned1;$(touch pwned2)`touch pwned3`|\xc3\xa9\xff";
  // 300 characters, in folders since one name may hold only 255 bytes.
  const std::string deep = std::string(140, 'd') + "/" + std::string(140, 'e') + "/";
  const std::string long_name = deep + std::string(300 - deep.size(), 'n');
  fs::create_directories(deep);
  for (const std::string& name : {hostile, long_name}) {
    fs::copy_file("vote.data", name + ".data");
    fs::copy_file("vote.names", name + ".names");
    const CommandResult out = e.run({name, "Class", "1", "20", "0.05", name});
    SCOPED_TRACE(name);
    expect_clean_ending(out);
    EXPECT_FALSE(contains(out.output, "Error: ")) << out.output;
    for (const std::string& path : miner_output_files(name)) EXPECT_TRUE(fs::exists(path)) << path;
    EXPECT_TRUE(fs::exists(name + ".sorted.tidlist.txt"));
    EXPECT_TRUE(read_file(kSummaryFile).ends_with("\n")) << "summary line cut short";
    EXPECT_TRUE(contains(read_file(kSummaryFile), "\nRANDOM_VARNEL " + name + "\t"));
  }
  for (const std::string pwned : {"pwned1", "pwned2", "pwned3"})
    EXPECT_FALSE(fs::exists(pwned)) << "a name reached a shell";
  expect_summary_grew(kEarlierSummary);

  // One name longer than a file system allows: reported, not fatal.
  const std::string too_long(300, 'x');
  const CommandResult out = e.run({too_long, "Class", "1", "20", "0.05", too_long});
  expect_clean_ending(out);
  EXPECT_TRUE(contains(out.output, "Error: cannot open file " + too_long + ".data for read\n"))
      << out.output;
  expect_summary_grew(kEarlierSummary);
}

TEST(Faults, LineBreakInANameKeepsTheSummaryOneLine) {
  FaultExperiment e;
  const std::string name = "two\nlines\tand tab";
  fs::copy_file("vote.data", name + ".data");
  fs::copy_file("vote.names", name + ".names");
  const CommandResult out = e.run({name, "Class", "1", "20", "0.05", "o"});
  expect_clean_ending(out);
  EXPECT_TRUE(
      contains(out.output, "Error: the data name holds a line break; the miner is not run\n"))
      << out.output;
  // The failed experiment adds no line; its record keeps the name, escaped.
  expect_summary_grew(kEarlierSummary);
  EXPECT_TRUE(contains(read_file(experiment_record_file("o")), "\"two\\nlines\\tand tab\""));
}

TEST(Faults, TenMegabyteSingleLines) {
  FaultExperiment e;
  std::string line = "1";
  while (line.size() < (size_t{10} << 20)) line += ",y";
  const std::string names = read_file("vote.names");

  write_file("vote.data", line + "\n");
  CommandResult out = e.run();
  expect_clean_ending(out);
  EXPECT_TRUE(out.output.starts_with("1\n1 0\n")) << out.output.substr(0, 200);

  write_file("vote.data", read_file(std::string(VARNEL_SOURCE_DIR) + "/examples/vote.data"));
  write_file("vote.names", "Class" + std::string(line.size(), 'c') + ": 1,0.\n" + names);
  out = e.run();
  expect_clean_ending(out);
  expect_summary_grew(kEarlierSummary);
}

// --- Two experiments, one directory, and a count that lies ----------------

TEST(Faults, SecondExperimentWaitsForTheFirst) {
  FaultExperiment e;
  // The miner notes when it starts and ends, and takes its time in between.
  e.place_miner("echo start >> miner-runs\nsleep 2\necho end >> miner-runs\n");
  std::future<CommandResult> first = std::async(std::launch::async, [&e] { return e.run(); });
  const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (!fs::exists("miner-runs") && std::chrono::steady_clock::now() < give_up)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  const CommandResult second = e.run({"vote", "Class", "1", "25", "0.05", "p"});
  const CommandResult first_result = first.get();

  expect_clean_ending(first_result);
  expect_clean_ending(second);
  const std::string warning =
      "Warning: another experiment is running in this directory; waiting for it to finish\n";
  EXPECT_TRUE(second.output.starts_with(warning)) << second.output;
  EXPECT_FALSE(contains(second.output.substr(warning.size()), "Warning: another"));
  EXPECT_FALSE(contains(first_result.output, "Warning: ")) << first_result.output;
  EXPECT_EQ(read_file("miner-runs"), "start\nend\nstart\nend\n");
  expect_summary_grew(kEarlierSummary);
  const std::vector<std::string> lines = lines_of(read_file(kSummaryFile));
  EXPECT_TRUE(lines[2].starts_with("RANDOM_VARNEL vote\t20 100 ")) << lines[2];
  EXPECT_TRUE(lines[3].starts_with("RANDOM_VARNEL vote\t25 100 ")) << lines[3];
}

TEST(Faults, StatisticsCountFarBeyondTheLabelFile) {
  FaultExperiment e;
  e.place_miner("sed -i 's/^[0-9]*/2000000000/' \"$out.cfptree.stat\"\n");
  // Under a limit on memory, an array of two billion labels cannot be had.
  // AddressSanitizer reserves far more address space than that for itself.
  std::vector<std::string> args = {"vote", "Class", "1", "20", "0.05", "o"};
  std::string program = e.varnel;
#if !defined(__SANITIZE_ADDRESS__)
  args.insert(args.begin(), {"--as=1000000000", e.varnel});
  program = "/usr/bin/prlimit";
#endif
  const CommandResult out = run_varnel(program, args);
  expect_clean_ending(out);
  EXPECT_TRUE(contains(out.output, "Error: file o.tgtvalues holds ")) << out.output;
  expect_summary_grew(kEarlierSummary);
}

// Counts that lie about sizes cannot make varnel reserve what no file holds,
// and memory that runs out all the same is reported with its stage, never a
// crash: the experiment fails and the summary file stays as it was.
TEST(Faults, LyingSizesUnderAMemoryLimit) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "AddressSanitizer reserves more address space than the limit";
#endif
  const std::string lying_count = "sed -i 's/^[0-9]*/2000000000/' \"$out.cfptree.stat\"\n";
  const std::string lying_rules =
      "echo '0 1 3 999999999 5 0.5 1e-9 0 2' > \"$out.sorted.rules.txt\"\n"
      "truncate -s 20 \"$out.tidlist\"\n";
  const struct {
    std::string damage;
    std::string expected;  // the error line the run must stop at
  } cases[] = {
      {lying_count + lying_rules,
       "Error: file o.tgtvalues holds 217 class labels, fewer than the 2000000000 transactions\n"},
      {lying_rules, "Error: impossible support 999999999 of rule 1 in file o.sorted.rules.txt"},
      // A sparse class-label file that bears out two billion labels.
      {lying_count + "truncate -s 8000000000 \"$out.tgtvalues\"\n", "Error: out of memory while "},
  };
  for (const auto& c : cases) {
    FaultExperiment e;
    e.place_miner(c.damage);
    const CommandResult out = run_varnel(
        "/usr/bin/prlimit", {"--as=500000000", e.varnel, "vote", "Class", "1", "20", "0.05", "o"});
    SCOPED_TRACE(c.expected);
    EXPECT_EQ(out.status, 1) << out.output;
    EXPECT_TRUE(contains(out.output, c.expected)) << out.output;
    EXPECT_TRUE(out.output.ends_with("Error: the experiment failed; no summary line was written\n"))
        << out.output;
    EXPECT_EQ(read_file(kSummaryFile), kEarlierSummary);
  }
}

// Test instance j is numbered mined transactions + j in 32 bits; a count
// that leaves no room for them is a lie the label file gives away first.
TEST(Faults, StatisticsCountWithNoRoomToNumberTheTestInstances) {
  FaultExperiment e;
  e.place_miner("sed -i 's/^[0-9]*/2147483647/' \"$out.cfptree.stat\"\n");
  const CommandResult out = e.run();
  expect_clean_ending(out);
  EXPECT_TRUE(out.output.ends_with(
      "Error: file o.tgtvalues holds 217 class labels, fewer than the 2147483647 transactions\n"
      "Error: the experiment failed; no summary line was written\n"))
      << out.output;
  expect_summary_grew(kEarlierSummary);
}

// --- The record, the summary line on a full disk, other processes ----------

// The line is the last thing an experiment commits: a record that cannot be
// written means no line.
TEST(Faults, RecordThatCannotBeWrittenMeansNoSummaryLine) {
  FaultExperiment e;
  fs::create_symlink("/dev/full", experiment_record_file("o"));
  const CommandResult out = e.run();
  EXPECT_EQ(out.status, 1);
  // After the report, whose last line is empty.
  EXPECT_TRUE(
      out.output.ends_with(")\n\nError: cannot write file o.experiment.json\n"
                           "Error: the experiment failed; no summary line was written\n"))
      << out.output;
  EXPECT_EQ(read_file(kSummaryFile), kEarlierSummary);
}

// Mounts a tmpfs of `bytes` on `folder` for as long as it lives; unmounted
// at the end. Only root (with the right to mount) can make one.
struct SmallFileSystem {
  std::string folder;
  bool mounted = false;
  SmallFileSystem(const std::string& where, size_t bytes) : folder(where) {
    fs::create_directory(folder);
    const std::string size = "size=" + std::to_string(bytes);
    mounted = mount("varnel-test", folder.c_str(), "tmpfs", 0, size.c_str()) == 0;
  }
  ~SmallFileSystem() {
    if (mounted) umount2(folder.c_str(), MNT_DETACH);
  }
};

// Writes `path` until the file system is full.
void fill_up(const std::string& path) {
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  const std::string chunk(512, 'f');
  while (write(fd, chunk.data(), chunk.size()) > 0) {
  }
  close(fd);
}

// A summary file on a full file system, at sizes where the line would cross
// into a block that cannot be had (or fill the last one exactly): the failed
// append leaves the file as it was, byte for byte, and once there is room
// again the next line is whole and on a line of its own.
TEST(Faults, SummaryLineOnAFullFileSystem) {
  FaultExperiment e;
  SmallFileSystem small("small", 64 * 1024);
  if (!small.mounted) GTEST_SKIP() << "cannot mount a tmpfs here (it needs root): not tested";
  const std::string line = lines_of(kEarlierSummary)[0] + "\n";
  for (const size_t size : {size_t{4096} - 50, size_t{4096} - 1, size_t{4096}, size_t{8192} - 10,
                            size_t{12288} - line.size()}) {
    SCOPED_TRACE(size);
    std::string before = kEarlierSummary;
    while (before.size() + line.size() < size) before += line;
    before += std::string(size - before.size() - 1, 'x') + "\n";
    const std::string summary = small.folder + "/Varnel.sum.txt";
    write_file(summary, before);
    fs::remove(kSummaryFile);
    fs::create_symlink(summary, kSummaryFile);
    fill_up(small.folder + "/filler");

    CommandResult out = e.run();
    EXPECT_EQ(out.status, 1);
    EXPECT_TRUE(
        out.output.ends_with("\nError: cannot write file Varnel.sum.txt\n"
                             "Error: the experiment failed; no summary line was written\n"))
        << out.output;
    EXPECT_TRUE(read_file(summary) == before) << "the failed append changed the file";
    const auto record = nlohmann::json::parse(read_file(experiment_record_file("o")));
    EXPECT_EQ(record["status"], "failed");
    EXPECT_EQ(record["failure"], "io");

    fs::remove(small.folder + "/filler");
    out = e.run();
    EXPECT_EQ(out.status, 0) << out.output;
    const std::string after = read_file(summary);
    ASSERT_TRUE(after.starts_with(before));
    const std::vector<std::string> added = lines_of(after.substr(before.size()));
    ASSERT_EQ(added.size(), 1u) << after.substr(before.size());
    EXPECT_TRUE(is_summary_line(added[0])) << added[0];
    EXPECT_TRUE(after.ends_with("\n"));
    fs::remove(summary);
  }
}

// Starts `program` with `args` in `folder`, its console into the file
// `console`; returns its process id.
pid_t start_in(const std::string& folder, const std::string& program,
               const std::vector<std::string>& args, const std::string& console) {
  const pid_t child = fork();
  if (child == 0) {
    const int out = open(console.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (out < 0 || chdir(folder.c_str()) != 0) _exit(127);
    dup2(out, 1);
    dup2(out, 2);
    std::vector<char*> argv{const_cast<char*>(program.c_str())};
    for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    execv(program.c_str(), argv.data());
    _exit(127);
  }
  return child;
}

int wait_status(pid_t child) {
  int status = 0;
  while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  return status;
}

// The miners (processes named Brimel that have not ended) working in
// `folder`: other tests' miners elsewhere are not ours to count.
std::vector<pid_t> miners_in(const std::string& folder) {
  const fs::path place = fs::canonical(folder);
  std::vector<pid_t> miners;
  for (const fs::directory_entry& entry : fs::directory_iterator("/proc")) {
    const std::string pid = entry.path().filename();
    if (pid.find_first_not_of("0123456789") != std::string::npos) continue;
    if (read_file(entry.path() / "comm") != "Brimel\n") continue;
    const std::string stat = read_file(entry.path() / "stat");
    const size_t name_end = stat.rfind(") ");
    if (name_end == std::string::npos || stat[name_end + 2] == 'Z') continue;
    std::error_code gone;
    if (fs::read_symlink(entry.path() / "cwd", gone) == place && !gone)
      miners.push_back(std::stoi(pid));
  }
  return miners;
}

// Waits up to `seconds` for `done`; whether it came true.
bool wait_until(const std::function<bool()>& done, int seconds) {
  const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  while (!done()) {
    if (std::chrono::steady_clock::now() > give_up) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

// A data set on which mining takes a while (a second or more), and
// experiments on it from folders beside it.
struct SlowDataSet {
  ScratchDir dir;
  SlowDataSet() {
    fs::create_directory("data");
    EXPECT_EQ(run_program(kBin + "/make_bench_data", {"correlated", "8000", "1", "data/d"}).status,
              0);
  }
  static std::vector<std::string> args(const std::string& seed, const std::string& min_sup) {
    return {"--seed", seed, "../data/d", "class", "1", min_sup, "0.05", "o"};
  }
};

// The files an experiment leaves for the user, whose bytes are the same for
// the same seed and settings.
const char* const kResultFiles[] = {"o.sorted.rules.txt", "o.sorted.rulenum.txt",
                                    "o.sorted.tidlist.txt", "o.tgtvalues.txt", "o.rules.csv"};

void expect_same_results(const std::string& folder, const std::string& reference) {
  for (const char* file : kResultFiles) {
    SCOPED_TRACE(folder + "/" + file);
    ASSERT_TRUE(fs::exists(folder + "/" + file));
    EXPECT_TRUE(read_file(folder + "/" + file) == read_file(reference + "/" + file))
        << "differs from the run alone";
  }
}

// The split parts lie beside the data set, so experiments on one data set
// from two folders share them: the second waits for the first to finish with
// them, and each result is the one it gets alone.
TEST(Faults, TwoFoldersOneDataSet) {
  SlowDataSet data;
  for (const std::string folder : {"alone-1", "alone-2", "together-1", "together-2"})
    fs::create_directory(folder);
  for (const std::string seed : {"1", "2"}) {
    const pid_t alone =
        start_in("alone-" + seed, kVarnel, SlowDataSet::args(seed, "100"), "alone.txt");
    ASSERT_EQ(wait_status(alone), 0) << read_file("alone.txt");
  }
  const pid_t first =
      start_in("together-1", kVarnel, SlowDataSet::args("1", "100"), "together-1.txt");
  // Once the first is mining, its parts are written and in use.
  ASSERT_TRUE(wait_until([] { return fs::exists("together-1/orsk.para"); }, 60));
  const pid_t second =
      start_in("together-2", kVarnel, SlowDataSet::args("2", "100"), "together-2.txt");
  EXPECT_EQ(wait_status(first), 0) << read_file("together-1.txt");
  EXPECT_EQ(wait_status(second), 0) << read_file("together-2.txt");
  expect_same_results("together-1", "alone-1");
  expect_same_results("together-2", "alone-2");
  EXPECT_TRUE(read_file("together-2.txt")
                  .starts_with("Warning: another experiment is using the split parts "
                               "../data/d_part_0 and ../data/d_part_1; waiting for it to "
                               "finish\n"))
      << read_file("together-2.txt");
}

// A driver killed while its miner runs takes the miner with it; a miner run
// through a script that outlives the driver renames nothing and holds the
// experiment's locks until it ends, so the next experiment in the folder
// waits for it, and the files it leaves are its own.
TEST(Faults, TheMinerEndsWithTheDriver) {
  SlowDataSet data;
  fs::create_directory("alone");
  const pid_t alone = start_in("alone", kVarnel, SlowDataSet::args("2", "100"), "alone.txt");
  ASSERT_EQ(wait_status(alone), 0) << read_file("alone.txt");
  for (const int signal : {SIGKILL, SIGTERM}) {
    for (const bool scripted : {false, true}) {
      const std::string folder = std::string(strsignal(signal)) + (scripted ? "-scripted" : "");
      SCOPED_TRACE(folder);
      fs::create_directory(folder);
      std::string varnel = kVarnel;
      if (scripted) {
        make_executable(folder + "/Brimel", "#!/bin/sh\n'" + kBin + "/Brimel' \"$1\"\n");
        const fs::path back = fs::current_path();
        fs::current_path(folder);
        varnel = e2e::varnel_beside_scripted_miner();
        fs::current_path(back);
      }
      const std::string console = folder + ".txt";
      const pid_t driver = start_in(folder, varnel, SlowDataSet::args("1", "60"), console);
      // The script and the miner it runs, or the miner alone.
      const size_t miners = scripted ? 2 : 1;
      ASSERT_TRUE(wait_until([&] { return miners_in(folder).size() == miners; }, 60))
          << read_file(console);
      kill(driver, signal);
      const int status = wait_status(driver);
      EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal) << read_file(console);
      if (signal == SIGTERM) {
        // It passed the signal on, waited for the miner and kept its record.
        EXPECT_TRUE(contains(read_file(console),
                             "Error: signal 15 (Terminated) reached varnel while the miner ran; "
                             "the miner got it too\n"
                             "Error: the experiment failed; no summary line was written\n"))
            << read_file(console);
        const auto record =
            nlohmann::json::parse(read_file(folder + "/" + experiment_record_file("o")));
        EXPECT_EQ(record["failure"], "io");
      }
      if (!scripted) {
        EXPECT_TRUE(wait_until([&] { return miners_in(folder).empty(); }, 10))
            << "the miner outlived the driver";
      }
      const CommandResult next = [&] {
        const fs::path back = fs::current_path();
        fs::current_path(folder);
        CommandResult result = run_program(varnel, SlowDataSet::args("2", "100"));
        fs::current_path(back);
        return result;
      }();
      EXPECT_EQ(next.status, 0) << next.output;
      // A miner left over from the script ends on its own, renaming nothing.
      EXPECT_TRUE(wait_until([&] { return miners_in(folder).empty(); }, 120));
      expect_same_results(folder, "alone");
      EXPECT_EQ(lines_of(read_file(folder + "/" + kSummaryFile)).size(), 1u);
      if (scripted) {
        EXPECT_TRUE(contains(read_file(console),
                             "Error: the experiment driver that started the miner has ended; no "
                             "file is renamed\n"))
            << read_file(console);
        EXPECT_TRUE(next.output.starts_with(
            "Warning: another experiment is running in this directory; waiting for it to "
            "finish\n"))
            << next.output;
      }
    }
  }
}

// The miner's own command refuses an empty output name (hidden files) and a
// level it cannot take, saying what it takes; a run whose permutations take
// the memory is told to ask for fewer, not for a larger min_sup, and fails
// as the system's fault.
TEST(Faults, MinerSettingsAndMemoryForPermutations) {
  ScratchDir dir;
  const std::string brimel = kBin + "/Brimel";
  for (const auto& [args, message] : std::vector<std::pair<std::vector<std::string>, std::string>>{
           {{"d", "class", "1", "20", "0.05", ""},
            "Error: OUTPUT: a name expected; it begins the name of every output file\n"},
           {{"d", "class", "1", "20", "5e-324", "o"},
            "Error: MAX_PVALUE 5e-324: a number from 2.2250738585072014e-308 to 1 expected\n"}}) {
    std::vector<std::string> call = {"--write-parameters", "p.para"};
    call.insert(call.end(), args.begin(), args.end());
    const CommandResult out = run_program(brimel, call);
    EXPECT_EQ(out.status, 1);
    EXPECT_EQ(out.output, message);
    EXPECT_FALSE(fs::exists("p.para"));
  }
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "AddressSanitizer reserves more address space than the limit";
#endif
  // 100,000 permutations of 20,000 records take 250 MB for their labels.
  ASSERT_EQ(run_program(kBin + "/make_bench_data", {"correlated", "20000", "1", "d"}).status, 0);
  for (const std::string permutations : {"100000", "1000"}) {
    SCOPED_TRACE(permutations);
    ASSERT_EQ(run_program(brimel, {"--write-parameters", "p.para", "d", "class", "1", "2000",
                                   "0.05", "o", "--direct", "--permutations", permutations})
                  .status,
              0);
    setenv("BRIMEL_THREADS", "1", 1);
    const CommandResult out = run_program("/usr/bin/prlimit", {"--as=150000000", brimel, "p.para"});
    unsetenv("BRIMEL_THREADS");
    if (permutations == "1000") {
      EXPECT_EQ(out.status, 0) << out.output;
    } else {
      EXPECT_EQ(out.status, kMinerSystemFailure);
      EXPECT_TRUE(out.output.ends_with(
          "Error: out of memory with 100000 permutations; ask for fewer permutations\n"))
          << out.output;
    }
  }
}

}  // namespace

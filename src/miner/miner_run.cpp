// Writing the miner's parameter file and running the miner as a child
// process, with no shell between us and it.
#include "miner/miner_run.h"

#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <utility>

extern char** environ;

namespace {

constexpr const char* kParameterFile = "orsk.para";
constexpr const char* kLocalMiner = "./Brimel";

bool is_executable_file(const std::string& path) {
  struct stat info;
  return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
         ::access(path.c_str(), X_OK) == 0;
}

std::string running_program_dir() {
  std::error_code error;
  const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
  return error ? std::string() : self.parent_path().string();
}

// The parameter file is read line by line, so a line break inside a value
// would smuggle in keys of its own.
bool holds_line_break(const std::string& text) {
  return text.find_first_of("\r\n") != std::string::npos;
}

void remove_miner_outputs(const std::string& output_name) {
  for (std::string_view suffix : kMinerOutputSuffixes)
    std::remove((output_name + std::string(suffix)).c_str());
}

void start_and_wait(const std::string& miner_path) {
  std::string parameter_file = kParameterFile;
  std::string program = miner_path;
  char* argv[] = {program.data(), parameter_file.data(), nullptr};
  pid_t child = 0;
  const int error = posix_spawn(&child, program.c_str(), nullptr, nullptr, argv, environ);
  if (error != 0) {
    std::printf("Error: cannot start the miner %s: %s\n", miner_path.c_str(), std::strerror(error));
    return;
  }
  int status = 0;
  while (waitpid(child, &status, 0) == -1 && errno == EINTR) {
  }
  // A miner that failed says why itself; one killed by a signal cannot.
  if (WIFSIGNALED(status)) {
    std::printf("Error: the miner %s was killed by signal %d\n", miner_path.c_str(),
                WTERMSIG(status));
  }
}

}  // namespace

bool write_miner_parameter_file(const std::string& data_base, const std::string& target_attr,
                                const std::string& target_value, int min_sup,
                                const std::string& output_name, double max_pvalue,
                                double max_local_pvalue, double min_diff) {
  std::FILE* file = std::fopen(kParameterFile, "w");
  if (file == nullptr) {
    std::printf("Error: cannot open file %s for write\n", kParameterFile);
    return false;
  }
  std::fprintf(file, "data_file=%s.data\n", data_base.c_str());
  std::fprintf(file, "names_file=%s.names\n", data_base.c_str());
  std::fprintf(file, "materialization_mode=freq only\n");
  std::fprintf(file, "signal_type=rule\n");
  std::fprintf(file, "context_attributes=\n");
  std::fprintf(file, "comparing_attributes=\n");
  std::fprintf(file, "target_attribute=%s\n", target_attr.c_str());
  std::fprintf(file, "target_value=%s\n", target_value.c_str());
  std::fprintf(file, "test-statistic=fisher's exact test\n");
  std::fprintf(file, "compare_mode=pairwise\n");
  std::fprintf(file, "min_sup=%d\n", min_sup);
  std::fprintf(file, "max_len=%d\n", 100);
  std::fprintf(file, "max_pvalue=%f\n", max_pvalue);
  std::fprintf(file, "max_local_pvalue=%f\n", max_local_pvalue);
  std::fprintf(file, "effect_size_method=confidence\n");
  std::fprintf(file, "min_diff=%f\n", min_diff);
  std::fprintf(file, "seeding_method=global\n");
  std::fprintf(file, "data_perm_method=swap\n");
  std::fprintf(file, "output_mode=all\n");
  std::fprintf(file, "gen_tid_list=yes\n");
  std::fprintf(file, "output=%s\n", output_name.c_str());
  // A parameter file cut short by a full disk would run the miner on
  // whatever settings survived.
  if (std::fclose(file) != 0) {
    std::printf("Error: cannot write file %s\n", kParameterFile);
    return false;
  }
  return true;
}

std::string find_miner_executable(const std::string& program_dir) {
  if (is_executable_file(kLocalMiner)) return kLocalMiner;
  if (!program_dir.empty()) {
    const std::string installed = (std::filesystem::path(program_dir) / "Brimel").string();
    if (is_executable_file(installed)) return installed;
  }
  return kLocalMiner;
}

std::string miner_command_line(const std::string& miner_path) {
  std::string shown;
  if (miner_path == kLocalMiner) {
    shown = miner_path;
  } else {
    shown = "'";
    for (char ch : miner_path) shown += ch == '\'' ? std::string("'\\''") : std::string(1, ch);
    shown += "'";
  }
  return shown + " " + kParameterFile + "\n";
}

void run_miner(const std::string& data_base, const std::string& target_attr,
               const std::string& target_value, int min_sup, const std::string& output_name,
               double max_pvalue, double max_local_pvalue, double min_diff) {
  // Removed first, whatever happens next: the split differs on every run,
  // so an earlier run's files describe other transactions.
  remove_miner_outputs(output_name);

  const std::pair<const char*, const std::string*> texts[] = {{"data name", &data_base},
                                                              {"target attribute", &target_attr},
                                                              {"target value", &target_value},
                                                              {"output name", &output_name}};
  for (const auto& [what, text] : texts) {
    if (holds_line_break(*text)) {
      std::printf("Error: the %s holds a line break; the miner is not run\n", what);
      return;
    }
  }
  if (!write_miner_parameter_file(data_base, target_attr, target_value, min_sup, output_name,
                                  max_pvalue, max_local_pvalue, min_diff))
    return;

  const std::string miner = find_miner_executable(running_program_dir());
  std::fputs(miner_command_line(miner).c_str(), stdout);
  // The miner writes to the same console; our lines must come out first.
  std::fflush(stdout);
  start_and_wait(miner);
}

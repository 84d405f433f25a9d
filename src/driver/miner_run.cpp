// Writing the miner's parameter file and running the miner as a child
// process, with no shell between us and it.
#include "driver/miner_run.h"

#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <utility>

#include "common/file_open.h"
#include "common/messages.h"
#include "common/run_files.h"
#include "minerio/miner_params.h"

extern char** environ;

namespace {

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

bool start_and_wait(const std::string& miner_path) {
  std::string parameter_file = kParameterFile;
  std::string program = miner_path;
  char* argv[] = {program.data(), parameter_file.data(), nullptr};
  pid_t child = 0;
  const int error = posix_spawn(&child, program.c_str(), nullptr, nullptr, argv, environ);
  if (error != 0) {
    report_error("cannot start the miner %s: %s", miner_path.c_str(), std::strerror(error));
    return false;
  }
  int status = 0;
  while (waitpid(child, &status, 0) == -1 && errno == EINTR) {
  }
  // A miner that failed says why itself, but may not say so as an error;
  // one killed by a signal cannot say anything.
  if (WIFSIGNALED(status)) {
    report_error("the miner %s was killed by signal %d", miner_path.c_str(), WTERMSIG(status));
    return false;
  }
  if (WIFEXITED(status) && WEXITSTATUS(status) != 0) {
    report_error("the miner %s exited with status %d", miner_path.c_str(), WEXITSTATUS(status));
    return false;
  }
  return true;
}

}  // namespace

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

bool run_miner(const MinerParams& params) {
  const std::pair<const char*, const std::string*> texts[] = {
      {"data name", &params.data_file},
      {"target attribute", &params.target_attribute},
      {"target value", &params.target_value},
      {"output name", &params.output}};
  for (const auto& [what, text] : texts) {
    if (holds_line_break(*text)) {
      report_error("the %s holds a line break; the miner is not run", what);
      return false;
    }
  }
  if (!write_miner_params(kParameterFile, params)) return false;

  const std::string miner = find_miner_executable(running_program_dir());
  std::fputs(miner_command_line(miner).c_str(), stdout);
  // The miner writes to the same console; our lines must come out first.
  std::fflush(stdout);
  return start_and_wait(miner);
}

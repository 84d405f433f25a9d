// Test support: a fresh temporary directory to work in, small file helpers,
// and running a real executable with its console output captured.
#pragma once

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

// Creates a fresh temporary directory and makes it the working directory;
// the old working directory comes back and the directory goes away at the end.
struct ScratchDir {
  std::filesystem::path previous = std::filesystem::current_path();
  std::filesystem::path path;

  ScratchDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "varnel-test-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) std::abort();
    path = pattern;
    std::filesystem::current_path(path);
  }
  ~ScratchDir() {
    std::error_code ignored;
    std::filesystem::current_path(previous, ignored);
    // Only ever a directory this object made: a slip here must not be able
    // to remove anything else.
    if (path.filename().string().rfind("varnel-test-", 0) == 0 &&
        path.parent_path() == std::filesystem::temp_directory_path()) {
      std::filesystem::remove_all(path, ignored);
    }
  }
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
};

inline std::string read_file(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

inline void write_file(const std::filesystem::path& path, const std::string& content) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << content;
}

struct CommandResult {
  int status = -1;     // exit status, or -1 when the process did not exit normally
  std::string output;  // standard output and standard error together
};

// Runs `program` with `args` in the working directory, without a shell.
inline CommandResult run_program(const std::string& program, const std::vector<std::string>& args) {
  CommandResult result;
  int pipe_ends[2];
  if (pipe(pipe_ends) != 0) return result;
  const pid_t child = fork();
  if (child == 0) {
    dup2(pipe_ends[1], 1);
    dup2(pipe_ends[1], 2);
    close(pipe_ends[0]);
    close(pipe_ends[1]);
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    execv(program.c_str(), argv.data());
    _exit(127);
  }
  close(pipe_ends[1]);
  char buffer[4096];
  ssize_t got = 0;
  while ((got = read(pipe_ends[0], buffer, sizeof buffer)) > 0) result.output.append(buffer, got);
  close(pipe_ends[0]);
  int status = 0;
  waitpid(child, &status, 0);
  if (WIFEXITED(status)) result.status = WEXITSTATUS(status);
  return result;
}

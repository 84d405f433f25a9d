// Writing the miner's parameter file and running the miner as a child
// process, with no shell between us and it, and no life beyond the driver's.
#include "driver/miner_run.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/signalfd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

#include "common/messages.h"
#include "common/run_files.h"
#include "minerio/driver_link.h"
#include "minerio/miner_params.h"

extern char** environ;

namespace {

constexpr const char* kLocalMiner = "./Brimel";
// The signals that ask the driver to stop: the miner gets them too.
constexpr int kPassedOn[] = {SIGINT, SIGTERM, SIGHUP};

bool is_executable_file(const std::string& path) {
  struct stat info;
  return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
         ::access(path.c_str(), X_OK) == 0;
}

// The bound of kMinerTimeoutVariable in seconds, nothing when it is unset or
// empty; false after an "Error: " line when it is no number above 0.
bool read_time_limit(std::optional<double>& seconds) {
  seconds.reset();
  const char* text = std::getenv(kMinerTimeoutVariable);
  if (text == nullptr || *text == '\0') return true;
  char* end = nullptr;
  errno = 0;
  const double value = std::strtod(text, &end);
  if (errno != 0 || *end != '\0' || !std::isfinite(value) || !(value > 0.0)) {
    report_error("%s=%s: a number of seconds above 0 expected; the miner is not run",
                 kMinerTimeoutVariable, text);
    return false;
  }
  seconds = value;
  return true;
}

// The driver's environment for the miner, with the link's read end named.
std::vector<std::string> miner_environment(int link_read_end) {
  const std::string prefix = std::string(kDriverLinkVariable) + "=";
  std::vector<std::string> settings;
  for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
    if (!std::string_view(*entry).starts_with(prefix)) settings.emplace_back(*entry);
  }
  settings.push_back(driver_link_setting(link_read_end));
  return settings;
}

// What the child needs between fork and exec, all made before the fork: the
// child may call only what is safe there.
struct MinerStart {
  char* const* argv = nullptr;
  char* const* envp = nullptr;
  pid_t driver = 0;
  sigset_t mask{};                   // the driver's signal mask before the run
  struct sigaction child_signal {};  // and its SIGCHLD action
  int inherited[3] = {-1, -1, -1};   // the link's read end and the experiment's locks
  int exec_report = -1;              // where the child writes errno when exec fails
};

[[noreturn]] void become_miner(const MinerStart& start) {
  // The miner ends with the driver, also when the driver ended before this.
  prctl(PR_SET_PDEATHSIG, SIGKILL);
  if (getppid() != start.driver) _exit(127);
  sigaction(SIGCHLD, &start.child_signal, nullptr);
  sigprocmask(SIG_SETMASK, &start.mask, nullptr);
  for (const int fd : start.inherited) {
    if (fd >= 0) fcntl(fd, F_SETFD, 0);
  }
  execve(start.argv[0], start.argv, start.envp);
  const int error = errno;
  if (write(start.exec_report, &error, sizeof error) < 0) _exit(127);
  _exit(127);
}

// Waits for `child`, passing on the signals read from `signals` and killing
// it once `limit` seconds have passed. Returns its wait status, or nothing
// when it cannot be had (someone else took it).
std::optional<int> wait_for_miner(pid_t child, int signals, std::optional<double> limit,
                                  int& stop_signal, bool& timed_out) {
  using Clock = std::chrono::steady_clock;
  const Clock::time_point start = Clock::now();
  for (;;) {
    int status = 0;
    const pid_t done = waitpid(child, &status, WNOHANG);
    if (done == child) return status;
    if (done < 0 && errno != EINTR) return std::nullopt;
    int wait_ms = -1;
    if (limit && !timed_out) {
      const double left = *limit - std::chrono::duration<double>(Clock::now() - start).count();
      if (left <= 0.0) {
        kill(child, SIGKILL);
        timed_out = true;
        continue;
      }
      wait_ms = static_cast<int>(std::min(std::ceil(left * 1000.0), 1e9));
    }
    pollfd ready{signals, POLLIN, 0};
    poll(&ready, 1, wait_ms);
    signalfd_siginfo info;
    while (read(signals, &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
      const int signal = static_cast<int>(info.ssi_signo);
      if (signal == SIGCHLD) continue;  // a child ended: the loop looks
      if (stop_signal == 0) stop_signal = signal;
      kill(child, signal);
    }
  }
}

// The experiment's verdict on a miner that was started (or not) and waited
// for: true when it exited with status 0, else after the error line that
// says what became of it.
bool judge_miner_end(const std::string& miner_path, int start_error,
                     const std::optional<int>& status, bool timed_out, std::optional<double> limit,
                     int stop_signal) {
  if (start_error != 0) {
    report_io_error("cannot start the miner %s: %s", miner_path.c_str(),
                    std::strerror(start_error));
    return false;
  }
  if (stop_signal != 0) {
    report_io_error("signal %d (%s) reached varnel while the miner ran; the miner got it too",
                    stop_signal, strsignal(stop_signal));
    return false;
  }
  if (timed_out) {
    report_io_error("the miner %s ran longer than the %g seconds of %s and was killed",
                    miner_path.c_str(), *limit, kMinerTimeoutVariable);
    return false;
  }
  if (!status) {
    report_io_error("the miner %s ended, but its exit status cannot be had", miner_path.c_str());
    return false;
  }
  // A miner that failed says why itself, but may not say so as an error;
  // one killed by a signal cannot say anything.
  if (WIFSIGNALED(*status)) {
    report_io_error("the miner %s was killed by signal %d", miner_path.c_str(), WTERMSIG(*status));
    return false;
  }
  if (WIFEXITED(*status) && WEXITSTATUS(*status) != 0) {
    if (WEXITSTATUS(*status) == kMinerSystemFailure) {
      report_io_error("the miner %s exited with status %d", miner_path.c_str(),
                      WEXITSTATUS(*status));
    } else {
      report_error("the miner %s exited with status %d", miner_path.c_str(), WEXITSTATUS(*status));
    }
    return false;
  }
  return true;
}

bool start_and_wait(const std::string& miner_path, std::optional<double> limit,
                    MinerContext& context) {
  int link[2];
  int exec_report[2];
  if (pipe2(link, O_CLOEXEC) != 0) {
    report_io_error("cannot start the miner %s: %s", miner_path.c_str(), std::strerror(errno));
    return false;
  }
  if (pipe2(exec_report, O_CLOEXEC) != 0) {
    report_io_error("cannot start the miner %s: %s", miner_path.c_str(), std::strerror(errno));
    close(link[0]);
    close(link[1]);
    return false;
  }
  std::string program = miner_path;
  std::string parameter_file = kParameterFile;
  char* argv[] = {program.data(), parameter_file.data(), nullptr};
  std::vector<std::string> settings = miner_environment(link[0]);
  std::vector<char*> envp;
  for (std::string& setting : settings) envp.push_back(setting.data());
  envp.push_back(nullptr);

  MinerStart start;
  start.argv = argv;
  start.envp = envp.data();
  start.driver = getpid();
  start.inherited[0] = link[0];
  start.inherited[1] = context.locks.directory;
  start.inherited[2] = context.locks.split_parts;
  start.exec_report = exec_report[1];
  // The signals are taken from a descriptor while the miner runs, and
  // SIGCHLD is there too, so a miner that ends wakes the wait. An ignored
  // SIGCHLD would leave no status to wait for; the miner gets it back.
  sigset_t taken;
  sigemptyset(&taken);
  for (const int signal : kPassedOn) sigaddset(&taken, signal);
  sigaddset(&taken, SIGCHLD);
  sigprocmask(SIG_BLOCK, &taken, &start.mask);
  struct sigaction child_default {};
  child_default.sa_handler = SIG_DFL;
  sigaction(SIGCHLD, &child_default, &start.child_signal);
  const int signals = signalfd(-1, &taken, SFD_CLOEXEC | SFD_NONBLOCK);
  const pid_t child = signals < 0 ? -1 : fork();
  if (child == 0) become_miner(start);
  int start_error = child > 0 ? 0 : errno;
  close(link[0]);
  close(exec_report[1]);
  if (child > 0) {
    int error = 0;
    ssize_t got = 0;
    while ((got = read(exec_report[0], &error, sizeof error)) < 0 && errno == EINTR) {
    }
    if (got == static_cast<ssize_t>(sizeof error)) start_error = error;
  }
  close(exec_report[0]);
  bool timed_out = false;
  std::optional<int> status;
  if (child > 0) {
    status = wait_for_miner(child, signals, start_error == 0 ? limit : std::nullopt,
                            context.stop_signal, timed_out);
  }
  if (signals >= 0) close(signals);
  close(link[1]);
  sigaction(SIGCHLD, &start.child_signal, nullptr);
  sigprocmask(SIG_SETMASK, &start.mask, nullptr);

  return judge_miner_end(miner_path, start_error, status, timed_out, limit, context.stop_signal);
}

}  // namespace

std::string find_miner_executable(const std::string& program_dir) {
  if (!program_dir.empty()) {
    const std::string installed = (std::filesystem::path(program_dir) / "Brimel").string();
    if (is_executable_file(installed)) return installed;
  }
  return kLocalMiner;
}

std::string running_program_dir() {
  std::error_code error;
  const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
  return error ? std::string() : self.parent_path().string();
}

std::string miner_command_line(const std::string& miner_path) {
  if (miner_path == kLocalMiner) return miner_path + " " + kParameterFile + "\n";
  std::string shown(1, '\'');
  for (char ch : miner_path) shown += ch == '\'' ? std::string("'\\''") : std::string(1, ch);
  return shown + "' " + kParameterFile + "\n";
}

bool run_miner(const MinerParams& params, const std::string& miner_path, MinerContext& context) {
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
  std::optional<double> limit;
  if (!read_time_limit(limit)) return false;
  if (!write_miner_params(kParameterFile, params)) return false;

  std::fputs(miner_command_line(miner_path).c_str(), stdout);
  // The miner writes to the same console; our lines must come out first.
  std::fflush(stdout);
  return start_and_wait(miner_path, limit, context);
}

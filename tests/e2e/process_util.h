// Helpers for the end-to-end tests: scratch directories, files, and child processes whose output
// is captured with a time limit.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

extern char** environ;

namespace ovra::testing {

namespace fs = std::filesystem;

inline std::string ovrac_path() {
  return OVRAC_PATH;
}
inline fs::path source_dir() {
  return OVRA_SOURCE_DIR;
}

inline std::string read_text(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

inline void write_text(const fs::path& path, std::string_view text) {
  fs::create_directories(path.parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
  if (!out)
    throw std::runtime_error("cannot write " + path.string());
}

// A fresh directory under the system's temporary directory, removed with everything in it.
class TempDir {
 public:
  TempDir() {
    std::string pattern = (fs::temp_directory_path() / "ovrac-e2e-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr)
      throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  ~TempDir() {
    std::error_code ignored;
    // Restore write permission first so that tests which lock a directory can still clean up.
    for (auto it = fs::recursive_directory_iterator(path_, ignored);
         it != fs::recursive_directory_iterator(); it.increment(ignored)) {
      if (it->is_directory(ignored))
        fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ignored);
    }
    fs::remove_all(path_, ignored);
  }
  const fs::path& path() const { return path_; }
  fs::path operator/(const std::string& name) const { return path_ / name; }

 private:
  fs::path path_;
};

struct ProcessOptions {
  fs::path cwd;                                          // empty: the test's own
  std::vector<std::pair<std::string, std::string>> env;  // set or replaced in the child
  std::chrono::milliseconds timeout{60000};
};

// Options that only choose the working directory.
inline ProcessOptions in_directory(const fs::path& cwd) {
  ProcessOptions options;
  options.cwd = cwd;
  return options;
}

struct ProcessResult {
  int exit_code = -1;  // -1 when ended by a signal
  bool timed_out = false;
  std::string out;
  std::string err;
};

// A running child with its standard output and error captured through pipes and its standard
// input closed. The destructor kills and reaps it if it is still running.
class ChildProcess {
 public:
  ChildProcess(const std::vector<std::string>& argv, const ProcessOptions& options = {}) {
    int out_pipe[2], err_pipe[2];
    if (::pipe2(out_pipe, O_CLOEXEC) != 0 || ::pipe2(err_pipe, O_CLOEXEC) != 0) {
      throw std::runtime_error("pipe failed");
    }
    std::vector<std::string> environment;
    for (char** entry = environ; *entry != nullptr; ++entry) {
      std::string text = *entry;
      bool replaced = false;
      for (const auto& [name, value] : options.env)
        replaced |= text.starts_with(name + "=");
      if (!replaced)
        environment.push_back(std::move(text));
    }
    for (const auto& [name, value] : options.env)
      environment.push_back(name + "=" + value);

    std::vector<char*> child_argv, child_env;
    std::vector<std::string> argv_copy = argv;
    for (std::string& argument : argv_copy)
      child_argv.push_back(argument.data());
    child_argv.push_back(nullptr);
    for (std::string& entry : environment)
      child_env.push_back(entry.data());
    child_env.push_back(nullptr);
    std::string path_value;
    for (const std::string& entry : environment) {
      if (entry.starts_with("PATH="))
        path_value = entry.substr(5);
    }

    pid_ = ::fork();
    if (pid_ < 0)
      throw std::runtime_error("fork failed");
    if (pid_ == 0) {
      ::setpgid(0, 0);
      int null_input = ::open("/dev/null", O_RDONLY);
      ::dup2(null_input, 0);
      ::dup2(out_pipe[1], 1);
      ::dup2(err_pipe[1], 2);
      if (!options.cwd.empty() && ::chdir(options.cwd.c_str()) != 0)
        ::_exit(126);
      const std::string program = argv.front();
      if (program.find('/') != std::string::npos) {
        ::execve(program.c_str(), child_argv.data(), child_env.data());
      } else {
        std::stringstream dirs(path_value);
        std::string dir;
        while (std::getline(dirs, dir, ':')) {
          const std::string candidate = (dir.empty() ? "." : dir) + "/" + program;
          ::execve(candidate.c_str(), child_argv.data(), child_env.data());
        }
      }
      ::_exit(127);
    }
    ::close(out_pipe[1]);
    ::close(err_pipe[1]);
    out_fd_ = out_pipe[0];
    err_fd_ = err_pipe[0];
  }
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;
  ~ChildProcess() {
    if (pid_ > 0 && !reaped_) {
      ::kill(-pid_, SIGKILL);
      ::kill(pid_, SIGKILL);
      wait_for_exit();
    }
    if (out_fd_ >= 0)
      ::close(out_fd_);
    if (err_fd_ >= 0)
      ::close(err_fd_);
  }

  const std::string& out() const { return out_; }
  const std::string& err() const { return err_; }

  // Reads output until `done` holds for (out, err), both streams close, or the time runs out.
  // Returns whether `done` held.
  bool read_until(const std::function<bool(const std::string&, const std::string&)>& done,
                  std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!done(out_, err_)) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0)
        return false;
      if (out_fd_ < 0 && err_fd_ < 0)
        return false;
      pollfd fds[2] = {{out_fd_, POLLIN, 0}, {err_fd_, POLLIN, 0}};
      const int ready = ::poll(fds, 2, static_cast<int>(left.count()));
      if (ready < 0 && errno != EINTR)
        return false;
      drain(fds[0], out_fd_, out_);
      drain(fds[1], err_fd_, err_);
    }
    return true;
  }

  // Waits until `text` appears `count` times in standard output (or error, with `in_err`).
  bool wait_for(const std::string& text, std::chrono::milliseconds timeout, bool in_err = false,
                std::size_t count = 1) {
    return read_until(
        [&](const std::string& out, const std::string& err) {
          const std::string& stream = in_err ? err : out;
          std::size_t found = 0;
          for (std::size_t at = stream.find(text); at != std::string::npos;
               at = stream.find(text, at + text.size())) {
            ++found;
          }
          return found >= count;
        },
        timeout);
  }

  // Reads everything until both streams close (or the time runs out, then kills the child) and
  // returns the exit status.
  ProcessResult finish(std::chrono::milliseconds timeout) {
    ProcessResult result;
    const bool closed =
        read_until([](const std::string&, const std::string&) { return false; }, timeout) ||
        (out_fd_ < 0 && err_fd_ < 0);
    if (!closed) {
      result.timed_out = true;
      ::kill(-pid_, SIGKILL);
      ::kill(pid_, SIGKILL);
    }
    const int status = wait_for_exit();
    result.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    result.out = out_;
    result.err = err_;
    return result;
  }

 private:
  static void drain(const pollfd& entry, int& fd, std::string& sink) {
    if (fd < 0 || (entry.revents & (POLLIN | POLLHUP | POLLERR)) == 0)
      return;
    char buffer[4096];
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n > 0) {
      sink.append(buffer, static_cast<std::size_t>(n));
    } else if (n == 0 || errno != EINTR) {
      ::close(fd);
      fd = -1;
    }
  }

  int wait_for_exit() {
    int status = 0;
    while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
    reaped_ = true;
    return status;
  }

  pid_t pid_ = -1;
  bool reaped_ = false;
  int out_fd_ = -1;
  int err_fd_ = -1;
  std::string out_;
  std::string err_;
};

inline ProcessResult run_process(const std::vector<std::string>& argv,
                                 const ProcessOptions& options = {}) {
  ChildProcess child(argv, options);
  return child.finish(options.timeout);
}

// Runs ovrac with `args` (program name excluded).
inline ProcessResult run_ovrac(const std::vector<std::string>& args,
                               const ProcessOptions& options = {}) {
  std::vector<std::string> argv{ovrac_path()};
  argv.insert(argv.end(), args.begin(), args.end());
  return run_process(argv, options);
}

}  // namespace ovra::testing

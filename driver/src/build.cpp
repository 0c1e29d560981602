#include "build.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <iostream>
#include <system_error>

#include "compiler.h"

extern char** environ;

namespace ovra {

CompileTarget target_from_name(std::string_view target_name) {
  if (target_name == "wasm")
    return CompileTarget::Wasm;
  if (target_name == "llvm")
    return CompileTarget::Llvm;
  if (target_name == "ts")
    return CompileTarget::TypeScript;
  return CompileTarget::JavaScript;
}

std::string os_error_text(int error_number) {
  return std::system_category().message(error_number);
}

std::string exit_code_text(int wait_status) {
  if (WIFEXITED(wait_status))
    return "Some(" + std::to_string(WEXITSTATUS(wait_status)) + ")";
  return "None";
}

namespace {

// Larger sources are refused rather than read: an endless input such as /dev/zero would
// otherwise fill the memory before the compiler ever saw it. 256 MiB is about eight times a
// million-line program.
constexpr std::size_t kMaxSourceBytes = std::size_t{256} << 20;

CompilerError os_error(int error_number) {
  return CompilerError::io(os_error_text(error_number));
}

// Closes the descriptor on every path out of a scope.
class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  ~FileDescriptor() {
    if (fd_ >= 0)
      ::close(fd_);
  }
  int get() const { return fd_; }
  // Closes now and reports the error close() gives (a delayed write failure shows up here).
  int close() {
    const int result = ::close(fd_);
    fd_ = -1;
    return result == 0 ? 0 : errno;
  }

 private:
  int fd_;
};

std::string parent_directory(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  if (slash == std::string::npos)
    return ".";
  if (slash == 0)
    return "/";
  return path.substr(0, slash);
}

std::string last_component(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The file a write to `path` should replace: the target of a symbolic link, so that the link
// itself survives as it would with an in-place write.
std::string replacement_target(const std::string& path) {
  struct stat link_info {};
  if (::lstat(path.c_str(), &link_info) != 0 || !S_ISLNK(link_info.st_mode))
    return path;
  char resolved[PATH_MAX];
  if (::realpath(path.c_str(), resolved) == nullptr)
    return path;
  return resolved;
}

Status write_all(int fd, std::string_view contents) {
  std::size_t written = 0;
  while (written < contents.size()) {
    const ssize_t n = ::write(fd, contents.data() + written, contents.size() - written);
    if (n < 0) {
      if (errno == EINTR)
        continue;
      return os_error(errno);
    }
    written += static_cast<std::size_t>(n);
  }
  return Unit{};
}

// Runs `tsc <output>` with the standard streams inherited and waits for it.
Status run_type_checker(const std::string& output) {
  std::cout << "Running TypeScript checker: tsc " << output << "\n" << std::flush;
  std::string program = "tsc";
  std::string argument = output;
  char* argv[] = {program.data(), argument.data(), nullptr};
  pid_t pid = 0;
  const int spawn_error = ::posix_spawnp(&pid, "tsc", nullptr, nullptr, argv, environ);
  if (spawn_error != 0) {
    return CompilerError::io("Failed to spawn tsc: " + os_error_text(spawn_error));
  }
  int wait_status = 0;
  while (::waitpid(pid, &wait_status, 0) < 0) {
    if (errno != EINTR)
      return CompilerError::io("Failed to spawn tsc: " + os_error_text(errno));
  }
  if (WIFEXITED(wait_status) && WEXITSTATUS(wait_status) == 0)
    return Unit{};
  return CompilerError::io("TypeScript compile check failed for " + output +
                           " (exit code: " + exit_code_text(wait_status) + ")");
}

}  // namespace

Result<std::string> read_source_file(const std::string& path) {
  FileDescriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (file.get() < 0)
    return os_error(errno);
  struct stat info {};
  if (::fstat(file.get(), &info) != 0)
    return os_error(errno);
  if (S_ISDIR(info.st_mode))
    return os_error(EISDIR);

  std::string text;
  if (S_ISREG(info.st_mode) && info.st_size > 0) {
    if (static_cast<unsigned long long>(info.st_size) > kMaxSourceBytes)
      return os_error(EFBIG);
    text.reserve(static_cast<std::size_t>(info.st_size));
  }
  char buffer[1 << 16];
  for (;;) {
    const ssize_t n = ::read(file.get(), buffer, sizeof buffer);
    if (n < 0) {
      if (errno == EINTR)
        continue;
      return os_error(errno);
    }
    if (n == 0)
      break;
    if (text.size() + static_cast<std::size_t>(n) > kMaxSourceBytes)
      return os_error(EFBIG);
    text.append(buffer, static_cast<std::size_t>(n));
  }
  if (std::optional<std::size_t> offset = first_invalid_utf8_offset(text)) {
    return CompilerError::io("invalid UTF-8 at byte offset " + std::to_string(*offset));
  }
  return text;
}

Status write_file_atomically(const std::string& path, std::string_view contents) {
  // A unique name per process and call: the development server's watcher thread may write while
  // another build of the same output is still running.
  static std::atomic<unsigned> counter{0};
  const std::string target = replacement_target(path);
  const std::string temporary = parent_directory(target) + "/." + last_component(target) +
                                ".ovrac-" + std::to_string(::getpid()) + "-" +
                                std::to_string(counter.fetch_add(1)) + ".tmp";

  struct stat existing {};
  const bool target_exists = ::stat(target.c_str(), &existing) == 0;
  if (target_exists && S_ISDIR(existing.st_mode))
    return os_error(EISDIR);
  // A device, pipe or socket is written to, never replaced: renaming over /dev/null would swap
  // the device node for a plain file.
  if (target_exists && !S_ISREG(existing.st_mode)) {
    FileDescriptor special(::open(target.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC));
    if (special.get() < 0)
      return os_error(errno);
    if (Status written = write_all(special.get(), contents); !written)
      return written;
    if (const int close_error = special.close(); close_error != 0)
      return os_error(close_error);
    return Unit{};
  }

  FileDescriptor file(::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
  if (file.get() < 0)
    return os_error(errno);

  auto fail = [&](int error_number) -> Status {
    ::unlink(temporary.c_str());
    return os_error(error_number);
  };
  if (Status written = write_all(file.get(), contents); !written) {
    ::unlink(temporary.c_str());
    return written;
  }
  if (target_exists && ::fchmod(file.get(), existing.st_mode & 07777) != 0)
    return fail(errno);
  if (const int close_error = file.close(); close_error != 0)
    return fail(close_error);
  if (::rename(temporary.c_str(), target.c_str()) != 0)
    return fail(errno);
  return Unit{};
}

Result<FileTime> modification_time(const std::string& path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0)
    return os_error(errno);
  return FileTime{static_cast<long long>(info.st_mtim.tv_sec), info.st_mtim.tv_nsec};
}

Status compile_file(const std::string& input, const std::string& output,
                    const std::string& target_name, bool type_check) {
  Result<std::string> source = read_source_file(input);
  if (!source)
    return CompilerError::io("Failed to read file: " + source.error().message());

  Result<std::string> compiled = Compiler::compile(target_from_name(target_name), source.value());
  if (!compiled)
    return std::move(compiled.error());

  // Writing the output over its own source would lose the program, whatever path names it.
  struct stat input_info {
  }, output_info{};
  if (::stat(input.c_str(), &input_info) == 0 && ::stat(output.c_str(), &output_info) == 0 &&
      input_info.st_dev == output_info.st_dev && input_info.st_ino == output_info.st_ino) {
    return CompilerError::io("Failed to write file: the output is the source file itself");
  }

  if (Status written = write_file_atomically(output, compiled.value()); !written) {
    return CompilerError::io("Failed to write file: " + written.error().message());
  }

  if (type_check && target_name == "ts")
    return run_type_checker(output);
  return Unit{};
}

Result<BuildOutcome> compile_file_if_needed(const std::string& input, const std::string& output,
                                            const std::string& target_name, bool type_check) {
  auto build = [&]() -> Result<BuildOutcome> {
    Status built = compile_file(input, output, target_name, type_check);
    if (!built)
      return std::move(built.error());
    return BuildOutcome::Built;
  };

  struct stat input_info {
  }, output_info{};
  if (::stat(input.c_str(), &input_info) != 0 || ::stat(output.c_str(), &output_info) != 0) {
    return build();
  }
  Result<FileTime> input_time = modification_time(input);
  if (!input_time) {
    return CompilerError::io("Failed to read source metadata: " + input_time.error().message());
  }
  Result<FileTime> output_time = modification_time(output);
  if (!output_time) {
    return CompilerError::io("Failed to read output metadata: " + output_time.error().message());
  }
  if (output_time.value() < input_time.value())
    return build();

  std::cout << "Up to date, skip compilation: " << input << " (-> " << output << ")\n"
            << std::flush;
  return BuildOutcome::Skipped;
}

}  // namespace ovra

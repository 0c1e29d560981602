#include "watch.h"

#include <chrono>
#include <iostream>
#include <thread>

#include "build.h"

namespace ovra {

namespace {

// Polling, not file-system notifications: cheap, portable, and several saves within one
// interval give one rebuild.
constexpr std::chrono::milliseconds kPollInterval{500};

}  // namespace

int run_watch_mode(const std::string& input, const std::string& output,
                   const std::string& target_name, bool type_check) {
  // One metadata read gives both the existence check and the starting time, so a file removed
  // right after the check is not misreported as unreadable metadata.
  Result<FileTime> start_time = modification_time(input);
  if (!start_time) {
    std::cerr << "Watch failed: "
              << CompilerError::io("Input file does not exist: " + input).to_string() << "\n";
    return 1;
  }

  std::cout << "Watching " << input << " -> " << output << " (target = " << target_name
            << ") ... Press Ctrl+C to exit.\n"
            << std::flush;

  FileTime last_seen = start_time.value();

  for (;;) {
    std::this_thread::sleep_for(kPollInterval);
    Result<FileTime> now = modification_time(input);
    if (!now) {
      std::cerr << "Failed to stat input file: " << now.error().message() << "\n";
      continue;
    }
    // A time that moved backwards is not a change and does not replace the last seen time.
    if (!(now.value() > last_seen))
      continue;

    std::cout << "Detected change in " << input << ". Recompiling...\n" << std::flush;
    Status built = compile_file(input, output, target_name, type_check);
    if (built) {
      std::cout << "Recompilation successful: " << input << " -> " << output << "\n" << std::flush;
    } else {
      std::cerr << "Recompilation failed: " << built.error().to_string() << "\n";
    }
    // Also after a failed build, so a broken file is rebuilt only after its next change.
    last_seen = now.value();
  }
}

}  // namespace ovra

#include "lib_manager.h"

#include "lexer.h"  // first_invalid_utf8_offset

#include <algorithm>
#include <filesystem>
#include <iostream>
#include <system_error>

namespace ovra {
namespace {

namespace fs = std::filesystem;

constexpr const char* kNoLibDirectory = "Cannot find lib directory (tried ./lib and ../lib)";

// The stem of a file name whose extension is exactly "ovra": the extension is what follows the
// last "." of the name, and a "." in first position does not start one.
std::optional<std::string> ovra_stem(const std::string& file_name) {
  std::size_t dot = file_name.rfind('.');
  if (dot == std::string::npos || dot == 0 ||
      file_name.compare(dot + 1, std::string::npos, "ovra") != 0) {
    return std::nullopt;
  }
  return file_name.substr(0, dot);
}

std::string version_text(const std::optional<semver::Version>& version) {
  return version ? version->to_string() : "unknown";
}

void sort_by_version(std::vector<LibraryInfo>& libraries) {
  std::stable_sort(libraries.begin(), libraries.end(),
                   [](const LibraryInfo& a, const LibraryInfo& b) {
                     return version_less(a.version, b.version);
                   });
}

}  // namespace

LibraryInfo library_from_stem(const std::string& stem, std::string path) {
  std::size_t last_dash = stem.rfind('-');
  if (last_dash == std::string::npos)
    return {stem, std::move(path), std::nullopt};
  for (std::size_t dash = last_dash; dash != std::string::npos;
       dash = dash == 0 ? std::string::npos : stem.rfind('-', dash - 1)) {
    semver::Parsed<semver::Version> version = semver::parse_version(stem.substr(dash + 1));
    if (version)
      return {stem.substr(0, dash), std::move(path), std::move(version).value()};
  }
  return {stem.substr(0, last_dash), std::move(path), std::nullopt};
}

bool version_less(const std::optional<semver::Version>& a,
                  const std::optional<semver::Version>& b) {
  if (!a || !b)
    return !a && b;
  return *a < *b;
}

std::optional<LibraryError> visit_dir(const std::string& directory,
                                      std::vector<LibraryInfo>& libraries) {
  std::error_code error;
  fs::directory_iterator entries(directory, error);
  if (error) {
    return LibraryError{"Failed to read directory " + directory + ": " + error.message()};
  }
  for (; entries != fs::directory_iterator(); entries.increment(error)) {
    if (error)
      break;
    std::string file_name = entries->path().filename().string();
    std::string path = (fs::path(directory) / file_name).string();
    std::error_code status_error;
    if (fs::is_directory(path, status_error)) {
      if (std::optional<LibraryError> nested = visit_dir(path, libraries))
        return nested;
      continue;
    }
    std::optional<std::string> stem = ovra_stem(file_name);
    if (stem && !first_invalid_utf8_offset(*stem))
      libraries.push_back(library_from_stem(*stem, path));
  }
  if (error)
    return LibraryError{"Failed to read entry in " + directory + ": " + error.message()};
  return std::nullopt;
}

std::variant<std::vector<LibraryInfo>, LibraryError> list_local_libraries() {
  std::error_code error;
  fs::path current = fs::current_path(error);
  if (error)
    return LibraryError{kNoLibDirectory};
  std::optional<std::string> directory;
  for (const char* candidate : {"lib", "../lib"}) {
    fs::path path = current / candidate;
    std::error_code status_error;
    if (fs::is_directory(path, status_error)) {
      directory = path.string();
      break;
    }
  }
  if (!directory)
    return LibraryError{kNoLibDirectory};

  std::vector<LibraryInfo> libraries;
  if (std::optional<LibraryError> failure = visit_dir(*directory, libraries))
    return *failure;
  std::stable_sort(libraries.begin(), libraries.end(),
                   [](const LibraryInfo& a, const LibraryInfo& b) {
                     if (a.name != b.name)
                       return a.name < b.name;
                     return version_less(a.version, b.version);
                   });
  return libraries;
}

std::variant<std::optional<LibraryInfo>, LibraryError> find_best_library(
    const std::string& name, const std::optional<std::string>& requirement) {
  auto listing = list_local_libraries();
  if (auto* failure = std::get_if<LibraryError>(&listing))
    return *failure;
  std::vector<LibraryInfo> candidates;
  for (LibraryInfo& library : std::get<std::vector<LibraryInfo>>(listing)) {
    if (library.name == name)
      candidates.push_back(std::move(library));
  }
  if (candidates.empty())
    return std::nullopt;

  if (requirement) {
    semver::Parsed<semver::Requirement> parsed = semver::parse_requirement(*requirement);
    if (!parsed) {
      return LibraryError{"Invalid version requirement '" + *requirement + "': " + parsed.error()};
    }
    std::erase_if(candidates, [&](const LibraryInfo& library) {
      return !library.version || !parsed.value().matches(*library.version);
    });
    if (candidates.empty())
      return std::nullopt;
  }
  sort_by_version(candidates);
  return std::move(candidates.back());
}

int run_lib_list(std::ostream& out, std::ostream& err) {
  auto listing = list_local_libraries();
  if (auto* failure = std::get_if<LibraryError>(&listing)) {
    err << "Failed to list libraries: " << failure->text << "\n";
    return 1;
  }
  const auto& libraries = std::get<std::vector<LibraryInfo>>(listing);
  if (libraries.empty()) {
    out << "No local libraries found in ./lib or ../lib\n";
    return 0;
  }
  out << "Local libraries:\n";
  for (const LibraryInfo& library : libraries) {
    out << "- " << library.name << " @ " << version_text(library.version) << "  (" << library.path
        << ")\n";
  }
  return 0;
}

int run_lib_list() {
  return run_lib_list(std::cout, std::cerr);
}

int run_lib_best(const std::string& name, const std::optional<std::string>& requirement,
                 std::ostream& out, std::ostream& err) {
  auto best = find_best_library(name, requirement);
  if (auto* failure = std::get_if<LibraryError>(&best)) {
    err << "Failed to resolve library: " << failure->text << "\n";
    return 1;
  }
  const std::string shown_requirement = requirement.value_or("*");
  const auto& library = std::get<std::optional<LibraryInfo>>(best);
  if (!library) {
    out << "No library found for name '" << name << "' with requirement '" << shown_requirement
        << "'\n";
    return 0;
  }
  out << "Best match for " << name << " (req: " << shown_requirement << "): " << library->name
      << " @ " << version_text(library->version) << "  (" << library->path << ")\n";
  return 0;
}

int run_lib_best(const std::string& name, const std::optional<std::string>& requirement) {
  return run_lib_best(name, requirement, std::cout, std::cerr);
}

}  // namespace ovra

// The local library manager: versioned library files under ./lib or ../lib.
#pragma once

#include <optional>
#include <ostream>
#include <string>
#include <variant>
#include <vector>

#include "semver.h"

namespace ovra {

// One library file: name and version come from the file stem ("json-1.2.0.ovra").
struct LibraryInfo {
  std::string name;
  std::string path;  // the library directory joined with the subdirectories and the file name
  std::optional<semver::Version> version;
};

// Why the library directory could not be read; the text follows "Failed to list libraries: ".
struct LibraryError {
  std::string text;
};

// Name and version of a library file stem. The stem is split at the rightmost "-" whose right
// part is a valid version, so pre-releases survive ("json-1.0.0-rc-1" is json 1.0.0-rc-1);
// when no such "-" exists the name is the part before the last "-" and the version is absent.
LibraryInfo library_from_stem(const std::string& stem, std::string path);

// Absent versions first, then semantic-version order.
bool version_less(const std::optional<semver::Version>& a, const std::optional<semver::Version>& b);

// Appends the libraries in `directory` and all its subdirectories, depth first, in the order
// the file system lists the entries.
std::optional<LibraryError> visit_dir(const std::string& directory,
                                      std::vector<LibraryInfo>& libraries);

// All libraries under ./lib (else ../lib), ordered by name, then version; stable.
std::variant<std::vector<LibraryInfo>, LibraryError> list_local_libraries();

// The highest version of `name` satisfying `requirement` (all of them without one), the one
// found last among equals; nullopt when none qualifies.
std::variant<std::optional<LibraryInfo>, LibraryError> find_best_library(
    const std::string& name, const std::optional<std::string>& requirement);

// `ovrac lib list`: prints the libraries and returns the exit status.
int run_lib_list();
int run_lib_list(std::ostream& out, std::ostream& err);

// `ovrac lib best <name> [requirement]`: prints the best match and returns the exit status.
int run_lib_best(const std::string& name, const std::optional<std::string>& requirement);
int run_lib_best(const std::string& name, const std::optional<std::string>& requirement,
                 std::ostream& out, std::ostream& err);

}  // namespace ovra

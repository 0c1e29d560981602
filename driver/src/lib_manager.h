// The local library manager: versioned library files under ./lib or ../lib.
#pragma once

#include <optional>
#include <string>

namespace ovra {

// `ovrac lib list`: prints the libraries and returns the exit status.
int run_lib_list();

// `ovrac lib best <name> [requirement]`: prints the best match and returns the exit status.
int run_lib_best(const std::string& name, const std::optional<std::string>& requirement);

}  // namespace ovra

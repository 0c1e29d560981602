// Semantic versions and version requirements: parsing, precedence and matching.
//
// Self-contained: depends on nothing else in the project.
//
// Requirement meanings (partial versions fill the missing numbers as below):
//   =1.2.3  exactly 1.2.3        =1.2  >=1.2.0, <1.3.0-0     =1  >=1.0.0, <2.0.0-0
//   >1.2.3  above 1.2.3          >1.2  >=1.3.0               >1  >=2.0.0
//   >=1.2.3                      >=1.2 >=1.2.0               >=1 >=1.0.0
//   <1.2.3  below 1.2.3          <1.2  <1.2.0-0              <1  <1.0.0-0
//   <=1.2.3                      <=1.2 <1.3.0-0              <=1 <2.0.0-0
//   ~1.2.3  >=1.2.3, <1.3.0-0    ~1.2  >=1.2.0, <1.3.0-0     ~1  >=1.0.0, <2.0.0-0
//   ^1.2.3  >=1.2.3, <2.0.0-0    ^0.2.3 >=0.2.3, <0.3.0-0    ^0.0.3 >=0.0.3, <0.0.4-0
//   ^1.2    >=1.2.0, <2.0.0-0    ^0.0  >=0.0.0, <0.1.0-0     ^0  >=0.0.0, <1.0.0-0
//   1.2.3 (no operator) is ^1.2.3. "*", "x" and "X" stand for a left-out number, so ^0.x is
//   ^0 and >1.x is >1; without an operator a wildcard version is exact: 1.2.x is =1.2 and 1.x
//   is =1. "*" alone (with "=", ">=", "<=", "~", "^" or none) accepts every version, while ">*"
//   and "<*" accept none.
// Comparators are joined by "," and all must hold. A version with a pre-release part matches
// only if, besides that, some comparator names the same major.minor.patch with a pre-release.
// Build metadata never affects matching.
#pragma once

#include <compare>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

namespace ovra::semver {

// A value, or the description of why the text did not parse.
template <class T>
class Parsed {
 public:
  Parsed(T value) : state_(std::in_place_index<0>, std::move(value)) {}
  static Parsed failure(std::string description) {
    return Parsed(std::in_place_index<1>, std::move(description));
  }

  bool ok() const { return state_.index() == 0; }
  explicit operator bool() const { return ok(); }
  const T& value() const& { return std::get<0>(state_); }
  T&& value() && { return std::get<0>(std::move(state_)); }
  const std::string& error() const { return std::get<1>(state_); }

 private:
  template <std::size_t I>
  Parsed(std::in_place_index_t<I> index, std::string description)
      : state_(index, std::move(description)) {}
  std::variant<T, std::string> state_;
};

struct Version {
  std::uint64_t major = 0;
  std::uint64_t minor = 0;
  std::uint64_t patch = 0;
  std::vector<std::string> pre_release;  // dot-separated identifiers after "-"
  std::vector<std::string> build;        // dot-separated identifiers after "+"

  // "1.2.3", "1.2.3-alpha.1", "1.2.3+build.5".
  std::string to_string() const;

  // Total order: precedence, then build metadata (none first), so that only identical
  // versions compare equal.
  std::strong_ordering operator<=>(const Version& other) const;
  bool operator==(const Version& other) const = default;
};

// Precedence alone: major, minor, patch numerically; a pre-release below the release;
// pre-release identifiers one by one (numeric ones numerically and below alphanumeric ones,
// alphanumeric ones byte-wise); a shorter identifier list first when all shared ones are equal.
// Build metadata is ignored.
std::strong_ordering compare_precedence(const Version& a, const Version& b);

// A strict version: three numbers without leading zeros, optional pre-release and build parts,
// no surrounding space and no leading "v".
Parsed<Version> parse_version(std::string_view text);

enum class Operator { Exact, Greater, GreaterEqual, Less, LessEqual, Tilde, Caret };

struct Comparator {
  Operator op = Operator::Caret;
  // Absent numbers were left out or written as a wildcard. A number is only present when the
  // numbers before it are.
  std::optional<std::uint64_t> major;
  std::optional<std::uint64_t> minor;
  std::optional<std::uint64_t> patch;
  std::vector<std::string> pre_release;  // only with all three numbers

  // The range test alone; the pre-release rule needs the whole requirement.
  bool matches(const Version& version) const;
};

struct Requirement {
  std::vector<Comparator> comparators;  // never empty

  bool matches(const Version& version) const;
};

// Comma-separated comparators; space is allowed around operators, versions and commas.
Parsed<Requirement> parse_requirement(std::string_view text);

}  // namespace ovra::semver

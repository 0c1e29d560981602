#include "semver.h"

#include <algorithm>
#include <limits>

namespace ovra::semver {
namespace {

bool is_digit(char c) {
  return c >= '0' && c <= '9';
}

bool is_identifier_char(char c) {
  return is_digit(c) || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '-';
}

bool is_wildcard(char c) {
  return c == '*' || c == 'x' || c == 'X';
}

bool is_numeric(std::string_view identifier) {
  return !identifier.empty() && std::all_of(identifier.begin(), identifier.end(), is_digit);
}

bool is_space(char c) {
  return c == ' ' || c == '\t';
}

std::string_view trim(std::string_view text) {
  while (!text.empty() && is_space(text.front()))
    text.remove_prefix(1);
  while (!text.empty() && is_space(text.back()))
    text.remove_suffix(1);
  return text;
}

std::string join(const std::vector<std::string>& identifiers) {
  std::string text;
  for (const std::string& identifier : identifiers) {
    if (!text.empty())
      text += '.';
    text += identifier;
  }
  return text;
}

// Numeric identifiers may be longer than any integer type, so they are compared as digit
// strings: fewer significant digits first, then digit by digit. Equal values with different
// leading zeros (possible in build metadata) fall back to the text so the order stays total.
std::strong_ordering compare_numeric(std::string_view a, std::string_view b) {
  std::string_view a_digits = a.substr(std::min(a.find_first_not_of('0'), a.size()));
  std::string_view b_digits = b.substr(std::min(b.find_first_not_of('0'), b.size()));
  if (auto c = a_digits.size() <=> b_digits.size(); c != 0)
    return c;
  if (auto c = a_digits <=> b_digits; c != 0)
    return c;
  return a <=> b;
}

std::strong_ordering compare_identifiers(const std::vector<std::string>& a,
                                         const std::vector<std::string>& b) {
  std::size_t shared = std::min(a.size(), b.size());
  for (std::size_t i = 0; i < shared; ++i) {
    bool a_numeric = is_numeric(a[i]);
    bool b_numeric = is_numeric(b[i]);
    std::strong_ordering c = std::strong_ordering::equal;
    if (a_numeric && b_numeric) {
      c = compare_numeric(a[i], b[i]);
    } else if (a_numeric != b_numeric) {
      c = a_numeric ? std::strong_ordering::less : std::strong_ordering::greater;
    } else {
      c = a[i] <=> b[i];
    }
    if (c != 0)
      return c;
  }
  return a.size() <=> b.size();
}

// Reads a version, or with `partial` the version of a comparator, from the front of `text`.
class VersionReader {
 public:
  VersionReader(std::string_view text, bool partial) : text_(text), partial_(partial) {}

  std::optional<std::string> read(Comparator& out) {
    static constexpr const char* kFields[] = {"major", "minor", "patch"};
    std::optional<std::uint64_t>* numbers[] = {&out.major, &out.minor, &out.patch};
    for (int field = 0; field < 3; ++field) {
      if (field > 0) {
        if (at_end() || peek() != '.') {
          if (partial_)
            break;
          return "expected '.' and the " + std::string(kFields[field]) + " version number " +
                 found();
        }
        ++pos_;
      }
      if (partial_ && !at_end() && is_wildcard(peek())) {
        ++pos_;
        wildcard_seen_ = true;
        continue;
      }
      if (at_end() || !is_digit(peek())) {
        return "expected the " + std::string(kFields[field]) + " version number" +
               (partial_ ? " or a wildcard " : " ") + found();
      }
      if (wildcard_seen_)
        return "a version number cannot follow a wildcard " + found();
      std::size_t start = pos_;
      while (!at_end() && is_digit(peek()))
        ++pos_;
      std::string_view digits = text_.substr(start, pos_ - start);
      if (digits.size() > 1 && digits[0] == '0') {
        return "the " + std::string(kFields[field]) + " version number '" + std::string(digits) +
               "' has a leading zero";
      }
      std::optional<std::uint64_t> value = to_number(digits);
      if (!value) {
        return "the " + std::string(kFields[field]) + " version number '" + std::string(digits) +
               "' is too large";
      }
      *numbers[field] = value;
    }
    if (!at_end() && peek() == '-') {
      if (!out.patch)
        return "a pre-release needs the major, minor and patch numbers";
      ++pos_;
      if (auto error = read_identifiers("pre-release", true, out.pre_release))
        return error;
    }
    if (!at_end() && peek() == '+') {
      if (!out.patch)
        return "build metadata needs the major, minor and patch numbers";
      ++pos_;
      std::vector<std::string> build;
      if (auto error = read_identifiers("build metadata", false, build))
        return error;
      build_ = std::move(build);
    }
    return std::nullopt;
  }

  bool at_end() const { return pos_ == text_.size(); }
  std::string_view rest() const { return text_.substr(pos_); }
  std::vector<std::string>& build() { return build_; }
  bool wildcard_seen() const { return wildcard_seen_; }

 private:
  char peek() const { return text_[pos_]; }

  // "found 'x.y'" with the unread text, or "at the end".
  std::string found() const {
    if (at_end())
      return "at the end";
    return "at '" + std::string(rest()) + "'";
  }

  static std::optional<std::uint64_t> to_number(std::string_view digits) {
    std::uint64_t value = 0;
    constexpr std::uint64_t kMax = std::numeric_limits<std::uint64_t>::max();
    for (char c : digits) {
      std::uint64_t digit = static_cast<std::uint64_t>(c - '0');
      if (value > (kMax - digit) / 10)
        return std::nullopt;
      value = value * 10 + digit;
    }
    return value;
  }

  std::optional<std::string> read_identifiers(const std::string& what, bool strict_numbers,
                                              std::vector<std::string>& out) {
    while (true) {
      std::size_t start = pos_;
      while (!at_end() && is_identifier_char(peek()))
        ++pos_;
      std::string identifier(text_.substr(start, pos_ - start));
      if (identifier.empty()) {
        if (at_end() || peek() == '.' || peek() == '+') {
          return "empty " + what + " identifier";
        }
        return "invalid character '" + std::string(1, peek()) + "' in " + what;
      }
      if (strict_numbers && is_numeric(identifier) && identifier.size() > 1 &&
          identifier[0] == '0') {
        return "numeric " + what + " identifier '" + identifier + "' has a leading zero";
      }
      out.push_back(std::move(identifier));
      if (at_end())
        return std::nullopt;
      char next = peek();
      if (next != '.') {
        // Whatever may follow the version is left to the caller; the rest is a bad character.
        bool may_follow = (strict_numbers && next == '+') ||
                          (partial_ && (is_space(next) || std::string_view("<>=^~").find(next) !=
                                                              std::string_view::npos));
        if (may_follow)
          return std::nullopt;
        return "invalid character '" + std::string(1, next) + "' in " + what;
      }
      ++pos_;
    }
  }

  std::string_view text_;
  bool partial_;
  std::size_t pos_ = 0;
  bool wildcard_seen_ = false;
  std::vector<std::string> build_;
};

// The release just past every version that shares the given numbers (2.0.0 for major 1, 1.3.0
// for 1.2), or none when the numbers cannot grow any further.
std::optional<Version> bump_major(std::uint64_t major) {
  if (major == std::numeric_limits<std::uint64_t>::max())
    return std::nullopt;
  return Version{major + 1, 0, 0, {}, {}};
}

std::optional<Version> bump_minor(std::uint64_t major, std::uint64_t minor) {
  if (minor == std::numeric_limits<std::uint64_t>::max())
    return bump_major(major);
  return Version{major, minor + 1, 0, {}, {}};
}

std::optional<Version> bump_patch(std::uint64_t major, std::uint64_t minor, std::uint64_t patch) {
  if (patch == std::numeric_limits<std::uint64_t>::max())
    return bump_minor(major, minor);
  return Version{major, minor, patch + 1, {}, {}};
}

// The lowest version carrying the release numbers of `release`: its "-0" pre-release. Upper
// bounds use it so that no pre-release of the excluded release slips under the bound.
std::optional<Version> lowest_of(std::optional<Version> release) {
  if (release)
    release->pre_release = {"0"};
  return release;
}

// The versions between two bounds, each inclusive or not; an absent bound leaves that side open.
struct Range {
  std::optional<Version> lower;
  bool lower_inclusive = true;
  std::optional<Version> upper;
  bool upper_inclusive = false;
  bool empty = false;

  bool contains(const Version& v) const {
    if (empty)
      return false;
    if (lower) {
      auto c = compare_precedence(v, *lower);
      if (c < 0 || (c == 0 && !lower_inclusive))
        return false;
    }
    if (upper) {
      auto c = compare_precedence(v, *upper);
      if (c > 0 || (c == 0 && !upper_inclusive))
        return false;
    }
    return true;
  }
};

Range range_of(const Comparator& c) {
  Range range;
  if (!c.major) {
    // "*" alone: everything, except that nothing lies above or below "every version".
    range.empty = c.op == Operator::Greater || c.op == Operator::Less;
    return range;
  }
  std::uint64_t major = *c.major;
  std::uint64_t minor = c.minor.value_or(0);
  Version floor{major, minor, c.patch.value_or(0), c.pre_release, {}};
  // The first version past everything the written (possibly partial) version covers.
  std::optional<Version> past = !c.minor   ? bump_major(major)
                                : !c.patch ? bump_minor(major, minor)
                                           : bump_patch(major, minor, *c.patch);
  switch (c.op) {
    case Operator::Exact:
      range.lower = floor;
      if (c.patch) {
        range.upper = floor;
        range.upper_inclusive = true;
      } else {
        range.upper = lowest_of(past);
      }
      break;
    case Operator::Greater:
      if (c.patch) {
        range.lower = floor;
        range.lower_inclusive = false;
      } else if (past) {
        range.lower = past;
      } else {
        range.empty = true;
      }
      break;
    case Operator::GreaterEqual:
      range.lower = floor;
      break;
    case Operator::Less:
      range.upper = c.patch ? floor : *lowest_of(floor);
      break;
    case Operator::LessEqual:
      if (c.patch) {
        range.upper = floor;
        range.upper_inclusive = true;
      } else {
        range.upper = lowest_of(past);
      }
      break;
    case Operator::Tilde:
      range.lower = floor;
      range.upper = lowest_of(c.minor ? bump_minor(major, minor) : bump_major(major));
      break;
    case Operator::Caret:
      range.lower = floor;
      if (major > 0 || !c.minor) {
        range.upper = lowest_of(bump_major(major));
      } else if (minor > 0 || !c.patch) {
        range.upper = lowest_of(bump_minor(major, minor));
      } else {
        range.upper = lowest_of(bump_patch(major, minor, *c.patch));
      }
      break;
  }
  return range;
}

std::optional<Operator> read_operator(std::string_view& text) {
  static constexpr std::pair<std::string_view, Operator> kOperators[] = {
      {">=", Operator::GreaterEqual}, {"<=", Operator::LessEqual}, {">", Operator::Greater},
      {"<", Operator::Less},          {"=", Operator::Exact},      {"~", Operator::Tilde},
      {"^", Operator::Caret}};
  for (const auto& [spelling, op] : kOperators) {
    if (text.substr(0, spelling.size()) == spelling) {
      text.remove_prefix(spelling.size());
      return op;
    }
  }
  return std::nullopt;
}

Parsed<Comparator> parse_comparator(std::string_view text) {
  Comparator comparator;
  std::string_view written = text;
  if (std::optional<Operator> op = read_operator(text))
    comparator.op = *op;
  std::string_view op_text = written.substr(0, written.size() - text.size());
  text = trim(text);
  if (text.empty()) {
    return Parsed<Comparator>::failure("expected a version after '" + std::string(op_text) + "'");
  }
  VersionReader reader(text, true);
  if (std::optional<std::string> error = reader.read(comparator)) {
    return Parsed<Comparator>::failure(*error);
  }
  // Without an operator a wildcard pins the numbers written before it: 1.2.x is =1.2.
  if (op_text.empty() && reader.wildcard_seen())
    comparator.op = Operator::Exact;
  if (!reader.at_end()) {
    std::string rest(reader.rest());
    if (is_space(rest.front()) || rest.front() == '<' || rest.front() == '>' ||
        rest.front() == '=' || rest.front() == '^' || rest.front() == '~') {
      return Parsed<Comparator>::failure("unexpected '" + std::string(trim(rest)) +
                                         "' after the version; separate comparators with ','");
    }
    return Parsed<Comparator>::failure("unexpected '" + rest + "' after the version");
  }
  return comparator;
}

}  // namespace

std::string Version::to_string() const {
  std::string text =
      std::to_string(major) + "." + std::to_string(minor) + "." + std::to_string(patch);
  if (!pre_release.empty()) {
    text += '-';
    text += join(pre_release);
  }
  if (!build.empty()) {
    text += '+';
    text += join(build);
  }
  return text;
}

std::strong_ordering compare_precedence(const Version& a, const Version& b) {
  if (auto c = a.major <=> b.major; c != 0)
    return c;
  if (auto c = a.minor <=> b.minor; c != 0)
    return c;
  if (auto c = a.patch <=> b.patch; c != 0)
    return c;
  if (a.pre_release.empty() != b.pre_release.empty()) {
    return a.pre_release.empty() ? std::strong_ordering::greater : std::strong_ordering::less;
  }
  return compare_identifiers(a.pre_release, b.pre_release);
}

std::strong_ordering Version::operator<=>(const Version& other) const {
  if (auto c = compare_precedence(*this, other); c != 0)
    return c;
  return compare_identifiers(build, other.build);
}

Parsed<Version> parse_version(std::string_view text) {
  if (text.empty())
    return Parsed<Version>::failure("the version is empty");
  Comparator numbers;
  VersionReader reader(text, false);
  if (std::optional<std::string> error = reader.read(numbers)) {
    return Parsed<Version>::failure(*error);
  }
  if (!reader.at_end()) {
    return Parsed<Version>::failure("unexpected '" + std::string(reader.rest()) +
                                    "' after the version");
  }
  return Version{*numbers.major, *numbers.minor, *numbers.patch, std::move(numbers.pre_release),
                 std::move(reader.build())};
}

bool Comparator::matches(const Version& version) const {
  return range_of(*this).contains(version);
}

bool Requirement::matches(const Version& version) const {
  for (const Comparator& comparator : comparators) {
    if (!comparator.matches(version))
      return false;
  }
  if (version.pre_release.empty())
    return true;
  // A pre-release is only wanted where the requirement asks for pre-releases of its release.
  return std::any_of(comparators.begin(), comparators.end(), [&](const Comparator& c) {
    return !c.pre_release.empty() && c.major == version.major && c.minor == version.minor &&
           c.patch == version.patch;
  });
}

Parsed<Requirement> parse_requirement(std::string_view text) {
  if (trim(text).empty())
    return Parsed<Requirement>::failure("the requirement is empty");
  Requirement requirement;
  std::size_t start = 0;
  while (true) {
    std::size_t comma = text.find(',', start);
    std::string_view piece =
        trim(text.substr(start, comma == std::string_view::npos ? text.npos : comma - start));
    if (piece.empty()) {
      return Parsed<Requirement>::failure(start == 0 ? "expected a comparator before ','"
                                                     : "expected a comparator after ','");
    }
    Parsed<Comparator> comparator = parse_comparator(piece);
    if (!comparator)
      return Parsed<Requirement>::failure(comparator.error());
    requirement.comparators.push_back(std::move(comparator).value());
    if (comma == std::string_view::npos)
      break;
    start = comma + 1;
  }
  return requirement;
}

}  // namespace ovra::semver

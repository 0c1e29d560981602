#include "semver.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace ovra::semver {

void PrintTo(const Version& v, std::ostream* out) {
  *out << v.to_string();
}

namespace {

Version version(const std::string& text) {
  Parsed<Version> parsed = parse_version(text);
  EXPECT_TRUE(parsed.ok()) << text << ": " << (parsed.ok() ? "" : parsed.error());
  return parsed.ok() ? parsed.value() : Version{};
}

TEST(SemverTest, ParsesAndFormatsVersions) {
  struct Case {
    const char* text;
    std::uint64_t major, minor, patch;
    std::vector<std::string> pre_release, build;
  };
  const Case cases[] = {
      {"0.0.0", 0, 0, 0, {}, {}},
      {"1.2.3", 1, 2, 3, {}, {}},
      {"10.20.30", 10, 20, 30, {}, {}},
      {"1.0.0-alpha", 1, 0, 0, {"alpha"}, {}},
      {"1.0.0-rc-1", 1, 0, 0, {"rc-1"}, {}},
      {"1.0.0-alpha.1.0", 1, 0, 0, {"alpha", "1", "0"}, {}},
      {"1.0.0+build.007", 1, 0, 0, {}, {"build", "007"}},
      {"1.0.0-beta+exp.sha.5114f85", 1, 0, 0, {"beta"}, {"exp", "sha", "5114f85"}},
      {"18446744073709551615.0.0", 18446744073709551615u, 0, 0, {}, {}},
  };
  for (const Case& c : cases) {
    Parsed<Version> parsed = parse_version(c.text);
    ASSERT_TRUE(parsed.ok()) << c.text << ": " << parsed.error();
    const Version& v = parsed.value();
    EXPECT_EQ(v.major, c.major) << c.text;
    EXPECT_EQ(v.minor, c.minor) << c.text;
    EXPECT_EQ(v.patch, c.patch) << c.text;
    EXPECT_EQ(v.pre_release, c.pre_release) << c.text;
    EXPECT_EQ(v.build, c.build) << c.text;
    EXPECT_EQ(v.to_string(), c.text);
  }
}

TEST(SemverTest, RejectsBadVersionsWithADescription) {
  struct Case {
    const char* text;
    const char* description;
  };
  const Case cases[] = {
      {"", "the version is empty"},
      {"v1.2.3", "expected the major version number at 'v1.2.3'"},
      {"1", "expected '.' and the minor version number at the end"},
      {"1.2", "expected '.' and the patch version number at the end"},
      {"1.2.", "expected the patch version number at the end"},
      {"1.x.3", "expected the minor version number at 'x.3'"},
      {"1.2.3.4", "unexpected '.4' after the version"},
      {"1.2.3 ", "unexpected ' ' after the version"},
      {"01.2.3", "the major version number '01' has a leading zero"},
      {"1.02.3", "the minor version number '02' has a leading zero"},
      {"18446744073709551616.0.0", "the major version number '18446744073709551616' is too large"},
      {"1.2.3-", "empty pre-release identifier"},
      {"1.2.3-a..b", "empty pre-release identifier"},
      {"1.2.3-01", "numeric pre-release identifier '01' has a leading zero"},
      {"1.2.3-a_b", "invalid character '_' in pre-release"},
      {"1.2.3+", "empty build metadata identifier"},
      {"1.2.3+a$", "invalid character '$' in build metadata"},
  };
  for (const Case& c : cases) {
    Parsed<Version> parsed = parse_version(c.text);
    ASSERT_FALSE(parsed.ok()) << "'" << c.text << "' parsed";
    EXPECT_EQ(parsed.error(), c.description) << c.text;
  }
}

TEST(SemverTest, RejectsBadRequirementsWithADescription) {
  struct Case {
    const char* text;
    const char* description;
  };
  const Case cases[] = {
      {"", "the requirement is empty"},
      {"  ", "the requirement is empty"},
      {"abc", "expected the major version number or a wildcard at 'abc'"},
      {"v1.2", "expected the major version number or a wildcard at 'v1.2'"},
      {">=", "expected a version after '>='"},
      {"^ ", "expected a version after '^'"},
      {"=>1.0", "expected the major version number or a wildcard at '>1.0'"},
      {"!=1.0", "expected the major version number or a wildcard at '!=1.0'"},
      {"1.0,", "expected a comparator after ','"},
      {",1.0", "expected a comparator before ','"},
      {"1.0,,2.0", "expected a comparator after ','"},
      {">=1.0 <2.0", "unexpected '<2.0' after the version; separate comparators with ','"},
      {"1.2.3.4", "unexpected '.4' after the version"},
      {"1.2.3foo", "unexpected 'foo' after the version"},
      {"*.1", "a version number cannot follow a wildcard at '1'"},
      {"1.x.3", "a version number cannot follow a wildcard at '3'"},
      {"1.2-beta", "a pre-release needs the major, minor and patch numbers"},
      {"1.2.x-beta", "a pre-release needs the major, minor and patch numbers"},
      {"1.2+build", "build metadata needs the major, minor and patch numbers"},
      {"01.2", "the major version number '01' has a leading zero"},
      {"^99999999999999999999", "the major version number '99999999999999999999' is too large"},
      {"1.2.3-", "empty pre-release identifier"},
      {"1.2.3-beta!", "invalid character '!' in pre-release"},
  };
  for (const Case& c : cases) {
    Parsed<Requirement> parsed = parse_requirement(c.text);
    ASSERT_FALSE(parsed.ok()) << "'" << c.text << "' parsed";
    EXPECT_EQ(parsed.error(), c.description) << c.text;
  }
}

TEST(SemverTest, MatchesRequirements) {
  struct Case {
    const char* requirement;
    const char* version;
    bool matches;
  };
  const Case cases[] = {
      // Exact, full and partial; build metadata is ignored on both sides.
      {"=1.2.3", "1.2.3", true},
      {"=1.2.3", "1.2.4", false},
      {"=1.2.3", "1.2.3+build.1", true},
      {"=1.2.3+build.1", "1.2.3", true},
      {"=1.2", "1.2.9", true},
      {"=1.2", "1.3.0", false},
      {"=1", "1.99.0", true},
      {"=1", "2.0.0", false},
      // Greater and greater-or-equal: a partial version is bumped past its last written number.
      {">1.2.3", "1.2.4", true},
      {">1.2.3", "1.2.3", false},
      {">1.2", "1.2.9", false},
      {">1.2", "1.3.0", true},
      {">1", "1.9.9", false},
      {">1", "2.0.0", true},
      {">=1.2.3", "1.2.3", true},
      {">=1.2.3", "1.2.2", false},
      {">=1.2", "1.2.0", true},
      {">=1", "0.9.9", false},
      // Less and less-or-equal.
      {"<1.2.3", "1.2.2", true},
      {"<1.2.3", "1.2.3", false},
      {"<1.2", "1.1.9", true},
      {"<1.2", "1.2.0", false},
      {"<1", "0.99.99", true},
      {"<1", "1.0.0", false},
      {"<=1.2.3", "1.2.3", true},
      {"<=1.2.3", "1.2.4", false},
      {"<=1.2", "1.2.99", true},
      {"<=1.2", "1.3.0", false},
      {"<=1", "1.99.0", true},
      {"<=1", "2.0.0", false},
      // Tilde: patch updates, or minor updates when only the major is written.
      {"~1.2.3", "1.2.3", true},
      {"~1.2.3", "1.2.9", true},
      {"~1.2.3", "1.2.2", false},
      {"~1.2.3", "1.3.0", false},
      {"~1.2", "1.2.0", true},
      {"~1.2", "1.3.0", false},
      {"~1", "1.9.0", true},
      {"~1", "2.0.0", false},
      {"~0.0.1", "0.0.5", true},
      // Caret, and no operator meaning caret: the leftmost non-zero number is kept.
      {"^1.2.3", "1.9.0", true},
      {"^1.2.3", "1.2.2", false},
      {"^1.2.3", "2.0.0", false},
      {"1.2.3", "1.5.0", true},
      {"1.2.3", "2.0.0", false},
      {"^1.2", "1.2.0", true},
      {"^1", "1.99.0", true},
      {"^0.2.3", "0.2.9", true},
      {"^0.2.3", "0.3.0", false},
      {"^0.2", "0.2.0", true},
      {"^0.2", "0.3.0", false},
      {"^0.0.3", "0.0.3", true},
      {"^0.0.3", "0.0.4", false},
      {"^0.0", "0.0.9", true},
      {"^0.0", "0.1.0", false},
      {"^0", "0.9.9", true},
      {"^0", "1.0.0", false},
      {"^0.x", "0.5.0", true},
      {"^0.x", "1.0.0", false},
      {"^0.0.x", "0.0.7", true},
      {"^0.0.x", "0.1.0", false},
      // Wildcards stand for left-out numbers.
      {"*", "0.0.0", true},
      {"*", "99.1.2", true},
      {"x", "3.0.0", true},
      {"1.*", "1.7.3", true},
      {"1.x", "2.0.0", false},
      {"1.2.X", "1.2.8", true},
      {"1.2.*", "1.3.0", false},
      {"1.2.*", "1.2.0", true},
      {"^1.2.*", "1.3.0", true},
      {">=*", "5.0.0", true},
      {">*", "5.0.0", false},
      {"<*", "0.0.0", false},
      {">1.x", "1.9.9", false},
      {">1.x", "2.0.0", true},
      {"<=1.x", "1.9.9", true},
      // Space around operators and commas; every comparator of a list must hold.
      {" >= 1.2 ", "1.2.0", true},
      {">=1.2, <1.5", "1.4.9", true},
      {">=1.2, <1.5", "1.5.0", false},
      {">=1.2, <1.5", "1.1.0", false},
      {"^1,~1.3", "1.3.5", true},
      {"^1,~1.3", "1.4.0", false},
      {"=1.2.3, =1.2.4", "1.2.3", false},
      // Pre-releases: only when a comparator names the same release with a pre-release.
      {"^1.0.0", "1.1.0-alpha", false},
      {"*", "1.0.0-alpha", false},
      {">=1.0.0", "2.0.0-rc.1", false},
      {"<2.0.0", "2.0.0-rc.1", false},
      {"<2", "2.0.0-rc.1", false},
      {"^1.2", "2.0.0-alpha", false},
      {">=1.0.0-alpha", "1.0.0-beta", true},
      {">=1.0.0-alpha", "1.0.0", true},
      {">=1.0.0-beta", "1.0.0-alpha", false},
      {">=1.0.0-alpha", "1.0.1-alpha", false},
      {"^1.0.0-alpha", "1.0.0-alpha.1", true},
      {"^1.0.0-alpha", "1.5.0", true},
      {"^1.0.0-alpha", "1.5.0-alpha", false},
      {"~1.2.3-beta.2", "1.2.3-beta.10", true},
      {"=1.0.0-rc.1", "1.0.0-rc.1", true},
      {"=1.0.0-rc.1", "1.0.0", false},
      {"<1.0.0-rc.1", "1.0.0-beta", true},
      {"<1.0.0", "1.0.0-beta", false},
      {">1.0.0-alpha, <1.0.0", "1.0.0-beta", true},
      {">=0.9, <=1.0.0-rc.2", "1.0.0-rc.2", true},
      // Large numbers do not wrap around when a bound is bumped.
      {"^18446744073709551615", "18446744073709551615.5.0", true},
      {">18446744073709551615", "18446744073709551615.9.9", false},
      {"~1.18446744073709551615", "2.0.0", false},
      {"~1.18446744073709551615", "1.18446744073709551615.7", true},
  };
  for (const Case& c : cases) {
    Parsed<Requirement> requirement = parse_requirement(c.requirement);
    ASSERT_TRUE(requirement.ok()) << c.requirement << ": " << requirement.error();
    EXPECT_EQ(requirement.value().matches(version(c.version)), c.matches)
        << c.requirement << " against " << c.version;
  }
}

TEST(SemverTest, OrdersByPrecedenceThenBuildMetadata) {
  // Strictly ascending; every pair is checked both ways.
  const std::vector<std::string> ascending = {
      "0.0.0",         "0.0.1",         "0.1.0",
      "0.9.0",         "0.10.0",        "1.0.0-0",
      "1.0.0-2",       "1.0.0-10",      "1.0.0-99999999999999999999999",
      "1.0.0-alpha",   "1.0.0-alpha.1", "1.0.0-alpha.beta",
      "1.0.0-beta",    "1.0.0-beta.2",  "1.0.0-beta.11",
      "1.0.0-rc.1",    "1.0.0",         "1.0.0+0",
      "1.0.0+01",      "1.0.0+1",       "1.0.0+build",
      "1.0.0+build.1", "1.2.0",         "1.9.0",
      "1.10.0",        "2.0.0",
  };
  for (std::size_t i = 0; i < ascending.size(); ++i) {
    Version a = version(ascending[i]);
    EXPECT_EQ(a <=> a, std::strong_ordering::equal) << ascending[i];
    for (std::size_t j = i + 1; j < ascending.size(); ++j) {
      Version b = version(ascending[j]);
      EXPECT_LT(a, b) << ascending[i] << " < " << ascending[j];
      EXPECT_GT(b, a) << ascending[j] << " > " << ascending[i];
    }
  }
  // Build metadata has no precedence.
  EXPECT_EQ(compare_precedence(version("1.0.0+a"), version("1.0.0+b")),
            std::strong_ordering::equal);
  EXPECT_EQ(compare_precedence(version("1.0.0-rc.1+a"), version("1.0.0-rc.1")),
            std::strong_ordering::equal);
}

}  // namespace
}  // namespace ovra::semver

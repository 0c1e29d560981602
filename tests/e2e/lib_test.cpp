// `ovrac lib list` and `ovrac lib best` in scratch directories, checking output and status.
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "process_util.h"

namespace ovra::testing {
namespace {

struct LibCase {
  const char* label;
  // Paths below the scratch root; a trailing "/" makes a directory, anything else an empty file.
  std::vector<std::string> entries;
  const char* cwd;  // below the scratch root
  std::vector<std::string> args;
  // "<root>" stands for the scratch root as the working directory reports it.
  const char* out;
  const char* err;
  int status;
};

std::string with_root(std::string text, const std::string& root) {
  const std::string placeholder = "<root>";
  for (std::size_t at = text.find(placeholder); at != std::string::npos;
       at = text.find(placeholder, at + root.size())) {
    text.replace(at, placeholder.size(), root);
  }
  return text;
}

ProcessResult run_in_scratch(const LibCase& c, const TempDir& scratch) {
  for (const std::string& entry : c.entries) {
    if (entry.ends_with("/")) {
      fs::create_directories(scratch / entry);
    } else {
      write_text(scratch / entry, "");
    }
  }
  fs::create_directories(scratch / c.cwd);
  std::vector<std::string> args{"lib"};
  args.insert(args.end(), c.args.begin(), c.args.end());
  return run_ovrac(args, in_directory(scratch / c.cwd));
}

TEST(LibCommandTest, ListsAndResolvesLibraries) {
  const std::string kNoLib = "Cannot find lib directory (tried ./lib and ../lib)\n";
  const LibCase cases[] = {
      {"names and versions from stems, nested folders, other files ignored",
       {"lib/json-1.2.0.ovra", "lib/json-1.10.0.ovra", "lib/json-1.0.0-alpha.ovra",
        "lib/json-1.0.0-rc-1.ovra", "lib/json-1.2.ovra", "lib/util.ovra", "lib/my-lib.ovra",
        "lib/yaml-v2.0.0.ovra", "lib/Zed-1.0.0.ovra", "lib/b.c-2.0.0.ovra",
        "lib/nested/deeper/http-0.3.1.ovra", "lib/dir.ovra/inner-1.0.0.ovra", "lib/README.md",
        "lib/json-3.0.0.OVRA", "lib/.ovra", "lib/json-4.0.0.ovra.bak", "lib/\xff-1.0.0.ovra"},
       "",
       {"list"},
       "Local libraries:\n"
       "- Zed @ 1.0.0  (<root>/lib/Zed-1.0.0.ovra)\n"
       "- b.c @ 2.0.0  (<root>/lib/b.c-2.0.0.ovra)\n"
       "- http @ 0.3.1  (<root>/lib/nested/deeper/http-0.3.1.ovra)\n"
       "- inner @ 1.0.0  (<root>/lib/dir.ovra/inner-1.0.0.ovra)\n"
       "- json @ unknown  (<root>/lib/json-1.2.ovra)\n"
       "- json @ 1.0.0-alpha  (<root>/lib/json-1.0.0-alpha.ovra)\n"
       "- json @ 1.0.0-rc-1  (<root>/lib/json-1.0.0-rc-1.ovra)\n"
       "- json @ 1.2.0  (<root>/lib/json-1.2.0.ovra)\n"
       "- json @ 1.10.0  (<root>/lib/json-1.10.0.ovra)\n"
       "- my @ unknown  (<root>/lib/my-lib.ovra)\n"
       "- util @ unknown  (<root>/lib/util.ovra)\n"
       "- yaml @ unknown  (<root>/lib/yaml-v2.0.0.ovra)\n",
       "",
       0},
      {"empty library folder",
       {"lib/", "lib/docs/README.md"},
       "",
       {"list"},
       "No local libraries found in ./lib or ../lib\n",
       "",
       0},
      {"no library folder", {}, "", {"list"}, "", "Failed to list libraries: ", 1},
      {"../lib when there is no ./lib",
       {"lib/a-1.0.0.ovra"},
       "proj",
       {"list"},
       "Local libraries:\n- a @ 1.0.0  (<root>/proj/../lib/a-1.0.0.ovra)\n",
       "",
       0},
      {"../lib when ./lib is a file",
       {"lib/a-1.0.0.ovra", "proj/lib"},
       "proj",
       {"list"},
       "Local libraries:\n- a @ 1.0.0  (<root>/proj/../lib/a-1.0.0.ovra)\n",
       "",
       0},
      {"./lib preferred over ../lib",
       {"lib/outer-1.0.0.ovra", "proj/lib/inner-1.0.0.ovra"},
       "proj",
       {"list"},
       "Local libraries:\n- inner @ 1.0.0  (<root>/proj/lib/inner-1.0.0.ovra)\n",
       "",
       0},
      {"1.10.0 over 1.9.0 and 1.2.0",
       {"lib/json-1.2.0.ovra", "lib/json-1.10.0.ovra", "lib/json-1.9.0.ovra"},
       "",
       {"best", "json"},
       "Best match for json (req: *): json @ 1.10.0  (<root>/lib/json-1.10.0.ovra)\n",
       "",
       0},
      {"a comma list of comparators",
       {"lib/json-1.2.0.ovra", "lib/json-1.10.0.ovra", "lib/json-1.9.0.ovra"},
       "",
       {"best", "json", ">=1.0, <1.10"},
       "Best match for json (req: >=1.0, <1.10): json @ 1.9.0  (<root>/lib/json-1.9.0.ovra)\n",
       "",
       0},
      {"no version satisfies the requirement",
       {"lib/json-1.2.0.ovra"},
       "",
       {"best", "json", "^2"},
       "No library found for name 'json' with requirement '^2'\n",
       "",
       0},
      {"an absent version never satisfies a requirement",
       {"lib/json.ovra"},
       "",
       {"best", "json", "^1.0"},
       "No library found for name 'json' with requirement '^1.0'\n",
       "",
       0},
      {"an absent version sorts lowest",
       {"lib/json.ovra", "lib/json-0.1.0.ovra"},
       "",
       {"best", "json"},
       "Best match for json (req: *): json @ 0.1.0  (<root>/lib/json-0.1.0.ovra)\n",
       "",
       0},
      {"without a requirement an absent version is a match",
       {"lib/json.ovra"},
       "",
       {"best", "json"},
       "Best match for json (req: *): json @ unknown  (<root>/lib/json.ovra)\n",
       "",
       0},
      {"pre-releases only when the requirement names them",
       {"lib/json-1.9.0.ovra", "lib/json-2.0.0-beta.1.ovra"},
       "",
       {"best", "json", ">=1"},
       "Best match for json (req: >=1): json @ 1.9.0  (<root>/lib/json-1.9.0.ovra)\n",
       "",
       0},
      {"a requirement naming a pre-release",
       {"lib/json-1.9.0.ovra", "lib/json-2.0.0-beta.1.ovra"},
       "",
       {"best", "json", ">=2.0.0-alpha"},
       "Best match for json (req: >=2.0.0-alpha): json @ 2.0.0-beta.1  "
       "(<root>/lib/json-2.0.0-beta.1.ovra)\n",
       "",
       0},
      {"names match exactly",
       {"lib/json-1.0.0.ovra"},
       "",
       {"best", "JSON"},
       "No library found for name 'JSON' with requirement '*'\n",
       "",
       0},
      {"invalid requirement with a library of that name",
       {"lib/json-1.0.0.ovra"},
       "",
       {"best", "json", "abc"},
       "",
       "Failed to resolve library: Invalid version requirement 'abc': expected the major version "
       "number or a wildcard at 'abc'\n",
       1},
      {"empty requirement with a library of that name",
       {"lib/json-1.0.0.ovra"},
       "",
       {"best", "json", ""},
       "",
       "Failed to resolve library: Invalid version requirement '': the requirement is empty\n",
       1},
      {"invalid requirement without a library of that name",
       {"lib/util.ovra"},
       "",
       {"best", "json", "abc"},
       "No library found for name 'json' with requirement 'abc'\n",
       "",
       0},
      {"best without a library folder",
       {},
       "",
       {"best", "json"},
       "",
       "Failed to resolve library: ",
       1},
  };
  for (const LibCase& c : cases) {
    SCOPED_TRACE(c.label);
    TempDir scratch;
    const std::string root = fs::canonical(scratch.path()).string();
    ProcessResult result = run_in_scratch(c, scratch);
    std::string err = c.err;
    if (err.ends_with(": "))
      err += kNoLib;
    EXPECT_EQ(result.out, with_root(c.out, root));
    EXPECT_EQ(result.err, with_root(err, root));
    EXPECT_EQ(result.exit_code, c.status);
  }
}

TEST(LibCommandTest, ReportsAnUnreadableFolder) {
  if (::geteuid() == 0)
    GTEST_SKIP() << "permissions do not stop the superuser";
  TempDir scratch;
  write_text(scratch / "lib/json-1.0.0.ovra", "");
  fs::create_directories(scratch / "lib/locked");
  fs::permissions(scratch / "lib/locked", fs::perms::none);
  const std::string root = fs::canonical(scratch.path()).string();
  for (const char* operation : {"list", "best"}) {
    std::vector<std::string> args{"lib", operation};
    if (args[1] == "best")
      args.push_back("json");
    ProcessResult result = run_ovrac(args, in_directory(scratch.path()));
    const std::string prefix =
        args[1] == "list" ? "Failed to list libraries: " : "Failed to resolve library: ";
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err,
              prefix + "Failed to read directory " + root + "/lib/locked: Permission denied\n");
    EXPECT_EQ(result.exit_code, 1);
  }
}

}  // namespace
}  // namespace ovra::testing

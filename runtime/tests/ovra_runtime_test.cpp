#include "ovra_runtime.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cfloat>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

std::string text_of(ovra_rt_string* text) {
  int64_t length = 0;
  const char* bytes = ovra_runtime_string_bytes(text, &length);
  return bytes == nullptr ? std::string("<not a string>") : std::string(bytes, length);
}

// Takes ownership of a returned string and gives its bytes.
std::string take(ovra_rt_string* text) {
  std::string bytes = text_of(text);
  ovra_rt_release(text);
  return bytes;
}

ovra_rt_string* make(const std::string& text) {
  return ovra_rt_string_from_utf8(text.data(), static_cast<int64_t>(text.size()));
}

// Every test must leave no runtime object alive.
class Runtime : public ::testing::Test {
 protected:
  void SetUp() override { baseline_ = ovra_runtime_live_objects(); }
  void TearDown() override {
    EXPECT_EQ(ovra_runtime_live_objects(), baseline_) << "leaked objects";
  }

 private:
  int64_t baseline_ = 0;
};

// Runs `body` with the runtime writing into a temporary file and returns what it wrote.
template <class F>
std::string printed(F body) {
  FILE* out = std::tmpfile();
  ovra_runtime_set_streams(nullptr, out);
  body();
  ovra_runtime_set_streams(nullptr, nullptr);
  std::fflush(out);
  std::rewind(out);
  std::string text;
  char buffer[4096];
  for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, out)) > 0;)
    text.append(buffer, n);
  std::fclose(out);
  return text;
}

// Runs `body` with the runtime reading `input`.
template <class F>
void with_input(const std::string& input, F body) {
  FILE* in = std::tmpfile();
  std::fwrite(input.data(), 1, input.size(), in);
  std::rewind(in);
  FILE* out = std::tmpfile();
  ovra_runtime_set_streams(in, out);
  body();
  ovra_runtime_set_streams(nullptr, nullptr);
  std::fclose(in);
  std::fclose(out);
}

std::string print_text(ovra_rt_value* value) {
  std::string text = printed([&] { ovra_rt_io_print(value); });
  ovra_rt_release(value);
  return text;
}

TEST_F(Runtime, MultifTextIsShortestRoundTripWithoutExponent) {
  struct Case {
    double value;
    const char* text;
  };
  const Case cases[] = {
      {0.1, "0.1"},
      {3.0, "3"},
      {2.5, "2.5"},
      {-1.5, "-1.5"},
      {0.1 + 0.2, "0.30000000000000004"},
      {1e21, "1000000000000000000000"},
      {1e-7, "0.0000001"},
      {123456.789, "123456.789"},
      {1.0 / 3.0, "0.3333333333333333"},
      {-0.0, "-0"},
      {0.0, "0"},
      {NAN, "NaN"},
      {INFINITY, "Infinity"},
      {-INFINITY, "-Infinity"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(take(ovra_rt_string_from_multif(c.value)), c.text) << c.text;

  const std::string largest = take(ovra_rt_string_from_multif(DBL_MAX));
  EXPECT_EQ(largest, "17976931348623157" + std::string(292, '0'));
  const std::string smallest = take(ovra_rt_string_from_multif(5e-324));
  EXPECT_EQ(smallest, "0." + std::string(323, '0') + "5");
}

TEST_F(Runtime, SinglefTextIsShortestForTheFloatNotTheDouble) {
  struct Case {
    float value;
    const char* text;
  };
  const Case cases[] = {
      {0.1f, "0.1"},
      {3.0f, "3"},
      {2.5f, "2.5"},
      {1.0f / 3.0f, "0.33333334"},
      {16777216.0f, "16777216"},
      {FLT_MAX, "340282350000000000000000000000000000000"},
      {1e-45f, "0.000000000000000000000000000000000000000000001"},
      {-0.0f, "-0"},
      {INFINITY, "Infinity"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(take(ovra_rt_string_from_singlef(c.value)), c.text) << c.text;
}

TEST_F(Runtime, NumberTextReadsBackToTheSameNumber) {
  std::mt19937_64 random(12345);
  for (int i = 0; i < 20000; ++i) {
    uint64_t bits = random();
    double value;
    std::memcpy(&value, &bits, sizeof value);
    if (!std::isfinite(value))
      continue;
    const std::string text = take(ovra_rt_string_from_multif(value));
    ASSERT_EQ(text.find_first_of("eE"), std::string::npos) << text;
    ASSERT_EQ(std::strtod(text.c_str(), nullptr), value) << text;

    float single;
    uint32_t single_bits = static_cast<uint32_t>(bits);
    std::memcpy(&single, &single_bits, sizeof single);
    if (!std::isfinite(single))
      continue;
    const std::string single_text = take(ovra_rt_string_from_singlef(single));
    ASSERT_EQ(std::strtof(single_text.c_str(), nullptr), single) << single_text;
  }
}

TEST_F(Runtime, PrintWritesEachKindAndALineFeed) {
  EXPECT_EQ(print_text(ovra_rt_value_from_int(-42)), "-42\n");
  EXPECT_EQ(print_text(ovra_rt_value_from_int(1)), "1\n");  // a bool is boxed as an int
  EXPECT_EQ(print_text(ovra_rt_value_from_singlef(0.1f)), "0.1\n");
  EXPECT_EQ(print_text(ovra_rt_value_from_multif(3.0)), "3\n");

  const std::string bytes("h\xC3\xA9llo\0!", 8);
  ovra_rt_string* text = make(bytes);
  EXPECT_EQ(print_text(ovra_rt_value_from_string(text)), bytes + "\n");
  // A bare string where a boxed value is expected prints the same.
  EXPECT_EQ(printed([&] { ovra_rt_io_print(reinterpret_cast<ovra_rt_value*>(text)); }),
            bytes + "\n");
  ovra_rt_release(text);

  ovra_rt_array* inner = ovra_rt_array_new();
  ovra_rt_value* two_and_a_half = ovra_rt_value_from_multif(2.5);
  ovra_rt_array_push(inner, two_and_a_half);
  ovra_rt_release(two_and_a_half);
  ovra_rt_array* outer = ovra_rt_array_new();
  ovra_rt_value* one = ovra_rt_value_from_int(1);
  ovra_rt_array_push(outer, one);
  ovra_rt_array_push(outer, inner);
  ovra_rt_array_push(outer, nullptr);
  ovra_rt_release(one);
  ovra_rt_release(inner);
  EXPECT_EQ(print_text(ovra_rt_value_from_array(outer)), "[1, [2.5], null]\n");
  ovra_rt_release(outer);

  ovra_rt_object* point = ovra_rt_object_new("Point", nullptr);
  ovra_rt_string* x = make("x");
  ovra_rt_value* three = ovra_rt_value_from_int(3);
  ovra_rt_object_set_property(point, x, three);
  EXPECT_EQ(printed([&] { ovra_rt_io_print(reinterpret_cast<ovra_rt_value*>(point)); }),
            "Point {x: 3}\n");
  ovra_rt_release(three);
  ovra_rt_release(x);
  ovra_rt_release(point);

  EXPECT_EQ(printed([] { ovra_rt_io_print(nullptr); }), "");
}

TEST_F(Runtime, PrintingAnArrayThatContainsItselfEnds) {
  ovra_rt_array* array = ovra_rt_array_new();
  ovra_rt_array_push(array, array);
  const std::string text =
      printed([&] { ovra_rt_io_print(reinterpret_cast<ovra_rt_value*>(array)); });
  EXPECT_EQ(text, std::string(16, '[') + "[...]" + std::string(16, ']') + "\n");
  // The cycle keeps itself alive; break it so the test leaks nothing.
  ovra_rt_array_remove(array, 0);
  ovra_rt_release(array);
}

TEST_F(Runtime, ReadFunctionsParseOneLineEach) {
  struct Case {
    const char* input;
    int32_t as_int;
    double as_double;
  };
  const Case cases[] = {
      {"42\n", 42, 42.0},
      {"  -7 \r\n", -7, -7.0},
      {"+5", 5, 5.0},
      {"2.5\n", 0, 2.5},
      {"abc\n", 0, 0.0},
      {"12abc\n", 0, 0.0},
      {"2147483647\n", 2147483647, 2147483647.0},
      {"-2147483648\n", INT32_MIN, -2147483648.0},
      {"2147483648\n", 0, 2147483648.0},
      {"99999999999999999999999\n", 0, 1e23},
      {"-\n", 0, 0.0},
      {"\n", 0, 0.0},
      {"", 0, 0.0},
  };
  for (const Case& c : cases) {
    int32_t as_int = -1;
    double as_double = -1;
    float as_float = -1;
    with_input(c.input, [&] { as_int = ovra_rt_io_read_int(); });
    with_input(c.input, [&] { as_double = ovra_rt_io_read_multif(); });
    with_input(c.input, [&] { as_float = ovra_rt_io_read_singlef(); });
    EXPECT_EQ(as_int, c.as_int) << c.input;
    EXPECT_EQ(as_double, c.as_double) << c.input;
    EXPECT_EQ(as_float, static_cast<float>(c.as_double)) << c.input;
  }
}

TEST_F(Runtime, ReadLineDropsTheLineEndAndGivesEmptyAtTheEnd) {
  std::vector<std::string> lines;
  const std::string long_line(10000, 'x');
  with_input("first\r\nsecond\n\n" + long_line + "\nlast", [&] {
    for (int i = 0; i < 7; ++i)
      lines.push_back(take(ovra_rt_io_read_line()));
  });
  EXPECT_EQ(lines, (std::vector<std::string>{"first", "second", "", long_line, "last", "", ""}));

  // Reading flushes what was printed before, so a prompt shows up first.
  FILE* in = std::tmpfile();
  FILE* out = std::tmpfile();
  char buffer[64] = {};
  std::setvbuf(out, buffer, _IOFBF, sizeof buffer);
  ovra_runtime_set_streams(in, out);
  ovra_rt_value* prompt = ovra_rt_value_from_int(7);
  ovra_rt_io_print(prompt);
  ovra_rt_release(prompt);
  ovra_rt_release(ovra_rt_io_read_line());
  ovra_runtime_set_streams(nullptr, nullptr);
  struct stat info {};
  ASSERT_EQ(fstat(fileno(out), &info), 0);
  EXPECT_EQ(info.st_size, 2);
  std::fclose(in);
  std::fclose(out);
}

TEST_F(Runtime, StringOperations) {
  EXPECT_EQ(take(ovra_rt_string_from_int(INT32_MIN)), "-2147483648");
  EXPECT_EQ(take(ovra_rt_string_from_utf8(nullptr, 5)), "");
  EXPECT_EQ(take(ovra_rt_string_from_utf8("abc", -1)), "");
  EXPECT_EQ(take(ovra_rt_string_from_utf8("abc", 2)), "ab");

  ovra_rt_string* a = make("ab");
  ovra_rt_string* b = make("abc");
  EXPECT_EQ(take(ovra_rt_string_concat(a, b)), "ababc");
  EXPECT_EQ(take(ovra_rt_string_concat(nullptr, b)), "abc");
  EXPECT_EQ(take(ovra_rt_string_concat(nullptr, nullptr)), "");

  struct Order {
    const char* left;
    const char* right;
    int32_t order;
  };
  const Order orders[] = {
      {"ab", "abc", -1}, {"abc", "ab", 1}, {"abc", "abc", 0},
      {"b", "abc", 1},   {"", "", 0},      {"\xC3\xA9", "z", 1},  // bytes compare unsigned
  };
  for (const Order& o : orders) {
    ovra_rt_string* l = make(o.left);
    ovra_rt_string* r = make(o.right);
    EXPECT_EQ(ovra_rt_string_compare(l, r), o.order) << o.left << " vs " << o.right;
    ovra_rt_release(l);
    ovra_rt_release(r);
  }
  EXPECT_EQ(ovra_rt_string_compare(nullptr, nullptr), 0);
  EXPECT_EQ(ovra_rt_string_compare(a, nullptr), 1);

  EXPECT_TRUE(ovra_rt_string_starts_with(b, a));
  EXPECT_FALSE(ovra_rt_string_starts_with(a, b));
  EXPECT_TRUE(ovra_rt_string_starts_with(a, nullptr));
  ovra_rt_string* bc = make("bc");
  EXPECT_TRUE(ovra_rt_string_ends_with(b, bc));
  EXPECT_FALSE(ovra_rt_string_ends_with(a, bc));
  EXPECT_FALSE(ovra_rt_string_ends_with(nullptr, bc));
  ovra_rt_release(a);
  ovra_rt_release(b);
  ovra_rt_release(bc);
}

TEST_F(Runtime, SlicesCountCharactersAndClampIndexes) {
  struct Case {
    int32_t start, end;
    const char* text;
    const char* elements;  // of the array [0, 1, 2, 3, 4]
  };
  const Case cases[] = {
      {0, 5, "h\xC3\xA9llo", "[0, 1, 2, 3, 4]"},
      {1, 3, "\xC3\xA9l", "[1, 2]"},
      {-3, -1, "ll", "[2, 3]"},
      {3, 1, "", "[]"},
      {-100, 100, "h\xC3\xA9llo", "[0, 1, 2, 3, 4]"},
      {INT32_MIN, INT32_MAX, "h\xC3\xA9llo", "[0, 1, 2, 3, 4]"},
      {5, 9, "", "[]"},
  };
  ovra_rt_string* text = make("h\xC3\xA9llo");
  ovra_rt_array* array = ovra_rt_array_new();
  for (int i = 0; i < 5; ++i) {
    ovra_rt_value* value = ovra_rt_value_from_int(i);
    ovra_rt_array_push(array, value);
    ovra_rt_release(value);
  }
  for (const Case& c : cases) {
    EXPECT_EQ(take(ovra_rt_string_slice(text, c.start, c.end)), c.text) << c.start << ":" << c.end;
    ovra_rt_array* slice = ovra_rt_array_slice(array, c.start, c.end);
    EXPECT_EQ(printed([&] { ovra_rt_io_print(reinterpret_cast<ovra_rt_value*>(slice)); }),
              std::string(c.elements) + "\n")
        << c.start << ":" << c.end;
    ovra_rt_release(slice);
  }
  EXPECT_EQ(take(ovra_rt_string_slice(nullptr, 0, 3)), "");
  ovra_rt_array* empty = ovra_rt_array_slice(nullptr, 0, 3);
  EXPECT_EQ(ovra_rt_array_length(empty), 0);
  ovra_rt_release(empty);
  ovra_rt_release(text);
  ovra_rt_release(array);
}

TEST_F(Runtime, ArrayElementsAndBadIndexes) {
  ovra_rt_array* array = ovra_rt_array_new();
  for (int i = 0; i < 100; ++i) {
    ovra_rt_value* value = ovra_rt_value_from_int(i);
    ovra_rt_array_push(array, value);
    ovra_rt_release(value);
  }
  EXPECT_EQ(ovra_rt_array_length(array), 100);
  ovra_rt_array_remove(array, 0);
  ovra_rt_array_remove(array, 98);  // the last one
  EXPECT_EQ(ovra_rt_array_length(array), 98);

  ovra_rt_value* seven = ovra_rt_value_from_int(-7);
  ovra_rt_array_set(array, 5, seven);
  ovra_rt_array_set(array, 98, seven);  // at the length: appends
  const int64_t ignored_indexes[] = {-1, 100, INT64_MAX, INT64_MIN};
  for (int64_t index : ignored_indexes) {
    ovra_rt_array_set(array, index, seven);
    ovra_rt_array_remove(array, index);
    EXPECT_EQ(ovra_rt_array_get(array, index), nullptr) << index;
  }
  ovra_rt_release(seven);
  EXPECT_EQ(ovra_rt_array_length(array), 99);

  struct Element {
    int64_t index;
    int32_t value;
  };
  const Element elements[] = {{0, 1}, {4, 5}, {5, -7}, {6, 7}, {97, 98}, {98, -7}};
  for (const Element& e : elements) {
    void* value = ovra_rt_array_get(array, e.index);
    EXPECT_EQ(ovra_rt_value_to_int(value), e.value) << e.index;
    ovra_rt_release(value);
  }
  ovra_rt_release(array);

  // Everything on a missing array is a no-op or an empty answer.
  ovra_rt_array_push(nullptr, nullptr);
  ovra_rt_array_set(nullptr, 0, nullptr);
  ovra_rt_array_remove(nullptr, 0);
  EXPECT_EQ(ovra_rt_array_length(nullptr), 0);
  EXPECT_EQ(ovra_rt_array_get(nullptr, 0), nullptr);
}

TEST_F(Runtime, ContainersKeepWhatTheyStoreAlive) {
  ovra_rt_array* array = ovra_rt_array_new();
  ovra_rt_string* word = make("word");
  ovra_rt_array_push(array, word);  // a bare string is boxed for storage
  ovra_rt_release(word);
  void* element = ovra_rt_array_get(array, 0);
  ovra_rt_array_remove(array, 0);
  // The reference from get outlives the removal.
  EXPECT_EQ(text_of(reinterpret_cast<ovra_rt_string*>(element)), "word");
  ovra_rt_release(element);

  ovra_rt_object* object = ovra_rt_object_new("Box", nullptr);
  ovra_rt_value* boxed_array = ovra_rt_value_from_array(array);
  ovra_rt_release(array);
  ovra_rt_string* key = make("items");
  ovra_rt_object_set_property(object, key, boxed_array);
  ovra_rt_release(boxed_array);
  ovra_rt_release(key);
  // Releasing the object frees the whole tree: the fixture checks nothing is left.
  ovra_rt_release(object);
}

TEST_F(Runtime, ObjectProperties) {
  // The second argument is never read, so a caller that passes only the name is fine.
  ovra_rt_object* object =
      ovra_rt_object_new("Thing", reinterpret_cast<ovra_rt_array*>(uintptr_t{0xdead}));
  ovra_rt_string* name = make("name");
  ovra_rt_string* same_name = make("name");
  ovra_rt_string* other = make("other");
  ovra_rt_value* first = ovra_rt_value_from_int(1);
  ovra_rt_value* second = ovra_rt_value_from_multif(2.5);
  ovra_rt_object_set_property(object, name, first);
  ovra_rt_object_set_property(object, same_name, second);  // replaces, found by contents
  ovra_rt_release(first);
  ovra_rt_release(second);

  void* value = ovra_rt_object_get_property(object, name);
  EXPECT_EQ(ovra_rt_value_to_float(value), 2.5);
  ovra_rt_release(value);
  EXPECT_EQ(ovra_rt_object_get_property(object, other), nullptr);
  EXPECT_EQ(ovra_rt_object_get_property(nullptr, name), nullptr);
  EXPECT_EQ(ovra_rt_object_call_method(object, name, nullptr), nullptr);
  ovra_rt_object_set_property(nullptr, name, nullptr);

  ovra_rt_string* length = make("length");
  ovra_rt_string* word = make("h\xC3\xA9llo");
  void* word_length = ovra_rt_object_get_property(reinterpret_cast<ovra_rt_object*>(word), length);
  EXPECT_EQ(ovra_rt_value_to_int(word_length), 5);
  ovra_rt_release(word_length);
  ovra_rt_release(word);
  ovra_rt_release(length);

  ovra_rt_object* nameless = ovra_rt_object_new(nullptr, nullptr);
  EXPECT_EQ(printed([&] { ovra_rt_io_print(reinterpret_cast<ovra_rt_value*>(nameless)); }),
            " {}\n");
  ovra_rt_release(nameless);
  ovra_rt_release(object);
  ovra_rt_release(name);
  ovra_rt_release(same_name);
  ovra_rt_release(other);
}

TEST_F(Runtime, UnboxingConvertsOrGivesZero) {
  struct Case {
    ovra_rt_value* value;
    int32_t as_int;
    double as_float;
  };
  ovra_rt_string* number_text = make(" 12 ");
  ovra_rt_string* word = make("twelve");
  const Case cases[] = {
      {ovra_rt_value_from_int(-3), -3, -3.0},
      {ovra_rt_value_from_singlef(2.75f), 2, 2.75},
      {ovra_rt_value_from_multif(-2.75), -2, -2.75},
      {ovra_rt_value_from_multif(1e300), INT32_MAX, 1e300},
      {ovra_rt_value_from_multif(-1e300), INT32_MIN, -1e300},
      {ovra_rt_value_from_multif(NAN), 0, NAN},
      {ovra_rt_value_from_string(number_text), 12, 12.0},
      {ovra_rt_value_from_string(word), 0, 0.0},
      {ovra_rt_value_from_string(nullptr), 0, 0.0},
      {ovra_rt_value_from_array(nullptr), 0, 0.0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ovra_rt_value_to_int(c.value), c.as_int);
    if (std::isnan(c.as_float))
      EXPECT_TRUE(std::isnan(ovra_rt_value_to_float(c.value)));
    else
      EXPECT_EQ(ovra_rt_value_to_float(c.value), c.as_float);
    ovra_rt_release(c.value);
  }
  EXPECT_EQ(ovra_rt_value_to_int(number_text), 12);  // a bare string parses too
  EXPECT_EQ(ovra_rt_value_to_int(nullptr), 0);
  EXPECT_EQ(ovra_rt_value_to_float(nullptr), 0.0);
  ovra_rt_release(number_text);
  ovra_rt_release(word);
}

TEST_F(Runtime, PointersTheLibraryDidNotMakeCountAsNull) {
  alignas(16) char foreign[64] = "not a runtime object";
  ovra_rt_retain(foreign);
  ovra_rt_release(foreign);
  ovra_rt_retain(nullptr);
  ovra_rt_release(nullptr);
  EXPECT_EQ(ovra_rt_array_length(reinterpret_cast<ovra_rt_array*>(foreign)), 0);
  EXPECT_EQ(ovra_rt_value_to_int(foreign), 0);
  EXPECT_EQ(printed([&] { ovra_rt_io_print(reinterpret_cast<ovra_rt_value*>(foreign)); }), "");
  EXPECT_STREQ(foreign, "not a runtime object");

  // Retain and release balance: one retain keeps the string through one extra release.
  ovra_rt_string* text = make("kept");
  ovra_rt_retain(text);
  ovra_rt_release(text);
  EXPECT_EQ(text_of(text), "kept");
  ovra_rt_release(text);
}

// The language's own methods on receivers that are not objects, read without arguments (a
// property read) or called with an argument array.
TEST_F(Runtime, LanguageMethodsOnStringsArraysAndNumbers) {
  auto string_value = [](const char* text) {
    ovra_rt_string* bare = make(text);
    ovra_rt_value* boxed = ovra_rt_value_from_string(bare);
    ovra_rt_release(bare);
    return boxed;
  };
  struct Case {
    const char* label;
    ovra_rt_value* receiver;
    const char* method;
    std::vector<ovra_rt_value*> args;  // empty: a property read
    std::string printed;               // the result as print writes it; "" for null
  };
  ovra_rt_array* list = ovra_rt_array_new();
  for (int i = 1; i <= 4; ++i) {
    ovra_rt_value* element = ovra_rt_value_from_int(i * 10);
    ovra_rt_array_push(list, element);
    ovra_rt_release(element);
  }
  const std::vector<Case> cases = {
      {"int toString", ovra_rt_value_from_int(42), "toString", {}, "42\n"},
      {"double toString", ovra_rt_value_from_multif(2.5), "toString", {}, "2.5\n"},
      {"string toString", string_value("hi"), "toString", {}, "hi\n"},
      {"string length", string_value("h\xC3\xA9llo"), "length", {}, "5\n"},
      {"array length", ovra_rt_value_from_array(list), "length", {}, "4\n"},
      {"toInt prefix", string_value(" 12abc"), "toInt", {}, "12\n"},
      {"toInt none", string_value("abc"), "toInt", {}, "0\n"},
      {"toInt double", ovra_rt_value_from_multif(-2.7), "toInt", {}, "-2\n"},
      {"toMultif", string_value("2.5kg"), "toMultif", {}, "2.5\n"},
      {"toSinglef none", string_value("kg"), "toSinglef", {}, "NaN\n"},
      {"toMultif hex is not decimal", string_value("0x10"), "toMultif", {}, "0\n"},
      {"toMultif exponent", string_value(" -1.5e2x"), "toMultif", {}, "-150\n"},
      {"toMultif Infinity", string_value("-Infinity"), "toMultif", {}, "-Infinity\n"},
      {"round half up", ovra_rt_value_from_multif(2.5), "round", {}, "3\n"},
      {"round negative half", ovra_rt_value_from_multif(-2.5), "round", {}, "-2\n"},
      {"round huge",
       ovra_rt_value_from_multif(1e300),
       "round",
       {},
       "1" + std::string(300, '0') + "\n"},
      {"toBool empty", string_value(""), "toBool", {}, "0\n"},
      {"toBool zero", ovra_rt_value_from_int(0), "toBool", {}, "0\n"},
      {"toBool text", string_value("x"), "toBool", {}, "1\n"},
      {"cutIt string",
       string_value("hello"),
       "cutIt",
       {ovra_rt_value_from_int(1), ovra_rt_value_from_int(3)},
       "el\n"},
      {"cutIt one argument", string_value("hello"), "cutIt", {ovra_rt_value_from_int(-2)}, "lo\n"},
      {"cutIt array",
       ovra_rt_value_from_array(list),
       "cutIt",
       {ovra_rt_value_from_int(1), ovra_rt_value_from_int(3)},
       "[20, 30]\n"},
      {"initOf", string_value("hello"), "initOf", {string_value("he")}, "1\n"},
      {"endOf", string_value("hello"), "endOf", {string_value("he")}, "0\n"},
      {"endOf without argument",
       string_value("hello"),
       "endOf",
       {ovra_rt_value_from_int(1)},
       "0\n"},
      {"unknown name", string_value("hello"), "shout", {}, ""},
      {"number has no length", ovra_rt_value_from_int(3), "length", {}, ""},
  };
  ovra_rt_release(list);
  for (const Case& c : cases) {
    ovra_rt_string* name = make(c.method);
    void* result = nullptr;
    if (c.args.empty()) {
      result = ovra_rt_object_get_property(reinterpret_cast<ovra_rt_object*>(c.receiver), name);
    } else {
      ovra_rt_array* args = ovra_rt_array_new();
      for (ovra_rt_value* arg : c.args) {
        ovra_rt_array_push(args, arg);
        ovra_rt_release(arg);
      }
      result =
          ovra_rt_object_call_method(reinterpret_cast<ovra_rt_object*>(c.receiver), name, args);
      ovra_rt_release(args);
    }
    const std::string text =
        printed([&] { ovra_rt_io_print(static_cast<ovra_rt_value*>(result)); });
    EXPECT_EQ(text, c.printed) << c.label;
    ovra_rt_release(result);
    ovra_rt_release(name);
    ovra_rt_release(c.receiver);
  }
}

TEST_F(Runtime, SmallIntBoxesAreSharedAndSurviveReleases) {
  const int64_t before = ovra_runtime_live_objects();
  ovra_rt_value* first = ovra_rt_value_from_int(7);
  ovra_rt_value* second = ovra_rt_value_from_int(7);
  EXPECT_EQ(first, second);
  for (int i = 0; i < 3; ++i)
    ovra_rt_release(first);  // more releases than references: still there
  EXPECT_EQ(ovra_rt_value_to_int(second), 7);
  EXPECT_EQ(ovra_runtime_live_objects(), before);
  // Outside the shared range every box is its own object.
  for (int32_t number : {-129, 1024, INT32_MAX, INT32_MIN}) {
    ovra_rt_value* a = ovra_rt_value_from_int(number);
    ovra_rt_value* b = ovra_rt_value_from_int(number);
    EXPECT_NE(a, b);
    EXPECT_EQ(ovra_rt_value_to_int(b), number);
    ovra_rt_release(a);
    ovra_rt_release(b);
  }
  for (int32_t number : {-128, 0, 1023})
    EXPECT_EQ(ovra_rt_value_to_int(ovra_rt_value_from_int(number)), number);
}

// Random calls of every function on random mixes of pointers (null, memory the library did not
// make, and every kind of runtime object) and wild indexes; under AddressSanitizer this finds any
// call that reads or frees what it must not. Afterwards every container is emptied, which breaks
// the cycles the calls made, and everything must be freed.
TEST_F(Runtime, RandomMisuseNeverCrashesOrLeaks) {
  std::mt19937 random(2024);
  alignas(16) static char foreign[64] = "foreign memory";
  std::vector<void*> pool{nullptr, foreign};
  std::vector<ovra_rt_string*> names;
  for (const char* name : {"a", "b", "length", "toString", "cutIt"})
    names.push_back(make(name));
  auto pick = [&]() { return pool[random() % pool.size()]; };
  auto name = [&]() { return names[random() % names.size()]; };
  auto index = [&]() -> int64_t {
    const int64_t wild[] = {-1, 0, 1, 2, 3, 7, INT64_MAX, INT64_MIN, INT32_MIN};
    return wild[random() % std::size(wild)];
  };
  auto keep = [&](void* result) {
    if (result != nullptr)
      pool.push_back(result);
  };
  auto as = [](void* pointer) { return static_cast<ovra_rt_value*>(pointer); };
  auto str = [](void* pointer) { return static_cast<ovra_rt_string*>(pointer); };
  auto arr = [](void* pointer) { return static_cast<ovra_rt_array*>(pointer); };
  auto obj = [](void* pointer) { return static_cast<ovra_rt_object*>(pointer); };

  const std::string output = printed([&] {
    for (int step = 0; step < 20000; ++step) {
      const int32_t small = static_cast<int32_t>(index());
      switch (random() % 24) {
        case 0:
          keep(ovra_rt_string_from_utf8("h\xC3\xA9llo", 6));
          break;
        case 1:
          keep(ovra_rt_string_concat(str(pick()), str(pick())));
          break;
        case 2:
          ovra_rt_string_compare(str(pick()), str(pick()));
          break;
        case 3:
          keep(ovra_rt_string_from_int(small));
          break;
        case 4:
          keep(ovra_rt_string_from_multif(small / 7.0));
          break;
        case 5:
          keep(ovra_rt_array_new());
          break;
        case 6:
          ovra_rt_array_length(arr(pick()));
          break;
        case 7:
          keep(ovra_rt_array_get(arr(pick()), index()));
          break;
        case 8:
          ovra_rt_array_set(arr(pick()), index(), pick());
          break;
        case 9:
          ovra_rt_array_push(arr(pick()), pick());
          break;
        case 10:
          ovra_rt_array_remove(arr(pick()), index());
          break;
        case 11:
          keep(ovra_rt_object_new(random() % 2 ? "Thing" : nullptr, arr(pick())));
          break;
        case 12:
          keep(ovra_rt_object_call_method(obj(pick()), name(), arr(pick())));
          break;
        case 13:
          keep(ovra_rt_object_get_property(obj(pick()), name()));
          break;
        case 14:
          ovra_rt_object_set_property(obj(pick()), name(), pick());
          break;
        case 15:
          ovra_rt_string_starts_with(str(pick()), str(pick()));
          break;
        case 16:
          keep(ovra_rt_string_slice(str(pick()), small, static_cast<int32_t>(index())));
          break;
        case 17:
          keep(ovra_rt_array_slice(arr(pick()), small, static_cast<int32_t>(index())));
          break;
        case 18:
          ovra_rt_value_to_int(pick());
          ovra_rt_value_to_float(pick());
          break;
        case 19:
          keep(ovra_rt_value_from_array(arr(pick())));
          break;
        case 20:
          keep(ovra_rt_value_from_string(str(pick())));
          break;
        case 21:
          keep(ovra_rt_value_from_multif(small * 0.5));
          break;
        case 22:
          if (random() % 50 == 0)
            ovra_rt_io_print(as(pick()));
          break;
        case 23: {
          void* pointer = pick();
          ovra_rt_retain(pointer);
          ovra_rt_release(pointer);
          break;
        }
      }
    }
  });
  EXPECT_FALSE(output.empty());

  for (void* pointer : pool) {
    while (ovra_rt_array_length(arr(pointer)) > 0)
      ovra_rt_array_remove(arr(pointer), 0);
    for (ovra_rt_string* key : names)
      ovra_rt_object_set_property(obj(pointer), key, nullptr);
  }
  for (std::size_t i = 2; i < pool.size(); ++i)
    ovra_rt_release(pool[i]);
  for (ovra_rt_string* key : names)
    ovra_rt_release(key);
}

// ---- The archive as executables link it ----------------------------------------------------

std::string command_output(const std::string& command, int* status) {
  FILE* pipe = ::popen(command.c_str(), "r");
  std::string text;
  if (pipe == nullptr)
    return text;
  char buffer[4096];
  for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
    text.append(buffer, n);
  *status = ::pclose(pipe);
  return text;
}

std::set<std::string> words(const std::string& text) {
  std::istringstream in(text);
  std::set<std::string> result;
  for (std::string word; in >> word;)
    result.insert(word);
  return result;
}

TEST(RuntimeArchive, NeedsOnlyTheCLibrary) {
  int status = -1;
  const std::string libc = command_output(
      std::string(OVRA_C_COMPILER) + " -print-file-name=libc.so.6 | tr -d '\\n'", &status);
  ASSERT_EQ(status, 0);
  std::set<std::string> provided = words(command_output(
      "nm -D --defined-only '" + libc + "' | awk '{print $3}' | sed 's/@.*//'", &status));
  ASSERT_EQ(status, 0);
  ASSERT_TRUE(provided.contains("malloc")) << libc;
  // glibc keeps a few functions (atexit among them) in a static part linked with every program.
  const std::string nonshared = command_output(
      std::string(OVRA_C_COMPILER) + " -print-file-name=libc_nonshared.a | tr -d '\\n'", &status);
  for (const std::string& symbol : words(command_output(
           "nm --defined-only '" + nonshared + "' 2>/dev/null | awk 'NF == 3 {print $3}'",
           &status)))
    provided.insert(symbol);
  provided.insert("_GLOBAL_OFFSET_TABLE_");  // made by the linker

  const std::set<std::string> needed = words(command_output(
      std::string("nm -u '") + OVRA_RUNTIME_ARCHIVE + "' | awk 'NF == 2 {print $2}'", &status));
  ASSERT_EQ(status, 0);
  ASSERT_FALSE(needed.empty());
  for (const std::string& symbol : needed)
    EXPECT_TRUE(provided.contains(symbol)) << symbol << " is not a C library symbol";

  const std::set<std::string> defined =
      words(command_output(std::string("nm --defined-only -g '") + OVRA_RUNTIME_ARCHIVE +
                               "' | awk 'NF == 3 {print $3}' | grep '^ovra_rt_'",
                           &status));
  EXPECT_EQ(defined.size(), 35u);
}

TEST(RuntimeArchive, LinksIntoACProgramWithoutTheCxxLibrary) {
  char directory[] = "/tmp/ovra-runtime-XXXXXX";
  ASSERT_NE(::mkdtemp(directory), nullptr);
  const std::string dir = directory;
  std::ofstream(dir + "/main.c") << R"(#include "ovra_runtime.h"
int main(void) {
  ovra_rt_init();
  ovra_rt_array* list = ovra_rt_array_new();
  ovra_rt_array_push(list, ovra_rt_value_from_multif(0.1));
  ovra_rt_array_push(list, ovra_rt_string_from_utf8("two", 3));
  ovra_rt_io_print(ovra_rt_value_from_array(list));
  ovra_rt_io_print(ovra_rt_value_from_int(ovra_rt_io_read_int() * 2));
  return 0;
}
)";
  int status = -1;
  const std::string header_dir =
      std::string(__FILE__).substr(0, std::string(__FILE__).rfind('/')) + "/../src";
  command_output(std::string(OVRA_C_COMPILER) + " -I'" + header_dir + "' '" + dir + "/main.c' '" +
                     OVRA_RUNTIME_ARCHIVE + "' -o '" + dir + "/program' 2>&1",
                 &status);
  ASSERT_EQ(status, 0);
  const std::string out = command_output("echo 21 | '" + dir + "/program'", &status);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(out, "[0.1, two]\n42\n");
  std::system(("rm -rf '" + dir + "'").c_str());
}

}  // namespace

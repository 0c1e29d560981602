// The native runtime library. It is linked into executables by a plain C link, so it uses the C
// library alone: no operator new, no exceptions, no RTTI, no function-local statics and nothing
// from the C++ standard library. Only constant-initialised globals exist.
#include "ovra_runtime.h"

#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

namespace {

// Marks memory that this library allocated; a pointer without it is treated as null.
constexpr uint32_t kMagic = 0x4f565241u;
// A count that reached the limit is never decremented again, so the object stays alive.
constexpr uint32_t kImmortal = UINT32_MAX;
// Printing stops descending into arrays and objects this deep, which also ends cycles.
constexpr int kMaxPrintDepth = 16;
// Room for the longest number text: 309 integral digits of the largest double or "0." and 323
// zeros before the digits of the smallest one, plus sign and terminator.
constexpr size_t kNumberTextSize = 400;

enum class Kind : uint32_t { String, Array, Object, Value };
enum class Tag : uint32_t { Int, SingleF, MultiF, Reference };

struct Header {
  uint32_t magic;
  Kind kind;
  uint32_t count;
};

}  // namespace

struct ovra_rt_string {
  Header header;
  int64_t length;
  // followed by length bytes and a terminating zero
};

struct ovra_rt_value {
  Header header;
  Tag tag;
  union {
    int32_t int_value;
    float singlef_value;
    double multif_value;
    Header* reference;  // a string, an array or an object
  };
};

struct ovra_rt_array {
  Header header;
  int64_t length;
  int64_t capacity;
  ovra_rt_value** items;  // each a boxed value or null
};

namespace {

struct Property {
  ovra_rt_string* name;
  ovra_rt_value* value;
};

}  // namespace

struct ovra_rt_object {
  Header header;
  ovra_rt_string* class_name;
  int64_t property_count;
  int64_t property_capacity;
  Property* properties;
};

namespace {

int64_t live_objects = 0;

// Generated code boxes every int it prints or stores and never releases the box, so the boxes of
// small ints are shared and immortal: a loop that prints its counter does not grow memory.
// Boxes are never changed after they are made, which makes sharing them safe.
constexpr int32_t kSharedIntMin = -128;
constexpr int32_t kSharedIntMax = 1023;
ovra_rt_value shared_ints[kSharedIntMax - kSharedIntMin + 1];
FILE* input_override = nullptr;
FILE* output_override = nullptr;

FILE* input_stream() {
  return input_override != nullptr ? input_override : stdin;
}
FILE* output_stream() {
  return output_override != nullptr ? output_override : stdout;
}

[[noreturn]] void out_of_memory() {
  fflush(output_stream());
  fputs("ovra runtime: out of memory\n", stderr);
  exit(1);
}

void* allocate(size_t size) {
  void* memory = malloc(size == 0 ? 1 : size);
  if (memory == nullptr)
    out_of_memory();
  return memory;
}

// Room for `count` items of `size` bytes, refusing counts whose byte size overflows.
void* reallocate_items(void* memory, int64_t count, size_t size) {
  if (count < 0 || static_cast<uint64_t>(count) > SIZE_MAX / size)
    out_of_memory();
  void* grown = realloc(memory, static_cast<size_t>(count) * size);
  if (grown == nullptr)
    out_of_memory();
  return grown;
}

Header* header_of(const void* pointer) {
  if (pointer == nullptr)
    return nullptr;
  Header* header = static_cast<Header*>(const_cast<void*>(pointer));
  return header->magic == kMagic ? header : nullptr;
}

template <class T>
T* new_object(Kind kind, size_t size) {
  T* object = static_cast<T*>(allocate(size));
  object->header.magic = kMagic;
  object->header.kind = kind;
  object->header.count = 1;
  ++live_objects;
  return object;
}

char* bytes_of(ovra_rt_string* text) {
  return reinterpret_cast<char*>(text + 1);
}

void retain(Header* header) {
  if (header != nullptr && header->count != kImmortal)
    ++header->count;
}

void release(Header* header);

void destroy(Header* header) {
  switch (header->kind) {
    case Kind::String:
      break;
    case Kind::Value: {
      ovra_rt_value* value = reinterpret_cast<ovra_rt_value*>(header);
      if (value->tag == Tag::Reference)
        release(value->reference);
      break;
    }
    case Kind::Array: {
      ovra_rt_array* array = reinterpret_cast<ovra_rt_array*>(header);
      for (int64_t i = 0; i < array->length; ++i)
        release(header_of(array->items[i]));
      free(array->items);
      break;
    }
    case Kind::Object: {
      ovra_rt_object* object = reinterpret_cast<ovra_rt_object*>(header);
      release(header_of(object->class_name));
      for (int64_t i = 0; i < object->property_count; ++i) {
        release(header_of(object->properties[i].name));
        release(header_of(object->properties[i].value));
      }
      free(object->properties);
      break;
    }
  }
  header->magic = 0;
  --live_objects;
  free(header);
}

void release(Header* header) {
  if (header == nullptr || header->count == kImmortal)
    return;
  if (--header->count == 0)
    destroy(header);
}

ovra_rt_string* make_string(const char* bytes, int64_t length) {
  if (bytes == nullptr || length < 0)
    length = 0;
  if (static_cast<uint64_t>(length) > SIZE_MAX - sizeof(ovra_rt_string) - 1)
    out_of_memory();
  ovra_rt_string* text = new_object<ovra_rt_string>(
      Kind::String, sizeof(ovra_rt_string) + static_cast<size_t>(length) + 1);
  text->length = length;
  if (length > 0)
    memcpy(bytes_of(text), bytes, static_cast<size_t>(length));
  bytes_of(text)[length] = '\0';
  return text;
}

ovra_rt_value* make_value(Tag tag) {
  ovra_rt_value* value = new_object<ovra_rt_value>(Kind::Value, sizeof(ovra_rt_value));
  value->tag = tag;
  value->multif_value = 0.0;
  return value;
}

// The runtime object behind `pointer` when it has kind `kind`, looking inside a boxed value.
Header* unwrap(const void* pointer, Kind kind) {
  Header* header = header_of(pointer);
  if (header == nullptr)
    return nullptr;
  if (header->kind == Kind::Value && kind != Kind::Value) {
    ovra_rt_value* value = reinterpret_cast<ovra_rt_value*>(header);
    header = value->tag == Tag::Reference ? header_of(value->reference) : nullptr;
  }
  return header != nullptr && header->kind == kind ? header : nullptr;
}

ovra_rt_string* as_string(const void* pointer) {
  return reinterpret_cast<ovra_rt_string*>(unwrap(pointer, Kind::String));
}
ovra_rt_array* as_array(const void* pointer) {
  return reinterpret_cast<ovra_rt_array*>(unwrap(pointer, Kind::Array));
}
ovra_rt_object* as_object(const void* pointer) {
  return reinterpret_cast<ovra_rt_object*>(unwrap(pointer, Kind::Object));
}

// A view of the bytes of a string or a boxed string; empty for anything else.
struct Bytes {
  const char* data;
  int64_t length;
};

Bytes view(const void* pointer) {
  ovra_rt_string* text = as_string(pointer);
  if (text == nullptr)
    return Bytes{"", 0};
  return Bytes{bytes_of(text), text->length};
}

// A boxed value owned by a container: boxed values are shared, bare strings, arrays and objects
// are boxed, anything else is stored as null.
ovra_rt_value* box_for_storage(void* pointer) {
  Header* header = header_of(pointer);
  if (header == nullptr)
    return nullptr;
  if (header->kind == Kind::Value) {
    retain(header);
    return reinterpret_cast<ovra_rt_value*>(header);
  }
  ovra_rt_value* value = make_value(Tag::Reference);
  retain(header);
  value->reference = header;
  return value;
}

// ---- Number text ------------------------------------------------------------------------------

bool is_nan(double value) {
  return value != value;
}

bool has_sign_bit(double value) {
  uint64_t bits = 0;
  memcpy(&bits, &value, sizeof bits);
  return (bits >> 63) != 0;
}

// Writes a finite nonzero number given in "%.*e" form ("-1.25e+03") as plain decimal text.
void plain_decimal_from_exponent_form(const char* exponent_form, char* out) {
  const char* cursor = exponent_form;
  char* write = out;
  if (*cursor == '-')
    *write++ = *cursor++;
  char digits[32];
  int digit_count = 0;
  while (*cursor != '\0' && *cursor != 'e') {
    if (*cursor >= '0' && *cursor <= '9' && digit_count < 31)
      digits[digit_count++] = *cursor;
    ++cursor;
  }
  const int exponent = *cursor == 'e' ? atoi(cursor + 1) : 0;
  while (digit_count > 1 && digits[digit_count - 1] == '0')
    --digit_count;
  // The decimal point goes after this many digits (possibly none, possibly past the last one).
  const int point = exponent + 1;
  if (point <= 0) {
    *write++ = '0';
    *write++ = '.';
    for (int i = 0; i < -point; ++i)
      *write++ = '0';
    for (int i = 0; i < digit_count; ++i)
      *write++ = digits[i];
  } else if (point >= digit_count) {
    for (int i = 0; i < digit_count; ++i)
      *write++ = digits[i];
    for (int i = digit_count; i < point; ++i)
      *write++ = '0';
  } else {
    for (int i = 0; i < point; ++i)
      *write++ = digits[i];
    *write++ = '.';
    for (int i = point; i < digit_count; ++i)
      *write++ = digits[i];
  }
  *write = '\0';
}

// The texts of the values that have no digits; true when `value` was one of them.
bool special_number_text(double value, char* out) {
  if (is_nan(value)) {
    strcpy(out, "NaN");
  } else if (value > 1.7976931348623157e308) {
    strcpy(out, "Infinity");
  } else if (value < -1.7976931348623157e308) {
    strcpy(out, "-Infinity");
  } else if (value == 0.0) {
    strcpy(out, has_sign_bit(value) ? "-0" : "0");
  } else {
    return false;
  }
  return true;
}

void multif_text(double value, char* out) {
  if (special_number_text(value, out))
    return;
  char exponent_form[64];
  for (int precision = 1; precision <= 17; ++precision) {
    snprintf(exponent_form, sizeof exponent_form, "%.*e", precision - 1, value);
    if (strtod(exponent_form, nullptr) == value)
      break;
  }
  plain_decimal_from_exponent_form(exponent_form, out);
}

void singlef_text(float value, char* out) {
  if (special_number_text(value, out))
    return;
  char exponent_form[64];
  for (int precision = 1; precision <= 9; ++precision) {
    snprintf(exponent_form, sizeof exponent_form, "%.*e", precision - 1,
             static_cast<double>(value));
    if (strtof(exponent_form, nullptr) == value)
      break;
  }
  plain_decimal_from_exponent_form(exponent_form, out);
}

// ---- Parsing ----------------------------------------------------------------------------------

bool is_blank(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

// The text without surrounding blanks, as a zero-terminated copy in `buffer` (null when it does
// not fit, which no number does).
const char* trimmed_copy(Bytes text, char* buffer, size_t size) {
  int64_t begin = 0;
  int64_t end = text.length;
  while (begin < end && is_blank(text.data[begin]))
    ++begin;
  while (end > begin && is_blank(text.data[end - 1]))
    --end;
  if (static_cast<uint64_t>(end - begin) >= size)
    return nullptr;
  memcpy(buffer, text.data + begin, static_cast<size_t>(end - begin));
  buffer[end - begin] = '\0';
  return buffer;
}

int32_t parse_int(Bytes text) {
  char buffer[64];
  const char* cursor = trimmed_copy(text, buffer, sizeof buffer);
  if (cursor == nullptr || *cursor == '\0')
    return 0;
  bool negative = false;
  if (*cursor == '+' || *cursor == '-')
    negative = *cursor++ == '-';
  if (*cursor == '\0')
    return 0;
  int64_t magnitude = 0;
  for (; *cursor != '\0'; ++cursor) {
    if (*cursor < '0' || *cursor > '9')
      return 0;
    magnitude = magnitude * 10 + (*cursor - '0');
    if (magnitude > static_cast<int64_t>(INT32_MAX) + 1)
      return 0;
  }
  const int64_t value = negative ? -magnitude : magnitude;
  return value > INT32_MAX ? 0 : static_cast<int32_t>(value);
}

// strtod over the whole trimmed text; 0 when any of it is left over or it is empty.
double parse_multif(Bytes text) {
  char buffer[512];
  const char* start = trimmed_copy(text, buffer, sizeof buffer);
  if (start == nullptr || *start == '\0')
    return 0.0;
  char* end = nullptr;
  const double value = strtod(start, &end);
  return *end == '\0' ? value : 0.0;
}

float parse_singlef(Bytes text) {
  char buffer[512];
  const char* start = trimmed_copy(text, buffer, sizeof buffer);
  if (start == nullptr || *start == '\0')
    return 0.0f;
  char* end = nullptr;
  const float value = strtof(start, &end);
  return *end == '\0' ? value : 0.0f;
}

int32_t saturating_int(double value) {
  if (is_nan(value))
    return 0;
  if (value >= 2147483647.0)
    return INT32_MAX;
  if (value <= -2147483648.0)
    return INT32_MIN;
  return static_cast<int32_t>(value);
}

// ---- Slices -----------------------------------------------------------------------------------

// Clamps a slice index the way negative indexes count from the end.
int64_t slice_index(int32_t index, int64_t length) {
  int64_t at = index;
  if (at < 0)
    at += length;
  if (at < 0)
    return 0;
  return at > length ? length : at;
}

bool is_continuation_byte(char c) {
  return (static_cast<unsigned char>(c) & 0xc0) == 0x80;
}

int64_t code_point_count(Bytes text) {
  int64_t count = 0;
  for (int64_t i = 0; i < text.length; ++i)
    count += is_continuation_byte(text.data[i]) ? 0 : 1;
  return count;
}

// Byte offset of code point number `index` (the byte length when it is the count).
int64_t byte_offset_of(Bytes text, int64_t index) {
  int64_t seen = 0;
  for (int64_t i = 0; i < text.length; ++i) {
    if (!is_continuation_byte(text.data[i])) {
      if (seen == index)
        return i;
      ++seen;
    }
  }
  return text.length;
}

// ---- Printing ---------------------------------------------------------------------------------

void write_bytes(FILE* out, const char* data, int64_t length) {
  if (length > 0)
    fwrite(data, 1, static_cast<size_t>(length), out);
}

void write_text(FILE* out, const void* pointer, int depth);

void write_value(FILE* out, ovra_rt_value* value, int depth) {
  char number[kNumberTextSize];
  switch (value->tag) {
    case Tag::Int:
      fprintf(out, "%d", value->int_value);
      return;
    case Tag::SingleF:
      singlef_text(value->singlef_value, number);
      fputs(number, out);
      return;
    case Tag::MultiF:
      multif_text(value->multif_value, number);
      fputs(number, out);
      return;
    case Tag::Reference:
      write_text(out, value->reference, depth);
      return;
  }
}

void write_text(FILE* out, const void* pointer, int depth) {
  Header* header = header_of(pointer);
  if (header == nullptr) {
    fputs("null", out);
    return;
  }
  switch (header->kind) {
    case Kind::String: {
      Bytes text = view(header);
      write_bytes(out, text.data, text.length);
      return;
    }
    case Kind::Value:
      write_value(out, reinterpret_cast<ovra_rt_value*>(header), depth);
      return;
    case Kind::Array: {
      ovra_rt_array* array = reinterpret_cast<ovra_rt_array*>(header);
      if (depth >= kMaxPrintDepth) {
        fputs("[...]", out);
        return;
      }
      fputc('[', out);
      for (int64_t i = 0; i < array->length; ++i) {
        if (i > 0)
          fputs(", ", out);
        write_text(out, array->items[i], depth + 1);
      }
      fputc(']', out);
      return;
    }
    case Kind::Object: {
      ovra_rt_object* object = reinterpret_cast<ovra_rt_object*>(header);
      Bytes name = view(object->class_name);
      write_bytes(out, name.data, name.length);
      if (depth >= kMaxPrintDepth) {
        fputs(" {...}", out);
        return;
      }
      fputs(" {", out);
      for (int64_t i = 0; i < object->property_count; ++i) {
        fputs(i > 0 ? ", " : "", out);
        Bytes key = view(object->properties[i].name);
        write_bytes(out, key.data, key.length);
        fputs(": ", out);
        write_text(out, object->properties[i].value, depth + 1);
      }
      fputc('}', out);
      return;
    }
  }
}

// ---- Input ------------------------------------------------------------------------------------

ovra_rt_string* read_line() {
  FILE* in = input_stream();
  // Whatever the program printed before asking shows up first.
  fflush(output_stream());
  int64_t length = 0;
  int64_t capacity = 128;
  char* buffer = static_cast<char*>(allocate(static_cast<size_t>(capacity)));
  for (int c = fgetc(in); c != EOF && c != '\n'; c = fgetc(in)) {
    if (length == capacity) {
      capacity *= 2;
      buffer = static_cast<char*>(reallocate_items(buffer, capacity, 1));
    }
    buffer[length++] = static_cast<char>(c);
  }
  if (length > 0 && buffer[length - 1] == '\r')
    --length;
  ovra_rt_string* line = make_string(buffer, length);
  free(buffer);
  return line;
}

// ---- The language's own methods on strings, arrays and numbers -------------------------------

bool named(Bytes name, const char* expected) {
  const size_t length = strlen(expected);
  return name.length == static_cast<int64_t>(length) && memcmp(name.data, expected, length) == 0;
}

// The number inside a boxed int, float or double.
bool boxed_number(const void* pointer, double* number) {
  Header* header = header_of(pointer);
  if (header == nullptr || header->kind != Kind::Value)
    return false;
  ovra_rt_value* value = reinterpret_cast<ovra_rt_value*>(header);
  switch (value->tag) {
    case Tag::Int:
      *number = value->int_value;
      return true;
    case Tag::SingleF:
      *number = value->singlef_value;
      return true;
    case Tag::MultiF:
      *number = value->multif_value;
      return true;
    case Tag::Reference:
      break;
  }
  return false;
}

// The leading integer of the text after blanks, as toInt reads it; 0 without digits.
int32_t leading_int(Bytes text) {
  int64_t i = 0;
  while (i < text.length && is_blank(text.data[i]))
    ++i;
  bool negative = false;
  if (i < text.length && (text.data[i] == '+' || text.data[i] == '-'))
    negative = text.data[i++] == '-';
  int64_t magnitude = 0;
  for (; i < text.length && text.data[i] >= '0' && text.data[i] <= '9'; ++i) {
    if (magnitude <= static_cast<int64_t>(INT32_MAX) + 1)
      magnitude = magnitude * 10 + (text.data[i] - '0');
  }
  const int64_t value = negative ? -magnitude : magnitude;
  if (value > INT32_MAX)
    return INT32_MAX;
  return value < INT32_MIN ? INT32_MIN : static_cast<int32_t>(value);
}

// The leading decimal number of the text after blanks, as toMultif reads it; NaN without one.
double leading_multif(Bytes text) {
  char buffer[512];
  const int64_t length = text.length < 511 ? text.length : 511;
  memcpy(buffer, text.data, static_cast<size_t>(length));
  buffer[length] = '\0';
  const char* start = buffer;
  while (is_blank(*start))
    ++start;
  // Only decimal text counts: strtod would also read hexadecimal and the words inf and nan.
  const char* scan = start + (*start == '+' || *start == '-' ? 1 : 0);
  const bool decimal =
      (*scan >= '0' && *scan <= '9') || (*scan == '.' && scan[1] >= '0' && scan[1] <= '9');
  if (!decimal) {
    if (strncmp(scan, "Infinity", 8) == 0)
      return *start == '-' ? -__builtin_inf() : __builtin_inf();
    return __builtin_nan("");
  }
  // "0x10" is the number 0 followed by other text.
  if (scan[0] == '0' && (scan[1] == 'x' || scan[1] == 'X'))
    return *start == '-' ? -0.0 : 0.0;
  return strtod(start, nullptr);
}

// Rounds half up, as the language's round does; values too large for a fraction stay.
double round_half_up(double value) {
  if (is_nan(value) || value >= 4503599627370496.0 || value <= -4503599627370496.0)
    return value;
  const double shifted = value + 0.5;
  double floor = static_cast<double>(static_cast<int64_t>(shifted));
  if (floor > shifted)
    floor -= 1.0;
  return floor;
}

int32_t int_argument(ovra_rt_array* args, int64_t index, int32_t fallback) {
  ovra_rt_array* list = as_array(args);
  if (list == nullptr || index >= list->length)
    return fallback;
  return ovra_rt_value_to_int(list->items[index]);
}

void* first_argument(ovra_rt_array* args) {
  ovra_rt_array* list = as_array(args);
  return list != nullptr && list->length > 0 ? list->items[0] : nullptr;
}

// A method of the language itself on a receiver that is not an object, or null when the name is
// none of them. `args` is null for a read without arguments.
void* language_method(void* receiver, Bytes name, ovra_rt_array* args) {
  ovra_rt_string* text = as_string(receiver);
  ovra_rt_array* list = as_array(receiver);
  double number = 0.0;
  const bool is_number = boxed_number(receiver, &number);
  if (text == nullptr && list == nullptr && !is_number)
    return nullptr;

  if (named(name, "length")) {
    if (text != nullptr)
      return ovra_rt_value_from_int(static_cast<int32_t>(code_point_count(view(text))));
    if (list != nullptr)
      return ovra_rt_value_from_int(static_cast<int32_t>(list->length));
    return nullptr;
  }
  if (named(name, "toString")) {
    if (text != nullptr) {
      retain(&text->header);
      return text;
    }
    if (!is_number)
      return nullptr;
    ovra_rt_value* value = reinterpret_cast<ovra_rt_value*>(header_of(receiver));
    if (value->tag == Tag::Int)
      return ovra_rt_string_from_int(value->int_value);
    if (value->tag == Tag::SingleF)
      return ovra_rt_string_from_singlef(value->singlef_value);
    return ovra_rt_string_from_multif(value->multif_value);
  }
  if (named(name, "toInt")) {
    if (text != nullptr)
      return ovra_rt_value_from_int(leading_int(view(text)));
    return is_number ? ovra_rt_value_from_int(saturating_int(number)) : nullptr;
  }
  if (named(name, "toMultif") || named(name, "toSinglef")) {
    if (text != nullptr)
      return ovra_rt_value_from_multif(leading_multif(view(text)));
    return is_number ? ovra_rt_value_from_multif(number) : nullptr;
  }
  if (named(name, "round")) {
    if (text != nullptr)
      number = leading_multif(view(text));
    else if (!is_number)
      return nullptr;
    const double rounded = round_half_up(number);
    if (rounded >= -2147483648.0 && rounded <= 2147483647.0)
      return ovra_rt_value_from_int(static_cast<int32_t>(rounded));
    return ovra_rt_value_from_multif(rounded);
  }
  if (named(name, "toBool")) {
    bool truth = true;
    if (text != nullptr)
      truth = text->length > 0;
    else if (is_number)
      truth = number != 0.0 && !is_nan(number);
    return ovra_rt_value_from_int(truth ? 1 : 0);
  }
  if (named(name, "cutIt")) {
    const int32_t start = int_argument(args, 0, 0);
    const int32_t end = int_argument(args, 1, INT32_MAX);
    if (text != nullptr)
      return ovra_rt_string_slice(text, start, end);
    return list != nullptr ? ovra_rt_array_slice(list, start, end) : nullptr;
  }
  if (named(name, "initOf") || named(name, "endOf")) {
    if (text == nullptr)
      return nullptr;
    ovra_rt_string* part = as_string(first_argument(args));
    if (part == nullptr)
      return ovra_rt_value_from_int(0);
    const bool found = named(name, "initOf") ? ovra_rt_string_starts_with(text, part)
                                             : ovra_rt_string_ends_with(text, part);
    return ovra_rt_value_from_int(found ? 1 : 0);
  }
  return nullptr;
}

void flush_output_at_exit() {
  fflush(output_stream());
}

bool exit_flush_registered = false;

}  // namespace

extern "C" {

void ovra_rt_init(void) {
  if (!exit_flush_registered) {
    exit_flush_registered = true;
    atexit(flush_output_at_exit);
  }
}

// ---- Strings ----------------------------------------------------------------------------------

ovra_rt_string* ovra_rt_string_from_utf8(const char* bytes, int64_t length) {
  return make_string(bytes, length);
}

ovra_rt_string* ovra_rt_string_concat(ovra_rt_string* left, ovra_rt_string* right) {
  Bytes a = view(left);
  Bytes b = view(right);
  if (static_cast<uint64_t>(a.length) + static_cast<uint64_t>(b.length) >
      SIZE_MAX - sizeof(ovra_rt_string) - 1)
    out_of_memory();
  const int64_t length = a.length + b.length;
  ovra_rt_string* text = new_object<ovra_rt_string>(
      Kind::String, sizeof(ovra_rt_string) + static_cast<size_t>(length) + 1);
  text->length = length;
  if (a.length > 0)
    memcpy(bytes_of(text), a.data, static_cast<size_t>(a.length));
  if (b.length > 0)
    memcpy(bytes_of(text) + a.length, b.data, static_cast<size_t>(b.length));
  bytes_of(text)[length] = '\0';
  return text;
}

int32_t ovra_rt_string_compare(ovra_rt_string* left, ovra_rt_string* right) {
  Bytes a = view(left);
  Bytes b = view(right);
  const int64_t shorter = a.length < b.length ? a.length : b.length;
  const int order = shorter > 0 ? memcmp(a.data, b.data, static_cast<size_t>(shorter)) : 0;
  if (order != 0)
    return order < 0 ? -1 : 1;
  if (a.length == b.length)
    return 0;
  return a.length < b.length ? -1 : 1;
}

ovra_rt_string* ovra_rt_string_from_int(int32_t value) {
  char text[16];
  const int length = snprintf(text, sizeof text, "%d", value);
  return make_string(text, length);
}

ovra_rt_string* ovra_rt_string_from_singlef(float value) {
  char text[kNumberTextSize];
  singlef_text(value, text);
  return make_string(text, static_cast<int64_t>(strlen(text)));
}

ovra_rt_string* ovra_rt_string_from_multif(double value) {
  char text[kNumberTextSize];
  multif_text(value, text);
  return make_string(text, static_cast<int64_t>(strlen(text)));
}

bool ovra_rt_string_starts_with(ovra_rt_string* text, ovra_rt_string* prefix) {
  Bytes whole = view(text);
  Bytes part = view(prefix);
  return part.length <= whole.length &&
         memcmp(whole.data, part.data, static_cast<size_t>(part.length)) == 0;
}

bool ovra_rt_string_ends_with(ovra_rt_string* text, ovra_rt_string* suffix) {
  Bytes whole = view(text);
  Bytes part = view(suffix);
  return part.length <= whole.length && memcmp(whole.data + (whole.length - part.length), part.data,
                                               static_cast<size_t>(part.length)) == 0;
}

ovra_rt_string* ovra_rt_string_slice(ovra_rt_string* text, int32_t start, int32_t end) {
  Bytes whole = view(text);
  const int64_t count = code_point_count(whole);
  const int64_t from = slice_index(start, count);
  const int64_t to = slice_index(end, count);
  if (to <= from)
    return make_string(nullptr, 0);
  const int64_t first = byte_offset_of(whole, from);
  const int64_t last = byte_offset_of(whole, to);
  return make_string(whole.data + first, last - first);
}

// ---- Arrays -----------------------------------------------------------------------------------

ovra_rt_array* ovra_rt_array_new(void) {
  ovra_rt_array* array = new_object<ovra_rt_array>(Kind::Array, sizeof(ovra_rt_array));
  array->length = 0;
  array->capacity = 0;
  array->items = nullptr;
  return array;
}

int64_t ovra_rt_array_length(ovra_rt_array* array) {
  ovra_rt_array* list = as_array(array);
  return list != nullptr ? list->length : 0;
}

void* ovra_rt_array_get(ovra_rt_array* array, int64_t index) {
  ovra_rt_array* list = as_array(array);
  if (list == nullptr || index < 0 || index >= list->length)
    return nullptr;
  ovra_rt_value* value = list->items[index];
  retain(header_of(value));
  return value;
}

void ovra_rt_array_push(ovra_rt_array* array, void* value) {
  ovra_rt_array* list = as_array(array);
  if (list == nullptr)
    return;
  // Boxed first: boxing the array into itself must not see it mid-growth.
  ovra_rt_value* stored = box_for_storage(value);
  if (list->length == list->capacity) {
    const int64_t capacity = list->capacity == 0 ? 4 : list->capacity * 2;
    list->items = static_cast<ovra_rt_value**>(
        reallocate_items(list->items, capacity, sizeof(ovra_rt_value*)));
    list->capacity = capacity;
  }
  list->items[list->length++] = stored;
}

void ovra_rt_array_set(ovra_rt_array* array, int64_t index, void* value) {
  ovra_rt_array* list = as_array(array);
  if (list == nullptr || index < 0 || index > list->length)
    return;
  if (index == list->length) {
    ovra_rt_array_push(array, value);
    return;
  }
  ovra_rt_value* stored = box_for_storage(value);
  ovra_rt_value* previous = list->items[index];
  list->items[index] = stored;
  release(header_of(previous));
}

void ovra_rt_array_remove(ovra_rt_array* array, int64_t index) {
  ovra_rt_array* list = as_array(array);
  if (list == nullptr || index < 0 || index >= list->length)
    return;
  ovra_rt_value* removed = list->items[index];
  memmove(list->items + index, list->items + index + 1,
          static_cast<size_t>(list->length - index - 1) * sizeof(ovra_rt_value*));
  --list->length;
  release(header_of(removed));
}

ovra_rt_array* ovra_rt_array_slice(ovra_rt_array* array, int32_t start, int32_t end) {
  ovra_rt_array* list = as_array(array);
  ovra_rt_array* slice = ovra_rt_array_new();
  if (list == nullptr)
    return slice;
  const int64_t from = slice_index(start, list->length);
  const int64_t to = slice_index(end, list->length);
  for (int64_t i = from; i < to; ++i)
    ovra_rt_array_push(slice, list->items[i]);
  return slice;
}

// ---- Objects ----------------------------------------------------------------------------------

ovra_rt_object* ovra_rt_object_new(const char* class_name, ovra_rt_array*) {
  ovra_rt_object* object = new_object<ovra_rt_object>(Kind::Object, sizeof(ovra_rt_object));
  object->class_name =
      make_string(class_name, class_name != nullptr ? static_cast<int64_t>(strlen(class_name)) : 0);
  object->property_count = 0;
  object->property_capacity = 0;
  object->properties = nullptr;
  return object;
}

void* ovra_rt_object_call_method(ovra_rt_object* object, ovra_rt_string* name,
                                 ovra_rt_array* args) {
  if (as_object(object) != nullptr)
    return nullptr;
  return language_method(object, view(name), as_array(args) != nullptr ? args : nullptr);
}

void* ovra_rt_object_get_property(ovra_rt_object* object, ovra_rt_string* name) {
  Bytes key = view(name);
  ovra_rt_object* target = as_object(object);
  if (target == nullptr)
    return language_method(object, key, nullptr);
  for (int64_t i = 0; i < target->property_count; ++i) {
    Bytes candidate = view(target->properties[i].name);
    if (candidate.length == key.length &&
        memcmp(candidate.data, key.data, static_cast<size_t>(key.length)) == 0) {
      ovra_rt_value* value = target->properties[i].value;
      retain(header_of(value));
      return value;
    }
  }
  return nullptr;
}

void ovra_rt_object_set_property(ovra_rt_object* object, ovra_rt_string* name, void* value) {
  ovra_rt_object* target = as_object(object);
  if (target == nullptr)
    return;
  Bytes key = view(name);
  ovra_rt_value* stored = box_for_storage(value);
  for (int64_t i = 0; i < target->property_count; ++i) {
    Bytes candidate = view(target->properties[i].name);
    if (candidate.length == key.length &&
        memcmp(candidate.data, key.data, static_cast<size_t>(key.length)) == 0) {
      ovra_rt_value* previous = target->properties[i].value;
      target->properties[i].value = stored;
      release(header_of(previous));
      return;
    }
  }
  if (target->property_count == target->property_capacity) {
    const int64_t capacity = target->property_capacity == 0 ? 4 : target->property_capacity * 2;
    target->properties =
        static_cast<Property*>(reallocate_items(target->properties, capacity, sizeof(Property)));
    target->property_capacity = capacity;
  }
  // The key is copied so that a later change through the caller's pointer cannot reach it.
  target->properties[target->property_count++] =
      Property{make_string(key.data, key.length), stored};
}

// ---- Reference counts and boxes ---------------------------------------------------------------

void ovra_rt_retain(void* pointer) {
  retain(header_of(pointer));
}

void ovra_rt_release(void* pointer) {
  release(header_of(pointer));
}

int32_t ovra_rt_value_to_int(void* pointer) {
  Header* header = header_of(pointer);
  if (header == nullptr)
    return 0;
  if (header->kind == Kind::Value) {
    ovra_rt_value* value = reinterpret_cast<ovra_rt_value*>(header);
    switch (value->tag) {
      case Tag::Int:
        return value->int_value;
      case Tag::SingleF:
        return saturating_int(value->singlef_value);
      case Tag::MultiF:
        return saturating_int(value->multif_value);
      case Tag::Reference:
        break;
    }
  }
  return as_string(header) != nullptr ? parse_int(view(header)) : 0;
}

double ovra_rt_value_to_float(void* pointer) {
  Header* header = header_of(pointer);
  if (header == nullptr)
    return 0.0;
  if (header->kind == Kind::Value) {
    ovra_rt_value* value = reinterpret_cast<ovra_rt_value*>(header);
    switch (value->tag) {
      case Tag::Int:
        return value->int_value;
      case Tag::SingleF:
        return value->singlef_value;
      case Tag::MultiF:
        return value->multif_value;
      case Tag::Reference:
        break;
    }
  }
  return as_string(header) != nullptr ? parse_multif(view(header)) : 0.0;
}

ovra_rt_value* ovra_rt_value_from_array(ovra_rt_array* array) {
  ovra_rt_array* list = as_array(array);
  ovra_rt_value* value = make_value(Tag::Reference);
  if (list == nullptr)
    list = ovra_rt_array_new();
  else
    retain(&list->header);
  value->reference = &list->header;
  return value;
}

ovra_rt_value* ovra_rt_value_from_string(ovra_rt_string* text) {
  ovra_rt_string* string = as_string(text);
  ovra_rt_value* value = make_value(Tag::Reference);
  if (string == nullptr)
    string = make_string(nullptr, 0);
  else
    retain(&string->header);
  value->reference = &string->header;
  return value;
}

ovra_rt_value* ovra_rt_value_from_int(int32_t number) {
  if (number >= kSharedIntMin && number <= kSharedIntMax) {
    ovra_rt_value& shared = shared_ints[number - kSharedIntMin];
    if (shared.header.magic != kMagic) {
      shared.header = Header{kMagic, Kind::Value, kImmortal};
      shared.tag = Tag::Int;
      shared.int_value = number;
    }
    return &shared;
  }
  ovra_rt_value* value = make_value(Tag::Int);
  value->int_value = number;
  return value;
}

ovra_rt_value* ovra_rt_value_from_singlef(float number) {
  ovra_rt_value* value = make_value(Tag::SingleF);
  value->singlef_value = number;
  return value;
}

ovra_rt_value* ovra_rt_value_from_multif(double number) {
  ovra_rt_value* value = make_value(Tag::MultiF);
  value->multif_value = number;
  return value;
}

// ---- Input and output -------------------------------------------------------------------------

void ovra_rt_io_print(ovra_rt_value* value) {
  if (header_of(value) == nullptr)
    return;
  FILE* out = output_stream();
  write_text(out, value, 0);
  fputc('\n', out);
}

ovra_rt_string* ovra_rt_io_read_line(void) {
  return read_line();
}

int32_t ovra_rt_io_read_int(void) {
  ovra_rt_string* line = read_line();
  const int32_t value = parse_int(view(line));
  release(&line->header);
  return value;
}

float ovra_rt_io_read_singlef(void) {
  ovra_rt_string* line = read_line();
  const float value = parse_singlef(view(line));
  release(&line->header);
  return value;
}

double ovra_rt_io_read_multif(void) {
  ovra_rt_string* line = read_line();
  const double value = parse_multif(view(line));
  release(&line->header);
  return value;
}

// ---- Test support -----------------------------------------------------------------------------

void ovra_runtime_set_streams(FILE* input, FILE* output) {
  input_override = input;
  output_override = output;
}

int64_t ovra_runtime_live_objects(void) {
  return live_objects;
}

const char* ovra_runtime_string_bytes(ovra_rt_string* text, int64_t* length) {
  ovra_rt_string* string = as_string(text);
  if (length != nullptr)
    *length = string != nullptr ? string->length : 0;
  return string != nullptr ? bytes_of(string) : nullptr;
}

}  // extern "C"

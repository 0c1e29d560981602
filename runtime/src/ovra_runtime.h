/* The native runtime library that programs built by `ovrac native` call.
 *
 * Every string, array, object and boxed value is an opaque, reference-counted pointer. All of
 * them start with the same header, so each function also accepts the other kinds where that has
 * an obvious meaning (a boxed string where a string is expected, a bare string where a boxed
 * value is expected); anything else, a null pointer included, is treated as an empty or zero
 * value. No function ever fails on bad input: the only stop is running out of memory, which
 * prints "ovra runtime: out of memory" on standard error and exits with status 1.
 *
 * Ownership: every function that returns a pointer returns a reference the caller owns (release
 * it with ovra_rt_release when done). Containers keep their own references to what they store.
 *
 * The library is written against the C library alone, so that a plain C link of a program's
 * object file with this archive needs nothing else. */
#ifndef OVRA_RUNTIME_H
#define OVRA_RUNTIME_H

#include <stdint.h>
#include <stdio.h>

#ifdef __cplusplus
extern "C" {
#else
#include <stdbool.h>
#endif

typedef struct ovra_rt_string ovra_rt_string;
typedef struct ovra_rt_array ovra_rt_array;
typedef struct ovra_rt_object ovra_rt_object;
typedef struct ovra_rt_value ovra_rt_value;

/* Called first by a program's entry; makes sure standard output is flushed at exit. */
void ovra_rt_init(void);

/* Strings: immutable UTF-8 bytes with their length. A negative length or a null pointer gives
 * the empty string. */
ovra_rt_string* ovra_rt_string_from_utf8(const char* bytes, int64_t length);
ovra_rt_string* ovra_rt_string_concat(ovra_rt_string* left, ovra_rt_string* right);
/* -1, 0 or 1 comparing the bytes; a shorter prefix sorts first. */
int32_t ovra_rt_string_compare(ovra_rt_string* left, ovra_rt_string* right);
ovra_rt_string* ovra_rt_string_from_int(int32_t value);
/* The shortest decimal text that reads back to the same number, never with an exponent. */
ovra_rt_string* ovra_rt_string_from_singlef(float value);
ovra_rt_string* ovra_rt_string_from_multif(double value);
bool ovra_rt_string_starts_with(ovra_rt_string* text, ovra_rt_string* prefix);
bool ovra_rt_string_ends_with(ovra_rt_string* text, ovra_rt_string* suffix);
/* Characters (code points) from start up to end; a negative index counts from the end and both
 * are clamped to the text, so an empty range gives the empty string. */
ovra_rt_string* ovra_rt_string_slice(ovra_rt_string* text, int32_t start, int32_t end);

/* Arrays: growable lists of boxed values. */
ovra_rt_array* ovra_rt_array_new(void);
int64_t ovra_rt_array_length(ovra_rt_array* array);
/* The element at index, or null when the index is outside the array. */
void* ovra_rt_array_get(ovra_rt_array* array, int64_t index);
/* Replaces the element at index; index == length appends; any other index is ignored. */
void ovra_rt_array_set(ovra_rt_array* array, int64_t index, void* value);
void ovra_rt_array_push(ovra_rt_array* array, void* value);
/* Removes the element at index, moving the later ones down; an index outside is ignored. */
void ovra_rt_array_remove(ovra_rt_array* array, int64_t index);
/* Elements from start up to end with the same index rules as ovra_rt_string_slice. */
ovra_rt_array* ovra_rt_array_slice(ovra_rt_array* array, int32_t start, int32_t end);

/* Objects: a class name and a property map. The generated code also passes its constructor
 * arguments, which the library does not read (a caller may pass only the name). */
ovra_rt_object* ovra_rt_object_new(const char* class_name, ovra_rt_array* args);
/* The library has no method tables: every call answers null. */
void* ovra_rt_object_call_method(ovra_rt_object* object, ovra_rt_string* name, ovra_rt_array* args);
/* A property never set reads as null. "length" of a string or an array is its length. */
void* ovra_rt_object_get_property(ovra_rt_object* object, ovra_rt_string* name);
void ovra_rt_object_set_property(ovra_rt_object* object, ovra_rt_string* name, void* value);

void ovra_rt_retain(void* pointer);
void ovra_rt_release(void* pointer);

/* Unboxing: numbers convert (a float truncates toward zero and saturates, NaN gives 0), a string
 * is parsed as the read functions parse input, everything else gives 0. */
int32_t ovra_rt_value_to_int(void* value);
double ovra_rt_value_to_float(void* value);

ovra_rt_value* ovra_rt_value_from_array(ovra_rt_array* array);
ovra_rt_value* ovra_rt_value_from_string(ovra_rt_string* text);
ovra_rt_value* ovra_rt_value_from_int(int32_t value);
ovra_rt_value* ovra_rt_value_from_singlef(float value);
ovra_rt_value* ovra_rt_value_from_multif(double value);

/* Prints the value and a line feed: an int in decimal, a float or a double as
 * ovra_rt_string_from_* writes it, a string as its bytes, an array as "[a, b]", an object as
 * "Name {key: value}". A null pointer prints nothing. */
void ovra_rt_io_print(ovra_rt_value* value);
/* One line of standard input without its line end ("" at the end of input). */
ovra_rt_string* ovra_rt_io_read_line(void);
/* One line parsed as a number; surrounding blanks are allowed, anything else reads as 0. */
int32_t ovra_rt_io_read_int(void);
float ovra_rt_io_read_singlef(void);
double ovra_rt_io_read_multif(void);

/* Support for the library's own tests, not called by generated code. */
/* Redirects input and output; null restores standard input or standard output. */
void ovra_runtime_set_streams(FILE* input, FILE* output);
/* Strings, arrays, objects and boxed values allocated and not yet freed. */
int64_t ovra_runtime_live_objects(void);
/* The bytes of a string (or a boxed string) and their count; null and 0 for anything else. */
const char* ovra_runtime_string_bytes(ovra_rt_string* text, int64_t* length);

#ifdef __cplusplus
}
#endif

#endif /* OVRA_RUNTIME_H */

// What the compiler may call in a program that links no C library: the memory routines it
// emits for copying and zeroing objects, and the handler of a pure virtual call.
//
// This file must be compiled with -fno-builtin and -fno-tree-loop-distribute-patterns, or
// the compiler may turn these loops back into calls to the functions they define. The unit
// tests compile it with MEMORY_ROUTINE renaming the functions, beside the host's own.
#include <stddef.h>

#ifndef MEMORY_ROUTINE
#define MEMORY_ROUTINE(name) name
#define PROGRAM_RUNTIME 1
#endif

extern "C" {

void* MEMORY_ROUTINE(memcpy)(void* to, const void* from, size_t count) {
  unsigned char* out = static_cast<unsigned char*>(to);
  const unsigned char* in = static_cast<const unsigned char*>(from);
  while (count--) *out++ = *in++;
  return to;
}

void* MEMORY_ROUTINE(memmove)(void* to, const void* from, size_t count) {
  unsigned char* out = static_cast<unsigned char*>(to);
  const unsigned char* in = static_cast<const unsigned char*>(from);
  if (out <= in) {
    while (count--) *out++ = *in++;
  } else {
    while (count--) out[count] = in[count];
  }
  return to;
}

void* MEMORY_ROUTINE(memset)(void* to, int value, size_t count) {
  unsigned char* out = static_cast<unsigned char*>(to);
  while (count--) *out++ = static_cast<unsigned char>(value);
  return to;
}

// Bytes compare as unsigned char.
int MEMORY_ROUTINE(memcmp)(const void* a, const void* b, size_t count) {
  const unsigned char* x = static_cast<const unsigned char*>(a);
  const unsigned char* y = static_cast<const unsigned char*>(b);
  for (; count; --count, ++x, ++y)
    if (*x != *y) return *x < *y ? -1 : 1;
  return 0;
}

#ifdef PROGRAM_RUNTIME
// Reached only through a fault in the program: a call of a pure virtual function.
void __cxa_pure_virtual() { __builtin_trap(); }
#endif

}  // extern "C"

/* The compiler's own calls for copying and clearing memory, in the driver image itself:
 * Windows 98's kernel does not export them. */
#include <stddef.h>

/* Else the compiler turns these loops back into calls to themselves. */
#define PLAIN_LOOPS __attribute__((optimize("no-tree-loop-distribute-patterns")))

PLAIN_LOOPS void* memcpy(void* destination, const void* source, size_t length) {
  unsigned char* to = destination;
  const unsigned char* from = source;
  while (length--) *to++ = *from++;
  return destination;
}

PLAIN_LOOPS void* memmove(void* destination, const void* source, size_t length) {
  unsigned char* to = destination;
  const unsigned char* from = source;
  if (to < from) {
    while (length--) *to++ = *from++;
  } else {
    while (length--) to[length] = from[length];
  }
  return destination;
}

PLAIN_LOOPS void* memset(void* destination, int value, size_t length) {
  unsigned char* to = destination;
  while (length--) *to++ = (unsigned char)value;
  return destination;
}

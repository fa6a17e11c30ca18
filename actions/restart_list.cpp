// The restart lists' bytes: their form, and the entries they hold. Another program may have
// written anything there; nothing is read past `size`.
#include "restart_list.h"

#include <string.h>

// Anything else is read by Windows, and appended to, otherwise.
int IsCanonicalRestartList(const char* data, unsigned long size) {
  if (size == 0) return 1;
  unsigned long at = 0;
  int side = 0;  // 0: a source, or the final empty string; 1: a destination
  while (at < size) {
    const char* end = (const char*)memchr(data + at, 0, size - at);
    if (!end) return 0;  // a string runs to the end of the value
    int empty = end == data + at;
    at = (unsigned long)(end - data) + 1;
    if (side == 0 && empty) return at == size;
    side ^= 1;
  }
  return 0;  // no final empty string, or a source without its destination at the end
}

// The string at `at`, ended by its NUL within the bytes: the offset after it, or 0 for none.
static unsigned long StringEnd(const char* data, unsigned long size, unsigned long at) {
  if (at >= size) return 0;
  const char* end = (const char*)memchr(data + at, 0, size - at);
  return end ? (unsigned long)(end - data) + 1 : 0;
}

int NextRestartListEntry(const char* data, unsigned long size, unsigned long* at,
                         RestartListEntry* entry) {
  unsigned long sourceEnd = StringEnd(data, size, *at);
  if (sourceEnd == 0 || sourceEnd == *at + 1) return 0;  // the empty string ends the list
  unsigned long destEnd = StringEnd(data, size, sourceEnd);
  if (destEnd == 0) return 0;
  entry->source = data + *at;
  entry->replace = data[sourceEnd] == '!';
  entry->dest = data + sourceEnd + entry->replace;
  *at = destEnd;
  return 1;
}

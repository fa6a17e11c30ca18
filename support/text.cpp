#include "text.h"

#include <string.h>

int CopyText(char* dst, size_t dstSize, const char* src) {
  if (dstSize == 0) return 0;
  dst[0] = '\0';
  return AppendText(dst, dstSize, src);
}

int AppendText(char* dst, size_t dstSize, const char* src) {
  if (dstSize == 0) return 0;
  size_t used = strnlen(dst, dstSize);
  if (used >= dstSize) {  // not terminated inside its buffer: terminate, report the cut
    dst[dstSize - 1] = '\0';
    return 0;
  }
  size_t len = strlen(src);
  size_t room = dstSize - 1 - used;
  size_t n = len < room ? len : room;
  memcpy(dst + used, src, n);
  dst[used + n] = '\0';
  return n == len;
}

static int LowerAscii(int c) { return (c >= 'A' && c <= 'Z') ? c - 'A' + 'a' : c; }

int CompareTextNoCase(const char* a, const char* b, size_t n) {
  for (size_t i = 0; i < n; i++) {
    int ca = LowerAscii((unsigned char)a[i]);
    int cb = LowerAscii((unsigned char)b[i]);
    if (ca != cb) return ca - cb;
    if (ca == 0) return 0;
  }
  return 0;
}

void UpperText(char* s) {
  for (; *s; s++)
    if (*s >= 'a' && *s <= 'z') *s = (char)(*s - 'a' + 'A');
}

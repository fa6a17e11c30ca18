// Bounded string helpers: every copy and join is limited by its destination buffer.
#ifndef SUPPORT_TEXT_H
#define SUPPORT_TEXT_H

#include <stddef.h>

// Copies src into dst of dstSize bytes. Returns 1, or 0 (dst then holds a cut-off copy,
// always terminated) when src did not fit.
int CopyText(char* dst, size_t dstSize, const char* src);
// Appends src to the string in dst. Same result as CopyText.
int AppendText(char* dst, size_t dstSize, const char* src);
// Compares the first n characters without regard to ASCII letter case, like strnicmp.
int CompareTextNoCase(const char* a, const char* b, size_t n);
void UpperText(char* s);

#endif

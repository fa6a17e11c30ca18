// Console output and line input through the C runtime.
#include <stdio.h>

#include "../console.h"

int ConsoleVPrint(const char* format, va_list args) {
  int n = vprintf(format, args);
  fflush(stdout);
  return n;
}

int ConsolePrint(const char* format, ...) {
  va_list args;
  va_start(args, format);
  int n = ConsoleVPrint(format, args);
  va_end(args);
  return n;
}

int ConsoleReadLine(char* buffer, int size) {
  if (size <= 0) return 0;
  int n = 0;
  while (n < size - 1) {
    int ch = getc(stdin);
    if (ch == EOF) break;
    buffer[n++] = (char)ch;
    if (ch == '\n') break;
  }
  buffer[n] = '\0';
  return n;
}

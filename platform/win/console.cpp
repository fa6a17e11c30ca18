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

char* ConsoleReadLine(char* buffer, int size) { return fgets(buffer, size, stdin); }

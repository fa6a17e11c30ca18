// Console output and line input, the part of the seam that is the C runtime's on Windows:
// standard output in text mode (so "\n" reaches the console as CR LF) and standard input.
// Key presses are read through the console input device in win32.h.
#ifndef PLATFORM_CONSOLE_H
#define PLATFORM_CONSOLE_H

#include <stdarg.h>

// Formatted output to standard output, flushed at once so that a prompt shows before a wait.
int ConsolePrint(const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;
int ConsoleVPrint(const char* format, va_list args);

// Reads at most size - 1 bytes of one line of standard input, keeping its line feed if it
// fitted, like fgets. Returns how many bytes were read, NUL bytes included, or 0 when the
// input has already ended.
int ConsoleReadLine(char* buffer, int size);

#endif

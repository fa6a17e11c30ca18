// The run log: one line for each event of a run, appended to a file that outlives the run, so
// that an unattended run leaves more behind than its exit code. Writing it never prints and
// never changes a result: a log that cannot be opened or written is skipped.
#ifndef SUPPORT_LOG_H
#define SUPPORT_LOG_H

#include <stddef.h>

#define LOG_LINE_SIZE 1024
// A log larger than this at the start of a run is first renamed to "<log>.1".
#define LOG_ROTATE_BYTES (1024UL * 1024UL)
#define LOG_DEFAULT_TAIL "\\Logs\\TVX2\\setup.log"
#define LOG_NONE "NUL"
// Writers take turns through a lock on one byte at this high offset (2^62): tried this many
// times, this many milliseconds apart, before a line is written without it.
#define LOG_LOCK_OFFSET_HIGH 0x40000000UL
#define LOG_LOCK_TRIES 50
#define LOG_LOCK_WAIT_MS 10

// Opens the log for this run: the file named, or with a null or empty path the default one
// below the Windows directory; missing folders are created. LOG_NONE (any case) opens none.
void LogOpen(const char* path);
// The file names (without folder, compared without case) that LogOpen refuses to write to,
// wherever they lie: the package's files, which a log there would be rotated away or staged
// as. The array is the caller's and must outlive the runs; none until this is called.
void LogRefuseNames(const char* const* names, int count);
void LogClose(void);
// 1 while a log is open: callers that need extra platform calls for an event ask first.
int LogIsOn(void);
// Writes one event, printf-style, as one line: the local time to the millisecond and the
// process id, then the text, cut to LOG_LINE_SIZE, in printable ASCII and well-formed UTF-8.
void LogEvent(const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;
// Lines of a run that may not need them (a verification that finds all whole) are held back
// from LogHold on, up to LOG_HELD_BYTES (past that they all go to the file at once), until
// LogRelease writes them (`write` 1) or drops them (0). LogClose writes what is still held.
#define LOG_HELD_BYTES (16UL * LOG_LINE_SIZE)
void LogHold(void);
void LogRelease(int write);
// The rule by which the log shows text, for other records that show it too: printable ASCII
// and well-formed UTF-8 stay; control characters (0x7F and the C1 ones among them), line and
// paragraph separators, bidirectional marks and overrides, and every byte of no well-formed
// sequence become '?', one for each byte.
void ShowLegibly(char* text, size_t length);

#endif

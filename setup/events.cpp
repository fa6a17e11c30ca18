// The Application events: the one file that knows their IDs. The source is registered the way
// Windows' eventcreate registers its own, so that Event Viewer shows each event's text without a
// message file of ours; removals leave it, so that the history stays readable.
#include "events.h"

#include <stdio.h>
#include <string.h>

#include "../actions/actions.h"
#include "../platform/win32.h"
#include "../support/log.h"
#include "../support/system_dirs.h"
#include "../support/text.h"
#include "../support/version.h"
#include "setup.h"

#define EVENT_TEXT_SIZE (LOG_LINE_SIZE + 2 * PATH_BUFFER_SIZE)  // room for every part whole

struct EventRow {
  int run;
  int exitCode;
  DWORD id;
  WORD type;
};

static const EventRow EventTable[] = {
    {RUN_INSTALLATION, EXIT_INSTALLED, 100, EVENTLOG_INFORMATION_TYPE},
    {RUN_INSTALLATION, EXIT_REBOOT_REQUIRED, 101, EVENTLOG_INFORMATION_TYPE},
    {RUN_INSTALLATION, EXIT_FAILED, 102, EVENTLOG_ERROR_TYPE},
    {RUN_INSTALLATION, EXIT_DEVICE_NOT_FOUND, 108, EVENTLOG_WARNING_TYPE},
    {RUN_INSTALLATION, EXIT_DEVICE_NOT_READY, 116, EVENTLOG_WARNING_TYPE},
    {RUN_INSTALLATION, EXIT_INSTALL_IN_PROGRESS, 118, EVENTLOG_WARNING_TYPE},
    {RUN_REMOVAL, EXIT_INSTALLED, 200, EVENTLOG_INFORMATION_TYPE},
    {RUN_REMOVAL, EXIT_REBOOT_REQUIRED, 201, EVENTLOG_INFORMATION_TYPE},
    {RUN_REMOVAL, EXIT_FAILED, 202, EVENTLOG_ERROR_TYPE},
    {RUN_REMOVAL, EXIT_INSTALL_IN_PROGRESS, 218, EVENTLOG_WARNING_TYPE},
    {RUN_VERIFICATION, EXIT_REBOOT_REQUIRED, 301, EVENTLOG_INFORMATION_TYPE},
    {RUN_VERIFICATION, EXIT_FAILED, 302, EVENTLOG_ERROR_TYPE},
};

static const char* const RunNames[] = {"Installation", "Removal", "Verification"};

struct SourceValue {
  const char* name;
  DWORD type;
  const char* text;  // REG_EXPAND_SZ, or null for a REG_DWORD
  DWORD number;
};

// The key is created when missing, and completed when it holds no message file (a run cut short
// while it wrote the values: the message file goes last); a key registered otherwise stays.
static void RegisterSource(void) {
  static const SourceValue values[] = {
      {"TypesSupported", REG_DWORD, 0,
       EVENTLOG_ERROR_TYPE | EVENTLOG_WARNING_TYPE | EVENTLOG_INFORMATION_TYPE},
      {"CustomSource", REG_DWORD, 0, 1},
      {"EventMessageFile", REG_EXPAND_SZ, EVENT_MESSAGE_FILE, 0},
  };
  HKEY key;
  DWORD disposition = 0;
  LSTATUS status = RegCreateKeyExA(HKEY_LOCAL_MACHINE, EVENT_SOURCE_KEY, 0, NULL,
                                   REG_OPTION_NON_VOLATILE, KEY_QUERY_VALUE | KEY_SET_VALUE,
                                   NULL, &key, &disposition);
  if (status != ERROR_SUCCESS) {
    LogEvent("event source \"HKLM\\%s\": not created (error %ld)", EVENT_SOURCE_KEY, (long)status);
    return;
  }
  if (disposition != REG_CREATED_NEW_KEY) {
    status = RegQueryValueExA(key, "EventMessageFile", NULL, NULL, NULL, NULL);
    if (status != ERROR_FILE_NOT_FOUND) {
      RegCloseKey(key);
      return;
    }
  }
  for (const SourceValue& v : values) {
    status = SetRegistryValue(key, v.name, v.type, v.text, v.number);
    if (status != ERROR_SUCCESS) break;
  }
  RegCloseKey(key);
  if (status != ERROR_SUCCESS)
    LogEvent("event source \"HKLM\\%s\": not registered whole (error %ld)", EVENT_SOURCE_KEY,
             (long)status);
}

// A text that is too long is cut where a character starts, and says so. The text is legible
// already: every byte at or above 0x80 belongs to a well-formed UTF-8 sequence.
static void CutAtCharacter(char* text, size_t limit) {
  if (strlen(text) <= limit) return;
  size_t at = limit - (sizeof EVENT_CUT_MARK - 1);
  while (at > 0 && ((unsigned char)text[at] & 0xC0) == 0x80) at--;
  memcpy(text + at, EVENT_CUT_MARK, sizeof EVENT_CUT_MARK);
}

void ReportRunEvent(int run, int exitCode, const char* meaning, const char* options,
                    const char* commandLine, const char* logPath) {
  const EventRow* row = 0;
  for (const EventRow& r : EventTable)
    if (r.run == run && r.exitCode == exitCode) row = &r;
  if (!row) return;
  char log[PATH_BUFFER_SIZE];
  if (logPath && CompareTextNoCase(logPath, LOG_NONE, sizeof LOG_NONE) == 0)
    CopyText(log, sizeof log, "none");
  else if (logPath && logPath[0])
    CopyText(log, sizeof log, logPath);
  else if (!ReadWindowsDir(log) || !AppendText(log, sizeof log, LOG_DEFAULT_TAIL))
    CopyText(log, sizeof log, "none");
  // Shown as the log shows them: nothing typed into an argument or a folder's name makes lines
  // of its own in the text or reorders it.
  char line[LOG_LINE_SIZE];
  CopyText(line, sizeof line, commandLine);
  ShowLegibly(line, strlen(line));
  CutAtCharacter(line, EVENT_COMMAND_LINE_LIMIT);
  ShowLegibly(log, strlen(log));
  // One string, its first line what happened and the next the options: what monitoring shows
  // when it cuts the text. What may be long comes after them.
  char text[EVENT_TEXT_SIZE];
  snprintf(text, sizeof text, "%s ended with exit code %d: %s. Version %s.\r\nOptions:%s\r\n"
           "Command line: %s\r\nRun log: %s", RunNames[run], exitCode, meaning, SETUP_VERSION,
           options[0] ? options : " none", line, log);

  RegisterSource();
  HANDLE source = RegisterEventSourceA(NULL, EVENT_SOURCE);
  if (!source) {
    LogEvent("event %lu: source not opened (error %lu)", (unsigned long)row->id,
             (unsigned long)GetLastError());
    return;
  }
  const char* strings[1] = {text};
  // Only what went wrong is logged: the event itself is the record of the run.
  if (!ReportEventA(source, row->type, 0, row->id, NULL, 1, 0, strings, NULL))
    LogEvent("event %lu: not reported (error %lu)", (unsigned long)row->id,
             (unsigned long)GetLastError());
  DeregisterEventSource(source);
}

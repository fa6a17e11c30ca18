// Console input: the single-key wait, the debug pause and the yes/no prompt.
#include <string.h>

#include "../platform/console.h"
#include "../platform/run_state.h"
#include "../platform/win32.h"
#include "../support/text.h"
#include "messages.h"
#include "setup.h"

RUN_STATE int KeyPending = 0;

static int IsModifierKey(WORD vk) {
  return vk == VK_SHIFT || vk == VK_CONTROL || vk == VK_MENU || vk == VK_LSHIFT ||
         vk == VK_RSHIFT || vk == VK_LCONTROL || vk == VK_RCONTROL || vk == VK_LMENU ||
         vk == VK_RMENU;
}

void WaitKey(void) {
  if (KeyPending) {
    KeyPending = 0;
    return;
  }
  HANDLE console = CreateFileA("CONIN$", GENERIC_READ | GENERIC_WRITE,
                               FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING, 0, NULL);
  if (console == INVALID_HANDLE_VALUE) return;  // no console: pauses must not block
  DWORD oldMode = 0;
  BOOL haveMode = GetConsoleMode(console, &oldMode);
  if (haveMode)
    SetConsoleMode(console,
                   oldMode & ~(DWORD)(ENABLE_LINE_INPUT | ENABLE_ECHO_INPUT | ENABLE_PROCESSED_INPUT));
  for (;;) {
    INPUT_RECORD event;
    DWORD read = 0;
    if (!ReadConsoleInputA(console, &event, 1, &read) || read == 0) break;
    if (event.EventType != KEY_EVENT || !event.Event.KeyEvent.bKeyDown) continue;
    if (IsModifierKey(event.Event.KeyEvent.wVirtualKeyCode)) continue;
    if (event.Event.KeyEvent.uChar.AsciiChar == 0) KeyPending = 1;
    break;
  }
  if (haveMode) SetConsoleMode(console, oldMode);
  CloseHandle(console);
}

void TracePause(const char* text, const char* pauseLine) {
  ConsolePrint("%s", text);
  ConsolePrint("%s", pauseLine);
  WaitKey();
}

const char* SkipBlanks(const char* line) {
  for (; *line; line++)
    if ((unsigned char)*line > ' ' && (unsigned char)*line < 0x7F) return line;
  return 0;
}

// Reads one answer line into a buffer of size bytes without its line end. A longer line is
// read to its end and judged by its beginning. NUL bytes are dropped, so that a file saved as
// UTF-16 answers as its text says (its byte-order mark is passed over like a blank). The
// length read, not strlen, finds the line's end, and whether the line filled the buffer is
// decided before a CR is stripped. Returns 0 when the input had already ended.
static int ReadAnswerLine(char* line, int size) {
  int read = ConsoleReadLine(line, size);
  if (read <= 0) return 0;
  int complete = line[read - 1] == '\n';
  int filled = !complete && read == size - 1;
  int len = 0;
  for (int i = 0; i < read; i++)
    if (line[i] != '\0') line[len++] = line[i];
  line[len] = '\0';
  if (complete) line[--len] = '\0';
  if (len > 0 && line[len - 1] == '\r') line[--len] = '\0';
  if (filled) {
    char rest[ANSWER_LINE_SIZE];
    int n;
    while ((n = ConsoleReadLine(rest, sizeof rest)) > 0)
      if (rest[n - 1] == '\n') break;
  }
  return 1;
}

static int StartsWithKeyword(const char* answer, int keyword) {
  const char* word = (ActiveMessages ? ActiveMessages : MessageTable)[keyword];
  return CompareTextNoCase(answer, word, strlen(word)) == 0;
}

int PromptYesNo(const char* text, int autoAnswer) {
  if (autoAnswer) return ANSWER_YES;
  char line[ANSWER_LINE_SIZE];
  for (;;) {
    if (ShowMessages == 1) ConsolePrint("%s", text);
    // Nobody is left to answer once input has ended: go on as an unattended run would.
    if (!ReadAnswerLine(line, sizeof line)) return ANSWER_YES;
    const char* answer = SkipBlanks(line);
    if (!answer) continue;
    if (StartsWithKeyword(answer, MSG_KEYWORD_CANCEL)) return ANSWER_CANCEL;
    if (StartsWithKeyword(answer, MSG_KEYWORD_YES)) return ANSWER_YES;
    if (StartsWithKeyword(answer, MSG_KEYWORD_NO)) return ANSWER_NO;
  }
}

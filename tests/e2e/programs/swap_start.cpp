// Starts a program suspended, moves its file away and puts another file at its name, then
// lets it run: what a writer of the program's folder can do while it starts.
//   swap_start <program> <moved-to> <put-in-its-place> [arguments...]
// Exits with the program's exit code, or 90 and above when a step fails.
#include <windows.h>

#include <stdio.h>
#include <wchar.h>

#include <string>

// One argument quoted as the C runtime splits it: backslashes doubled before a quote.
static void Quote(std::wstring& line, const wchar_t* arg) {
  line += L'"';
  size_t backslashes = 0;
  for (const wchar_t* c = arg; *c; c++) {
    if (*c == L'\\') {
      backslashes++;
      continue;
    }
    line.append(*c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
    backslashes = 0;
    line += *c;
  }
  line.append(backslashes * 2, L'\\');
  line += L'"';
}

int wmain(int argc, wchar_t** argv) {
  if (argc < 4) {
    fprintf(stderr, "usage: swap_start program moved-to replacement [arguments...]\n");
    return 90;
  }
  std::wstring line;
  Quote(line, argv[1]);
  for (int i = 4; i < argc; i++) {
    line += L' ';
    Quote(line, argv[i]);
  }
  STARTUPINFOW start = {};
  start.cb = sizeof start;
  start.dwFlags = STARTF_USESTDHANDLES;
  start.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  start.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
  start.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  PROCESS_INFORMATION process = {};
  if (!CreateProcessW(argv[1], &line[0], NULL, NULL, TRUE, CREATE_SUSPENDED, NULL, NULL, &start,
                      &process)) {
    fprintf(stderr, "swap_start: not started (error %lu)\n", GetLastError());
    return 91;
  }
  if (!MoveFileW(argv[1], argv[2]) || !CopyFileW(argv[3], argv[1], TRUE)) {
    fprintf(stderr, "swap_start: not swapped (error %lu)\n", GetLastError());
    TerminateProcess(process.hProcess, 92);
    return 92;
  }
  ResumeThread(process.hThread);
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD code = 93;
  GetExitCodeProcess(process.hProcess, &code);
  return (int)code;
}

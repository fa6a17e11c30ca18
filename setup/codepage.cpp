// Whether the command line reached the installer as it was typed.
#include "../platform/run_state.h"
#include "../platform/win32.h"
#include "setup.h"

// The longest command line Windows passes is 32,767 characters; a code page writes one in at
// most two bytes.
#define ANSI_COMMAND_LINE_SIZE 65536

RUN_STATE static char AnsiCommandLine[ANSI_COMMAND_LINE_SIZE];

// The C runtime reads the arguments in the ANSI code page. Where that page is not UTF-8 (a
// system that ignores the manifest's code page), a character the page lacks arrives as '?',
// or as a look-alike by "best fit" (a full-width quote as '"'): a folder or an argument that
// names another one, or none. The arguments are as typed only when the wide command line
// converts to the page exactly, which a failed conversion cannot show either. Under UTF-8
// every character converts, but an unpaired surrogate turns into U+FFFD and names another
// folder: the line must convert with no invalid character.
int CommandLineReadable(unsigned* codePage) {
  *codePage = GetACP();
  if (*codePage == CP_UTF8)
    return WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, GetCommandLineW(), -1,
                               AnsiCommandLine, sizeof AnsiCommandLine, NULL, NULL) > 0;
  BOOL usedDefault = FALSE;
  int length = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, GetCommandLineW(), -1,
                                   AnsiCommandLine, sizeof AnsiCommandLine, NULL, &usedDefault);
  return length > 0 && !usedDefault;
}

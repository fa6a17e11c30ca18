// Simulated event log: a source handle per RegisterEventSourceA, and the events reported through
// it kept in order. Whether the source is registered in the registry does not matter to Windows
// here either: an event of an unregistered source is written, its text shown without a message.
#include <string.h>

#include "machine.h"
#include "sim_win32.h"

using namespace sim;

HANDLE RegisterEventSourceA(LPCSTR lpUNCServerName, LPCSTR lpSourceName) {
  SIM_CALL({Str(lpUNCServerName), Str(lpSourceName)});
  if (call.Faulted(lpSourceName ? lpSourceName : "")) return NULL;
  // Only the local machine's log is modelled.
  if (lpUNCServerName || !lpSourceName || !lpSourceName[0])
    return Fail(ERROR_INVALID_PARAMETER, nullptr);
  return NewHandle(HandleKind::EventSource, 0, lpSourceName);
}

BOOL ReportEventA(HANDLE hEventLog, WORD wType, WORD wCategory, DWORD dwEventID, PSID lpUserSid,
                  WORD wNumStrings, DWORD dwDataSize, LPCSTR* lpStrings, LPVOID lpRawData) {
  std::vector<std::string> strings;
  for (WORD i = 0; lpStrings && i < wNumStrings; i++) strings.push_back(Str(lpStrings[i]));
  std::vector<std::string> args = {Ptr(hEventLog), Dec(wType), Dec(wCategory), Dec(dwEventID),
                                   Ptr(lpUserSid), Dec(wNumStrings), Dec(dwDataSize)};
  args.insert(args.end(), strings.begin(), strings.end());
  SIM_CALL(args);
  HandleEntry* h = FindHandle(hEventLog, HandleKind::EventSource);
  if (!h) return Fail(ERROR_INVALID_HANDLE);
  if (call.Faulted(h->name)) return FALSE;
  bool stringsOk = wNumStrings == 0 || lpStrings;
  for (WORD i = 0; stringsOk && i < wNumStrings; i++)
    stringsOk = lpStrings[i] && strlen(lpStrings[i]) <= SIM_EVENT_STRING_LIMIT;
  if (!stringsOk || (dwDataSize && !lpRawData)) return Fail(ERROR_INVALID_PARAMETER);
  M().events.reported.push_back(EventRecord{h->name, wType, wCategory, dwEventID, strings});
  return TRUE;
}

BOOL DeregisterEventSource(HANDLE hEventLog) {
  SIM_CALL({Ptr(hEventLog)});
  if (!FindHandle(hEventLog, HandleKind::EventSource)) return Fail(ERROR_INVALID_HANDLE);
  // As with every release call: a reported failure still leaves the handle closed.
  ReleaseAnyHandle(hEventLog);
  return !call.Faulted();
}

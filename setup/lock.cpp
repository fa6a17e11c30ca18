// The machine-wide lock. A failure to create or wait on it counts as a free lock: the run then
// goes on as it would without one, rather than never installing. That covers a name taken
// first by someone without rights: an object whose security withholds access from us makes
// the open fail with access denied, and an object of another type under the name with an
// invalid handle; either way nobody can make the run wait by it.
//
// The lock must hold between the accounts that run the installer: a deployment agent's SYSTEM
// and an elevated administrator. It is made with a descriptor that grants both SYNCHRONIZE,
// and opened asking for that right only, which is all that waiting and releasing need: a
// mutex that SYSTEM made with its default security grants Administrators no more, and its
// System integrity label refuses write-type rights to an administrator's High-level process.
#include "lock.h"

#include "../platform/run_state.h"
#include "../platform/win32.h"
#include "../support/log.h"
#include "../support/security.h"
#include "messages.h"

RUN_STATE static HANDLE LockHandle = NULL;
RUN_STATE static int LockOwned = 0;

static void LockForget(void) {
  LockHandle = NULL;
  LockOwned = 0;
}

void ReleaseSetupLock(void) {
  if (LockOwned) ReleaseMutex(LockHandle);
  if (LockHandle) CloseHandle(LockHandle);
  LockForget();
}

int AcquireSetupLock(void) {
  LockForget();
  // Without its descriptor the lock is still opened with SYNCHRONIZE only; made here, it then
  // gets the elevated token's default security, which lets no user hold or release it.
  AdminsOnly security;
  int described = MakeAdminsOnly(&security, SYNCHRONIZE);
  HANDLE lock = CreateMutexExA(described ? &security.attributes : NULL, SETUP_LOCK_NAME, 0,
                               SYNCHRONIZE);
  DWORD openError = GetLastError();
  FreeAdminsOnly(&security);
  if (!lock) {
    LogEvent("lock \"%s\": not opened (error %lu), going on without it", SETUP_LOCK_NAME,
             (unsigned long)openError);
    return 1;
  }
  LockHandle = lock;
  // A run alone takes it at once and prints nothing more than it did.
  DWORD wait = WaitForSingleObject(lock, 0);
  if (wait == WAIT_TIMEOUT) {
    PutMessage(MSG_LOCK_WAITING);
    LogEvent("lock: another installation or removal is running, waiting up to %lu minutes",
             SETUP_LOCK_WAIT_MINUTES);
    DWORD start = GetTickCount();
    wait = WaitForSingleObject(lock, SETUP_LOCK_WAIT_MS);
    if (wait == WAIT_TIMEOUT) {
      LogEvent("lock: still held after %lu minutes, nothing changed", SETUP_LOCK_WAIT_MINUTES);
      ReleaseSetupLock();
      return 0;
    }
    if (wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED)
      LogEvent("lock: taken after %lu seconds", (unsigned long)((GetTickCount() - start) / 1000));
  }
  if (wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED) {
    LockOwned = 1;
    // A run that was killed holding it: this run repairs what that one left.
    if (wait == WAIT_ABANDONED) LogEvent("lock: left by a run that ended without releasing it");
    return 1;
  }
  LogEvent("lock: wait failed (error %lu), going on without it", (unsigned long)GetLastError());
  ReleaseSetupLock();
  return 1;
}

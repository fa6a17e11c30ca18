// The run state at its start values, for hosts that run the installer more than once.
#include "../actions/actions.h"
#include "../detect/detect.h"
#include "../support/log.h"
#include "lock.h"
#include "messages.h"
#include "setup.h"

void ResetRunState(void) {
  Unattended = 0;
  ShowMessages = 1;
  DebugTrace = 0;
  ForceCode = 0;
  SourceDir[0] = '\0';
  KeyPending = 0;
  ActiveMessages = MessageTable;
  SeenUsbId4001 = SeenUsbId4003 = SeenUsbId4004 = SeenPciId = 0;
  LogForget();
  LockForget();
  ForgetRestartOperations();
  ForgetOwnSignature();
}

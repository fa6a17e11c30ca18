// Simulated devices operations.
#include "machine.h"
#include "sim_win32.h"

using namespace sim;

namespace sim {

void InitDevices() {}

}  // namespace sim

HANDLE OpenHidPath(LPCSTR path, DWORD access, DWORD share, DWORD disposition) {
  (void)path; (void)access; (void)share; (void)disposition;
  M().lastError = ERROR_FILE_NOT_FOUND;
  return INVALID_HANDLE_VALUE;
}

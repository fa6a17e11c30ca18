// Simulated files operations.
#include "machine.h"
#include "sim_win32.h"

using namespace sim;

namespace sim {

void InitFiles() {}

}  // namespace sim

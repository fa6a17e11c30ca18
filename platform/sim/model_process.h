// The simulated programs that the installer can start.
#ifndef PLATFORM_SIM_MODEL_PROCESS_H
#define PLATFORM_SIM_MODEL_PROCESS_H

namespace sim {

struct ProcessModel {
};

}  // namespace sim

#endif

// The simulated device tree and HID interfaces.
#ifndef PLATFORM_SIM_MODEL_DEVICES_H
#define PLATFORM_SIM_MODEL_DEVICES_H

namespace sim {

struct DevicesModel {
};

}  // namespace sim

#endif

// The simulated registry: keys compared without case, with security descriptors.
#ifndef PLATFORM_SIM_MODEL_REGISTRY_H
#define PLATFORM_SIM_MODEL_REGISTRY_H

namespace sim {

struct RegistryModel {
};

}  // namespace sim

#endif

// The detection tests' device tree on the host: the simulated machine's.
#include <string.h>

#include "detect/detect.h"
#include "fixture_devices.h"
#include "platform/sim/machine.h"

void FixtureAddDevice(const std::string& instancePath, const std::vector<std::string>& hardwareIds) {
  if (hardwareIds.empty())
    sim::AddDeviceWithoutIds(instancePath);
  else
    sim::AddDevice(instancePath, hardwareIds);
}

void FixtureRemoveDevices() { sim::M().devices.devices.clear(); }

std::vector<std::string> FixturePresentHardwareIds() {
  std::vector<std::string> ids;
  for (const sim::SimDevice& d : sim::M().devices.devices) {
    if (!d.present || !d.hasHardwareIds) continue;
    const std::string& b = d.hardwareIds;
    for (size_t at = 0; at < b.size() && b[at];) {
      size_t end = b.find('\0', at);
      if (end == std::string::npos) break;
      ids.push_back(b.substr(at, end - at));
      at = end + 1;
    }
  }
  return ids;
}

static int Run(int (*routine)(void), std::string* output) {
  size_t before = sim::Output().size();
  int result = routine();
  *output = sim::Output().substr(before);
  return result;
}

int FixtureScan(std::string* output) { return Run(FindExistingDevice, output); }
int FixtureProbe(std::string* output) { return Run(FindUsbServiceProcessor, output); }

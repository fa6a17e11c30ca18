// The simulated device tree and HID interfaces.
#ifndef PLATFORM_SIM_MODEL_DEVICES_H
#define PLATFORM_SIM_MODEL_DEVICES_H

#include <stdint.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "sim_types.h"

namespace sim {

// A device node. The hardware-ID list is kept as the raw bytes of the property, so that a
// test can give a malformed one (no closing empty string, no terminator at all).
struct SimDevice {
  std::string instanceId;
  bool hasHardwareIds = true;
  std::string hardwareIds;
  bool present = true;
  DWORD sizeOnFault = 0;  // a fault injected into its ID query also reports this size
};

// A HID device interface, opened by its path.
struct SimHidInterface {
  std::string path;
  WORD vendorId = 0;
  WORD productId = 0;
  bool present = true;
  bool accessDenied = false;
  // Someone else holds the device open with this access and sharing.
  bool writesOnFault = false;  // a failed attribute read still writes the IDs into the record
  bool heldElsewhere = false;
  DWORD heldAccess = 0;
  DWORD heldShare = 0;
};

// What a device information set holds: a snapshot taken when it was created.
struct SimDeviceSet {
  DWORD flags = 0;
  bool interfaces = false;          // made with DIGCF_DEVICEINTERFACE for the HID class
  std::vector<size_t> members;      // indexes into devices or hidInterfaces
};

struct LocalBlock {
  size_t size;
  std::unique_ptr<char[]> bytes;
};

struct DevicesModel {
  std::vector<SimDevice> devices;
  std::vector<SimHidInterface> hidInterfaces;
  std::map<int64_t, SimDeviceSet> sets;
  int64_t nextSetId = 1;
  std::map<const void*, LocalBlock> localBlocks;  // live LocalAlloc blocks
  int64_t localAllocs = 0;                        // successful LocalAlloc calls
};

// The interface class that HidD_GetHidGuid reports.
extern const GUID kHidGuid;

// Arranging. Hardware IDs are given as the entries of a well-formed list; AddRawDevice
// takes the property's bytes as they are.
SimDevice& AddDevice(const std::string& instanceId, const std::vector<std::string>& ids);
SimDevice& AddRawDevice(const std::string& instanceId, const std::string& bytes);
SimDevice& AddDeviceWithoutIds(const std::string& instanceId);
SimHidInterface& AddHidInterface(const std::string& path, WORD vendorId, WORD productId);
std::string MultiString(const std::vector<std::string>& entries);
std::string GuidText(const GUID* guid);

}  // namespace sim

#endif

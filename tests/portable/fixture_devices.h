// The device tree of the machine the detection tests run on: the simulated one, or Wine's,
// where a device key with a class under HKLM\System\CurrentControlSet\Enum is a present device.
#ifndef TESTS_PORTABLE_FIXTURE_DEVICES_H
#define TESTS_PORTABLE_FIXTURE_DEVICES_H

#include <string>
#include <vector>

// Adds a present device "<enumerator>\<device>\<instance>" with this hardware-ID list
// (none at all when the list is empty).
void FixtureAddDevice(const std::string& instancePath, const std::vector<std::string>& hardwareIds);
// Takes away every device the test added.
void FixtureRemoveDevices();
// Every hardware-ID entry of every present device, in the order the device tree lists them.
std::vector<std::string> FixturePresentHardwareIds();
// Runs the device-tree scan or the HID probe, with what it printed in *output.
int FixtureScan(std::string* output);
int FixtureProbe(std::string* output);

#endif

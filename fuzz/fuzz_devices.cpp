// What the detection reads: the HID attributes of up to three interfaces (the first byte
// gives their number, four bytes each: vendor and product ID), then the hardware-ID lists of
// the devices in the tree, as raw property bytes, each ended by a 0x01 byte. A detect-only
// run must answer as the card's IDs say.
#include <string.h>

#include "fuzz.h"

namespace {

bool Contains(const std::string& entry, const char* id) {
  return strstr(entry.c_str(), id) != nullptr;
}

// Which of the card's IDs the lists carry: only entries that end inside their list count.
int ExpectedExit(const std::vector<std::pair<WORD, WORD>>& hid,
                 const std::vector<std::string>& lists) {
  for (const auto& h : hid)
    if (h.first == 0x7A5C && (h.second == 0x4001 || h.second == 0x4003)) return 0;
  bool usb4001 = false, usb4003 = false, usb4004 = false, pci = false;
  for (const std::string& list : lists) {
    size_t pos = 0;
    while (pos < list.size() && list[pos] != '\0') {
      size_t end = list.find('\0', pos);
      if (end == std::string::npos) break;
      std::string entry = list.substr(pos, end - pos);
      usb4001 |= Contains(entry, "USB\\Vid_7a5c&Pid_4001");
      usb4003 |= Contains(entry, "USB\\Vid_7a5c&Pid_4003");
      usb4004 |= Contains(entry, "USB\\Vid_7a5c&Pid_4004");
      pci |= Contains(entry, "PCI\\VEN_1002&DEV_5159&SUBSYS_7C3B5D2E");
      pos = end + 1;
    }
  }
  return pci || ((usb4001 || usb4003) && !usb4004) ? 16 : 8;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1 || size > 16384) return -1;
  size_t count = data[0] % 4;
  if (size < 1 + 4 * count) return -1;
  fuzz::Begin();
  std::vector<std::pair<WORD, WORD>> hid;
  for (size_t i = 0; i < count; i++) {
    const uint8_t* a = data + 1 + 4 * i;
    hid.emplace_back((WORD)(a[0] | a[1] << 8), (WORD)(a[2] | a[3] << 8));
    sim::AddHidInterface("\\\\?\\hid#" + std::to_string(i), hid.back().first, hid.back().second);
  }
  size_t at = 1 + 4 * count;
  std::vector<std::string> lists = fuzz::Split(data + at, size - at, '\x01');
  if (lists.size() > 256) return -1;
  for (size_t i = 0; i < lists.size(); i++)
    sim::AddRawDevice("ROOT\\DEVICE\\" + std::to_string(i), lists[i]);

  proof::Outcome outcome = proof::RunInstaller({"setup", "-H"});
  fuzz::RequireReleased(outcome);
  int expected = ExpectedExit(hid, lists);
  fuzz::Require(outcome.exitCode == expected, "the detection answered",
                std::to_string(outcome.exitCode) + ", the IDs say " + std::to_string(expected));
  fuzz::Require(sim::M().files.pendingMoves.empty() && sim::CountCalls("CopyFileA") == 0,
                "a detect-only run placed files");
  std::string rest;
  fuzz::Require(proof::OutputIsKnownText(sim::Output(), &rest), "unknown output:", rest);
  return 0;
}

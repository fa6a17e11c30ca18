// Subkey names under the services key (any bytes but the backslash, which no key name can
// hold; NUL included), each ended by a 0x01 byte; the first byte of each gives the number of
// its children (0 to 3) and whether they have a child of their own. The legacy removal must
// end, release everything, and leave every other key and its access list alone.
#include "actions/actions.h"
#include "fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 65536) return -1;
  std::vector<std::string> names = fuzz::Split(data, size, '\x01');
  if (names.size() > 120) return -1;
  fuzz::Begin();
  const std::string services = SIM_SERVICES_PATH;
  sim::AddKey(services + "\\Tcpip\\Parameters");
  for (const std::string& entry : names) {
    if (entry.empty() || entry.find('\\') != std::string::npos) continue;
    std::string key = services + "\\" + entry.substr(1);
    sim::AddKey(key);
    int children = entry[0] & 3;
    for (int c = 0; c < children; c++) {
      std::string child = key + "\\c" + std::to_string(c);
      sim::AddKey(child);
      if (entry[0] & 4) sim::AddKey(child + "\\g");
    }
  }
  sim::KeyList keys = sim::AllKeys();
  bool ended = true;
  try {
    RemoveLegacyServices();
  } catch (const sim::Runaway&) {
    ended = false;
  }
  fuzz::Require(ended, "the removal did not end");
  std::string open = sim::Unreleased();
  fuzz::Require(open.empty(), "left open:", open);
  fuzz::RequireKeysKept(keys);
  return 0;
}

// The portable tests' registry on the host: the simulated one.
#include <string.h>

#include "fixture_registry.h"
#include "platform/sim/machine.h"

static std::string Full(const std::string& path) { return "HKLM\\" + path; }

bool FixtureAddKey(const std::string& path) { return sim::AddKey(Full(path)); }

bool FixtureKeyExists(const std::string& path) { return sim::KeyExists(Full(path)); }

std::vector<std::string> FixtureSubkeys(const std::string& path) {
  return sim::SubkeysOf(Full(path));
}

// Each test starts on a fresh machine: nothing to clean up.
void FixtureDeleteTree(const std::string&) {}

FixtureDacl FixtureKeyDacl(const std::string& path) {
  FixtureDacl out;
  std::vector<BYTE> acl = sim::KeyDacl(Full(path));
  if (acl.size() < 8) return out;
  out.read = true;
  out.revision = acl[0];
  out.size = acl[2] | acl[3] << 8;
  int count = acl[4] | acl[5] << 8;
  size_t at = 8;
  for (int i = 0; i < count && at + 8 <= acl.size(); i++) {
    FixtureAce ace;
    ace.type = acl[at];
    ace.flags = acl[at + 1];
    int aceSize = acl[at + 2] | acl[at + 3] << 8;
    DWORD mask;
    memcpy(&mask, &acl[at + 4], 4);
    ace.mask = mask;
    const BYTE* sid = &acl[at + 8];
    uint64_t authority = 0;
    for (int b = 0; b < 6; b++) authority = authority << 8 | sid[2 + b];
    ace.sid = "S-" + std::to_string(sid[0]) + "-" + std::to_string(authority);
    for (int s = 0; s < sid[1]; s++) {
      DWORD sub;
      memcpy(&sub, sid + 8 + 4 * s, 4);
      ace.sid += "-" + std::to_string(sub);
    }
    out.aces.push_back(ace);
    at += aceSize;
  }
  return out;
}

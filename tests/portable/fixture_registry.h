// The registry of the portable tests' machine. Paths are below HKEY_LOCAL_MACHINE, as in
// "SYSTEM\\CurrentControlSet\\Services\\x".
#ifndef TESTS_PORTABLE_FIXTURE_REGISTRY_H
#define TESTS_PORTABLE_FIXTURE_REGISTRY_H

#include <string>
#include <vector>

// Creates the key and any missing keys above it.
bool FixtureAddKey(const std::string& path);
bool FixtureKeyExists(const std::string& path);
// The key's subkeys in enumeration order.
std::vector<std::string> FixtureSubkeys(const std::string& path);
// Deletes the key with everything below it (for cleaning up after a test).
void FixtureDeleteTree(const std::string& path);

struct FixtureAce {
  int type;
  int flags;
  unsigned long mask;
  std::string sid;  // "S-1-5-32-544"
};

struct FixtureDacl {
  bool read = false;  // the DACL could be read and is present
  int revision = 0;
  int size = 0;       // the ACL's length in bytes
  std::vector<FixtureAce> aces;
};

// The key's DACL as the security API reports it.
FixtureDacl FixtureKeyDacl(const std::string& path);

#endif

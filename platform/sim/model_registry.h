// The simulated registry: keys compared without case, subkeys listed in Windows' order,
// an access list per key, and the process heap that the security code allocates from.
#ifndef PLATFORM_SIM_MODEL_REGISTRY_H
#define PLATFORM_SIM_MODEL_REGISTRY_H

#include <stdint.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "sim_types.h"

namespace sim {

// A value of a key: its name as written, its type and its bytes.
struct RegValue {
  std::string name;
  DWORD type = REG_NONE;
  std::string data;
};

struct RegKey {
  std::string name;          // as it was created; may hold a NUL byte, as the native API allows
  int64_t parent = -1;       // -1 for the root
  bool deleted = false;      // handles may still refer to a deleted key
  bool daclPresent = true;   // false: a null DACL
  std::vector<BYTE> dacl;    // the access list, laid out as Windows lays it out
  DWORD denied = 0;          // rights that an open of this key is refused
  std::map<std::string, RegValue> values;  // by upper-case name
};

struct RegistryModel {
  std::map<int64_t, RegKey> keys;  // by id
  int64_t nextId = 0;
  int64_t root = -1;               // HKEY_LOCAL_MACHINE, named "HKLM" in paths
  std::map<const void*, std::unique_ptr<BYTE[]>> heapBlocks;
  std::map<const void*, std::unique_ptr<BYTE[]>> sids;
};

// Paths name keys from the root, as in "HKLM\\SYSTEM\\CurrentControlSet\\Services\\x",
// compared without case. The same path is the target of a fault injected into a registry
// operation: RegOpenKeyExA, RegCreateKeyExA, RegEnumKeyExA, RegDeleteKeyA, RegGetKeySecurity
// and RegSetKeySecurity match the key they act on; RegSetValueExA matches "<key>\\<value>".
#define SIM_SERVICES_PATH "HKLM\\SYSTEM\\CurrentControlSet\\Services"
// The key whose values PendingFileRenameOperations and PendingFileRenameOperations2 answer
// from the files model's recorded moves; a fault injected into RegQueryValueExA matches the
// key's path, a backslash and the value's name.
#define SIM_SESSION_MANAGER_PATH "HKLM\\SYSTEM\\CurrentControlSet\\Control\\Session Manager"
// Where inventory tools read the uninstall entries; there on every machine.
#define SIM_UNINSTALL_PATH "HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall"

// Creates the key and any missing keys above it, with the default access list. A part of
// the path may hold NUL bytes (pass a std::string that contains them): RegEnumKeyExA then
// delivers the raw name with its full length, and no name passed as a C string reaches it.
bool AddKey(const std::string& path);
bool KeyExists(const std::string& path);
// Every live key's path with its access list ("dacl:" or "null dacl:" and the bytes) and its
// values (";value:<name>=<type>:<bytes>" each, by name), sorted: a whole registry to compare
// before and after.
typedef std::vector<std::pair<std::string, std::string>> KeyList;
KeyList AllKeys();
// Writes a value of a key (which must exist), as RegSetValueExA would.
bool SetValue(const std::string& path, const std::string& name, DWORD type,
              const std::string& data);
bool SetDwordValue(const std::string& path, const std::string& name, DWORD value);
// Reads a value: false when the key or the value is missing.
bool GetValue(const std::string& path, const std::string& name, DWORD* type, std::string* data);
// The key's values by name, in the order of their upper-case names.
std::vector<RegValue> ValuesOf(const std::string& path);
// The names of the key's subkeys, in the order RegEnumKeyExA gives them.
std::vector<std::string> SubkeysOf(const std::string& path);
// The key's DACL bytes; empty when the key is missing or has a null DACL.
std::vector<BYTE> KeyDacl(const std::string& path);
// Opens of the key that ask for any of these rights fail with ERROR_ACCESS_DENIED, as when
// the key's access list withholds them; a new DACL written to the key lifts this.
void DenyKeyAccess(const std::string& path, DWORD rights);
// What the descriptor given to a create call grants SYSTEM and Administrators (allowed entries
// for other SIDs set `others`). False when there is none, or it holds no DACL: the creator's
// default applies. A null DACL grants everyone everything.
struct Grants {
  DWORD system = 0;
  DWORD admins = 0;
  DWORD users = 0;           // BUILTIN\Users
  bool others = false;
  bool inheritable = false;  // an entry that what the object holds inherits
  bool isProtected = false;  // SE_DACL_PROTECTED: the parent's entries are not inherited
};
bool ReadGrants(const SECURITY_ATTRIBUTES* attributes, Grants* grants);
// The same as text for an object to keep: "SYSTEM 0x<mask>, Administrators 0x<mask>", with
// ", others" and ", protected" as they apply; "" when the creator's default applies.
std::string DescribeGrants(const SECURITY_ATTRIBUTES* attributes);
// Heap blocks and SIDs not yet released.
int LiveHeapBlocks();
int LiveSids();

}  // namespace sim

#endif

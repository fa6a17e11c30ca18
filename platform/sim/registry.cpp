// Simulated registry, key security and process heap.
#include <ctype.h>
#include <stdio.h>
#include <string.h>

#include <algorithm>

#include "machine.h"
#include "sim_win32.h"

using namespace sim;

namespace {

const BYTE kNtAuthority[6] = {0, 0, 0, 0, 0, 5};

std::vector<BYTE> MakeSid(const BYTE authority[6], std::vector<DWORD> subs) {
  std::vector<BYTE> sid(8 + 4 * subs.size());
  sid[0] = 1;
  sid[1] = (BYTE)subs.size();
  memcpy(&sid[2], authority, 6);
  for (size_t i = 0; i < subs.size(); i++) memcpy(&sid[8 + 4 * i], &subs[i], 4);
  return sid;
}

struct AceEntry {
  BYTE flags;
  DWORD mask;
  std::vector<BYTE> sid;
};

std::vector<BYTE> MakeAcl(const std::vector<AceEntry>& aces) {
  std::vector<BYTE> acl(8);
  for (const AceEntry& a : aces) {
    WORD size = (WORD)(8 + a.sid.size());
    size_t at = acl.size();
    acl.resize(at + size);
    acl[at] = ACCESS_ALLOWED_ACE_TYPE;
    acl[at + 1] = a.flags;
    memcpy(&acl[at + 2], &size, 2);
    memcpy(&acl[at + 4], &a.mask, 4);
    memcpy(&acl[at + 8], a.sid.data(), a.sid.size());
  }
  acl[0] = ACL_REVISION;
  WORD total = (WORD)acl.size(), count = (WORD)aces.size();
  memcpy(&acl[2], &total, 2);
  memcpy(&acl[4], &count, 2);
  return acl;
}

// What a new key gets: SYSTEM and Administrators full control, Users read, all inherited
// by subkeys.
std::vector<BYTE> DefaultDacl() {
  return MakeAcl({{CONTAINER_INHERIT_ACE, KEY_ALL_ACCESS, MakeSid(kNtAuthority, {18})},
                  {CONTAINER_INHERIT_ACE, KEY_ALL_ACCESS, MakeSid(kNtAuthority, {32, 544})},
                  {CONTAINER_INHERIT_ACE, KEY_READ, MakeSid(kNtAuthority, {32, 545})}});
}

// Windows orders key names by their upper-case form.
std::string Upper(const std::string& s) {
  std::string r = s;
  for (char& c : r) c = (char)toupper((unsigned char)c);
  return r;
}

RegistryModel& R() { return M().registry; }

RegKey* KeyById(int64_t id) {
  auto it = R().keys.find(id);
  return it == R().keys.end() ? nullptr : &it->second;
}

std::vector<int64_t> Children(int64_t id) {
  std::vector<std::pair<std::string, int64_t>> sorted;  // each name upper-cased once
  for (auto& kv : R().keys)
    if (kv.second.parent == id && !kv.second.deleted)
      sorted.emplace_back(Upper(kv.second.name), kv.first);
  std::stable_sort(sorted.begin(), sorted.end(),
                   [](const std::pair<std::string, int64_t>& a,
                      const std::pair<std::string, int64_t>& b) { return a.first < b.first; });
  std::vector<int64_t> out;
  for (const auto& s : sorted) out.push_back(s.second);
  return out;
}

int64_t Child(int64_t id, const std::string& name) {
  for (auto& kv : R().keys)
    if (kv.second.parent == id && !kv.second.deleted && EqualNoCase(kv.second.name, name))
      return kv.first;
  return -1;
}

std::string PathOf(int64_t id) {
  std::string path;
  for (RegKey* k = KeyById(id); k; k = KeyById(k->parent))
    path = k->parent < 0 ? k->name + path : "\\" + k->name + path;
  return path;
}

std::vector<std::string> Split(const std::string& path) {
  std::vector<std::string> parts;
  std::string part;
  for (char c : path) {
    if (c == '\\') {
      if (!part.empty()) parts.push_back(part);
      part.clear();
    } else {
      part += c;
    }
  }
  if (!part.empty()) parts.push_back(part);
  return parts;
}

// The key at a relative path below `from`, or -1.
int64_t Walk(int64_t from, const std::string& relative) {
  int64_t id = from;
  for (const std::string& part : Split(relative)) {
    id = Child(id, part);
    if (id < 0) return -1;
  }
  return id;
}

std::string JoinPath(int64_t from, const char* relative) {
  std::string path = PathOf(from);
  for (const std::string& part : Split(relative ? relative : "")) path += "\\" + part;
  return path;
}

// A path from the root ("HKLM\\...") to its key, or -1.
int64_t Find(const std::string& path) {
  std::vector<std::string> parts = Split(path);
  if (parts.empty() || !EqualNoCase(parts[0], "HKLM")) return -1;
  int64_t id = R().root;
  for (size_t i = 1; i < parts.size() && id >= 0; i++) id = Child(id, parts[i]);
  return id;
}

int64_t NewKey(int64_t parent, const std::string& name) {
  int64_t id = R().nextId++;
  RegKey k;
  k.name = name;
  k.parent = parent;
  k.dacl = DefaultDacl();
  R().keys[id] = k;
  return id;
}

// The key an HKEY stands for, with the rights it was opened with.
LSTATUS Resolve(HKEY h, int64_t* id, DWORD* access) {
  if (h == HKEY_LOCAL_MACHINE) {
    *id = R().root;
    *access = KEY_ALL_ACCESS | WRITE_DAC | READ_CONTROL;
    return ERROR_SUCCESS;
  }
  HandleEntry* e = FindHandle((HANDLE)h, HandleKind::Key);
  if (!e) return ERROR_INVALID_HANDLE;
  RegKey* k = KeyById(e->id);
  if (!k) return ERROR_INVALID_HANDLE;
  if (k->deleted) return ERROR_KEY_DELETED;
  *id = e->id;
  *access = e->access;
  return ERROR_SUCCESS;
}

std::string HandleName(HKEY h) {
  if (h == HKEY_LOCAL_MACHINE) return "HKLM";
  HandleEntry* e = FindHandle((HANDLE)h, HandleKind::Key);
  return e ? e->name : std::string("?");
}

bool ValidSid(const BYTE* sid) {
  return sid && sid[0] == 1 && sid[1] <= 15;
}

DWORD SidLength(const BYTE* sid) { return 8 + 4 * (DWORD)sid[1]; }

// Checks an ACL as Windows does before it stores one: revision, size, and entries that
// lie within the size.
bool ValidAcl(const BYTE* acl) {
  if (acl[0] < 2 || acl[0] > 4) return false;
  WORD size, count;
  memcpy(&size, acl + 2, 2);
  memcpy(&count, acl + 4, 2);
  if (size < 8) return false;
  size_t at = 8;
  for (WORD i = 0; i < count; i++) {
    if (at + 4 > size) return false;
    WORD aceSize;
    memcpy(&aceSize, acl + at + 2, 2);
    if (aceSize < 4 || at + aceSize > size) return false;
    at += aceSize;
  }
  return true;
}

}  // namespace

namespace sim {

bool ReadGrants(const SECURITY_ATTRIBUTES* attributes, Grants* grants) {
  *grants = Grants();
  if (!attributes || !attributes->lpSecurityDescriptor) return false;
  const SECURITY_DESCRIPTOR* sd = (const SECURITY_DESCRIPTOR*)attributes->lpSecurityDescriptor;
  if (!(sd->Control & SE_DACL_PRESENT) || (sd->Control & SE_SELF_RELATIVE)) return false;
  grants->isProtected = (sd->Control & SE_DACL_PROTECTED) != 0;
  if (!sd->Dacl) {
    grants->system = grants->admins = 0xFFFFFFFFUL;
    grants->others = true;
    return true;
  }
  const BYTE* acl = (const BYTE*)sd->Dacl;
  const std::vector<BYTE> system = MakeSid(kNtAuthority, {18});
  const std::vector<BYTE> admins = MakeSid(kNtAuthority, {32, 544});
  const std::vector<BYTE> users = MakeSid(kNtAuthority, {32, 545});
  size_t at = 8;
  for (WORD i = 0; i < sd->Dacl->AceCount; i++) {
    WORD size;
    DWORD mask;
    memcpy(&size, acl + at + 2, 2);
    memcpy(&mask, acl + at + 4, 4);
    const BYTE* sid = acl + at + 8;
    if (acl[at] == ACCESS_ALLOWED_ACE_TYPE) {
      if (memcmp(sid, system.data(), system.size()) == 0) grants->system |= mask;
      else if (memcmp(sid, admins.data(), admins.size()) == 0) grants->admins |= mask;
      else if (memcmp(sid, users.data(), users.size()) == 0) grants->users |= mask;
      else grants->others = true;
      if ((acl[at + 1] & (OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE)) ==
          (OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE))
        grants->inheritable = true;
    }
    at += size;
  }
  return true;
}

std::string DescribeGrants(const SECURITY_ATTRIBUTES* attributes) {
  Grants g;
  if (!ReadGrants(attributes, &g)) return "";
  char users[32] = "";
  if (g.users) snprintf(users, sizeof users, ", Users 0x%lx", (unsigned long)g.users);
  char text[160];
  snprintf(text, sizeof text, "SYSTEM 0x%lx, Administrators 0x%lx%s%s%s%s", (unsigned long)g.system,
           (unsigned long)g.admins, users, g.others ? ", others" : "",
           g.inheritable ? ", inherited by its contents" : "", g.isProtected ? ", protected" : "");
  return text;
}

void InitRegistry() {
  R().root = NewKey(-1, "HKLM");
  AddKey(SIM_SERVICES_PATH);
  AddKey(SIM_SESSION_MANAGER_PATH);
  AddKey(SIM_UNINSTALL_PATH);
}

bool AddKey(const std::string& path) {
  std::vector<std::string> parts = Split(path);
  if (parts.empty() || !EqualNoCase(parts[0], "HKLM")) return false;
  int64_t id = R().root;
  for (size_t i = 1; i < parts.size(); i++) {
    int64_t next = Child(id, parts[i]);
    id = next >= 0 ? next : NewKey(id, parts[i]);
  }
  return true;
}

KeyList AllKeys() {
  KeyList out;
  for (auto& kv : R().keys) {
    if (kv.second.deleted) continue;
    bool live = true;  // below a deleted key, a key is gone too
    for (RegKey* k = KeyById(kv.second.parent); k; k = KeyById(k->parent)) live &= !k->deleted;
    if (!live) continue;
    std::string shown(kv.second.dacl.begin(), kv.second.dacl.end());
    shown = (kv.second.daclPresent ? "dacl:" : "null dacl:") + shown;
    for (const auto& v : kv.second.values)
      shown += ";value:" + v.second.name + "=" + std::to_string(v.second.type) + ":" +
               v.second.data;
    out.emplace_back(PathOf(kv.first), shown);
  }
  std::sort(out.begin(), out.end());
  return out;
}

bool KeyExists(const std::string& path) { return Find(path) >= 0; }

bool SetValue(const std::string& path, const std::string& name, DWORD type,
              const std::string& data) {
  int64_t id = Find(path);
  if (id < 0) return false;
  R().keys[id].values[Upper(name)] = RegValue{name, type, data};
  return true;
}

bool SetDwordValue(const std::string& path, const std::string& name, DWORD value) {
  return SetValue(path, name, REG_DWORD, std::string((const char*)&value, 4));
}

bool GetValue(const std::string& path, const std::string& name, DWORD* type, std::string* data) {
  int64_t id = Find(path);
  if (id < 0) return false;
  auto it = R().keys[id].values.find(Upper(name));
  if (it == R().keys[id].values.end()) return false;
  if (type) *type = it->second.type;
  if (data) *data = it->second.data;
  return true;
}

std::vector<RegValue> ValuesOf(const std::string& path) {
  std::vector<RegValue> out;
  int64_t id = Find(path);
  if (id < 0) return out;
  for (const auto& v : R().keys[id].values) out.push_back(v.second);
  return out;
}

std::vector<std::string> SubkeysOf(const std::string& path) {
  std::vector<std::string> names;
  int64_t id = Find(path);
  if (id < 0) return names;
  for (int64_t c : Children(id)) names.push_back(R().keys[c].name);
  return names;
}

std::vector<BYTE> KeyDacl(const std::string& path) {
  int64_t id = Find(path);
  if (id < 0 || !R().keys[id].daclPresent) return {};
  return R().keys[id].dacl;
}

void DenyKeyAccess(const std::string& path, DWORD rights) {
  int64_t id = Find(path);
  if (id >= 0) R().keys[id].denied |= rights;
}

int LiveHeapBlocks() { return (int)R().heapBlocks.size(); }
int LiveSids() { return (int)R().sids.size(); }

}  // namespace sim

LSTATUS RegOpenKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD ulOptions, REGSAM samDesired,
                      PHKEY phkResult) {
  SIM_CALL({HandleName(hKey), Str(lpSubKey), Hex(ulOptions), Hex(samDesired)});
  if (!phkResult) return ERROR_INVALID_PARAMETER;
  *phkResult = nullptr;
  int64_t parent;
  DWORD parentAccess;
  LSTATUS status = Resolve(hKey, &parent, &parentAccess);
  if (status != ERROR_SUCCESS) return status;
  DWORD error;
  if (call.FaultCode(JoinPath(parent, lpSubKey), &error)) return (LSTATUS)error;
  int64_t id = Walk(parent, lpSubKey ? lpSubKey : "");
  if (id < 0) return ERROR_FILE_NOT_FOUND;
  if (R().keys[id].denied & samDesired) return ERROR_ACCESS_DENIED;
  *phkResult = (HKEY)NewHandle(HandleKind::Key, id, PathOf(id), samDesired);
  return ERROR_SUCCESS;
}

LSTATUS RegEnumKeyExA(HKEY hKey, DWORD dwIndex, LPSTR lpName, LPDWORD lpcchName,
                      LPDWORD lpReserved, LPSTR lpClass, LPDWORD lpcchClass,
                      PFILETIME lpftLastWriteTime) {
  SIM_CALL({HandleName(hKey), Dec(dwIndex), lpcchName ? Dec(*lpcchName) : std::string("NULL"),
            Ptr(lpReserved), Ptr(lpClass), Ptr(lpcchClass), Ptr(lpftLastWriteTime)});
  if (!lpName || !lpcchName || lpReserved) return ERROR_INVALID_PARAMETER;
  int64_t id;
  DWORD access;
  LSTATUS status = Resolve(hKey, &id, &access);
  if (status != ERROR_SUCCESS) return status;
  if (!(access & KEY_ENUMERATE_SUB_KEYS)) return ERROR_ACCESS_DENIED;
  // Past the last subkey every enumeration ends, injected failure or not: real ones do.
  std::vector<int64_t> children = Children(id);
  if (dwIndex >= children.size()) return ERROR_NO_MORE_ITEMS;
  DWORD error;
  if (call.FaultCode(PathOf(id), &error)) return (LSTATUS)error;
  const std::string& name = R().keys[children[dwIndex]].name;
  // A name that does not fit leaves the buffer and the count as they were.
  if (name.size() >= *lpcchName) return ERROR_MORE_DATA;
  memcpy(lpName, name.c_str(), name.size() + 1);
  *lpcchName = (DWORD)name.size();
  if (lpClass && lpcchClass && *lpcchClass > 0) {
    lpClass[0] = '\0';
    *lpcchClass = 0;
  }
  if (lpftLastWriteTime) {
    uint64_t t = NowFileTime();
    lpftLastWriteTime->dwLowDateTime = (DWORD)t;
    lpftLastWriteTime->dwHighDateTime = (DWORD)(t >> 32);
  }
  return ERROR_SUCCESS;
}

LSTATUS RegDeleteKeyA(HKEY hKey, LPCSTR lpSubKey) {
  SIM_CALL({HandleName(hKey), Str(lpSubKey)});
  if (!lpSubKey) return ERROR_INVALID_PARAMETER;
  int64_t parent;
  DWORD access;
  // The parent handle's rights do not matter: Windows opens the subkey for deletion itself.
  LSTATUS status = Resolve(hKey, &parent, &access);
  if (status != ERROR_SUCCESS) return status;
  DWORD error;
  if (call.FaultCode(JoinPath(parent, lpSubKey), &error)) return (LSTATUS)error;
  int64_t id = Walk(parent, lpSubKey);
  if (id < 0) return ERROR_FILE_NOT_FOUND;
  RegKey& k = R().keys[id];
  if (id == R().root || (k.denied & DELETE)) return ERROR_ACCESS_DENIED;
  if (!Children(id).empty()) return ERROR_ACCESS_DENIED;
  k.deleted = true;
  return ERROR_SUCCESS;
}

// Opens the key, creating it and any missing keys above it. The 64-bit view is the only one
// the simulated machine has, so KEY_WOW64_64KEY changes nothing.
LSTATUS RegCreateKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD Reserved, LPSTR lpClass,
                        DWORD dwOptions, REGSAM samDesired,
                        LPSECURITY_ATTRIBUTES lpSecurityAttributes, PHKEY phkResult,
                        LPDWORD lpdwDisposition) {
  SIM_CALL({HandleName(hKey), Str(lpSubKey), Dec(Reserved), Str(lpClass), Hex(dwOptions),
            Hex(samDesired), Ptr(lpSecurityAttributes), Ptr(phkResult), Ptr(lpdwDisposition)});
  if (!phkResult || !lpSubKey || Reserved) return ERROR_INVALID_PARAMETER;
  *phkResult = nullptr;
  int64_t parent;
  DWORD parentAccess;
  LSTATUS status = Resolve(hKey, &parent, &parentAccess);
  if (status != ERROR_SUCCESS) return status;
  DWORD error;
  if (call.FaultCode(JoinPath(parent, lpSubKey), &error)) return (LSTATUS)error;
  int64_t id = Walk(parent, lpSubKey);
  bool created = id < 0;
  if (created) {
    if (!(parentAccess & KEY_CREATE_SUB_KEY)) return ERROR_ACCESS_DENIED;
    id = parent;
    for (const std::string& part : Split(lpSubKey)) {
      int64_t next = Child(id, part);
      id = next >= 0 ? next : NewKey(id, part);
    }
  } else if (R().keys[id].denied & samDesired) {
    return ERROR_ACCESS_DENIED;
  }
  if (lpdwDisposition) *lpdwDisposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
  *phkResult = (HKEY)NewHandle(HandleKind::Key, id, PathOf(id), samDesired);
  return ERROR_SUCCESS;
}

namespace {

// The key a value call acts on: resolved, opened with `right`, and the call's injected fault
// matched against the key's path, a backslash and the value's name.
LSTATUS ValueKey(const Call& call, HKEY hKey, DWORD right, const std::string& name, int64_t* id) {
  DWORD access;
  LSTATUS status = Resolve(hKey, id, &access);
  if (status != ERROR_SUCCESS) return status;
  if (!(access & right)) return ERROR_ACCESS_DENIED;
  DWORD error;
  if (call.FaultCode(PathOf(*id) + "\\" + name, &error)) return (LSTATUS)error;
  return ERROR_SUCCESS;
}

}  // namespace

LSTATUS RegSetValueExA(HKEY hKey, LPCSTR lpValueName, DWORD Reserved, DWORD dwType,
                       const BYTE* lpData, DWORD cbData) {
  std::string shown = lpData ? std::string((const char*)lpData, cbData) : std::string("NULL");
  SIM_CALL({HandleName(hKey), Str(lpValueName), Dec(Reserved), Dec(dwType), shown, Dec(cbData)});
  if (Reserved || (!lpData && cbData)) return ERROR_INVALID_PARAMETER;
  std::string name = lpValueName ? lpValueName : "";
  int64_t id;
  LSTATUS status = ValueKey(call, hKey, KEY_SET_VALUE, name, &id);
  if (status != ERROR_SUCCESS) return status;
  std::string data = lpData ? std::string((const char*)lpData, cbData) : std::string();
  R().keys[id].values[Upper(name)] = RegValue{name, dwType, data};
  return ERROR_SUCCESS;
}

LSTATUS RegCloseKey(HKEY hKey) {
  SIM_CALL({HandleName(hKey)});
  if (hKey == HKEY_LOCAL_MACHINE) return ERROR_SUCCESS;
  if (!FindHandle((HANDLE)hKey, HandleKind::Key)) return ERROR_INVALID_HANDLE;
  ReleaseAnyHandle((HANDLE)hKey);
  return ERROR_SUCCESS;
}

namespace {

// A list of moves as Windows writes it: the source with "\\??\\" before it, then the
// destination ("!" first when it replaces) or an empty string for a deletion; an empty string
// ends the list. Empty when there are no moves: Windows then holds no value.
std::string MultiStringOf(const std::vector<PendingMove>& moves) {
  std::string out;
  for (const PendingMove& m : moves) {
    out += "\\??\\" + m.source + '\0';
    if (!m.dest.empty()) out += std::string(m.replace ? "!" : "") + "\\??\\" + m.dest;
    out += '\0';
  }
  if (!out.empty()) out += '\0';
  return out;
}

}  // namespace

LSTATUS RegQueryValueExA(HKEY hKey, LPCSTR lpValueName, LPDWORD lpReserved, LPDWORD lpType,
                         LPBYTE lpData, LPDWORD lpcbData) {
  SIM_CALL({HandleName(hKey), Str(lpValueName), Ptr(lpReserved), Ptr(lpType), Ptr(lpData),
            lpcbData ? Dec(*lpcbData) : std::string("NULL")});
  if (lpReserved || (lpData && !lpcbData)) return ERROR_INVALID_PARAMETER;
  std::string name = lpValueName ? lpValueName : "";
  int64_t id;
  LSTATUS status = ValueKey(call, hKey, KEY_QUERY_VALUE, name, &id);
  if (status != ERROR_SUCCESS) return status;
  // The restart's two lists are answered from the files model; other values are the key's own.
  std::string data;
  DWORD type = REG_MULTI_SZ;
  bool restartList = EqualNoCase(PathOf(id), SIM_SESSION_MANAGER_PATH) &&
                     (EqualNoCase(name, "PendingFileRenameOperations") ||
                      EqualNoCase(name, "PendingFileRenameOperations2"));
  if (restartList) {
    const FilesModel& f = M().files;
    if (EqualNoCase(name, "PendingFileRenameOperations"))
      data = f.pendingRaw.empty() ? MultiStringOf(f.pendingMoves) : f.pendingRaw;
    else
      data = f.pendingRaw2.empty() ? MultiStringOf(f.pendingMoves2) : f.pendingRaw2;
    if (data.empty()) return ERROR_FILE_NOT_FOUND;
    if (!EqualNoCase(name, "PendingFileRenameOperations")) type = f.pendingType2;
  } else {
    const std::map<std::string, RegValue>& values = R().keys[id].values;
    auto it = values.find(Upper(name));
    if (it == values.end()) return ERROR_FILE_NOT_FOUND;
    type = it->second.type;
    data = it->second.data;
  }
  if (lpType) *lpType = type;
  DWORD size = (DWORD)data.size();
  if (lpData && *lpcbData < size) {
    *lpcbData = size;
    return ERROR_MORE_DATA;
  }
  if (lpData) memcpy(lpData, data.data(), size);
  if (lpcbData) *lpcbData = size;
  return ERROR_SUCCESS;
}

LSTATUS RegGetKeySecurity(HKEY hKey, SECURITY_INFORMATION SecurityInformation,
                          PSECURITY_DESCRIPTOR pSecurityDescriptor,
                          LPDWORD lpcbSecurityDescriptor) {
  SIM_CALL({HandleName(hKey), Hex(SecurityInformation), Ptr(pSecurityDescriptor),
            lpcbSecurityDescriptor ? Dec(*lpcbSecurityDescriptor) : std::string("NULL")});
  if (!lpcbSecurityDescriptor) return ERROR_INVALID_PARAMETER;
  int64_t id;
  DWORD access;
  LSTATUS status = Resolve(hKey, &id, &access);
  if (status != ERROR_SUCCESS) return status;
  if (!(access & READ_CONTROL)) return ERROR_ACCESS_DENIED;
  DWORD error;
  if (call.FaultCode(PathOf(id), &error)) return (LSTATUS)error;

  // The self-relative form: the header, then owner, group and DACL as asked for.
  const RegKey& k = R().keys[id];
  std::vector<BYTE> sd(20, 0);
  WORD control = SE_SELF_RELATIVE;
  auto append = [&sd](const std::vector<BYTE>& part, size_t offsetField) {
    DWORD at = (DWORD)sd.size();
    memcpy(&sd[offsetField], &at, 4);
    sd.insert(sd.end(), part.begin(), part.end());
  };
  if (SecurityInformation & OWNER_SECURITY_INFORMATION)
    append(MakeSid(kNtAuthority, {32, 544}), 4);
  if (SecurityInformation & GROUP_SECURITY_INFORMATION) append(MakeSid(kNtAuthority, {18}), 8);
  if ((SecurityInformation & DACL_SECURITY_INFORMATION) && k.daclPresent) {
    control |= SE_DACL_PRESENT;
    append(k.dacl, 16);
  }
  sd[0] = SECURITY_DESCRIPTOR_REVISION;
  memcpy(&sd[2], &control, 2);
  if (!pSecurityDescriptor || *lpcbSecurityDescriptor < sd.size()) {
    *lpcbSecurityDescriptor = (DWORD)sd.size();
    return ERROR_INSUFFICIENT_BUFFER;
  }
  memcpy(pSecurityDescriptor, sd.data(), sd.size());
  *lpcbSecurityDescriptor = (DWORD)sd.size();
  return ERROR_SUCCESS;
}

LSTATUS RegSetKeySecurity(HKEY hKey, SECURITY_INFORMATION SecurityInformation,
                          PSECURITY_DESCRIPTOR pSecurityDescriptor) {
  SIM_CALL({HandleName(hKey), Hex(SecurityInformation), Ptr(pSecurityDescriptor)});
  if (!pSecurityDescriptor) return ERROR_INVALID_PARAMETER;
  int64_t id;
  DWORD access;
  LSTATUS status = Resolve(hKey, &id, &access);
  if (status != ERROR_SUCCESS) return status;
  if ((SecurityInformation & DACL_SECURITY_INFORMATION) && !(access & WRITE_DAC))
    return ERROR_ACCESS_DENIED;
  DWORD error;
  if (call.FaultCode(PathOf(id), &error)) return (LSTATUS)error;

  const BYTE* raw = (const BYTE*)pSecurityDescriptor;
  if (raw[0] != SECURITY_DESCRIPTOR_REVISION) return ERROR_INVALID_PARAMETER;
  WORD control;
  memcpy(&control, raw + 2, 2);
  const BYTE* dacl = nullptr;
  if (control & SE_SELF_RELATIVE) {
    DWORD offset;
    memcpy(&offset, raw + 16, 4);
    if (offset) dacl = raw + offset;
  } else {
    dacl = (const BYTE*)((const SECURITY_DESCRIPTOR*)pSecurityDescriptor)->Dacl;
  }
  if (!(SecurityInformation & DACL_SECURITY_INFORMATION)) return ERROR_SUCCESS;
  if ((control & SE_DACL_PRESENT) && dacl && !ValidAcl(dacl)) return ERROR_INVALID_PARAMETER;
  RegKey& k = R().keys[id];
  if (!(control & SE_DACL_PRESENT) || !dacl) {
    k.daclPresent = false;
    k.dacl.clear();
  } else {
    WORD size;
    memcpy(&size, dacl + 2, 2);
    k.daclPresent = true;
    k.dacl.assign(dacl, dacl + size);
  }
  k.denied = 0;
  return ERROR_SUCCESS;
}

BOOL AllocateAndInitializeSid(PSID_IDENTIFIER_AUTHORITY pIdentifierAuthority,
                              BYTE nSubAuthorityCount, DWORD nSubAuthority0,
                              DWORD nSubAuthority1, DWORD nSubAuthority2, DWORD nSubAuthority3,
                              DWORD nSubAuthority4, DWORD nSubAuthority5, DWORD nSubAuthority6,
                              DWORD nSubAuthority7, PSID* pSid) {
  std::string authority;
  for (int i = 0; pIdentifierAuthority && i < 6; i++)
    authority += (i ? "," : "") + Dec(pIdentifierAuthority->Value[i]);
  SIM_CALL({authority, Dec(nSubAuthorityCount), Dec(nSubAuthority0), Dec(nSubAuthority1),
            Dec(nSubAuthority2), Dec(nSubAuthority3), Dec(nSubAuthority4), Dec(nSubAuthority5),
            Dec(nSubAuthority6), Dec(nSubAuthority7), Ptr(pSid)});
  if (!pIdentifierAuthority || !pSid || nSubAuthorityCount > 8)
    return Fail(ERROR_INVALID_PARAMETER);
  if (call.Faulted()) return FALSE;
  DWORD subs[8] = {nSubAuthority0, nSubAuthority1, nSubAuthority2, nSubAuthority3,
                   nSubAuthority4, nSubAuthority5, nSubAuthority6, nSubAuthority7};
  std::vector<BYTE> sid =
      MakeSid(pIdentifierAuthority->Value, std::vector<DWORD>(subs, subs + nSubAuthorityCount));
  std::unique_ptr<BYTE[]> block(new BYTE[sid.size()]);
  memcpy(block.get(), sid.data(), sid.size());
  *pSid = block.get();
  R().sids[block.get()] = std::move(block);
  TrackAllocation(1);
  return TRUE;
}

DWORD GetLengthSid(PSID pSid) {
  SIM_CALL({Ptr(pSid)});
  return SidLength((const BYTE*)pSid);
}

PVOID FreeSid(PSID pSid) {
  SIM_CALL({Ptr(pSid)});
  auto it = R().sids.find(pSid);
  if (it == R().sids.end()) return pSid;  // not a SID this machine allocated
  R().sids.erase(it);
  TrackAllocation(-1);
  return nullptr;
}

BOOL InitializeAcl(PACL pAcl, DWORD nAclLength, DWORD dwAclRevision) {
  SIM_CALL({Ptr(pAcl), Dec(nAclLength), Dec(dwAclRevision)});
  if (call.Faulted()) return FALSE;
  if (dwAclRevision < 2 || dwAclRevision > 4 || nAclLength > 0xFFFF)
    return Fail(ERROR_INVALID_PARAMETER);
  if (nAclLength < sizeof(ACL)) return Fail(ERROR_INSUFFICIENT_BUFFER);
  memset(pAcl, 0, sizeof(ACL));
  pAcl->AclRevision = (BYTE)dwAclRevision;
  pAcl->AclSize = (WORD)nAclLength;
  return TRUE;
}

static BOOL AddAllowedAce(PACL pAcl, DWORD dwAceRevision, DWORD AceFlags, DWORD AccessMask,
                          PSID pSid) {
  BYTE* acl = (BYTE*)pAcl;
  if (!acl || !ValidAcl(acl)) return Fail(ERROR_INVALID_ACL);
  if (!ValidSid((const BYTE*)pSid)) return Fail(ERROR_INVALID_SID);
  if (dwAceRevision < 2 || dwAceRevision > 4) return Fail(ERROR_REVISION_MISMATCH);
  size_t at = 8;
  for (WORD i = 0; i < pAcl->AceCount; i++) {
    WORD aceSize;
    memcpy(&aceSize, acl + at + 2, 2);
    at += aceSize;
  }
  DWORD sidLength = SidLength((const BYTE*)pSid);
  WORD aceSize = (WORD)(8 + sidLength);
  if (at + aceSize > pAcl->AclSize) return Fail(ERROR_ALLOTTED_SPACE_EXCEEDED);
  acl[at] = ACCESS_ALLOWED_ACE_TYPE;
  acl[at + 1] = (BYTE)AceFlags;
  memcpy(acl + at + 2, &aceSize, 2);
  memcpy(acl + at + 4, &AccessMask, 4);
  memcpy(acl + at + 8, pSid, sidLength);
  pAcl->AceCount++;
  if (dwAceRevision > pAcl->AclRevision) pAcl->AclRevision = (BYTE)dwAceRevision;
  return TRUE;
}

BOOL AddAccessAllowedAce(PACL pAcl, DWORD dwAceRevision, DWORD AccessMask, PSID pSid) {
  SIM_CALL({Ptr(pAcl), Dec(dwAceRevision), Hex(AccessMask), Ptr(pSid)});
  if (call.Faulted()) return FALSE;
  return AddAllowedAce(pAcl, dwAceRevision, 0, AccessMask, pSid);
}

BOOL AddAccessAllowedAceEx(PACL pAcl, DWORD dwAceRevision, DWORD AceFlags, DWORD AccessMask,
                           PSID pSid) {
  SIM_CALL({Ptr(pAcl), Dec(dwAceRevision), Hex(AceFlags), Hex(AccessMask), Ptr(pSid)});
  if (call.Faulted()) return FALSE;
  if (AceFlags & ~(DWORD)(OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE | INHERIT_ONLY_ACE | 0x04))
    return Fail(ERROR_INVALID_PARAMETER);
  return AddAllowedAce(pAcl, dwAceRevision, AceFlags, AccessMask, pSid);
}

BOOL InitializeSecurityDescriptor(PSECURITY_DESCRIPTOR pSecurityDescriptor, DWORD dwRevision) {
  SIM_CALL({Ptr(pSecurityDescriptor), Dec(dwRevision)});
  if (call.Faulted()) return FALSE;
  if (dwRevision != SECURITY_DESCRIPTOR_REVISION) return Fail(ERROR_UNKNOWN_REVISION);
  memset(pSecurityDescriptor, 0, sizeof(SECURITY_DESCRIPTOR));
  ((SECURITY_DESCRIPTOR*)pSecurityDescriptor)->Revision = SECURITY_DESCRIPTOR_REVISION;
  return TRUE;
}

BOOL SetSecurityDescriptorDacl(PSECURITY_DESCRIPTOR pSecurityDescriptor, BOOL bDaclPresent,
                               PACL pDacl, BOOL bDaclDefaulted) {
  SIM_CALL({Ptr(pSecurityDescriptor), Dec(bDaclPresent), Ptr(pDacl), Dec(bDaclDefaulted)});
  if (call.Faulted()) return FALSE;
  SECURITY_DESCRIPTOR* sd = (SECURITY_DESCRIPTOR*)pSecurityDescriptor;
  if (sd->Revision != SECURITY_DESCRIPTOR_REVISION) return Fail(ERROR_UNKNOWN_REVISION);
  if (sd->Control & SE_SELF_RELATIVE) return Fail(ERROR_INVALID_SECURITY_DESCR);
  sd->Control &= (WORD) ~(SE_DACL_PRESENT | SE_DACL_DEFAULTED);
  sd->Dacl = nullptr;
  if (bDaclPresent) {
    sd->Control |= SE_DACL_PRESENT;
    sd->Dacl = pDacl;
    if (bDaclDefaulted) sd->Control |= SE_DACL_DEFAULTED;
  }
  return TRUE;
}

BOOL SetSecurityDescriptorControl(PSECURITY_DESCRIPTOR pSecurityDescriptor,
                                  SECURITY_DESCRIPTOR_CONTROL ControlBitsOfInterest,
                                  SECURITY_DESCRIPTOR_CONTROL ControlBitsToSet) {
  SIM_CALL({Ptr(pSecurityDescriptor), Hex(ControlBitsOfInterest), Hex(ControlBitsToSet)});
  if (call.Faulted()) return FALSE;
  // Only the inheritance bits may be set this way.
  const WORD settable = 0x0100 | 0x0200 | 0x0400 | 0x0800 | SE_DACL_PROTECTED | 0x2000;
  SECURITY_DESCRIPTOR* sd = (SECURITY_DESCRIPTOR*)pSecurityDescriptor;
  if ((ControlBitsOfInterest & ~settable) || (ControlBitsToSet & ~settable))
    return Fail(ERROR_INVALID_PARAMETER);
  if (sd->Revision != SECURITY_DESCRIPTOR_REVISION) return Fail(ERROR_UNKNOWN_REVISION);
  sd->Control = (WORD)((sd->Control & ~ControlBitsOfInterest) |
                       (ControlBitsToSet & ControlBitsOfInterest));
  return TRUE;
}

// The process heap is one fixed handle value, outside the handle table: it is never closed.
static HANDLE const kProcessHeap = (HANDLE)(uintptr_t)0x7FFE0000;

HANDLE GetProcessHeap(void) {
  SIM_CALL({});
  return kProcessHeap;
}

LPVOID HeapAlloc(HANDLE hHeap, DWORD dwFlags, SIZE_T dwBytes) {
  SIM_CALL({Ptr(hHeap), Hex(dwFlags), Dec((int64_t)dwBytes)});
  if (hHeap != kProcessHeap) return nullptr;
  if (call.Faulted()) return nullptr;
  std::unique_ptr<BYTE[]> block(new BYTE[dwBytes ? dwBytes : 1]);
  // Memory not asked to be zeroed holds a pattern, so that reading it before writing shows.
  memset(block.get(), (dwFlags & HEAP_ZERO_MEMORY) ? 0 : 0xBA, dwBytes ? dwBytes : 1);
  void* p = block.get();
  R().heapBlocks[p] = std::move(block);
  TrackAllocation(1);
  return p;
}

BOOL HeapFree(HANDLE hHeap, DWORD dwFlags, LPVOID lpMem) {
  SIM_CALL({Ptr(hHeap), Hex(dwFlags), Ptr(lpMem)});
  if (hHeap != kProcessHeap) return Fail(ERROR_INVALID_HANDLE);
  if (!lpMem) return TRUE;
  auto it = R().heapBlocks.find(lpMem);
  if (it == R().heapBlocks.end()) return Fail(ERROR_INVALID_PARAMETER);
  R().heapBlocks.erase(it);
  TrackAllocation(-1);
  return TRUE;
}

// The portable tests' registry on Windows: the real one, inside the throwaway Wine prefix.
#include <windows.h>
#include <aclapi.h>
#include <sddl.h>

#include "fixture_registry.h"

bool FixtureAddKey(const std::string& path) {
  HKEY key;
  if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, NULL, 0, KEY_ALL_ACCESS, NULL, &key,
                      NULL) != ERROR_SUCCESS)
    return false;
  RegCloseKey(key);
  return true;
}

bool FixtureKeyExists(const std::string& path) {
  HKEY key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
    return false;
  RegCloseKey(key);
  return true;
}

std::vector<std::string> FixtureSubkeys(const std::string& path) {
  std::vector<std::string> names;
  HKEY key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
    return names;
  char name[512];
  for (DWORD i = 0;; i++) {
    DWORD size = sizeof name;
    if (RegEnumKeyExA(key, i, name, &size, NULL, NULL, NULL, NULL) != ERROR_SUCCESS) break;
    names.push_back(name);
  }
  RegCloseKey(key);
  return names;
}

void FixtureDeleteTree(const std::string& path) {
  // A key the test locked to Administrators is still theirs: the prefix's user is one.
  for (const std::string& child : FixtureSubkeys(path)) FixtureDeleteTree(path + "\\" + child);
  RegDeleteKeyA(HKEY_LOCAL_MACHINE, path.c_str());
}

FixtureDacl FixtureKeyDacl(const std::string& path) {
  FixtureDacl out;
  HKEY key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, READ_CONTROL, &key) != ERROR_SUCCESS)
    return out;
  PACL dacl = NULL;
  PSECURITY_DESCRIPTOR descriptor = NULL;
  DWORD status = GetSecurityInfo(key, SE_REGISTRY_KEY, DACL_SECURITY_INFORMATION, NULL, NULL,
                                 &dacl, NULL, &descriptor);
  RegCloseKey(key);
  if (status != ERROR_SUCCESS) return out;
  ACL_REVISION_INFORMATION revision;
  ACL_SIZE_INFORMATION size;
  if (dacl && GetAclInformation(dacl, &revision, sizeof revision, AclRevisionInformation) &&
      GetAclInformation(dacl, &size, sizeof size, AclSizeInformation)) {
    out.read = true;
    out.revision = (int)revision.AclRevision;
    out.size = (int)(size.AclBytesInUse + size.AclBytesFree);
    for (DWORD i = 0; i < size.AceCount; i++) {
      void* raw;
      if (!GetAce(dacl, i, &raw)) break;
      ACCESS_ALLOWED_ACE* ace = (ACCESS_ALLOWED_ACE*)raw;
      FixtureAce entry;
      entry.type = ace->Header.AceType;
      entry.flags = ace->Header.AceFlags;
      entry.mask = ace->Mask;
      char* text = NULL;
      if (ConvertSidToStringSidA((PSID)&ace->SidStart, &text)) {
        entry.sid = text;
        LocalFree(text);
      }
      out.aces.push_back(entry);
    }
  }
  LocalFree(descriptor);
  return out;
}

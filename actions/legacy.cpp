// Legacy service removal: deletes the registry keys of the two legacy watchdog services,
// with their subkeys two levels deep, after giving Administrators full control of them.
#include <string.h>

#include "../platform/win32.h"
#include "../support/log.h"
#include "actions.h"

#define SERVICES_KEY "SYSTEM\\CurrentControlSet\\Services\\"
#define KEY_NAME_CHARS 512
#define LEGACY_PATTERN_COUNT 2

static const char* const LegacyPatterns[LEGACY_PATTERN_COUNT] = {"ktawdrsv", "ktawdrex"};

// The name of subkey `index` into name (KEY_NAME_CHARS bytes). The name is cleared first:
// a name too long for the buffer is reported with ERROR_MORE_DATA and not written, and it
// must not leave the previous entry's name behind. A name with a NUL byte in it (the native
// API allows one) comes back empty too: opened by name it would reach some other key.
static LONG EnumSubkey(HKEY key, DWORD index, char* name) {
  DWORD capacity = KEY_NAME_CHARS;
  FILETIME lastWrite;
  name[0] = '\0';
  LONG status = RegEnumKeyExA(key, index, name, &capacity, NULL, NULL, NULL, &lastWrite);
  name[KEY_NAME_CHARS - 1] = '\0';
  if (status == ERROR_SUCCESS && (capacity >= KEY_NAME_CHARS || strlen(name) != capacity))
    name[0] = '\0';
  return status;
}

// An entry was delivered, so the enumeration goes on.
static int Delivered(LONG status) {
  return status == ERROR_SUCCESS || status == ERROR_MORE_DATA;
}

// Deletes the grandchildren of `child` that one sweep reaches. The index advances after
// each deletion too, so every second one is left for the next pass.
static void DeleteGrandchildren(HKEY child) {
  char grandchildName[KEY_NAME_CHARS];
  for (DWORD k = 0; Delivered(EnumSubkey(child, k, grandchildName)); k++) {
    // An empty name would address the child itself.
    if (grandchildName[0] != '\0') RegDeleteKeyA(child, grandchildName);
  }
}

// Removes one service key below the open services key. Answers 1 when the service counts
// as removed: the last status of its children's steps and its own deletion is 0.
static int RemoveServiceKey(HKEY services, const char* name) {
  HKEY service;
  if (RegOpenKeyExA(services, name, 0, KEY_ALL_ACCESS, &service) != ERROR_SUCCESS) return 0;
  LONG lastStatus = ERROR_SUCCESS;

  char childName[KEY_NAME_CHARS];
  for (DWORD j = 0; Delivered(EnumSubkey(service, j, childName)); j++) {
    // An empty name would open, and then delete, the service key itself.
    if (childName[0] == '\0') continue;
    HKEY child;
    lastStatus = RegOpenKeyExA(service, childName, 0, KEY_ALL_ACCESS, &child);
    if (lastStatus != ERROR_SUCCESS) continue;
    DeleteGrandchildren(child);
    lastStatus = RegDeleteKeyA(service, childName);
    RegCloseKey(child);
  }

  // Without the access reset the key is left in place, and the children decide.
  int accessReset = GrantAdminsFullControl(services, name) == 0;
  LONG deleted = ERROR_SUCCESS;
  if (accessReset) lastStatus = deleted = RegDeleteKeyA(services, name);
  if (!accessReset)
    LogEvent("legacy service key \"%s\": access not reset, not deleted", name);
  else
    LogEvent("legacy service key \"%s\": access reset, %s (error %ld)", name,
             deleted == ERROR_SUCCESS ? "deleted" : "not deleted", (long)deleted);
  RegCloseKey(service);
  return lastStatus == ERROR_SUCCESS;
}

int RemoveLegacyServices(void) {
  int removed[LEGACY_PATTERN_COUNT] = {0, 0};
  for (int pass = 0; pass < 2; pass++) {
    HKEY services;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, SERVICES_KEY, 0, KEY_READ, &services) ==
        ERROR_SUCCESS) {
      char serviceName[KEY_NAME_CHARS];
      // The index advances after a deletion too: the key that moves into the freed slot
      // waits for the second pass.
      for (DWORD index = 0; Delivered(EnumSubkey(services, index, serviceName)); index++) {
        for (int p = 0; p < LEGACY_PATTERN_COUNT; p++) {
          if (strstr(serviceName, LegacyPatterns[p]) && RemoveServiceKey(services, serviceName))
            removed[p] = 1;
        }
      }
      RegCloseKey(services);
    }
    if (removed[0] && removed[1]) break;
  }
  return removed[0] || removed[1];
}

int GrantAdminsFullControl(HKEY parent, const char* name) {
  HKEY key;
  if (RegOpenKeyExA(parent, name, 0, READ_CONTROL, &key) != ERROR_SUCCESS) return 1;

  // Being able to read the current access list is the condition for replacing it.
  DWORD size = 0;
  if (RegGetKeySecurity(key, DACL_SECURITY_INFORMATION, NULL, &size) !=
      ERROR_INSUFFICIENT_BUFFER) {
    RegCloseKey(key);
    return 1;
  }
  HANDLE heap = GetProcessHeap();
  PSECURITY_DESCRIPTOR current = HeapAlloc(heap, 0, size);
  if (current == NULL) {
    RegCloseKey(key);
    return 1;
  }
  if (RegGetKeySecurity(key, DACL_SECURITY_INFORMATION, current, &size) != ERROR_SUCCESS) {
    RegCloseKey(key);
    HeapFree(heap, 0, current);
    return 1;
  }
  RegCloseKey(key);

  if (RegOpenKeyExA(parent, name, 0, WRITE_DAC, &key) != ERROR_SUCCESS) {
    HeapFree(heap, 0, current);
    return 1;
  }

  int result = 1;
  SID_IDENTIFIER_AUTHORITY ntAuthority = {SECURITY_NT_AUTHORITY};
  PSID admins = NULL;
  PACL dacl = NULL;
  SECURITY_DESCRIPTOR descriptor;
  if (AllocateAndInitializeSid(&ntAuthority, 2, SECURITY_BUILTIN_DOMAIN_RID,
                               DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0, 0, &admins)) {
    // The ACL header and one entry's header and mask, then the SID.
    DWORD daclSize = GetLengthSid(admins) + 16;
    dacl = (PACL)HeapAlloc(heap, 0, daclSize);
    if (dacl != NULL && InitializeAcl(dacl, daclSize, ACL_REVISION) &&
        AddAccessAllowedAce(dacl, ACL_REVISION, KEY_ALL_ACCESS, admins) &&
        InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION) &&
        SetSecurityDescriptorDacl(&descriptor, TRUE, dacl, FALSE)) {
      if (RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, &descriptor) == ERROR_SUCCESS)
        result = 0;
    }
  }

  RegCloseKey(key);
  HeapFree(heap, 0, current);
  if (dacl != NULL) HeapFree(heap, 0, dacl);
  if (admins != NULL) FreeSid(admins);
  return result;
}

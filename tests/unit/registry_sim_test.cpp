// The simulated registry where it goes beyond what the portable tests can show: Windows'
// name order, deleted keys, the rights of a handle, security round trips, the heap.
#include <string.h>

#include "platform/win32.h"
#include "sim_test.h"

using Names = std::vector<std::string>;

class RegistrySimTest : public SimTest {
 protected:
  HKEY Open(const char* path, REGSAM access) {
    HKEY key = nullptr;
    EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, access, &key), ERROR_SUCCESS) << path;
    return key;
  }
};

TEST_F(RegistrySimTest, NamesEnumerateInUpperCaseOrder) {
  for (const char* n : {"b", "_a", "A", "Zeta"}) sim::AddKey(std::string("HKLM\\P\\") + n);
  EXPECT_EQ(sim::SubkeysOf("HKLM\\p"), (Names{"A", "b", "Zeta", "_a"}));
  EXPECT_TRUE(sim::KeyExists("hklm\\P\\ZETA"));
  EXPECT_FALSE(sim::AddKey("HKCU\\x"));
}

TEST_F(RegistrySimTest, HandleOfADeletedKeyAnswersKeyDeletedAndStillCloses) {
  sim::AddKey("HKLM\\P\\gone");
  HKEY parent = Open("P", KEY_READ);
  HKEY gone = Open("P\\gone", KEY_ALL_ACCESS);
  EXPECT_EQ(RegDeleteKeyA(parent, "GONE"), ERROR_SUCCESS);
  EXPECT_FALSE(sim::KeyExists("HKLM\\P\\gone"));
  char name[16];
  DWORD size = sizeof name;
  EXPECT_EQ(RegEnumKeyExA(gone, 0, name, &size, NULL, NULL, NULL, NULL), ERROR_KEY_DELETED);
  EXPECT_EQ(RegCloseKey(gone), ERROR_SUCCESS);
  EXPECT_EQ(RegCloseKey(gone), ERROR_INVALID_HANDLE);
  EXPECT_EQ(RegCloseKey(parent), ERROR_SUCCESS);
  EXPECT_EQ(sim::OpenHandles(sim::HandleKind::Key), 0);
}

TEST_F(RegistrySimTest, HandleRightsAndDeniedRightsAreEnforced) {
  sim::AddKey("HKLM\\P\\k\\sub");
  HKEY readControl = Open("P\\k", READ_CONTROL);
  char name[16];
  DWORD size = sizeof name;
  EXPECT_EQ(RegEnumKeyExA(readControl, 0, name, &size, NULL, NULL, NULL, NULL),
            ERROR_ACCESS_DENIED);
  SECURITY_DESCRIPTOR sd;
  InitializeSecurityDescriptor(&sd, SECURITY_DESCRIPTOR_REVISION);
  EXPECT_EQ(RegSetKeySecurity(readControl, DACL_SECURITY_INFORMATION, &sd), ERROR_ACCESS_DENIED);
  RegCloseKey(readControl);

  sim::DenyKeyAccess("HKLM\\P\\k\\sub", DELETE);
  HKEY key;
  EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "P\\k\\sub", 0, KEY_ALL_ACCESS, &key),
            ERROR_ACCESS_DENIED);
  EXPECT_EQ(key, nullptr);
  HKEY parent = Open("P\\k", KEY_READ);
  EXPECT_EQ(RegDeleteKeyA(parent, "sub"), ERROR_ACCESS_DENIED);
  EXPECT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, "P"), ERROR_ACCESS_DENIED);  // has subkeys
  sim::InjectFault("RegDeleteKeyA", ERROR_GEN_FAILURE, "HKLM\\P\\k", 1);
  EXPECT_EQ(RegDeleteKeyA(parent, ""), ERROR_GEN_FAILURE);  // the fault is per key
  RegCloseKey(parent);
  EXPECT_EQ(sim::OpenHandles(sim::HandleKind::Key), 0);
}

TEST_F(RegistrySimTest, SecurityReadBackRestoresTheListAndLiftsDeniedRights) {
  sim::AddKey("HKLM\\P\\k");
  std::vector<BYTE> original = sim::KeyDacl("HKLM\\P\\k");
  ASSERT_EQ(original.size(), 8u + 3 * 8 + 12 + 16 + 16);  // SYSTEM, Administrators, Users
  HKEY key = Open("P\\k", READ_CONTROL | WRITE_DAC);
  BYTE buffer[256];
  DWORD size = 20;
  EXPECT_EQ(RegGetKeySecurity(key, DACL_SECURITY_INFORMATION, buffer, &size),
            ERROR_INSUFFICIENT_BUFFER);
  EXPECT_EQ(size, 20 + original.size());
  EXPECT_EQ(RegGetKeySecurity(key, DACL_SECURITY_INFORMATION, buffer, &size), ERROR_SUCCESS);
  EXPECT_EQ(buffer[0], 1);
  EXPECT_EQ(buffer[2] | buffer[3] << 8, SE_SELF_RELATIVE | SE_DACL_PRESENT);
  EXPECT_EQ(memcmp(buffer + 20, original.data(), original.size()), 0);

  // A null DACL, then the saved self-relative descriptor back.
  SECURITY_DESCRIPTOR sd;
  InitializeSecurityDescriptor(&sd, SECURITY_DESCRIPTOR_REVISION);
  SetSecurityDescriptorDacl(&sd, TRUE, NULL, FALSE);
  EXPECT_EQ(RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, &sd), ERROR_SUCCESS);
  EXPECT_TRUE(sim::KeyDacl("HKLM\\P\\k").empty());
  sim::DenyKeyAccess("HKLM\\P\\k", KEY_SET_VALUE);
  EXPECT_EQ(RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, buffer), ERROR_SUCCESS);
  EXPECT_EQ(sim::KeyDacl("HKLM\\P\\k"), original);
  RegCloseKey(key);
  RegCloseKey(Open("P\\k", KEY_ALL_ACCESS));

  // An ACL whose entry runs past its length is refused.
  BYTE acl[16];
  ASSERT_TRUE(InitializeAcl((PACL)acl, sizeof acl, ACL_REVISION));
  acl[4] = 1;  // one entry claimed, none written
  acl[10] = 32;
  SetSecurityDescriptorDacl(&sd, TRUE, (PACL)acl, FALSE);
  key = Open("P\\k", WRITE_DAC);
  EXPECT_EQ(RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, &sd), ERROR_INVALID_PARAMETER);
  RegCloseKey(key);
}

TEST_F(RegistrySimTest, AclAndHeapRefuseWhatWindowsRefuses) {
  SID_IDENTIFIER_AUTHORITY nt = {SECURITY_NT_AUTHORITY};
  PSID sid = NULL;
  ASSERT_TRUE(AllocateAndInitializeSid(&nt, 2, 32, 544, 0, 0, 0, 0, 0, 0, &sid));
  EXPECT_EQ(GetLengthSid(sid), 16u);
  BYTE acl[64];
  EXPECT_FALSE(InitializeAcl((PACL)acl, 7, ACL_REVISION));
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_INSUFFICIENT_BUFFER);
  ASSERT_TRUE(InitializeAcl((PACL)acl, 31, ACL_REVISION));  // one byte short of the entry
  EXPECT_FALSE(AddAccessAllowedAce((PACL)acl, ACL_REVISION, KEY_ALL_ACCESS, sid));
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_ALLOTTED_SPACE_EXCEEDED);
  EXPECT_EQ(FreeSid(sid), nullptr);
  EXPECT_EQ(FreeSid(sid), sid);  // already released

  HANDLE heap = GetProcessHeap();
  void* block = HeapAlloc(heap, 0, 8);
  ASSERT_NE(block, nullptr);
  EXPECT_EQ(((BYTE*)block)[0], 0xBA);  // not zeroed unless asked
  EXPECT_EQ(sim::M().liveAllocations, 1);
  EXPECT_TRUE(HeapFree(heap, 0, block));
  EXPECT_FALSE(HeapFree(heap, 0, block));
  EXPECT_FALSE(HeapFree(heap, 0, acl));
  EXPECT_EQ(sim::M().liveAllocations, 0);
  EXPECT_EQ(sim::M().totalAllocations, 2);
}

TEST_F(RegistrySimTest, CreateOpensOrMakesTheKeyAndValuesAreKeptByNameWithoutCase) {
  HKEY key;
  DWORD disposition = 0;
  ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\A\\B", 0, NULL, 0, KEY_SET_VALUE,
                            NULL, &key, &disposition),
            ERROR_SUCCESS);
  EXPECT_EQ(disposition, (DWORD)REG_CREATED_NEW_KEY);
  DWORD one = 1;
  EXPECT_EQ(RegSetValueExA(key, "Size", 0, REG_DWORD, (const BYTE*)&one, 4), ERROR_SUCCESS);
  EXPECT_EQ(RegSetValueExA(key, "NAME", 0, REG_SZ, (const BYTE*)"x", 2), ERROR_SUCCESS);
  EXPECT_EQ(RegSetValueExA(key, "name", 0, REG_SZ, (const BYTE*)"yz", 3), ERROR_SUCCESS);
  EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
  DWORD type = 0;
  std::string data;
  ASSERT_TRUE(sim::GetValue("HKLM\\software\\a\\b", "Name", &type, &data));
  EXPECT_EQ(type, (DWORD)REG_SZ);
  EXPECT_EQ(data, std::string("yz", 3));
  EXPECT_EQ(sim::ValuesOf("HKLM\\SOFTWARE\\A\\B").size(), 2u);
  // Read back through the registry, by any case, with the size asked first.
  ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\A\\B", 0, KEY_QUERY_VALUE, &key),
            ERROR_SUCCESS);
  char read[8];
  DWORD size = 0;
  EXPECT_EQ(RegQueryValueExA(key, "NaMe", NULL, &type, NULL, &size), ERROR_SUCCESS);
  EXPECT_EQ(size, 3u);
  EXPECT_EQ(RegQueryValueExA(key, "name", NULL, &type, (LPBYTE)read, &size), ERROR_SUCCESS);
  EXPECT_EQ(std::string(read, size), std::string("yz", 3));
  EXPECT_EQ(RegQueryValueExA(key, "other", NULL, &type, (LPBYTE)read, &size),
            ERROR_FILE_NOT_FOUND);
  RegCloseKey(key);
  // Values show in the registry's picture, so that comparisons see them.
  bool shown = false;
  for (const auto& k : sim::AllKeys())
    shown |= k.first == "HKLM\\SOFTWARE\\A\\B" &&
             k.second.find(std::string(";value:name=1:yz", 16)) != std::string::npos;
  EXPECT_TRUE(shown);
  // Opened again it exists; a handle without KEY_SET_VALUE writes nothing.
  ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\A\\B", 0, NULL, 0, KEY_READ, NULL,
                            &key, &disposition),
            ERROR_SUCCESS);
  EXPECT_EQ(disposition, (DWORD)REG_OPENED_EXISTING_KEY);
  EXPECT_EQ(RegSetValueExA(key, "Size", 0, REG_DWORD, (const BYTE*)&one, 4), ERROR_ACCESS_DENIED);
  RegCloseKey(key);
  // A key with values and no subkeys is deleted whole.
  EXPECT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\A\\B"), ERROR_SUCCESS);
  EXPECT_FALSE(sim::KeyExists("HKLM\\SOFTWARE\\A\\B"));
}

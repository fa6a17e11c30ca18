// Legacy service removal and the registry it works on, on either platform: the simulated
// registry on the host, the real one in a throwaway Wine prefix.
#include "actions/actions.h"
#include "fixture.h"
#include "fixture_registry.h"

using Names = std::vector<std::string>;

namespace {

const std::string kServices = "SYSTEM\\CurrentControlSet\\Services";

std::string Svc(const std::string& name) { return kServices + "\\" + name; }

bool Contains(const Names& names, const std::string& name) {
  for (const std::string& n : names)
    if (n == name) return true;
  return false;
}

void ExpectAdminsOnly(const std::string& path) {
  FixtureDacl dacl = FixtureKeyDacl(path);
  ASSERT_TRUE(dacl.read) << path;
  EXPECT_EQ(dacl.revision, 2);
  EXPECT_EQ(dacl.size, 32);
  ASSERT_EQ(dacl.aces.size(), 1u);
  EXPECT_EQ(dacl.aces[0].type, 0);   // access allowed
  EXPECT_EQ(dacl.aces[0].flags, 0);  // not inherited by subkeys
  EXPECT_EQ(dacl.aces[0].mask, 0xF003Fu);
  EXPECT_EQ(dacl.aces[0].sid, "S-1-5-32-544");
}

}  // namespace

class LegacyPortableTest : public PortableTest {
 protected:
  void TearDown() override {
    for (const char* name : {"ktawdrsv", "ktawdrex", "xktawdrex", "KTAWDRSV", "SetupAclProbe"})
      FixtureDeleteTree(Svc(name));
    FixtureDeleteTree("SOFTWARE\\SetupOrderProbe");
    PortableTest::TearDown();
  }
};

TEST_F(LegacyPortableTest, NothingToRemoveLeavesTheServicesAsTheyWere) {
  Names before = FixtureSubkeys(kServices);
  EXPECT_EQ(RemoveLegacyServices(), 0);
  EXPECT_EQ(FixtureSubkeys(kServices), before);
}

TEST_F(LegacyPortableTest, RemovesChildrenAndGrandchildrenOverPassesAndRuns) {
  ASSERT_TRUE(FixtureAddKey(Svc("ktawdrex")));
  for (const char* g : {"a1", "a2", "a3"}) ASSERT_TRUE(FixtureAddKey(Svc("ktawdrsv\\A\\") + g));
  ASSERT_TRUE(FixtureAddKey(Svc("ktawdrsv\\B\\b1")));

  // Pass 1 deletes ktawdrex, and ktawdrsv moves into its slot unseen. Pass 2 reaches
  // ktawdrsv once: a1 and a3, B with b1; A (holding a2) and the service key stay.
  EXPECT_EQ(RemoveLegacyServices(), 1);
  EXPECT_FALSE(FixtureKeyExists(Svc("ktawdrex")));
  EXPECT_EQ(FixtureSubkeys(Svc("ktawdrsv")), (Names{"A"}));
  EXPECT_EQ(FixtureSubkeys(Svc("ktawdrsv\\A")), (Names{"a2"}));
  ExpectAdminsOnly(Svc("ktawdrsv"));

  // The next run finds the rest with the Administrators-only access list and finishes.
  EXPECT_EQ(RemoveLegacyServices(), 1);
  EXPECT_FALSE(FixtureKeyExists(Svc("ktawdrsv")));
}

TEST_F(LegacyPortableTest, NamesMatchAsSubstringsWithTheirCase) {
  ASSERT_TRUE(FixtureAddKey(Svc("KTAWDRSV\\child")));
  ASSERT_TRUE(FixtureAddKey(Svc("xktawdrex")));
  EXPECT_EQ(RemoveLegacyServices(), 1);
  EXPECT_TRUE(FixtureKeyExists(Svc("KTAWDRSV\\child")));
  EXPECT_FALSE(Contains(FixtureSubkeys(kServices), "xktawdrex"));
}

TEST_F(LegacyPortableTest, AccessResetWritesOneAdministratorsEntry) {
  ASSERT_TRUE(FixtureAddKey(Svc("SetupAclProbe\\child")));
  HKEY services;
  ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Services\\", 0,
                          KEY_READ, &services),
            ERROR_SUCCESS);
  EXPECT_EQ(GrantAdminsFullControl(services, "SetupAclProbe"), 0);
  EXPECT_EQ(GrantAdminsFullControl(services, "SetupAclProbeMissing"), 1);
  RegCloseKey(services);
  ExpectAdminsOnly(Svc("SetupAclProbe"));
  FixtureDacl child = FixtureKeyDacl(Svc("SetupAclProbe\\child"));
  ASSERT_TRUE(child.read);
  EXPECT_GT(child.aces.size(), 1u);  // the subkey keeps its own list
}

// What the removal relies on from the registry itself.
TEST_F(LegacyPortableTest, RegistryBehavesAsTheRemovalExpects) {
  const std::string probe = "SOFTWARE\\SetupOrderProbe";
  for (const char* name : {"b", "c9", "A", "Zeta"}) ASSERT_TRUE(FixtureAddKey(probe + "\\" + name));
  ASSERT_TRUE(FixtureAddKey(probe + "\\b\\inner"));
  EXPECT_EQ(FixtureSubkeys(probe), (Names{"A", "b", "c9", "Zeta"}));  // sorted without case

  HKEY key;
  ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "software\\setuporderprobe\\", 0, KEY_READ, &key),
            ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteKeyA(key, "B"), ERROR_ACCESS_DENIED);  // it has a subkey
  EXPECT_EQ(RegDeleteKeyA(key, "zeta"), ERROR_SUCCESS);      // a read-only parent will do
  EXPECT_EQ(RegDeleteKeyA(key, "missing"), ERROR_FILE_NOT_FOUND);

  char name[512];
  DWORD capacity = 2;
  name[0] = 'x';
  // "c9" does not fit in two characters: reported, and neither name nor count written.
  EXPECT_EQ(RegEnumKeyExA(key, 2, name, &capacity, NULL, NULL, NULL, NULL), ERROR_MORE_DATA);
  EXPECT_EQ(name[0], 'x');
  EXPECT_EQ(capacity, 2u);
  EXPECT_EQ(RegEnumKeyExA(key, 0, name, &capacity, NULL, NULL, NULL, NULL), ERROR_SUCCESS);
  EXPECT_STREQ(name, "A");
  EXPECT_EQ(capacity, 1u);
  capacity = sizeof name;
  EXPECT_EQ(RegEnumKeyExA(key, 3, name, &capacity, NULL, NULL, NULL, NULL), ERROR_NO_MORE_ITEMS);

  HKEY a;
  ASSERT_EQ(RegOpenKeyExA(key, "a", 0, READ_CONTROL, &a), ERROR_SUCCESS);
  DWORD size = 0;
  EXPECT_EQ(RegGetKeySecurity(a, DACL_SECURITY_INFORMATION, NULL, &size),
            ERROR_INSUFFICIENT_BUFFER);
  EXPECT_GT(size, 20u);
  RegCloseKey(a);
  RegCloseKey(key);
}

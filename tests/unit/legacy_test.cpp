// Legacy service removal on the simulated registry: which keys each pass deletes, the
// result, the access list written, and that nothing is left open or allocated.
#include <string.h>

#include "actions/actions.h"
#include "sim_test.h"

using sim::CallsTo;
using sim::KeyExists;
using sim::SubkeysOf;
using Names = std::vector<std::string>;

namespace {

std::string Svc(const std::string& name) { return std::string(SIM_SERVICES_PATH "\\") + name; }

// The access list that the access reset writes: one entry, Administrators, full control.
const BYTE kAdminsOnlyDacl[32] = {
    2, 0, 32, 0, 1, 0, 0, 0,                      // ACL: revision 2, 32 bytes, one entry
    0, 0, 24, 0, 0x3F, 0x00, 0x0F, 0x00,          // allowed, no flags, 24 bytes, 0xF003F
    1, 2, 0, 0, 0, 0, 0, 5, 32, 0, 0, 0, 0x20, 0x02, 0, 0};  // S-1-5-32-544

bool AdminsOnly(const std::string& path) {
  std::vector<BYTE> dacl = sim::KeyDacl(path);
  return dacl.size() == sizeof kAdminsOnlyDacl &&
         memcmp(dacl.data(), kAdminsOnlyDacl, sizeof kAdminsOnlyDacl) == 0;
}

// The arguments of every RegDeleteKeyA call, as "parent|name".
Names Deletions() {
  Names out;
  for (const sim::CallRecord& c : CallsTo("RegDeleteKeyA")) out.push_back(c.args[0] + "|" + c.args[1]);
  return out;
}

int ServicesOpens() {
  int n = 0;
  for (const sim::CallRecord& c : CallsTo("RegOpenKeyExA"))
    if (c.args[0] == "HKLM") n++;
  return n;
}

}  // namespace

class LegacyTest : public SimTest {
 protected:
  void SetUp() override {
    SimTest::SetUp();
    for (const char* other : {"EventLog", "Tcpip", "W32Time"}) sim::AddKey(Svc(other));
  }
  // Every path: no key handle open, every heap block and SID released.
  void TearDown() override {
    EXPECT_EQ(sim::OpenHandles(sim::HandleKind::Key), 0);
    EXPECT_EQ(sim::M().liveAllocations, 0);
    EXPECT_EQ(sim::LiveHeapBlocks(), 0);
    EXPECT_EQ(sim::LiveSids(), 0);
  }
};

TEST_F(LegacyTest, NeitherServicePresentMakesTwoFullPassesAndChangesNothing) {
  EXPECT_EQ(RemoveLegacyServices(), 0);
  EXPECT_EQ(SubkeysOf(SIM_SERVICES_PATH), (Names{"EventLog", "Tcpip", "W32Time"}));
  std::vector<sim::CallRecord> opens = CallsTo("RegOpenKeyExA");
  ASSERT_EQ(opens.size(), 2u);
  for (const sim::CallRecord& c : opens)
    EXPECT_EQ(c.args, (Names{"HKLM", "SYSTEM\\CurrentControlSet\\Services\\", "0x0", "0x20019"}));
  // Indices 0 to 3 in each pass, the last one answering "no more items"; capacity 512 each.
  std::vector<sim::CallRecord> enums = CallsTo("RegEnumKeyExA");
  ASSERT_EQ(enums.size(), 8u);
  for (size_t i = 0; i < enums.size(); i++) {
    EXPECT_EQ(enums[i].args[1], sim::Dec(i % 4));
    EXPECT_EQ(enums[i].args[2], "512");
    EXPECT_EQ(enums[i].args[4], "NULL");  // no class
    EXPECT_EQ(enums[i].args[6], "ptr");   // last-write time received
  }
  EXPECT_EQ(sim::CountCalls("RegDeleteKeyA"), 0);
  EXPECT_EQ(sim::CountCalls("RegCloseKey"), 2);
}

TEST_F(LegacyTest, OneServiceWithoutSubkeysIsDeletedAndTheSecondPassStillRuns) {
  sim::AddKey(Svc("ktawdrsv"));
  EXPECT_EQ(RemoveLegacyServices(), 1);
  EXPECT_FALSE(KeyExists(Svc("ktawdrsv")));
  EXPECT_EQ(Deletions(), (Names{SIM_SERVICES_PATH "|ktawdrsv"}));
  EXPECT_EQ(ServicesOpens(), 2);
  EXPECT_EQ(SubkeysOf(SIM_SERVICES_PATH), (Names{"EventLog", "Tcpip", "W32Time"}));
}

TEST_F(LegacyTest, ServiceMovedIntoTheFreedSlotWaitsForTheSecondPass) {
  sim::AddKey(Svc("ktawdrex"));
  sim::AddKey(Svc("ktawdrsv"));
  EXPECT_EQ(RemoveLegacyServices(), 1);
  EXPECT_FALSE(KeyExists(Svc("ktawdrex")));
  EXPECT_FALSE(KeyExists(Svc("ktawdrsv")));
  EXPECT_EQ(Deletions(), (Names{SIM_SERVICES_PATH "|ktawdrex", SIM_SERVICES_PATH "|ktawdrsv"}));
  // ktawdrsv is first opened after the services key's second opening.
  std::vector<sim::CallRecord> opens = CallsTo("RegOpenKeyExA");
  int servicesOpens = 0;
  for (const sim::CallRecord& c : opens) {
    if (c.args[0] == "HKLM") servicesOpens++;
    if (c.args[1] == "ktawdrsv") EXPECT_EQ(servicesOpens, 2);
  }
  EXPECT_EQ(servicesOpens, 2);  // both flags set after pass 2: no third pass
}

TEST_F(LegacyTest, BothRemovedInTheFirstPassMeansNoSecondPass) {
  sim::AddKey(Svc("ktawdrex"));
  sim::AddKey(Svc("ktawdrMid"));
  sim::AddKey(Svc("ktawdrsv"));
  EXPECT_EQ(RemoveLegacyServices(), 1);
  EXPECT_EQ(ServicesOpens(), 1);
  EXPECT_EQ(SubkeysOf(SIM_SERVICES_PATH), (Names{"EventLog", "ktawdrMid", "Tcpip", "W32Time"}));
}

TEST_F(LegacyTest, TwoChildrenTakeBothPasses) {
  sim::AddKey(Svc("ktawdrsv\\c1"));
  sim::AddKey(Svc("ktawdrsv\\c2"));
  EXPECT_EQ(RemoveLegacyServices(), 1);
  EXPECT_FALSE(KeyExists(Svc("ktawdrsv")));
  EXPECT_EQ(Deletions(), (Names{Svc("ktawdrsv") + "|c1", SIM_SERVICES_PATH "|ktawdrsv",
                                Svc("ktawdrsv") + "|c2", SIM_SERVICES_PATH "|ktawdrsv"}));
}

TEST_F(LegacyTest, AfterTheFirstPassTheServiceKeepsTheSecondChildAndAdminsOnlyAccess) {
  sim::AddKey(Svc("ktawdrsv\\c1"));
  sim::AddKey(Svc("ktawdrsv\\c2"));
  sim::InjectFault("RegOpenKeyExA", ERROR_ACCESS_DENIED, SIM_SERVICES_PATH, 1, 1);
  EXPECT_EQ(RemoveLegacyServices(), 0);
  EXPECT_EQ(SubkeysOf(Svc("ktawdrsv")), (Names{"c2"}));
  EXPECT_TRUE(AdminsOnly(Svc("ktawdrsv")));
}

TEST_F(LegacyTest, FourChildrenLeaveTheFourthAndTheServiceKey) {
  for (const char* c : {"c1", "c2", "c3", "c4"}) sim::AddKey(Svc("ktawdrsv\\") + c);
  EXPECT_EQ(RemoveLegacyServices(), 0);
  EXPECT_EQ(SubkeysOf(Svc("ktawdrsv")), (Names{"c4"}));
  EXPECT_TRUE(AdminsOnly(Svc("ktawdrsv")));
  Names childDeletions;
  for (const std::string& d : Deletions())
    if (d.rfind(Svc("ktawdrsv") + "|", 0) == 0) childDeletions.push_back(d.substr(d.find('|') + 1));
  EXPECT_EQ(childDeletions, (Names{"c1", "c3", "c2"}));
}

TEST_F(LegacyTest, GrandchildrenAreDeletedEverySecondOnePerPass) {
  for (const char* g : {"a1", "a2", "a3"}) sim::AddKey(Svc("ktawdrex\\A\\") + g);
  sim::AddKey(Svc("ktawdrex\\B\\b1"));
  EXPECT_EQ(RemoveLegacyServices(), 1);
  EXPECT_FALSE(KeyExists(Svc("ktawdrex")));
  // Pass 1: a1 and a3, then A fails (a2 is left); B's b1, then B; the service key fails.
  // Pass 2: a2, A, the service key.
  EXPECT_EQ(Deletions(),
            (Names{Svc("ktawdrex\\A") + "|a1", Svc("ktawdrex\\A") + "|a3", Svc("ktawdrex") + "|A",
                   Svc("ktawdrex\\B") + "|b1", Svc("ktawdrex") + "|B",
                   SIM_SERVICES_PATH "|ktawdrex", Svc("ktawdrex\\A") + "|a2",
                   Svc("ktawdrex") + "|A", SIM_SERVICES_PATH "|ktawdrex"}));
}

TEST_F(LegacyTest, NamesAreMatchedAsSubstringsWithTheirCase) {
  sim::AddKey(Svc("KTAWDRSV"));
  sim::AddKey(Svc("KtawdrEx\\child"));
  EXPECT_EQ(RemoveLegacyServices(), 0);
  EXPECT_TRUE(KeyExists(Svc("KTAWDRSV")));
  EXPECT_TRUE(KeyExists(Svc("KtawdrEx\\child")));
  EXPECT_EQ(ServicesOpens(), sim::CountCalls("RegOpenKeyExA"));  // no service key opened
  EXPECT_EQ(sim::CountCalls("RegDeleteKeyA"), 0);

  sim::Reset();
  sim::AddKey(Svc("ktawdrsvc"));
  sim::AddKey(Svc("xktawdrex"));
  EXPECT_EQ(RemoveLegacyServices(), 1);
  EXPECT_EQ(SubkeysOf(SIM_SERVICES_PATH), Names{});
}

TEST_F(LegacyTest, FailedAccessResetLeavesAKeyWithoutChildrenCountedAsRemoved) {
  sim::AddKey(Svc("ktawdrsv"));
  sim::InjectFault("RegGetKeySecurity", ERROR_ACCESS_DENIED, Svc("ktawdrsv"));
  EXPECT_EQ(RemoveLegacyServices(), 1);
  EXPECT_TRUE(KeyExists(Svc("ktawdrsv")));
  EXPECT_EQ(sim::CountCalls("RegDeleteKeyA"), 0);
  EXPECT_EQ(ServicesOpens(), 2);
}

TEST_F(LegacyTest, FailedAccessResetWithChildrenIsDecidedByTheLastChildStep) {
  // The only child deleted: counted as removed though the service key stays.
  sim::AddKey(Svc("ktawdrsv\\c1"));
  sim::InjectFault("RegSetKeySecurity", ERROR_ACCESS_DENIED, Svc("ktawdrsv"));
  EXPECT_EQ(RemoveLegacyServices(), 1);
  EXPECT_TRUE(KeyExists(Svc("ktawdrsv")));
  EXPECT_EQ(SubkeysOf(Svc("ktawdrsv")), Names{});

  // The child cannot be deleted (its own child is locked against deletion): not removed.
  sim::Reset();
  sim::AddKey(Svc("ktawdrsv\\c1\\g1"));
  sim::DenyKeyAccess(Svc("ktawdrsv\\c1\\g1"), DELETE);
  sim::InjectFault("RegSetKeySecurity", ERROR_ACCESS_DENIED, Svc("ktawdrsv"));
  EXPECT_EQ(RemoveLegacyServices(), 0);
  EXPECT_TRUE(KeyExists(Svc("ktawdrsv\\c1\\g1")));

  // The last child could not be opened: its open's status decides.
  sim::Reset();
  sim::AddKey(Svc("ktawdrsv\\c1"));
  sim::AddKey(Svc("ktawdrsv\\c2"));
  sim::InjectFault("RegOpenKeyExA", ERROR_ACCESS_DENIED, Svc("ktawdrsv\\c1"));
  sim::InjectFault("RegSetKeySecurity", ERROR_ACCESS_DENIED, Svc("ktawdrsv"));
  EXPECT_EQ(RemoveLegacyServices(), 1);  // pass 1: c1 refused, c2 deleted
  EXPECT_EQ(SubkeysOf(Svc("ktawdrsv")), (Names{"c1"}));

  // Pass 1 sets the flag (c1 deleted, c2 not reached); pass 2 fails on c2's open, and the
  // flag stays set.
  sim::Reset();
  sim::AddKey(Svc("ktawdrsv\\c1"));
  sim::AddKey(Svc("ktawdrsv\\c2"));
  sim::InjectFault("RegOpenKeyExA", ERROR_ACCESS_DENIED, Svc("ktawdrsv\\c2"));
  sim::InjectFault("RegSetKeySecurity", ERROR_ACCESS_DENIED, Svc("ktawdrsv"));
  EXPECT_EQ(RemoveLegacyServices(), 1);
  EXPECT_EQ(SubkeysOf(Svc("ktawdrsv")), (Names{"c2"}));

  // The only child refused: its open's status decides in both passes.
  sim::Reset();
  sim::AddKey(Svc("ktawdrsv\\c1"));
  sim::InjectFault("RegOpenKeyExA", ERROR_ACCESS_DENIED, Svc("ktawdrsv\\c1"));
  sim::InjectFault("RegSetKeySecurity", ERROR_ACCESS_DENIED, Svc("ktawdrsv"));
  EXPECT_EQ(RemoveLegacyServices(), 0);
  EXPECT_EQ(SubkeysOf(Svc("ktawdrsv")), (Names{"c1"}));
}

TEST_F(LegacyTest, ServiceKeyThatCannotBeOpenedWithFullAccessIsSkipped) {
  sim::AddKey(Svc("ktawdrsv\\c1"));
  sim::DenyKeyAccess(Svc("ktawdrsv"), KEY_SET_VALUE);
  EXPECT_EQ(RemoveLegacyServices(), 0);
  EXPECT_TRUE(KeyExists(Svc("ktawdrsv\\c1")));
  EXPECT_EQ(sim::CountCalls("RegGetKeySecurity"), 0);
  std::vector<sim::CallRecord> opens = CallsTo("RegOpenKeyExA");
  ASSERT_EQ(opens.size(), 4u);
  EXPECT_EQ(opens[1].args, (Names{SIM_SERVICES_PATH, "ktawdrsv", "0x0", "0xf003f"}));
}

TEST_F(LegacyTest, ServicesKeyUnopenableInBothPassesGivesZero) {
  sim::AddKey(Svc("ktawdrsv"));
  sim::InjectFault("RegOpenKeyExA", ERROR_ACCESS_DENIED, SIM_SERVICES_PATH);
  EXPECT_EQ(RemoveLegacyServices(), 0);
  EXPECT_TRUE(KeyExists(Svc("ktawdrsv")));
  EXPECT_EQ(sim::CountCalls("RegOpenKeyExA"), 2);
  EXPECT_EQ(sim::CountCalls("RegCloseKey"), 0);
}

TEST_F(LegacyTest, EnumerationFailureEndsThePassAndNameTooLongIsPassedOver) {
  // A failing enumeration at index 0 ends each pass at once.
  sim::AddKey(Svc("ktawdrsv"));
  sim::InjectFault("RegEnumKeyExA", ERROR_ACCESS_DENIED, SIM_SERVICES_PATH);
  EXPECT_EQ(RemoveLegacyServices(), 0);
  EXPECT_TRUE(KeyExists(Svc("ktawdrsv")));

  // A name longer than the buffer is reported with ERROR_MORE_DATA: the enumeration goes
  // on past it, and an empty name is never opened in place of the child.
  sim::Reset();
  std::string longName(600, 'a');
  sim::AddKey(Svc(longName));
  sim::AddKey(Svc("ktawdrsv\\" + longName));
  sim::AddKey(Svc("ktawdrsv\\c1\\" + longName));  // an empty grandchild name too
  EXPECT_EQ(RemoveLegacyServices(), 0);
  EXPECT_TRUE(KeyExists(Svc(longName)));
  EXPECT_EQ(SubkeysOf(Svc("ktawdrsv")), (Names{longName, "c1"}));
  EXPECT_EQ(SubkeysOf(Svc("ktawdrsv\\c1")), (Names{longName}));
  for (const sim::CallRecord& c : CallsTo("RegOpenKeyExA")) EXPECT_NE(c.args[1], "");
  for (const sim::CallRecord& c : CallsTo("RegDeleteKeyA")) EXPECT_NE(c.args[1], "");
}

// Names that cannot be used as they were delivered are never opened or deleted: one with a
// NUL in it (by name it reaches another key, compared without case), and one too long for
// the buffer, which must not leave the name before it behind.
TEST_F(LegacyTest, UnusableNamesReachNoOtherKey) {
  const std::string hidden = std::string("ktawdrsv\0x", 10);
  struct Case {
    std::vector<std::string> keys;
    const char* denied;       // opened with full access: refused
    int legacyOpens;          // opens of "ktawdrsv" below the services key
  } cases[] = {
      {{"KTAWDRSV\\c1", hidden}, nullptr, 0},
      {{"ktawdrsv\\c1", "ktawdrsv" + std::string(600, 'x')}, "ktawdrsv", 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.keys[1].substr(0, 12));
    sim::Reset();
    for (const std::string& k : c.keys) sim::AddKey(Svc(k));
    if (c.denied) sim::DenyKeyAccess(Svc(c.denied), KEY_SET_VALUE);
    EXPECT_EQ(RemoveLegacyServices(), 0);
    for (const std::string& k : c.keys) EXPECT_TRUE(KeyExists(Svc(k)));
    EXPECT_EQ(sim::KeyDacl(Svc(c.keys[0])), sim::KeyDacl(SIM_SERVICES_PATH));
    EXPECT_EQ(sim::CountCalls("RegDeleteKeyA"), 0);
    int opens = 0;
    for (const sim::CallRecord& call : CallsTo("RegOpenKeyExA"))
      if (call.args[0] == SIM_SERVICES_PATH && call.args[1] == "ktawdrsv") opens++;
    EXPECT_EQ(opens, c.legacyOpens);
  }
}

class GrantTest : public LegacyTest {
 protected:
  // Runs the access reset on a subkey of the services key, as the removal does.
  int Grant(const char* name) {
    HKEY services;
    EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Services\\", 0,
                            KEY_READ, &services),
              ERROR_SUCCESS);
    sim::M().calls.clear();
    int result = GrantAdminsFullControl(services, name);
    RegCloseKey(services);
    return result;
  }
};

TEST_F(GrantTest, WritesOneEntryForAdministratorsWithFullKeyAccess) {
  sim::AddKey(Svc("ktawdrsv\\child"));
  std::vector<BYTE> childBefore = sim::KeyDacl(Svc("ktawdrsv\\child"));
  ASSERT_EQ(Grant("ktawdrsv"), 0);

  std::vector<BYTE> dacl = sim::KeyDacl(Svc("ktawdrsv"));
  ASSERT_EQ(dacl.size(), 32u);
  EXPECT_EQ(dacl[0], ACL_REVISION);
  EXPECT_EQ(dacl[2] | dacl[3] << 8, 32);        // ACL length
  EXPECT_EQ(dacl[4] | dacl[5] << 8, 1);         // one entry
  EXPECT_EQ(dacl[8], ACCESS_ALLOWED_ACE_TYPE);
  EXPECT_EQ(dacl[9], 0);                        // not inherited by subkeys
  EXPECT_EQ(dacl[10] | dacl[11] << 8, 24);      // entry size
  DWORD mask;
  memcpy(&mask, &dacl[12], 4);
  EXPECT_EQ(mask, 0xF003Fu);
  const BYTE admins[16] = {1, 2, 0, 0, 0, 0, 0, 5, 32, 0, 0, 0, 0x20, 0x02, 0, 0};
  EXPECT_EQ(memcmp(&dacl[16], admins, 16), 0);
  EXPECT_EQ(sim::KeyDacl(Svc("ktawdrsv\\child")), childBefore);  // only the key itself

  std::vector<sim::CallRecord> opens = CallsTo("RegOpenKeyExA");
  ASSERT_EQ(opens.size(), 2u);
  EXPECT_EQ(opens[0].args[3], "0x20000");  // READ_CONTROL
  EXPECT_EQ(opens[1].args[3], "0x40000");  // WRITE_DAC
  std::vector<sim::CallRecord> gets = CallsTo("RegGetKeySecurity");
  ASSERT_EQ(gets.size(), 2u);
  EXPECT_EQ(gets[0].args, (Names{Svc("ktawdrsv"), "0x4", "NULL", "0"}));
  EXPECT_EQ(gets[1].args[2], "ptr");
  std::vector<sim::CallRecord> allocs = CallsTo("HeapAlloc");
  ASSERT_EQ(allocs.size(), 2u);
  EXPECT_EQ(allocs[0].args[1], "0x0");
  EXPECT_EQ(allocs[1].args, (Names{"ptr", "0x0", "32"}));
  EXPECT_EQ(CallsTo("AllocateAndInitializeSid")[0].args,
            (Names{"0,0,0,0,0,5", "2", "32", "544", "0", "0", "0", "0", "0", "0", "ptr"}));
  EXPECT_EQ(CallsTo("InitializeAcl")[0].args, (Names{"ptr", "32", "2"}));
  EXPECT_EQ(CallsTo("AddAccessAllowedAce")[0].args, (Names{"ptr", "2", "0xf003f", "ptr"}));
  EXPECT_EQ(CallsTo("InitializeSecurityDescriptor")[0].args[1], "1");
  EXPECT_EQ(CallsTo("SetSecurityDescriptorDacl")[0].args, (Names{"ptr", "1", "ptr", "0"}));
  EXPECT_EQ(CallsTo("RegSetKeySecurity")[0].args, (Names{Svc("ktawdrsv"), "0x4", "ptr"}));
  EXPECT_EQ(sim::CountCalls("HeapFree"), 2);
  EXPECT_EQ(sim::CountCalls("FreeSid"), 1);
}

TEST_F(GrantTest, UnreadableAccessListChangesNothing) {
  sim::AddKey(Svc("ktawdrsv"));
  std::vector<BYTE> before = sim::KeyDacl(Svc("ktawdrsv"));
  sim::DenyKeyAccess(Svc("ktawdrsv"), READ_CONTROL);
  EXPECT_EQ(Grant("ktawdrsv"), 1);
  EXPECT_EQ(sim::KeyDacl(Svc("ktawdrsv")), before);
  EXPECT_EQ(sim::CountCalls("RegGetKeySecurity"), 0);
  EXPECT_EQ(sim::CountCalls("RegSetKeySecurity"), 0);
  EXPECT_EQ(Grant("missing"), 1);
}

TEST_F(GrantTest, EveryFailingStepAnswersOneAndReleasesEverything) {
  struct Case {
    const char* op;
    DWORD error;
    int skip;
  } cases[] = {
      {"RegGetKeySecurity", ERROR_SUCCESS, 0},      // the size query must not succeed
      {"RegGetKeySecurity", ERROR_ACCESS_DENIED, 0},
      {"RegGetKeySecurity", ERROR_ACCESS_DENIED, 1},  // the read itself
      {"HeapAlloc", ERROR_NOT_ENOUGH_MEMORY, 0},
      {"HeapAlloc", ERROR_NOT_ENOUGH_MEMORY, 1},    // the DACL
      {"RegOpenKeyExA", ERROR_ACCESS_DENIED, 1},    // the WRITE_DAC open
      {"AllocateAndInitializeSid", ERROR_NOT_ENOUGH_MEMORY, 0},
      {"InitializeAcl", ERROR_INVALID_PARAMETER, 0},
      {"AddAccessAllowedAce", ERROR_ALLOTTED_SPACE_EXCEEDED, 0},
      {"InitializeSecurityDescriptor", ERROR_UNKNOWN_REVISION, 0},
      {"SetSecurityDescriptorDacl", ERROR_INVALID_SECURITY_DESCR, 0},
      {"RegSetKeySecurity", ERROR_ACCESS_DENIED, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.op) + " skip " + std::to_string(c.skip));
    sim::Reset();
    sim::AddKey(Svc("ktawdrsv"));
    std::vector<BYTE> before = sim::KeyDacl(Svc("ktawdrsv"));
    sim::InjectFault(c.op, c.error, "", 1, c.skip);
    EXPECT_EQ(Grant("ktawdrsv"), 1);
    EXPECT_EQ(sim::KeyDacl(Svc("ktawdrsv")), before);
    EXPECT_EQ(sim::OpenHandles(sim::HandleKind::Key), 0);
    EXPECT_EQ(sim::M().liveAllocations, 0);
    EXPECT_EQ(sim::LiveSids(), 0);
    EXPECT_EQ(sim::CountCalls("HeapAlloc"), sim::CountCalls("HeapFree") + (c.op == std::string("HeapAlloc") ? 1 : 0));
  }
}

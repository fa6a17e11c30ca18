// Administrators-only security descriptors, in a caller's fixed buffer.
#include "security.h"

#include <string.h>

// An entry without inheritance flags is added as it always was.
static BOOL AddAce(PACL acl, DWORD inherit, DWORD rights, PSID sid) {
  return inherit ? AddAccessAllowedAceEx(acl, ACL_REVISION, inherit, rights, sid)
                 : AddAccessAllowedAce(acl, ACL_REVISION, rights, sid);
}

// `usersRights` 0: no entry for Users. `inherit`: the entries' inheritance flags.
static int MakeDescriptor(AdminsOnly* security, DWORD rights, DWORD usersRights, DWORD inherit) {
  memset(security, 0, sizeof *security);
  SID_IDENTIFIER_AUTHORITY ntAuthority = {SECURITY_NT_AUTHORITY};
  PACL acl = (PACL)security->acl;
  if (!AllocateAndInitializeSid(&ntAuthority, 1, SECURITY_LOCAL_SYSTEM_RID, 0, 0, 0, 0, 0, 0, 0,
                                &security->system) ||
      !AllocateAndInitializeSid(&ntAuthority, 2, SECURITY_BUILTIN_DOMAIN_RID,
                                DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0, 0, &security->admins) ||
      !InitializeAcl(acl, sizeof security->acl, ACL_REVISION) ||
      !AddAce(acl, inherit, rights, security->system) ||
      !AddAce(acl, inherit, rights, security->admins) ||
      (usersRights &&
       (!AllocateAndInitializeSid(&ntAuthority, 2, SECURITY_BUILTIN_DOMAIN_RID,
                                  DOMAIN_ALIAS_RID_USERS, 0, 0, 0, 0, 0, 0, &security->users) ||
        !AddAce(acl, inherit, usersRights, security->users))) ||
      !InitializeSecurityDescriptor(&security->descriptor, SECURITY_DESCRIPTOR_REVISION) ||
      !SetSecurityDescriptorDacl(&security->descriptor, TRUE, acl, FALSE) ||
      !SetSecurityDescriptorControl(&security->descriptor, SE_DACL_PROTECTED,
                                    SE_DACL_PROTECTED))
    return 0;
  security->attributes.nLength = sizeof security->attributes;
  security->attributes.lpSecurityDescriptor = &security->descriptor;
  security->attributes.bInheritHandle = FALSE;
  return 1;
}

int MakeAdminsOnly(AdminsOnly* security, DWORD rights) {
  return MakeDescriptor(security, rights, 0, 0);
}

int MakeAdminsFolder(AdminsOnly* security) {
  return MakeDescriptor(security, FILE_ALL_ACCESS, FILE_GENERIC_READ | FILE_GENERIC_EXECUTE,
                        OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE);
}

void FreeAdminsOnly(AdminsOnly* security) {
  if (security->system) FreeSid(security->system);
  if (security->admins) FreeSid(security->admins);
  if (security->users) FreeSid(security->users);
  security->system = security->admins = security->users = NULL;
}

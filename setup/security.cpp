// Administrators-only security descriptors, in a caller's fixed buffer.
#include "security.h"

#include <string.h>

int MakeAdminsOnly(AdminsOnly* security, DWORD rights) {
  memset(security, 0, sizeof *security);
  SID_IDENTIFIER_AUTHORITY ntAuthority = {SECURITY_NT_AUTHORITY};
  PACL acl = (PACL)security->acl;
  if (!AllocateAndInitializeSid(&ntAuthority, 1, SECURITY_LOCAL_SYSTEM_RID, 0, 0, 0, 0, 0, 0, 0,
                                &security->system) ||
      !AllocateAndInitializeSid(&ntAuthority, 2, SECURITY_BUILTIN_DOMAIN_RID,
                                DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0, 0, &security->admins) ||
      !InitializeAcl(acl, sizeof security->acl, ACL_REVISION) ||
      !AddAccessAllowedAce(acl, ACL_REVISION, rights, security->system) ||
      !AddAccessAllowedAce(acl, ACL_REVISION, rights, security->admins) ||
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

void FreeAdminsOnly(AdminsOnly* security) {
  if (security->system) FreeSid(security->system);
  if (security->admins) FreeSid(security->admins);
  security->system = security->admins = NULL;
}

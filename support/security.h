// Security descriptors that let only SYSTEM and the Administrators group at what the elevated
// run makes: the lock, the log and its folder, the folder that the removal's own program
// leaves into.
#ifndef SUPPORT_SECURITY_H
#define SUPPORT_SECURITY_H

#include "../platform/win32.h"

// The ACL header, then two entries (header and mask, and the SIDs of SYSTEM, one part, and of
// Administrators, two parts), and room for a third (Users, two parts).
#define ADMINS_ONLY_ACL_SIZE (8 + 8 + 12 + 8 + 16 + 8 + 16)

struct AdminsOnly {
  SECURITY_ATTRIBUTES attributes;  // what the create calls are given
  SECURITY_DESCRIPTOR descriptor;
  PSID system;
  PSID admins;
  PSID users;
  DWORD acl[ADMINS_ONLY_ACL_SIZE / sizeof(DWORD)];  // aligned as an ACL must be
};

// Grants SYSTEM and Administrators `rights` and nobody else, with the DACL protected from the
// parent's inherited entries. 1 when built; FreeAdminsOnly releases it either way.
int MakeAdminsOnly(AdminsOnly* security, DWORD rights);
// A folder's: SYSTEM and Administrators full control, Users read and execute, each entry
// inherited by what the folder holds, nothing inherited from the parent.
int MakeAdminsFolder(AdminsOnly* security);
void FreeAdminsOnly(AdminsOnly* security);

#endif

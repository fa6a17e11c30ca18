// The release's manifest: the digests of the package's files besides SETUP.EXE, written
// into the built program by scripts/manifest (the rows stay empty until then).
#include <string.h>

#include "../setup/messages.h"
#include "package.h"
#include "release.h"

// Not const: the build rewrites these bytes in the file, so no reading of them may be folded
// into the code at compile time. The marker appears nowhere else in the program.
ReleaseManifestBlock ReleaseManifest = {MANIFEST_MARKER, {}};

static int SameName(const char* a, const char* b) {
  for (; *a && *b; a++, b++) {
    char x = *a >= 'a' && *a <= 'z' ? (char)(*a - 32) : *a;
    char y = *b >= 'a' && *b <= 'z' ? (char)(*b - 32) : *b;
    if (x != y) return 0;
  }
  return *a == *b;
}

const unsigned char* ReleaseDigest(int name) {
  int i = PackageIndexOf(name);
  if (i < 0 || PackageFiles[i].kind == FILE_INSTALLER) return 0;
  for (const ManifestRow& row : ReleaseManifest.rows) {
    // A name that fills its field has no terminator: not one of ours.
    if (!row.name[0] || memchr(row.name, '\0', sizeof row.name) == 0) continue;
    if (SameName(row.name, MessageTable[name])) return row.digest;
  }
  return 0;
}

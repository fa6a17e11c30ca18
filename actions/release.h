// What identifies this release's package: the SHA-256 Authenticode digest of each file and the
// manifest that SETUP.EXE carries of the other files' digests.
#ifndef ACTIONS_RELEASE_H
#define ACTIONS_RELEASE_H

#include "package.h"

#define DIGEST_SIZE 32

// The SHA-256 Authenticode digest of a file's bytes: for a well-formed PE32/PE32+ image, as
// signing computes it (the checksum field, the certificate table's directory entry and the
// certificate table left out; padded with zeros to a multiple of 8 as signing pads it); any
// other file (not a well-formed image) hashed whole.
void ImageDigest(const unsigned char* bytes, unsigned long size, unsigned char* digest);

// The digest the release's manifest gives the package file with catalogue number `name`, or
// null: SETUP.EXE itself, a name outside the package or that the manifest does not hold, or a
// build into which no manifest was written.
const unsigned char* ReleaseDigest(int name);

// Plain SHA-256 of a buffer.
void Sha256(const unsigned char* bytes, unsigned long size, unsigned char* digest);

// The manifest as it lies in SETUP.EXE's data: the marker, then a row of a file name (NUL
// padded) and its digest for each package file besides SETUP.EXE. The build (scripts/manifest)
// finds the marker in the built program and writes the rows; a row whose name is empty holds
// nothing. Tests fill it directly.
#define MANIFEST_MARKER "TVX2-MANIFEST-1"  // with its NUL, MANIFEST_MARKER_SIZE bytes
#define MANIFEST_MARKER_SIZE 16
// Room for every file of the package but SETUP.EXE; rows the package does not fill stay empty.
#define MANIFEST_ROWS (PACKAGE_FILES_LIMIT - 1)
#define MANIFEST_NAME_SIZE 16
struct ManifestRow {
  char name[MANIFEST_NAME_SIZE];
  unsigned char digest[DIGEST_SIZE];
};
struct ReleaseManifestBlock {
  char marker[MANIFEST_MARKER_SIZE];
  ManifestRow rows[MANIFEST_ROWS];
};
extern ReleaseManifestBlock ReleaseManifest;

#endif

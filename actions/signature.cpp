// The package's signatures. A signed SETUP.EXE pins its signer's certificate: the run places
// and starts only package files that carry an intact Authenticode signature by that same
// certificate, so that a file swapped in a folder others can write is never run elevated. An
// unsigned SETUP.EXE (a development build, a customised package) checks nothing.
//
// The pin is the trust: a signature whose chain ends in a root this machine does not trust
// still passes when its signer is SETUP.EXE's own. No revocation is looked up over the
// network. wintrust.dll and crypt32.dll are loaded from the system directory when a check is
// made, as hid.dll is, so that an unsigned build's imports stay what they were.
#include <string.h>

#include "../platform/win32.h"
#include "../setup/libraries.h"
#include "../setup/log.h"
#include "../setup/messages.h"
#include "../setup/setup.h"
#include "../setup/text.h"
#include "actions.h"

#define THUMBPRINT_SIZE 32
#define THUMBPRINT_TEXT_SIZE (2 * THUMBPRINT_SIZE + 1)

typedef decltype(&WinVerifyTrust) VerifyTrustProc;
typedef decltype(&WTHelperProvDataFromStateData) ProvDataProc;
typedef decltype(&WTHelperGetProvSignerFromChain) ProvSignerProc;
typedef decltype(&CryptHashCertificate) HashCertificateProc;

static int OwnSignature = SIGNATURE_UNSIGNED;
static BYTE PinnedThumbprint[THUMBPRINT_SIZE];

// Copies made beside a staged file in use, to replace it at the restart, that failed the check,
// by the package file they were to replace (one more for a name that is none of them).
static int CopiesRefused[6];

void ForgetOwnSignature(void) {
  OwnSignature = SIGNATURE_UNSIGNED;
  memset(CopiesRefused, 0, sizeof CopiesRefused);
  memset(PinnedThumbprint, 0, sizeof PinnedThumbprint);
}

// The two libraries and their four procedures, loaded for one batch of checks.
struct Verifier {
  HMODULE trust;
  HMODULE crypt;
  VerifyTrustProc verify;
  ProvDataProc provData;
  ProvSignerProc provSigner;
  HashCertificateProc hash;
};

static void CloseVerifier(Verifier* v) {
  if (v->trust) FreeLibrary(v->trust);
  if (v->crypt) FreeLibrary(v->crypt);
  memset(v, 0, sizeof *v);
}

// Returns 1 when every procedure was found; otherwise releases what was loaded.
static int OpenVerifier(Verifier* v) {
  memset(v, 0, sizeof *v);
  v->trust = LoadSystemLibrary("wintrust.dll");
  v->crypt = v->trust ? LoadSystemLibrary("crypt32.dll") : NULL;
  if (v->crypt) {
    v->verify = (VerifyTrustProc)FindLibraryProc(v->trust, "WinVerifyTrust");
    v->provData = (ProvDataProc)FindLibraryProc(v->trust, "WTHelperProvDataFromStateData");
    v->provSigner = (ProvSignerProc)FindLibraryProc(v->trust, "WTHelperGetProvSignerFromChain");
    v->hash = (HashCertificateProc)FindLibraryProc(v->crypt, "CryptHashCertificate");
  }
  if (v->verify && v->provData && v->provSigner && v->hash) return 1;
  LogEvent("signature check: wintrust.dll or crypt32.dll not usable from the system directory "
           "(error %lu)", (unsigned long)GetLastError());
  CloseVerifier(v);
  return 0;
}

// What one file's verification found: Windows' result and its last error, and the signer's
// certificate thumbprint when a signer was named.
struct FileSignature {
  LONG status;
  DWORD lastError;
  int hasSigner;
  BYTE thumbprint[THUMBPRINT_SIZE];
};

static void ThumbprintOf(Verifier* v, HANDLE state, FileSignature* found) {
  CRYPT_PROVIDER_DATA* data = v->provData(state);
  CRYPT_PROVIDER_SGNR* signer = data ? v->provSigner(data, 0, FALSE, 0) : NULL;
  if (!signer || signer->csCertChain == 0 || !signer->pasCertChain) return;
  PCCERT_CONTEXT cert = signer->pasCertChain[0].pCert;
  DWORD size = THUMBPRINT_SIZE;
  if (cert && v->hash(0, CALG_SHA_256, 0, cert->pbCertEncoded, cert->cbCertEncoded,
                      found->thumbprint, &size) && size == THUMBPRINT_SIZE)
    found->hasSigner = 1;
}

// Verifies a file without UI and without fetching revocation lists: through `file` when it is
// open (what the handle holds is checked, whatever its path names by then; the path is kept
// for the provider and the log), else by its path (a file in a folder only administrators can
// write).
static void VerifyFile(Verifier* v, HANDLE file, const char* path, FileSignature* found) {
  memset(found, 0, sizeof *found);
  WCHAR widePath[PATH_BUFFER_SIZE];
  if (MultiByteToWideChar(CP_ACP, 0, path, -1, widePath, PATH_BUFFER_SIZE) == 0) {
    found->status = (LONG)ERROR_INVALID_NAME;
    found->lastError = GetLastError();
    return;
  }
  WINTRUST_FILE_INFO info;
  memset(&info, 0, sizeof info);
  info.cbStruct = sizeof info;
  info.pcwszFilePath = widePath;
  if (file != INVALID_HANDLE_VALUE) info.hFile = file;
  WINTRUST_DATA data;
  memset(&data, 0, sizeof data);
  data.cbStruct = sizeof data;
  data.dwUIChoice = WTD_UI_NONE;
  data.fdwRevocationChecks = WTD_REVOKE_NONE;
  data.dwUnionChoice = WTD_CHOICE_FILE;
  data.pFile = &info;
  data.dwStateAction = WTD_STATEACTION_VERIFY;
  data.dwProvFlags = WTD_CACHE_ONLY_URL_RETRIEVAL;
  GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
  found->status = v->verify(NULL, &action, &data);
  found->lastError = GetLastError();
  if (data.hWVTStateData) {
    ThumbprintOf(v, data.hWVTStateData, found);
    data.dwStateAction = WTD_STATEACTION_CLOSE;
    v->verify(NULL, &action, &data);
  }
}

static void ThumbprintText(const FileSignature* found, char* out) {
  static const char digits[] = "0123456789abcdef";
  if (!found->hasSigner) {
    CopyText(out, THUMBPRINT_TEXT_SIZE, "none");
    return;
  }
  for (int i = 0; i < THUMBPRINT_SIZE; i++) {
    out[2 * i] = digits[found->thumbprint[i] >> 4];
    out[2 * i + 1] = digits[found->thumbprint[i] & 15];
  }
  out[2 * THUMBPRINT_SIZE] = '\0';
}

// A file passes when its signature is intact and its signer is the pinned one; an untrusted
// root is no failure then.
static int PassesPin(const FileSignature* found) {
  return (found->status == 0 || found->status == CERT_E_UNTRUSTEDROOT) && found->hasSigner &&
         memcmp(found->thumbprint, PinnedThumbprint, THUMBPRINT_SIZE) == 0;
}

static void LogFileSignature(const char* what, const char* path, const FileSignature* found) {
  char signer[THUMBPRINT_TEXT_SIZE];
  ThumbprintText(found, signer);
  LogEvent("signature of \"%s\": %s; signer %s; result 0x%08lx", path, what, signer,
           (unsigned long)found->status);
}

int ReadOwnSignature(void) {
  ForgetOwnSignature();
  char path[PATH_BUFFER_SIZE];
  DWORD length = GetModuleFileNameA(NULL, path, sizeof path);
  Verifier v;
  if (length == 0 || length >= sizeof path) {
    LogEvent("signature check: the running program's path not read (error %lu)",
             (unsigned long)GetLastError());
    OwnSignature = SIGNATURE_BROKEN;
  } else if (!OpenVerifier(&v)) {
    OwnSignature = SIGNATURE_BROKEN;
  } else {
    FileSignature found;
    VerifyFile(&v, INVALID_HANDLE_VALUE, path, &found);
    CloseVerifier(&v);
    // An unsigned file is told apart from one whose check failed by the last error, as
    // Windows documents it: no signature, a form no signature is defined for, or no provider.
    DWORD e = found.lastError;
    if (found.status == TRUST_E_NOSIGNATURE &&
        (e == (DWORD)TRUST_E_NOSIGNATURE || e == (DWORD)TRUST_E_SUBJECT_FORM_UNKNOWN ||
         e == (DWORD)TRUST_E_PROVIDER_UNKNOWN)) {
      LogEvent("signature of \"%s\": none, the package's files are not checked", path);
      OwnSignature = SIGNATURE_UNSIGNED;
    } else if ((found.status == 0 || found.status == CERT_E_UNTRUSTEDROOT) &&
               found.hasSigner) {
      memcpy(PinnedThumbprint, found.thumbprint, THUMBPRINT_SIZE);
      LogFileSignature("valid, its signer is pinned", path, &found);
      OwnSignature = SIGNATURE_PINNED;
    } else {
      LogFileSignature("not intact or not checkable, nothing is changed", path, &found);
      OwnSignature = SIGNATURE_BROKEN;
    }
  }
  return OwnSignature;
}

// The failed file goes, so that nothing unsigned is left to be placed by a later run; what
// cannot be deleted is logged.
static void DeleteFailedFile(const char* path) {
  SetFileAttributesA(path, FILE_ATTRIBUTE_NORMAL);
  if (DeleteFileA(path))
    LogEvent("delete \"%s\": deleted, it failed the signature check", path);
  else if (MayRecordForRestart() && MoveFileExA(path, NULL, MOVEFILE_DELAY_UNTIL_REBOOT))
    LogEvent("delete \"%s\": failed the signature check, deleted at the restart", path);
  else
    LogEvent("delete \"%s\": failed the signature check, not deleted (error %lu)", path,
             (unsigned long)GetLastError());
}

int CheckPackageSignatures(const char* systemDir) {
  if (OwnSignature == SIGNATURE_UNSIGNED) return 1;
  char driverDir[PATH_BUFFER_SIZE];
  Verifier v;
  if (OwnSignature != SIGNATURE_PINNED) {
    PutMessageArgs(MSG_NOT_AS_SIGNED, MessageTable[MSG_FILE_SETUP]);
    return 0;
  }
  // Without the libraries no file can be checked: each then counts as failed, and goes.
  int usable = OpenVerifier(&v);
  BuildDriverDir(driverDir, systemDir);
  int allPass = 1;
  for (int i = 0; i < 5; i++) {
    const char* name = MessageTable[PackageFiles[i]];
    char path[PATH_BUFFER_SIZE];
    FileSignature found;
    memset(&found, 0, sizeof found);
    int fits = CopyText(path, sizeof path, driverDir) && AppendText(path, sizeof path, name);
    if (fits && usable) VerifyFile(&v, INVALID_HANDLE_VALUE, path, &found);
    // A copy that was to replace the file at the restart failed: the file stays as it was.
    if (CopiesRefused[i]) {
      allPass = 0;
      PutMessageArgs(MSG_NOT_AS_SIGNED, name);
      continue;
    }
    if (fits && PassesPin(&found)) {
      LogFileSignature("valid, by the pinned signer", path, &found);
      continue;
    }
    allPass = 0;
    LogFileSignature("not as its publisher signed it", path, &found);
    PutMessageArgs(MSG_NOT_AS_SIGNED, name);
    if (fits) DeleteFailedFile(path);
  }
  if (usable) CloseVerifier(&v);
  if (CopiesRefused[5]) allPass = 0;
  if (!allPass) LogEvent("signature check: the package is not installed");
  return allPass;
}

// With a pinned signer: whether the file carries an intact signature by it.
static int FilePassesPin(const char* path, FileSignature* found) {
  Verifier v;
  memset(found, 0, sizeof *found);
  if (OwnSignature != SIGNATURE_PINNED || !OpenVerifier(&v)) return 0;
  VerifyFile(&v, INVALID_HANDLE_VALUE, path, found);
  CloseVerifier(&v);
  return PassesPin(found);
}

int ToolPassesSignatureCheck(const char* path) {
  if (OwnSignature == SIGNATURE_UNSIGNED) return 1;
  FileSignature found;
  if (FilePassesPin(path, &found)) return 1;
  LogFileSignature("not as its publisher signed it, not started", path, &found);
  return 0;
}

int RestartCopyPassesSignatureCheck(const char* copyPath, const char* destPath) {
  if (OwnSignature == SIGNATURE_UNSIGNED) return 1;
  FileSignature found;
  if (FilePassesPin(copyPath, &found)) return 1;
  LogFileSignature("not as its publisher signed it, not kept for the restart", copyPath, &found);
  const char* name = strrchr(destPath, '\\');
  name = name ? name + 1 : destPath;
  int i = 0;
  while (i < 5 && CompareTextNoCase(name, MessageTable[PackageFiles[i]], 16) != 0) i++;
  CopiesRefused[i] = 1;
  return 0;
}

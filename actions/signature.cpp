// The package's signatures. A signed SETUP.EXE pins its signer's certificate: the run places
// and starts only package files that carry an intact Authenticode signature by that same
// certificate, so that a file swapped in a folder others can write is never run elevated. An
// unsigned SETUP.EXE (a development build, a customised package) checks nothing.
//
// The pin is the trust: a signature whose chain ends in a root this machine does not trust
// still passes when its signer is SETUP.EXE's own. No revocation is looked up over the
// network. wintrust.dll and crypt32.dll are loaded from the system directory when a check is
// made, as hid.dll is, so that an unsigned build's imports stay what they were.
#include <stdio.h>
#include <string.h>

#include "../platform/run_state.h"
#include "../platform/win32.h"
#include "../setup/messages.h"
#include "../setup/setup.h"
#include "../support/libraries.h"
#include "../support/log.h"
#include "../support/text.h"
#include "actions.h"
#include "restart.h"
#include "release.h"

#define THUMBPRINT_SIZE 32
#define THUMBPRINT_TEXT_SIZE (2 * THUMBPRINT_SIZE + 1)

typedef decltype(&WinVerifyTrust) VerifyTrustProc;
typedef decltype(&WTHelperProvDataFromStateData) ProvDataProc;
typedef decltype(&WTHelperGetProvSignerFromChain) ProvSignerProc;
typedef decltype(&CryptHashCertificate) HashCertificateProc;
// ntdll's, declared by no Windows header: 0 when both addresses lie in views of one file.
typedef LONG(WINAPI* SameFilesProc)(PVOID, PVOID);
#define STATUS_NOT_SAME_DEVICE ((LONG)0xC00000D4)

RUN_STATE static int OwnSignature = SIGNATURE_UNSIGNED;
// The running program's file, open for the run denying write and delete, once shown to be
// the running image.
RUN_STATE static HANDLE OwnFile = INVALID_HANDLE_VALUE;
RUN_STATE static BYTE PinnedThumbprint[THUMBPRINT_SIZE];

// What staging found of each package file, as it was handed over (CHECK_NONE: the driver
// directory's file is judged instead), and Windows' result of a check that could not be made;
// by table index. ReadOwnSignature, which every signed run begins with, sets them to CHECK_NONE.
RUN_STATE static int StagedVerdicts[PACKAGE_FILES_LIMIT];
RUN_STATE static LONG StagedResults[PACKAGE_FILES_LIMIT];

HANDLE RunningProgramFile(void) { return OwnFile; }

void CloseRunningProgramFile(void) {
  if (OwnFile != INVALID_HANDLE_VALUE) CloseHandle(OwnFile);
  OwnFile = INVALID_HANDLE_VALUE;
}

void ForgetOwnSignature(void) {
  CloseRunningProgramFile();
  OwnSignature = SIGNATURE_UNSIGNED;
  for (int& verdict : StagedVerdicts) verdict = CHECK_NONE;
  memset(StagedResults, 0, sizeof StagedResults);
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

// Whether the open file `file` is the running program's image: a view of it mapped as an
// image is compared with the image the process runs from. Returns 1 when it is, 0 when it is
// another file, -1 when it cannot be told (logged).
static int IsRunningImage(HANDLE file, const char* path) {
  HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  SameFilesProc same = ntdll ? (SameFilesProc)FindLibraryProc(ntdll, "NtAreMappedFilesTheSame")
                             : NULL;
  HMODULE image = GetModuleHandleA(NULL);
  if (!same || !image) {
    LogEvent("running program \"%s\": not compared, ntdll's comparison not found (error %lu)",
             path, (unsigned long)GetLastError());
    return -1;
  }
  HANDLE mapping = CreateFileMappingA(file, NULL, PAGE_READONLY | SEC_IMAGE, 0, 0, NULL);
  void* view = mapping ? MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0) : NULL;
  DWORD error = GetLastError();
  LONG status = view ? same((PVOID)image, view) : 0;
  if (view) UnmapViewOfFile(view);
  if (mapping) CloseHandle(mapping);
  if (!view) {
    // A file that cannot be mapped as an image is not the program running.
    LogEvent("running program \"%s\": not mapped as an image (error %lu)", path,
             (unsigned long)error);
    return error == ERROR_BAD_EXE_FORMAT || error == ERROR_FILE_INVALID ? 0 : -1;
  }
  if (status == 0) return 1;
  LogEvent("running program \"%s\": %s (status 0x%08lx)", path,
           status == STATUS_NOT_SAME_DEVICE ? "another file is at its path"
                                            : "not compared",
           (unsigned long)(DWORD)status);
  return status == STATUS_NOT_SAME_DEVICE ? 0 : -1;
}

// Opens the running program's file denying write and delete, and keeps it when it is the
// running image: what its path names may have been swapped since the program started.
static int OpenOwnFile(const char* path) {
  HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, NULL);
  if (file == INVALID_HANDLE_VALUE) {
    DWORD error = GetLastError();
    LogEvent("running program \"%s\": not opened (error %lu)", path, (unsigned long)error);
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? 0 : -1;
  }
  int running = IsRunningImage(file, path);
  if (running == 1)
    OwnFile = file;
  else
    CloseHandle(file);
  return running;
}

int ReadOwnSignature(void) {
  ForgetOwnSignature();
  char path[PATH_BUFFER_SIZE];
  DWORD length = GetModuleFileNameA(NULL, path, sizeof path);
  Verifier v;
  int running = 0;
  if (length == 0 || length >= sizeof path) {
    LogEvent("signature check: the running program's path not read (error %lu)",
             (unsigned long)GetLastError());
    OwnSignature = SIGNATURE_BROKEN;
  } else if ((running = OpenOwnFile(path)) != 1) {
    OwnSignature = running == 0 ? SIGNATURE_NOT_RUNNING : SIGNATURE_BROKEN;
  } else if (!OpenVerifier(&v)) {
    OwnSignature = SIGNATURE_BROKEN;
  } else {
    FileSignature found;
    VerifyFile(&v, OwnFile, path, &found);
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
  else if (MayRecordForRestart() && RecordRestartMove(path, NULL))
    LogEvent("delete \"%s\": failed the signature check, deleted at the restart", path);
  else
    LogEvent("delete \"%s\": failed the signature check, not deleted (error %lu)", path,
             (unsigned long)GetLastError());
}

static int IsInstaller(int name) {
  int i = PackageIndexOf(name);
  return i >= 0 && PackageFiles[i].kind == FILE_INSTALLER;
}

// Whether the bytes read are the running program's, read again through the handle kept since it
// was shown to be the running image: SETUP.EXE has no digest in the manifest, and another program
// of the signer passes its signature. 1 when they are, 0 when not, -1 (and the last error) when
// the running program cannot be read.
static int SameAsRunningProgram(const PackageFile* file) {
  unsigned char chunk[4096];
  BY_HANDLE_FILE_INFORMATION info;
  LARGE_INTEGER start;
  start.QuadPart = 0;
  if (OwnFile == INVALID_HANDLE_VALUE) {
    SetLastError(ERROR_INVALID_HANDLE);
    return -1;
  }
  if (!GetFileInformationByHandle(OwnFile, &info) ||
      !SetFilePointerEx(OwnFile, start, NULL, FILE_BEGIN))
    return -1;
  if (info.nFileSizeHigh != 0 || info.nFileSizeLow != file->size) return 0;
  for (DWORD at = 0; at < file->size;) {
    DWORD got = 0, want = file->size - at < sizeof chunk ? file->size - at : sizeof chunk;
    if (!ReadFile(OwnFile, chunk, want, &got, NULL)) return -1;
    if (got == 0 || memcmp(chunk, file->bytes + at, got) != 0) return 0;
    at += got;
  }
  return 1;
}

// Whether the bytes read are this release's: their digest is the one the manifest gives
// (SETUP.EXE has none there: it must be the running program), and, `withSigner`, their
// signature, checked through
// the handle they were read from, is intact and by the pinned signer. With the release's bytes,
// a signature that does not hold says more about the check than about the file.
static int JudgePackageFile(PackageFile* file, const char* path, int withSigner) {
  file->checkResult = 0;
  if (file->name == 0) return CHECK_NOT_RELEASE;
  if (!IsInstaller(file->name)) {
    const unsigned char* release = ReleaseDigest(file->name);
    unsigned char digest[DIGEST_SIZE];
    ImageDigest(file->bytes, file->size, digest);
    if (!release || memcmp(digest, release, DIGEST_SIZE) != 0) {
      LogEvent("digest of \"%s\": %s", path,
               release ? "not the release's" : "none given by the release");
      return CHECK_NOT_RELEASE;
    }
    if (!withSigner) return CHECK_PASSED;
  } else {
    int same = SameAsRunningProgram(file);
    if (same < 0) file->checkResult = (LONG)GetLastError();
    if (same <= 0) {
      LogEvent("\"%s\": %s", path, same ? "the running program could not be read to compare"
                                         : "not the running program");
      return same ? CHECK_UNCHECKABLE : CHECK_NOT_RELEASE;
    }
  }
  Verifier v;
  FileSignature found;
  memset(&found, 0, sizeof found);
  if (!OpenVerifier(&v)) {
    file->checkResult = (LONG)GetLastError();
    return CHECK_UNCHECKABLE;
  }
  VerifyFile(&v, file->handle, path, &found);
  CloseVerifier(&v);
  file->checkResult = found.status;
  if (PassesPin(&found)) {
    LogFileSignature("valid, by the pinned signer", path, &found);
    return CHECK_PASSED;
  }
  int another = (found.status == 0 || found.status == CERT_E_UNTRUSTEDROOT) && found.hasSigner;
  if (another || found.status == TRUST_E_NOSIGNATURE || found.status == TRUST_E_BAD_DIGEST) {
    LogFileSignature("not as its publisher signed it", path, &found);
    return CHECK_NOT_RELEASE;
  }
  if (found.status == (LONG)ERROR_SHARING_VIOLATION || found.status == (LONG)ERROR_LOCK_VIOLATION) {
    LogFileSignature("in use, not checked", path, &found);
    return CHECK_IN_USE;
  }
  LogFileSignature("could not be checked", path, &found);
  return CHECK_UNCHECKABLE;
}

int PackageFilePasses(PackageFile* file, const char* path, int staging) {
  file->verdict = CHECK_PASSED;
  if (OwnSignature == SIGNATURE_UNSIGNED) return 1;
  // A broken signature of SETUP.EXE itself changes nothing: Main ends the run before any copy.
  if (OwnSignature != SIGNATURE_PINNED) file->verdict = CHECK_UNCHECKABLE;
  else file->verdict = JudgePackageFile(file, path, staging || IsInstaller(file->name));
  int i = PackageIndexOf(file->name);
  if (staging && i >= 0) {
    StagedVerdicts[i] = file->verdict;
    StagedResults[i] = file->checkResult;
  } else if (file->verdict != CHECK_PASSED) {
    // A copy out of the driver directory: what staging checked is no longer there.
    PutMessageArgs(MSG_NOT_AS_SIGNED, file->name ? MessageTable[file->name] : path);
  }
  return file->verdict == CHECK_PASSED;
}

void NoteStagedFile(const PackageFile* file) {
  int i = PackageIndexOf(file->name);
  if (i >= 0 && file->verdict == CHECK_PASSED) StagedVerdicts[i] = CHECK_PASSED;
}

void NoteStagedOpenFailure(int name, int opened, DWORD error) {
  int i = PackageIndexOf(name);
  if (i < 0 || OwnSignature == SIGNATURE_UNSIGNED) return;
  StagedVerdicts[i] = opened == PACKAGE_IN_USE    ? CHECK_IN_USE
                      : opened == PACKAGE_REFUSED ? CHECK_REFUSED
                                                  : CHECK_UNCHECKABLE;
  StagedResults[i] = (LONG)error;
}

// What the driver directory's file will be after the restart, judged as staging judges the
// package: its own bytes, or those of the copy of ours that the restart moves onto it.
static int JudgeDriverDirFile(const char* path, int i, LONG* result, int* deletable) {
  PackageFile file;
  char judged[PATH_BUFFER_SIZE];
  CopyText(judged, sizeof judged, path);
  int after;
  int opened = OpenPackageFileAfterRestart(judged, PackageFileName(i), &file, &after);
  path = judged;
  *result = 0;
  *deletable = 0;
  // Lists that cannot be read whole: the file is judged as it is now, and nothing is recorded
  // for the restart after them (see DeleteFailedFile).
  if (after == AFTER_RESTART_UNKNOWN) after = AFTER_RESTART_AS_NOW;
  int verdict = CHECK_NOT_RELEASE;
  if (after == AFTER_RESTART_NOTHING || after == AFTER_RESTART_OTHER) {
    LogEvent("signature check: \"%s\" is gone or another file after the restart", path);
  } else if (opened == PACKAGE_IN_USE) {
    verdict = CHECK_IN_USE;
  } else if (opened == PACKAGE_REFUSED) {
    verdict = CHECK_REFUSED;
    PutMessageArgs(MSG_NOT_TAKEN, path);
  } else if (opened == PACKAGE_UNREADABLE) {
    verdict = CHECK_UNCHECKABLE;
    *result = (LONG)file.error;
  } else if (opened == PACKAGE_OPEN) {
    verdict = JudgePackageFile(&file, path, 1);
    *result = file.checkResult;
    *deletable = verdict == CHECK_NOT_RELEASE && after == AFTER_RESTART_AS_NOW;
  }
  ClosePackageFile(&file);
  return verdict;
}

int SignedRun(void) { return OwnSignature != SIGNATURE_UNSIGNED; }

int CheckPackageSignatures(const char* systemDir) {
  if (OwnSignature == SIGNATURE_UNSIGNED) return 1;
  if (OwnSignature != SIGNATURE_PINNED) {
    PutMessageArgs(MSG_NOT_AS_SIGNED, PackageFileName(PackageFileOfKind(FILE_INSTALLER)));
    return 0;
  }
  char driverDir[PATH_BUFFER_SIZE];
  BuildDriverDir(driverDir, systemDir);
  ReadRestartOperations();
  int allPass = 1;
  for (int i = 0; i < PackageFileCount; i++) {
    const char* name = PackageFileName(i);
    char path[PATH_BUFFER_SIZE];
    int verdict = StagedVerdicts[i], deletable = 0;
    LONG result = StagedResults[i];
    int fits = CopyText(path, sizeof path, driverDir) && AppendText(path, sizeof path, name);
    if (!fits) verdict = CHECK_NOT_RELEASE;
    if (verdict == CHECK_NONE) verdict = JudgeDriverDirFile(path, i, &result, &deletable);
    if (verdict == CHECK_PASSED) continue;
    allPass = 0;
    char resultText[16];
    snprintf(resultText, sizeof resultText, "0x%08lx", (unsigned long)(DWORD)result);
    if (verdict == CHECK_NOT_RELEASE) PutMessageArgs(MSG_NOT_AS_SIGNED, name);
    else if (verdict == CHECK_IN_USE) PutMessageArgs(MSG_IN_USE_NOT_CHECKED, name);
    else if (verdict == CHECK_UNCHECKABLE) PutMessageArgs(MSG_NOT_CHECKABLE, name, resultText);
    // Only a file that is not the release's goes; one in use, or not checked, stays as it is.
    if (deletable) DeleteFailedFile(path);
  }
  if (!allPass) LogEvent("signature check: the package is not installed");
  return allPass;
}

int ToolPassesSignatureCheck(const char* path) {
  if (OwnSignature == SIGNATURE_UNSIGNED) return 1;
  const char* name = strrchr(path, '\\');
  name = name ? name + 1 : path;
  PackageFile file;
  int opened = OpenPackageFile(path, name, &file);
  int verdict = opened == PACKAGE_IN_USE ? CHECK_IN_USE : CHECK_NOT_RELEASE;
  if (opened == PACKAGE_OPEN && OwnSignature == SIGNATURE_PINNED)
    verdict = JudgePackageFile(&file, path, 1);
  ClosePackageFile(&file);
  if (verdict == CHECK_PASSED) return 1;
  LogEvent("tool \"%s\": not started, %s", path,
           verdict == CHECK_IN_USE ? "in use, not checked" : "not the release's as it signed it");
  if (verdict == CHECK_IN_USE) PutMessageArgs(MSG_IN_USE_NOT_CHECKED, name);
  return 0;
}

int RestartCopyPassesSignatureCheck(const PackageFile* file, const char* copyPath,
                                    const char* destPath) {
  if (OwnSignature == SIGNATURE_UNSIGNED || file->verdict == CHECK_PASSED) return 1;
  LogEvent("copy \"%s\" for \"%s\": not kept for the restart, not the release's", copyPath,
           destPath);
  return 0;
}

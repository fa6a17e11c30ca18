// Installation actions: the guarded copy, package staging and tool refresh, legacy service
// removal, the service-tool sequence, and the removal of the installed software.
#ifndef ACTIONS_ACTIONS_H
#define ACTIONS_ACTIONS_H

#include "../platform/win32.h"
#include "package.h"

// Copy results.
#define COPY_OK 0
#define COPY_FAILED 103
#define COPY_PENDING_REBOOT 115

// Installation results.
#define INSTALL_OK 0
#define INSTALL_REBOOT 1
#define INSTALL_FAILED 2

// Guarded copy (copy.cpp).
int CopyDriverFileAs(const char* sourceDir, const char* destDir, const char* sourceName,
                     const char* destName, int autoAnswer);
int CopyDriverFile(const char* sourceDir, const char* destDir, const char* name,
                   int autoAnswer);
int CompareFileDates(const char* sourcePath, const char* destPath);
// CopyDriverFileAs, with `staging` set for the package as it was handed over: in a signed run
// its checks decide the package (see CheckPackageSignatures).
int CopyPackageFile(const char* sourceDir, const char* destDir, const char* sourceName,
                    const char* destName, int autoAnswer, int staging);

// A package file read once (package_file.cpp). OpenPackageFile opens it denying writers and
// deletion, without following a reparse point, and reads it whole: refused when it is a link
// of either kind or its final path does not end in the name asked for. The handle stays open
// (for the signature check through it) until ClosePackageFile. WritePackageCopy makes a copy
// from the bytes read, with the source's last-write time and attributes: 0, or the error; a
// file that is there is replaced whole or left as it was. WriteNewPackageCopy fills a file this
// run has just named (a restart copy) directly.
#define PACKAGE_OPEN 0
#define PACKAGE_MISSING 1     // no such file (or folder)
#define PACKAGE_IN_USE 2      // another program holds it: it cannot be read now
#define PACKAGE_REFUSED 3     // a link, another name, or another file than the one asked for
#define PACKAGE_UNREADABLE 4  // any other failure
#define PACKAGE_FILE_LIMIT (64UL * 1024UL * 1024UL)
struct PackageFile {
  HANDLE handle;
  unsigned char* bytes;
  DWORD size;
  FILETIME lastWrite;
  DWORD attributes;
  DWORD error;       // why it could not be opened or read
  int name;          // its catalogue number, or 0 for a name outside the package
  int verdict;       // a signed run's check of the bytes read (CHECK_...)
  LONG checkResult;  // Windows' answer to a check that could not be made
};
// How many package files were refused as links or other names, in this process.
extern int PackageFilesRefused;
int OpenPackageFile(const char* path, const char* name, PackageFile* file);
// A driver-directory file as the restart will leave it: when a checked copy of ours waits to
// be moved onto it, that copy is opened instead and `path` (PATH_BUFFER_SIZE bytes) names it;
// `after` is what the restart lists say of the path (AFTER_RESTART_...).
int OpenPackageFileAfterRestart(char* path, const char* name, PackageFile* file, int* after);
void ClosePackageFile(PackageFile* file);
DWORD WritePackageCopy(const PackageFile* file, const char* destPath);
DWORD WriteNewPackageCopy(const PackageFile* file, const char* copyPath);

// Package staging and tool refresh (staging.cpp); the package's directories are built by
// package.h's functions, the system directory read by support/system_dirs.h's.
// Returns COPY_FAILED when the restart would undo a staged file (see RestartRefusals), else
// COPY_OK: its other failures show as failed copies later.
int StageDriverPackage(void);
// Places again, from the driver directory, the package's files marked `refreshed`.
void RefreshServiceTools(void);

// Legacy service removal (legacy.cpp).
int RemoveLegacyServices(void);
int GrantAdminsFullControl(HKEY parent, const char* name);

// Service-tool sequence. RunServiceTool (service_tool.cpp) starts the program of that name
// in the system directory, its path quoted, with the arguments after a blank, and waits for
// it; InstallDriverSoftware (install.cpp) is the whole installation sequence.
#define TOOL_POLL_LIMIT 60
#define TOOL_POLL_MS 5000
int RunServiceTool(const char* programName, const char* arguments);
// The same, started in the system directory instead of the driver directory when inDriverDir is 0.
int RunServiceToolFrom(const char* programName, const char* arguments, int inDriverDir);
// Whether the latest RunServiceTool did not start the service tool because a signed package
// refused it: the run then fails.
int ServiceToolRefused(void);
int InstallDriverSoftware(void);

// Removal results.
#define REMOVE_OK 0
#define REMOVE_REBOOT 1
#define REMOVE_FAILED 2

// Removal of what the installation placed (remove.cpp): the service tool's remove run, then
// the libraries and tools, the package files and the driver directory, each deleted now or,
// when in use, at the next restart.
int RemoveDriverSoftware(void);

// The uninstall entry (uninstall_entry.cpp), in the 64-bit view of HKLM. Writing it returns 1
// when the whole entry is there; a key this run created and could not complete is deleted
// again. Deleting it returns 1 when it is gone (also when it was not there).
#define UNINSTALL_KEY "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\TVX2HostSoftware"
#define UNINSTALL_DISPLAY_NAME "KTA TVX II host software"
#define UNINSTALL_PUBLISHER "KTA"
int WriteUninstallEntry(void);
// One value: a string of `type` (REG_SZ, REG_EXPAND_SZ) when `text` is given, else a REG_DWORD.
LSTATUS SetRegistryValue(HKEY key, const char* name, DWORD type, const char* text, DWORD number);
int DeleteUninstallEntry(void);

// The verification (verify.cpp): whether the installation is whole now (EXIT_INSTALLED), once
// the machine restarts (EXIT_REBOOT_REQUIRED), or not (EXIT_FAILED, each finding printed);
// changes nothing. *installedFound: an uninstall entry or a driver directory was there.
int VerifyInstallation(int* installedFound);

// The package's signatures (signature.cpp). ReadOwnSignature checks the running program once a
// run, before anything is changed: unsigned, signed (its signer is pinned), or signed with a
// signature that does not hold or cannot be checked (message 99 is printed then, and nothing
// may be changed). With a pinned signer, CheckPackageSignatures checks the package's files in
// the driver directory, prints message 99 for each that fails and deletes it, and returns 1 when
// all pass; ToolPassesSignatureCheck says whether a package program may be started. Both
// check nothing and return 1 for an unsigned SETUP.EXE.
#define SIGNATURE_UNSIGNED 0
#define SIGNATURE_PINNED 1
#define SIGNATURE_BROKEN 2
// The file at the running program's path is not the program running (it was renamed and
// another file put at its name, or it is gone): nothing may be changed (message 110).
#define SIGNATURE_NOT_RUNNING 3
int ReadOwnSignature(void);
// 1 when the running program is signed: its package is checked.
int SignedRun(void);
// The running program's file, open denying write and delete since ReadOwnSignature showed it
// to be the running image (INVALID_HANDLE_VALUE when none); closed by CloseRunningProgramFile
// and ForgetOwnSignature.
HANDLE RunningProgramFile(void);
void CloseRunningProgramFile(void);
void ForgetOwnSignature(void);
// systemDir: the system directory as Main read and checked it.
int CheckPackageSignatures(const char* systemDir);
int ToolPassesSignatureCheck(const char* path);
// What a signed run's check found of a package file.
#define CHECK_NONE (-1)
#define CHECK_PASSED 0
#define CHECK_NOT_RELEASE 1  // not this release's bytes, or not signed by the pinned signer
#define CHECK_IN_USE 2       // another program holds it: not checked
#define CHECK_UNCHECKABLE 3  // the check could not be made (Windows' result kept)
#define CHECK_REFUSED 4      // a link or another name: not read
// The check of a source's bytes before the copy (1: it may be copied). In a signed run the
// package as staging takes it is checked by digest and signer, and the verdict kept for
// CheckPackageSignatures; another source (the driver directory's) by its digest.
int PackageFilePasses(PackageFile* file, const char* path, int staging);
// Staging placed the file (now, or through the restart) from the bytes it checked; or could
// not open it (a PACKAGE_ result).
void NoteStagedFile(const PackageFile* file);
void NoteStagedOpenFailure(int name, int opened, DWORD error);
// A copy that is to replace destPath at the restart, before its move is recorded: only from
// bytes that passed the check.
int RestartCopyPassesSignatureCheck(const PackageFile* file, const char* copyPath,
                                    const char* destPath);

#endif

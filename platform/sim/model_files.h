// The simulated file system: directories and files, compared without case, with attributes,
// last-write times, files held open by other programs, access denied on chosen paths, the
// moves recorded for the next restart, hard links, symbolic links and junctions.
#ifndef PLATFORM_SIM_MODEL_FILES_H
#define PLATFORM_SIM_MODEL_FILES_H

#include <stdint.h>

#include <map>
#include <string>
#include <vector>

#include "sim_types.h"

namespace sim {

// How another program holds a file: not at all, open without sharing (opening it again fails
// with a sharing violation), with a byte range locked (writing fails with a lock violation),
// or open for reading only, sharing reads, as Windows holds a loaded library (it may be read
// by anyone who lets it be read, not written, replaced or deleted).
enum class Hold { None, NoSharing, Locked, SharesReads };

struct FileEntry {
  std::string path;        // full path in the spelling it was created with
  bool isDirectory = false;
  std::string contents;
  DWORD attributes = FILE_ATTRIBUTE_NORMAL;  // FILE_ATTRIBUTE_DIRECTORY for directories
  uint64_t lastWriteTime = 0;                // FILETIME units
  Hold hold = Hold::None;
  bool accessDenied = false;  // opening, changing or creating in it fails with error 5
  // The image of the running installer: it cannot be deleted (5), replaced (5) or opened for
  // writing or deletion (32), but it can be renamed, and it takes this with it.
  bool runningImage = false;
  // The names of the file: more than one when hard-linked; `linkedName` is its other name (a
  // full path), whose bytes a write through either name changes too.
  DWORD links = 1;
  std::string linkedName;
  // A reparse point (FILE_ATTRIBUTE_REPARSE_POINT): a symbolic link at a file, or a junction
  // at a folder. Opening a path through it leads to `reparseTarget` (a full path), unless it
  // is the file opened and FILE_FLAG_OPEN_REPARSE_POINT is given.
  std::string reparseTarget;
  // The descriptor it was made with, as DescribeGrants gives it; "" for the inherited default.
  std::string security;
  std::string shortName;  // its 8.3 name, by which paths may name it too ("ADMINI~1")
  // What GetFinalPathNameByHandleA reports for the file instead of "\\?\" and its path.
  std::string finalPath;
  bool deletePending = false;  // marked for deletion: it goes when its last handle closes
  uint64_t index = 0;          // the file index GetFileInformationByHandle gives; 0: none yet
  // Which file this is to the handles that hold it: given when first opened, kept by a rename,
  // new for a copy or for a file put in its place.
  uint64_t serial = 0;
};

// One entry of the list that Windows keeps for the next restart: at the restart `source` is
// moved onto `dest` (replacing it when `replace`), or deleted when `dest` is empty.
struct PendingMove {
  std::string source;
  std::string dest;
  bool replace;
};

// A file mapping made of an open file (the mapping handle's id is its index), and a view of
// one: what it shows, and whether that is the running program's image.
struct Section {
  std::string path;
  bool image = false;
  bool runningImage = false;
};
struct MappedView {
  std::string path;
  bool runningImage = false;
  bool mapped = true;
};

struct FilesModel {
  std::map<std::string, FileEntry> entries;  // key: the full path in lower case
  std::string currentDir = "C:\\";           // what relative paths start from
  std::vector<PendingMove> pendingMoves;
  // The second list Windows keeps (PendingFileRenameOperations2), carried out after the first;
  // only a test fills it: MoveFileExA records into the first.
  std::vector<PendingMove> pendingMoves2;
  // When not empty, the bytes PendingFileRenameOperations holds instead of the recorded moves
  // (a value another program wrote by hand, or broken). MoveFileExA then appends to it as
  // Windows does (one trailing byte dropped first), and the restart reads it as Windows does.
  std::string pendingRaw;
  // The same for PendingFileRenameOperations2, and that value's type.
  std::string pendingRaw2;
  DWORD pendingType2 = REG_MULTI_SZ;
  bool refuseDelayedMoves = false;           // MoveFileExA cannot record a delayed move (5)
  int64_t nextFindId = 1;
  uint64_t lastIndex = 0;  // the last file index given out
  uint64_t lastSerial = 0;
  // Files that lost their path (replaced or deleted) while a handle held them, by serial: they
  // live on, as on Windows, until their last handle closes.
  std::map<uint64_t, FileEntry> detached;
  std::vector<Section> sections;
  std::vector<MappedView> views;  // at kViewBase + index * kViewStride
};

// The running program's image base (GetModuleHandleA(NULL)), and ntdll's handle.
extern const HMODULE kImageModule;
extern const HMODULE kNtdllModule;
// ntdll's NtAreMappedFilesTheSame, as GetProcAddress hands it out: 0 when both addresses are
// in views of the same image file, STATUS_NOT_SAME_DEVICE when not, STATUS_INVALID_ADDRESS
// when one is in no view.
LONG NtAreMappedFilesTheSame(PVOID file1MappedAsAnImage, PVOID file2MappedAsFile);

// The full path that Windows would make of `path`: relative paths start from the current
// directory, "/" reads as "\", doubled separators, "." and ".." are resolved. Empty when the
// path is of a form the model does not know (device and UNC paths).
std::string FullPath(const std::string& path);

// Arranging. AddFile and AddDirectory create missing parent directories.
void AddDirectory(const std::string& path);
void AddFile(const std::string& path, const std::string& contents, uint64_t lastWriteTime,
             DWORD attributes = FILE_ATTRIBUTE_NORMAL);
void RemoveFile(const std::string& path);
void HoldOpen(const std::string& path, bool lockInsteadOfShare = false);
void HoldSharingReads(const std::string& path);
void ReleaseHold(const std::string& path);
void DenyAccess(const std::string& path, bool denied = true);
void RefuseDelayedMoves(bool refuse = true);
// A second name `path` for the existing file `existing` (a hard link).
void AddHardLink(const std::string& path, const std::string& existing);
// A symbolic link at a file, and a junction (a folder that leads to another folder).
void AddSymbolicLink(const std::string& path, const std::string& target);
void AddJunction(const std::string& path, const std::string& target);
// The 8.3 name of an existing entry, by which a path may name it too; the full path with each
// such name spelled long.
void SetShortName(const std::string& path, const std::string& shortName);
std::string LongPath(const std::string& path);
// The program a run is started as (argv[0]) is running from this file while the run lasts;
// nothing happens when no file is there. The run's end, or a restart, ends it.
void SetRunningImage(const std::string& path);
void EndRunningImages();
// Another program renames a file (a running image keeps running from its new name); false
// when the installer holds it open without sharing deletion, or a name is wrong or taken.
bool RenameFile(const std::string& from, const std::string& to);
// The restart: holds and running images end, and the recorded moves are carried out in order,
// the second list's after the first's.
void ApplyPendingMoves();

// Inspecting.
bool FileExists(const std::string& path);  // a file, not a directory
bool DirectoryExists(const std::string& path);
std::string FileContents(const std::string& path);
uint64_t FileTime(const std::string& path);
DWORD FileAttributes(const std::string& path);  // INVALID_FILE_ATTRIBUTES when absent
const std::vector<PendingMove>& PendingMoves();

}  // namespace sim

#endif

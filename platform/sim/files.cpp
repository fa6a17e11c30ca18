// Simulated files operations: a small file system of directories and files, names compared
// without case, with the errors that Windows gives for missing paths, read-only files, files
// held open by other programs and denied access, and the list of delayed moves.
#include <ctype.h>
#include <stdio.h>
#include <string.h>

#include <algorithm>

#include "machine.h"
#include "sim_win32.h"

using namespace sim;

namespace sim {

static const DWORD SETTABLE_ATTRIBUTES = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN |
                                         FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE |
                                         0x100 /* temporary */ | 0x1000 /* offline */ |
                                         0x2000 /* not content indexed */;

static bool IsLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

std::string FullPath(const std::string& path) {
  std::string p = path;
  for (char& c : p)
    if (c == '/') c = '\\';
  if (p.empty()) return "";
  const std::string& cwd = M().files.currentDir;
  std::string drive, rest;
  if (p.size() >= 2 && p[0] == '\\' && p[1] == '\\') {
    // A share, "\\server\share" its root; device paths ("\\?\", "\\.\") are not modelled.
    size_t server = p.find('\\', 2);
    if (p.size() < 3 || p[2] == '?' || p[2] == '.' || server == std::string::npos ||
        server == 2 || server + 1 >= p.size() || p[server + 1] == '\\')
      return "";
    size_t share = p.find('\\', server + 1);
    drive = p.substr(0, share);
    rest = share == std::string::npos ? "" : p.substr(share);
  } else if (p.size() >= 2 && IsLetter(p[0]) && p[1] == ':') {
    drive = p.substr(0, 2);
    rest = p.substr(2);
    if (rest.empty() || rest[0] != '\\') {
      // Relative to the current directory of that drive; other drives start at their root.
      if (EqualNoCase(cwd.substr(0, 2), drive))
        rest = cwd.substr(2) + "\\" + rest;
      else
        rest = "\\" + rest;
    }
  } else if (p[0] == '\\') {
    drive = cwd.substr(0, 2);
    rest = p;
  } else {
    drive = cwd.substr(0, 2);
    rest = cwd.substr(2) + "\\" + p;
  }
  std::vector<std::string> parts;
  size_t start = 0;
  while (start <= rest.size()) {
    size_t end = rest.find('\\', start);
    if (end == std::string::npos) end = rest.size();
    std::string part = rest.substr(start, end - start);
    if (part == "..") {
      if (!parts.empty()) parts.pop_back();
    } else if (!part.empty() && part != ".") {
      parts.push_back(part);
    }
    start = end + 1;
  }
  std::string full = drive + "\\";
  for (size_t i = 0; i < parts.size(); i++) {
    if (i) full += "\\";
    full += parts[i];
  }
  return full;
}

// The length of the root of a full path: "C:\\", or "\\\\server\\share\\".
static size_t RootLength(const std::string& full) {
  if (full.compare(0, 2, "\\\\") != 0) return 3;
  size_t share = full.find('\\', full.find('\\', 2) + 1);
  return share == std::string::npos ? full.size() : share + 1;
}

static std::string ParentOf(const std::string& full) {
  size_t root = RootLength(full);
  if (full.size() <= root) return "";  // a root has no parent
  size_t cut = full.rfind('\\');
  return cut < root ? full.substr(0, root) : full.substr(0, cut);
}

static std::string NameOf(const std::string& full) {
  size_t cut = full.rfind('\\');
  return cut == std::string::npos ? full : full.substr(cut + 1);
}

static FileEntry* Lookup(const std::string& full) {
  if (full.empty()) return nullptr;
  auto it = M().files.entries.find(Lower(full));
  return it == M().files.entries.end() ? nullptr : &it->second;
}

// A handle is bound to the file it opened, not to its name: a rename takes its handles along
// (MoveEntry), and a file put in its place, or a deletion, leaves them on the old file, kept in
// `detached` while they hold it. Handles of no file (id 0) go by their name. Every call that
// acts through a handle finds its file here.
FileEntry* FileOf(const HandleEntry& h) {
  FileEntry* e = Lookup(h.name);
  if (h.id == 0 || (e && e->serial == (uint64_t)h.id)) return e;
  auto it = M().files.detached.find((uint64_t)h.id);
  return it == M().files.detached.end() ? nullptr : &it->second;
}

// Whether the open handle holds the file now at `full`.
static bool Holds(const HandleEntry& h, const std::string& full) {
  return h.open && h.kind == HandleKind::File && EqualNoCase(h.name, full) &&
         FileOf(h) == Lookup(full);
}

// Before a file loses its path: the handles that hold it keep it.
static void KeepForHandles(const FileEntry& e) {
  for (const HandleEntry& h : M().handles)
    if (e.serial && (uint64_t)h.id == e.serial && Holds(h, e.path)) {
      M().files.detached[e.serial] = e;
      return;
    }
}

// How a call on an open file's handle begins: the handle, or null when the call fails already
// (not a file handle: ERROR_INVALID_HANDLE; or an injected fault for the file it names).
static HandleEntry* FileCall(const Call& call, HANDLE hFile) {
  HandleEntry* h = FindHandle(hFile, HandleKind::File);
  if (!h) return Fail(ERROR_INVALID_HANDLE, nullptr);
  if (call.Faulted(h->name)) return nullptr;
  return h;
}

static std::string LongForm(const std::string& full);
static FileEntry* Find(const std::string& path) { return Lookup(LongForm(FullPath(path))); }

// The error for a path that names nothing: the file is missing, or already its directory is.
static DWORD MissingError(const std::string& full) {
  FileEntry* parent = Lookup(ParentOf(full));
  return parent && parent->isDirectory ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND;
}

// Where a new entry may be created: the error, or 0.
static DWORD CreateError(const std::string& full) {
  FileEntry* parent = Lookup(ParentOf(full));
  if (!parent || !parent->isDirectory) return ERROR_PATH_NOT_FOUND;
  if (parent->accessDenied) return ERROR_ACCESS_DENIED;
  return 0;
}

// Takes a name away: the other name of a hard-linked file is then its only one.
static void EraseEntry(const std::string& full) {
  auto it = M().files.entries.find(Lower(full));
  if (it == M().files.entries.end()) return;
  KeepForHandles(it->second);
  if (!it->second.linkedName.empty()) {
    if (FileEntry* other = Lookup(it->second.linkedName)) {
      other->links = other->links > 1 ? other->links - 1 : 1;
      other->linkedName.clear();
    }
  }
  M().files.entries.erase(it);
}

// The path that opening `full` reaches: a junction or symbolic link met on the way leads to
// its target, the last part too when `followLast`. False when the links go round (Windows
// gives up after a few dozen).
// The path with each part that is an entry's 8.3 short name spelled as the entry's long name.
static std::string LongForm(const std::string& full) {
  size_t root = RootLength(full);
  std::string path = full.substr(0, root);
  for (size_t at = root; at < full.size();) {
    size_t end = full.find('\\', at);
    if (end == std::string::npos) end = full.size();
    std::string part = full.substr(at, end - at);
    std::string next = path + (path.size() > root ? "\\" : "") + part;
    if (!Lookup(next))
      for (const auto& entry : M().files.entries)
        if (!entry.second.shortName.empty() && EqualNoCase(entry.second.shortName, part) &&
            EqualNoCase(ParentOf(entry.second.path), path)) {
          next = entry.second.path;
          break;
        }
    path = next;
    at = end + 1;
  }
  return path;
}

static bool Resolve(const std::string& full, bool followLast, std::string* resolved) {
  std::string path = LongForm(full);
  for (int hops = 0; hops < 32; hops++) {
    bool redirected = false;
    for (size_t at = RootLength(path); at <= path.size() && !redirected;) {
      size_t end = path.find('\\', at);
      if (end == std::string::npos) end = path.size();
      FileEntry* e = Lookup(path.substr(0, end));
      if (e && !e->reparseTarget.empty() && (end < path.size() || followLast)) {
        path = LongForm(e->reparseTarget + path.substr(end));
        redirected = true;
      }
      at = end + 1;
    }
    if (!redirected) {
      *resolved = path;
      return true;
    }
  }
  return false;
}

// Moves an entry, with everything below it when it is a directory, to a new full path. The
// paths are taken by value: callers pass an entry's own path, which the move erases.
static void MoveEntry(const std::string fromFull, const std::string toFull) {
  auto& entries = M().files.entries;
  std::string fromKey = Lower(fromFull);
  std::vector<std::pair<std::string, FileEntry>> moved;
  for (auto it = entries.begin(); it != entries.end();) {
    const std::string& key = it->first;
    bool below = key.size() > fromKey.size() && key.compare(0, fromKey.size(), fromKey) == 0 &&
                 key[fromKey.size()] == '\\';
    if (key == fromKey || below) {
      FileEntry e = it->second;
      e.path = toFull + e.path.substr(fromFull.size());
      for (HandleEntry& h : M().handles)  // its handles follow it
        if (Holds(h, it->second.path)) h.name = e.path;
      moved.emplace_back(Lower(e.path), e);
      it = entries.erase(it);
    } else {
      ++it;
    }
  }
  for (auto& m : moved) entries[m.first] = m.second;
  // The other names of hard-linked files that moved follow them.
  for (auto& entry : entries) {
    std::string& other = entry.second.linkedName;
    std::string otherKey = Lower(other);
    if (!other.empty() && (otherKey == fromKey || (otherKey.size() > fromKey.size() &&
                                                    otherKey.compare(0, fromKey.size(), fromKey) == 0 &&
                                                    otherKey[fromKey.size()] == '\\')))
      other = toFull + other.substr(fromFull.size());
  }
}

static bool HasChildren(const std::string& full) {
  std::string prefix = Lower(full) + "\\";
  auto it = M().files.entries.lower_bound(prefix);
  return it != M().files.entries.end() && it->first.compare(0, prefix.size(), prefix) == 0;
}

void InitFiles() {
  AddDirectory("C:\\WINDOWS\\system32\\drivers");
  AddDirectory("C:\\WINDOWS\\Temp");
  AddDirectory("C:\\WINDOWS\\SysWOW64");
}

void AddDirectory(const std::string& path) {
  std::string full = FullPath(path);
  if (full.empty()) return;
  std::vector<std::string> chain;
  for (std::string p = full; !p.empty(); p = ParentOf(p)) chain.push_back(p);
  for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
    if (Lookup(*it)) continue;
    FileEntry e;
    e.path = *it;
    e.isDirectory = true;
    e.attributes = FILE_ATTRIBUTE_DIRECTORY;
    M().files.entries[Lower(*it)] = e;
  }
}

void AddFile(const std::string& path, const std::string& contents, uint64_t lastWriteTime,
             DWORD attributes) {
  std::string full = FullPath(path);
  if (full.empty()) return;
  AddDirectory(ParentOf(full));
  FileEntry e;
  e.path = full;
  e.contents = contents;
  e.attributes = attributes;
  e.lastWriteTime = lastWriteTime;
  if (FileEntry* old = Lookup(full)) KeepForHandles(*old);
  M().files.entries[Lower(full)] = e;
}

void RemoveFile(const std::string& path) { EraseEntry(FullPath(path)); }

void HoldOpen(const std::string& path, bool lockInsteadOfShare) {
  if (FileEntry* e = Find(path)) e->hold = lockInsteadOfShare ? Hold::Locked : Hold::NoSharing;
}

void HoldSharingReads(const std::string& path) {
  if (FileEntry* e = Find(path)) e->hold = Hold::SharesReads;
}

void ReleaseHold(const std::string& path) {
  if (FileEntry* e = Find(path)) e->hold = Hold::None;
}

void DenyAccess(const std::string& path, bool denied) {
  if (FileEntry* e = Find(path)) e->accessDenied = denied;
}

void RefuseDelayedMoves(bool refuse) { M().files.refuseDelayedMoves = refuse; }

std::string LongPath(const std::string& path) { return LongForm(FullPath(path)); }

void SetShortName(const std::string& path, const std::string& shortName) {
  if (FileEntry* e = Find(path)) e->shortName = shortName;
}

void SetRunningImage(const std::string& path) {
  if (FileEntry* e = Find(path))
    if (!e->isDirectory) {
      e->runningImage = true;
      M().modulePath = e->path;
    }
}

void EndRunningImages() {
  if (!M().modulePath.empty()) M().lastModulePath = M().modulePath;
  M().modulePath.clear();
  for (auto& entry : M().files.entries) entry.second.runningImage = false;
}

void AddHardLink(const std::string& path, const std::string& existing) {
  std::string full = FullPath(path);
  FileEntry* file = Find(existing);
  if (full.empty() || !file || file->isDirectory) return;
  AddDirectory(ParentOf(full));
  file->links = 2;
  file->linkedName = full;
  FileEntry e = *file;
  e.path = full;
  e.linkedName = file->path;
  M().files.entries[Lower(full)] = e;
}

void AddSymbolicLink(const std::string& path, const std::string& target) {
  std::string full = FullPath(path);
  if (full.empty()) return;
  AddFile(full, "", 0, FILE_ATTRIBUTE_REPARSE_POINT);
  Lookup(full)->reparseTarget = FullPath(target);
}

void AddJunction(const std::string& path, const std::string& target) {
  std::string full = FullPath(path);
  if (full.empty()) return;
  AddDirectory(full);
  FileEntry* e = Lookup(full);
  e->attributes = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT;
  e->reparseTarget = FullPath(target);
}

// A file marked for deletion goes once no handle has it open any more.
void FileHandleClosed(const std::string& name) {
  std::map<uint64_t, FileEntry>& detached = M().files.detached;
  for (auto it = detached.begin(); it != detached.end();) {
    bool held = false;
    for (const HandleEntry& h : M().handles)
      held |= h.open && h.kind == HandleKind::File && (uint64_t)h.id == it->first;
    it = held ? std::next(it) : detached.erase(it);
  }
  FileEntry* e = Lookup(name);
  if (!e || !e->deletePending) return;
  for (const HandleEntry& h : M().handles)
    if (Holds(h, name)) return;
  EraseEntry(name);
}

// A list as the restart reads it: pairs of strings up to an empty source or the value's end,
// "\??\" and "!" taken off; what it cannot name stays as written and is found nowhere.
static std::vector<PendingMove> MovesOfValue(const std::string& value) {
  std::vector<std::string> strings;
  for (size_t at = 0; at < value.size();) {
    size_t end = value.find('\0', at);
    if (end == std::string::npos) end = value.size();
    strings.push_back(value.substr(at, end - at));
    at = end + 1;
  }
  auto strip = [](std::string path) { return path.compare(0, 4, "\\??\\") == 0 ? path.substr(4) : path; };
  std::vector<PendingMove> moves;
  for (size_t i = 0; i + 1 < strings.size() && !strings[i].empty(); i += 2) {
    bool replace = !strings[i + 1].empty() && strings[i + 1][0] == '!';
    moves.push_back(PendingMove{strip(strings[i]), strip(strings[i + 1].substr(replace)), replace});
  }
  return moves;
}

void ApplyPendingMoves() {
  FilesModel& f = M().files;
  for (auto& entry : f.entries) entry.second.hold = Hold::None;
  EndRunningImages();
  // The handles are gone: files marked for deletion went with them.
  std::vector<std::string> marked;
  for (auto& entry : f.entries)
    if (entry.second.deletePending) marked.push_back(entry.second.path);
  for (const std::string& path : marked) EraseEntry(path);
  std::vector<PendingMove> moves;
  moves.swap(f.pendingMoves);
  if (!f.pendingRaw.empty()) moves = MovesOfValue(f.pendingRaw);
  std::vector<PendingMove> second =
      f.pendingRaw2.empty() ? f.pendingMoves2 : MovesOfValue(f.pendingRaw2);
  if (f.pendingType2 != REG_MULTI_SZ) second.clear();
  moves.insert(moves.end(), second.begin(), second.end());
  f.pendingMoves2.clear();
  f.pendingRaw.clear();
  f.pendingRaw2.clear();
  f.pendingType2 = REG_MULTI_SZ;
  for (const PendingMove& m : moves) {
    FileEntry* source = Lookup(m.source);
    if (!source) continue;
    if (m.dest.empty()) {
      // A directory that still holds anything is not deleted.
      if (source->isDirectory && HasChildren(m.source)) continue;
      EraseEntry(m.source);
      continue;
    }
    FileEntry* dest = Lookup(m.dest);
    if (dest && dest != source && !m.replace) continue;
    if (CreateError(m.dest) == ERROR_PATH_NOT_FOUND) continue;
    if (dest && dest != source) EraseEntry(m.dest);
    MoveEntry(source->path, m.dest);
  }
}

bool FileExists(const std::string& path) {
  FileEntry* e = Find(path);
  return e && !e->isDirectory;
}

bool DirectoryExists(const std::string& path) {
  FileEntry* e = Find(path);
  return e && e->isDirectory;
}

std::string FileContents(const std::string& path) {
  FileEntry* e = Find(path);
  return e ? e->contents : std::string();
}

uint64_t FileTime(const std::string& path) {
  FileEntry* e = Find(path);
  return e ? e->lastWriteTime : 0;
}

DWORD FileAttributes(const std::string& path) {
  FileEntry* e = Find(path);
  return e ? e->attributes : INVALID_FILE_ATTRIBUTES;
}

const std::vector<PendingMove>& PendingMoves() { return M().files.pendingMoves; }

}  // namespace sim

static FILETIME ToFileTime(uint64_t t) {
  FILETIME ft;
  ft.dwLowDateTime = (DWORD)(t & 0xFFFFFFFFu);
  ft.dwHighDateTime = (DWORD)(t >> 32);
  return ft;
}

static uint64_t FromFileTime(const FILETIME* ft) {
  return ((uint64_t)ft->dwHighDateTime << 32) | ft->dwLowDateTime;
}

static bool SameLetter(char a, char b) {
  return tolower((unsigned char)a) == tolower((unsigned char)b);
}

// Wildcard match of a name against a pattern of '*' and '?', without case. Only the latest
// '*' is ever resumed, so the work stays within name length times pattern length, where
// trying every split would take exponential time.
static bool Matches(const char* name, const char* pattern) {
  const char* star = nullptr;  // the latest '*' met, and where its match now ends
  const char* resume = nullptr;
  while (*name) {
    if (*pattern == '*') {
      star = pattern++;
      resume = name;
    } else if (*pattern && (*pattern == '?' || SameLetter(*pattern, *name))) {
      pattern++;
      name++;
    } else if (star) {
      pattern = star + 1;
      name = ++resume;
    } else {
      return false;
    }
  }
  while (*pattern == '*') pattern++;
  return *pattern == '\0';
}

// The path-length limit of the functions that take ANSI names: those that convert the name
// into the thread's fixed buffer (MAX_PATH characters and a NUL) refuse a longer one with 206;
// the copy and move functions take longer names but Windows cannot resolve one of MAX_PATH
// characters or more (3; Wine can).
static bool TooLong(const char* path, size_t limit, DWORD error) {
  if (!path || strlen(path) < limit) return false;
  return Fail(error, true);
}

HANDLE FindFirstFileA(LPCSTR lpFileName, LPWIN32_FIND_DATAA lpFindFileData) {
  SIM_CALL({Str(lpFileName), Ptr(lpFindFileData)});
  if (call.Faulted(lpFileName ? lpFileName : "")) return INVALID_HANDLE_VALUE;
  if (!lpFileName || !lpFindFileData) return Fail(ERROR_INVALID_PARAMETER, INVALID_HANDLE_VALUE);
  if (TooLong(lpFileName, MAX_PATH + 1, ERROR_FILENAME_EXCED_RANGE)) return INVALID_HANDLE_VALUE;
  std::string name = lpFileName;
  if (name.empty() || name.back() == '\\' || name.back() == '/')
    return Fail(ERROR_FILE_NOT_FOUND, INVALID_HANDLE_VALUE);
  std::string full = FullPath(name);
  if (full.empty()) return Fail(ERROR_PATH_NOT_FOUND, INVALID_HANDLE_VALUE);
  FileEntry* found = nullptr;
  std::string pattern = NameOf(full);
  if (pattern.find_first_of("*?") != std::string::npos) {
    std::string parentKey = Lower(ParentOf(full));
    for (auto& entry : M().files.entries) {
      if (Lower(ParentOf(entry.second.path)) != parentKey || entry.first == parentKey) continue;
      if (Matches(NameOf(entry.second.path).c_str(), pattern.c_str())) {
        found = &entry.second;
        break;
      }
    }
  } else {
    found = Lookup(full);
  }
  if (!found || found->path.size() <= 3) return Fail(MissingError(full), INVALID_HANDLE_VALUE);
  memset(lpFindFileData, 0, sizeof *lpFindFileData);
  lpFindFileData->dwFileAttributes = found->attributes;
  lpFindFileData->ftCreationTime = ToFileTime(found->lastWriteTime);
  lpFindFileData->ftLastAccessTime = ToFileTime(found->lastWriteTime);
  lpFindFileData->ftLastWriteTime = ToFileTime(found->lastWriteTime);
  lpFindFileData->nFileSizeLow = (DWORD)found->contents.size();
  std::string shown = NameOf(found->path);
  strncpy(lpFindFileData->cFileName, shown.c_str(), MAX_PATH - 1);
  return NewHandle(HandleKind::Find, M().files.nextFindId++, found->path);
}

BOOL FindClose(HANDLE hFindFile) {
  SIM_CALL({Ptr(hFindFile)});
  if (!FindHandle(hFindFile, HandleKind::Find)) return Fail(ERROR_INVALID_HANDLE);
  // A failure reported on closing a valid handle leaves no handle open: there is nothing
  // the caller could close again.
  ReleaseAnyHandle(hFindFile);
  return !call.Faulted();
}

LONG CompareFileTime(const FILETIME* lpFileTime1, const FILETIME* lpFileTime2) {
  uint64_t a = FromFileTime(lpFileTime1), b = FromFileTime(lpFileTime2);
  SIM_CALL({Hex(a), Hex(b)});
  return a < b ? -1 : (a > b ? 1 : 0);
}

BOOL SetFileAttributesA(LPCSTR lpFileName, DWORD dwFileAttributes) {
  SIM_CALL({Str(lpFileName), Hex(dwFileAttributes)});
  if (call.Faulted(lpFileName ? lpFileName : "")) return FALSE;
  if (!lpFileName) return Fail(ERROR_INVALID_PARAMETER);
  if (TooLong(lpFileName, MAX_PATH + 1, ERROR_FILENAME_EXCED_RANGE)) return FALSE;
  std::string full = FullPath(lpFileName);
  FileEntry* e = Lookup(full);
  if (!e) return Fail(full.empty() ? ERROR_PATH_NOT_FOUND : MissingError(full));
  if (e->accessDenied) return Fail(ERROR_ACCESS_DENIED);
  // Only the attribute bits change; a file held open by another program still allows it.
  DWORD kept = dwFileAttributes & SETTABLE_ATTRIBUTES;
  if (e->isDirectory)
    e->attributes = FILE_ATTRIBUTE_DIRECTORY | kept;
  else
    e->attributes = kept ? kept : FILE_ATTRIBUTE_NORMAL;
  return TRUE;
}

namespace {
bool ClashesWithOpenHandles(const std::string& full, DWORD access, DWORD share);
}

BOOL CopyFileA(LPCSTR lpExistingFileName, LPCSTR lpNewFileName, BOOL bFailIfExists) {
  SIM_CALL({Str(lpExistingFileName), Str(lpNewFileName), Dec(bFailIfExists)});
  if (call.Faulted(lpNewFileName ? lpNewFileName : "")) return FALSE;
  if (!lpExistingFileName || !lpNewFileName) return Fail(ERROR_INVALID_PARAMETER);
  if (TooLong(lpExistingFileName, MAX_PATH, ERROR_PATH_NOT_FOUND) ||
      TooLong(lpNewFileName, MAX_PATH, ERROR_PATH_NOT_FOUND))
    return FALSE;
  std::string sourceFull = FullPath(lpExistingFileName);
  FileEntry* source = Lookup(sourceFull);
  if (!source) return Fail(sourceFull.empty() ? ERROR_PATH_NOT_FOUND : MissingError(sourceFull));
  if (source->isDirectory || source->accessDenied) return Fail(ERROR_ACCESS_DENIED);
  if (source->hold == Hold::NoSharing) return Fail(ERROR_SHARING_VIOLATION);
  if (source->hold == Hold::Locked) return Fail(ERROR_LOCK_VIOLATION);

  std::string destFull = FullPath(lpNewFileName);
  if (destFull.empty()) return Fail(ERROR_PATH_NOT_FOUND);
  if (DWORD error = CreateError(destFull)) return Fail(error);
  FileEntry* dest = Lookup(destFull);
  if (dest) {
    // A file copied onto itself is already open for reading without write sharing.
    if (dest == source) return Fail(ERROR_SHARING_VIOLATION);
    if (bFailIfExists) return Fail(ERROR_FILE_EXISTS);
    if (dest->isDirectory || dest->accessDenied) return Fail(ERROR_ACCESS_DENIED);
    if (dest->hold == Hold::NoSharing || dest->hold == Hold::SharesReads || dest->runningImage)
      return Fail(ERROR_SHARING_VIOLATION);
    if (dest->hold == Hold::Locked) return Fail(ERROR_LOCK_VIOLATION);
    if (dest->attributes & FILE_ATTRIBUTE_READONLY) return Fail(ERROR_ACCESS_DENIED);
    // Windows will not overwrite a hidden or system file with one that lacks the attribute.
    DWORD special = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
    if ((dest->attributes & special) & ~source->attributes) return Fail(ERROR_ACCESS_DENIED);
  }
  FileEntry copy = *source;
  copy.path = dest ? dest->path : destFull;
  copy.hold = Hold::None;
  copy.accessDenied = false;
  copy.runningImage = false;
  copy.links = 1;
  copy.linkedName.clear();
  copy.finalPath.clear();
  copy.deletePending = false;
  copy.index = 0;  // another file
  copy.serial = 0;
  copy.security.clear();
  copy.shortName.clear();
  if (dest) EraseEntry(destFull);
  if (M().cutInside && M().cutCall == M().callCount) {
    // The power fails half-way: the destination holds the first half, written just now.
    copy.contents.resize(copy.contents.size() / 2);
    copy.lastWriteTime = NowFileTime();
    M().files.entries[Lower(destFull)] = copy;
    throw PowerCut();
  }
  M().files.entries[Lower(destFull)] = copy;  // keeps the source's last-write time
  return TRUE;
}

BOOL MoveFileExA(LPCSTR lpExistingFileName, LPCSTR lpNewFileName, DWORD dwFlags) {
  SIM_CALL({Str(lpExistingFileName), Str(lpNewFileName), Hex(dwFlags)});
  if (call.Faulted(lpExistingFileName ? lpExistingFileName : "")) return FALSE;
  if (!lpExistingFileName) return Fail(ERROR_INVALID_PARAMETER);
  if (TooLong(lpExistingFileName, MAX_PATH, ERROR_PATH_NOT_FOUND) ||
      TooLong(lpNewFileName, MAX_PATH, ERROR_PATH_NOT_FOUND))
    return FALSE;
  FilesModel& f = M().files;
  bool replace = (dwFlags & MOVEFILE_REPLACE_EXISTING) != 0;
  std::string sourceFull = FullPath(lpExistingFileName);
  if (sourceFull.empty()) return Fail(ERROR_PATH_NOT_FOUND);

  if (dwFlags & MOVEFILE_DELAY_UNTIL_REBOOT) {
    // Only recorded now; the files are looked at when the restart carries the move out.
    if (dwFlags & MOVEFILE_COPY_ALLOWED) return Fail(ERROR_INVALID_PARAMETER);
    if (f.refuseDelayedMoves) return Fail(ERROR_ACCESS_DENIED);
    std::string destFull = lpNewFileName ? FullPath(lpNewFileName) : std::string();
    if (lpNewFileName && destFull.empty()) return Fail(ERROR_PATH_NOT_FOUND);
    f.pendingMoves.push_back(PendingMove{sourceFull, destFull, replace});
    if (!f.pendingRaw.empty()) {
      // Windows takes the value's last NUL for the list's end, drops it, and appends.
      f.pendingRaw.pop_back();
      f.pendingRaw += "\\??\\" + sourceFull + '\0';
      if (!destFull.empty()) f.pendingRaw += std::string(replace ? "!" : "") + "\\??\\" + destFull;
      f.pendingRaw += std::string(2, '\0');
    }
    return TRUE;
  }

  if (!lpNewFileName) return Fail(ERROR_INVALID_PARAMETER);
  FileEntry* source = Lookup(sourceFull);
  if (!source) return Fail(MissingError(sourceFull));
  if (source->accessDenied) return Fail(ERROR_ACCESS_DENIED);
  if (source->hold != Hold::None ||
      ClashesWithOpenHandles(source->path, DELETE,
                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE))
    return Fail(ERROR_SHARING_VIOLATION);
  std::string destFull = FullPath(lpNewFileName);
  if (destFull.empty()) return Fail(ERROR_PATH_NOT_FOUND);
  if (DWORD error = CreateError(destFull)) return Fail(error);
  FileEntry* dest = Lookup(destFull);
  if (dest && dest != source) {
    if (!replace) return Fail(ERROR_ALREADY_EXISTS);
    if (dest->isDirectory || dest->accessDenied || dest->runningImage ||
        (dest->attributes & FILE_ATTRIBUTE_READONLY))
      return Fail(ERROR_ACCESS_DENIED);
    if (dest->hold != Hold::None) return Fail(ERROR_SHARING_VIOLATION);
    EraseEntry(destFull);
    source = Lookup(sourceFull);
  }
  MoveEntry(source->path, destFull);
  return TRUE;
}

BOOL CreateDirectoryA(LPCSTR lpPathName, LPSECURITY_ATTRIBUTES lpSecurityAttributes) {
  SIM_CALL({Str(lpPathName), Ptr(lpSecurityAttributes)});
  if (call.Faulted(lpPathName ? lpPathName : "")) return FALSE;
  if (!lpPathName) return Fail(ERROR_INVALID_PARAMETER);
  // A new directory must leave room for an 8.3 name below it.
  if (TooLong(lpPathName, MAX_PATH - 12, ERROR_FILENAME_EXCED_RANGE)) return FALSE;
  std::string full = FullPath(lpPathName);
  if (full.empty()) return Fail(ERROR_PATH_NOT_FOUND);
  if (Lookup(full)) return Fail(ERROR_ALREADY_EXISTS);
  if (DWORD error = CreateError(full)) return Fail(error);
  FileEntry e;
  e.path = full;
  e.isDirectory = true;
  e.attributes = FILE_ATTRIBUTE_DIRECTORY;
  e.security = DescribeGrants(lpSecurityAttributes);
  M().files.entries[Lower(full)] = e;
  return TRUE;
}

namespace {

const DWORD READ_RIGHTS = GENERIC_READ | GENERIC_ALL | FILE_READ_DATA;
const DWORD WRITE_RIGHTS = GENERIC_WRITE | GENERIC_ALL | FILE_WRITE_DATA | FILE_APPEND_DATA;

// Whether an opener asking for `access` and sharing `share` clashes with the installer's own
// open handles on the same file: each must let the other do what it does.
bool ClashesWithOpenHandles(const std::string& full, DWORD access, DWORD share) {
  for (const HandleEntry& h : M().handles) {
    if (!Holds(h, full)) continue;
    if (((access & READ_RIGHTS) && !(h.share & FILE_SHARE_READ)) ||
        ((access & WRITE_RIGHTS) && !(h.share & FILE_SHARE_WRITE)) ||
        ((access & DELETE) && !(h.share & FILE_SHARE_DELETE)) ||
        ((h.access & READ_RIGHTS) && !(share & FILE_SHARE_READ)) ||
        ((h.access & WRITE_RIGHTS) && !(share & FILE_SHARE_WRITE)) ||
        ((h.access & DELETE) && !(share & FILE_SHARE_DELETE)))
      return true;
  }
  return false;
}

bool UnarrangedImage(const std::string& full) {
  return M().modulePath.empty() && EqualNoCase(full, kUnarrangedImage);
}

}  // namespace

// CreateFileA of a path in the file system (console.cpp dispatches here): files only, with the
// dispositions, sharing and denials that Windows applies.
HANDLE OpenFilePath(const std::string& asked, DWORD access, DWORD share, DWORD disposition,
                    DWORD flags, const std::string& security) {
  std::string full;
  if (!Resolve(asked, !(flags & FILE_FLAG_OPEN_REPARSE_POINT), &full))
    return Fail(ERROR_CANT_RESOLVE_FILENAME, INVALID_HANDLE_VALUE);
  FileEntry* e = Lookup(full);
  if (e && e->isDirectory) return Fail(ERROR_ACCESS_DENIED, INVALID_HANDLE_VALUE);
  if (!e && UnarrangedImage(full) && disposition == OPEN_EXISTING &&
      !(access & (WRITE_RIGHTS | DELETE))) {
    // The running program a test did not arrange has no bytes here, yet it can be opened.
    HANDLE h = NewHandle(HandleKind::File, 0, kUnarrangedImage, access);
    FindHandle(h, HandleKind::File)->share = share;
    return h;
  }
  if (!e) {
    if (disposition == OPEN_EXISTING || disposition == TRUNCATE_EXISTING)
      return Fail(MissingError(full), INVALID_HANDLE_VALUE);
    if (DWORD error = CreateError(full)) return Fail(error, INVALID_HANDLE_VALUE);
    FileEntry created;
    created.path = full;
    created.lastWriteTime = 0;
    created.security = security;
    M().files.entries[Lower(full)] = created;
    e = Lookup(full);
    M().lastError = 0;
  } else {
    if (disposition == CREATE_NEW) return Fail(ERROR_FILE_EXISTS, INVALID_HANDLE_VALUE);
    if (e->accessDenied || e->deletePending) return Fail(ERROR_ACCESS_DENIED, INVALID_HANDLE_VALUE);
    if ((access & WRITE_RIGHTS) && (e->attributes & FILE_ATTRIBUTE_READONLY))
      return Fail(ERROR_ACCESS_DENIED, INVALID_HANDLE_VALUE);
    bool readerClashes = e->hold == Hold::SharesReads &&
                         ((access & (WRITE_RIGHTS | DELETE)) || !(share & FILE_SHARE_READ));
    if (e->hold == Hold::NoSharing || readerClashes || ClashesWithOpenHandles(full, access, share) ||
        (e->runningImage && (access & (WRITE_RIGHTS | DELETE))))
      return Fail(ERROR_SHARING_VIOLATION, INVALID_HANDLE_VALUE);
    if (disposition == CREATE_ALWAYS || disposition == TRUNCATE_EXISTING) e->contents.clear();
    // Opening an existing file where one may be created says so in the last error.
    M().lastError =
        (disposition == OPEN_ALWAYS || disposition == CREATE_ALWAYS) ? ERROR_ALREADY_EXISTS : 0;
  }
  if (!e->serial) e->serial = ++M().files.lastSerial;
  HANDLE h = NewHandle(HandleKind::File, (int64_t)e->serial, e->path, access);
  FindHandle(h, HandleKind::File)->share = share;
  return h;
}

BOOL WriteFile(HANDLE hFile, LPCVOID lpBuffer, DWORD nNumberOfBytesToWrite,
               LPDWORD lpNumberOfBytesWritten, LPOVERLAPPED lpOverlapped) {
  SIM_CALL({Ptr(hFile), Ptr(lpBuffer), Dec(nNumberOfBytesToWrite), Ptr(lpNumberOfBytesWritten),
            Ptr(lpOverlapped)});
  if (lpNumberOfBytesWritten) *lpNumberOfBytesWritten = 0;
  HandleEntry* h = FileCall(call, hFile);
  if (!h) return FALSE;
  if (!(h->access & WRITE_RIGHTS)) return Fail(ERROR_ACCESS_DENIED);
  FileEntry* e = FileOf(*h);
  if (!e) return Fail(ERROR_INVALID_HANDLE);
  if (e->hold == Hold::Locked) return Fail(ERROR_LOCK_VIOLATION);
  const char* bytes = (const char*)lpBuffer;
  // A handle with append access alone writes at the end of the file, whatever others wrote.
  bool appendOnly = (h->access & FILE_APPEND_DATA) &&
                    !(h->access & (GENERIC_WRITE | GENERIC_ALL | FILE_WRITE_DATA));
  uint64_t at = appendOnly ? e->contents.size() : h->position;
  if (at > e->contents.size()) e->contents.resize(at, '\0');
  e->contents.replace(at, std::min<uint64_t>(nNumberOfBytesToWrite, e->contents.size() - at),
                      bytes, nNumberOfBytesToWrite);
  h->position = at + nNumberOfBytesToWrite;
  // The file's other name shows the same bytes.
  if (!e->linkedName.empty())
    if (FileEntry* other = Lookup(e->linkedName)) other->contents = e->contents;
  if (lpNumberOfBytesWritten) *lpNumberOfBytesWritten = nNumberOfBytesToWrite;
  return TRUE;
}

// Reads from the handle's position on; at the end of the file it succeeds with no bytes. A
// range another program has locked cannot be read (33).
BOOL ReadFile(HANDLE hFile, LPVOID lpBuffer, DWORD nNumberOfBytesToRead,
              LPDWORD lpNumberOfBytesRead, LPOVERLAPPED lpOverlapped) {
  SIM_CALL({Ptr(hFile), Ptr(lpBuffer), Dec(nNumberOfBytesToRead), Ptr(lpNumberOfBytesRead),
            Ptr(lpOverlapped)});
  if (lpNumberOfBytesRead) *lpNumberOfBytesRead = 0;
  HandleEntry* h = FileCall(call, hFile);
  if (!h) return FALSE;
  if (!lpBuffer || !lpNumberOfBytesRead || lpOverlapped) return Fail(ERROR_INVALID_PARAMETER);
  if (!(h->access & READ_RIGHTS)) return Fail(ERROR_ACCESS_DENIED);
  FileEntry* e = FileOf(*h);
  if (!e) return Fail(ERROR_INVALID_HANDLE);
  if (e->hold == Hold::Locked) return Fail(ERROR_LOCK_VIOLATION);
  uint64_t at = std::min<uint64_t>(h->position, e->contents.size());
  DWORD count = (DWORD)std::min<uint64_t>(nNumberOfBytesToRead, e->contents.size() - at);
  memcpy(lpBuffer, e->contents.data() + at, count);
  h->position = at + count;
  *lpNumberOfBytesRead = count;
  return TRUE;
}

static uint64_t Join64(DWORD high, DWORD low) { return ((uint64_t)high << 32) | low; }

// Byte-range locks belong to a handle: a range another open handle of the file has locked
// (exclusively, or shared when this one asks for an exclusive lock) cannot be locked again,
// by any handle, until it is unlocked or its handle closed.
BOOL LockFileEx(HANDLE hFile, DWORD dwFlags, DWORD dwReserved, DWORD nNumberOfBytesToLockLow,
                DWORD nNumberOfBytesToLockHigh, LPOVERLAPPED lpOverlapped) {
  SIM_CALL({Ptr(hFile), Hex(dwFlags), Dec(dwReserved), Dec(nNumberOfBytesToLockLow),
            Dec(nNumberOfBytesToLockHigh), Ptr(lpOverlapped)});
  HandleEntry* h = FileCall(call, hFile);
  if (!h) return FALSE;
  if (!lpOverlapped || dwReserved != 0) return Fail(ERROR_INVALID_PARAMETER);
  if (!(h->access & (READ_RIGHTS | GENERIC_WRITE | FILE_WRITE_DATA)))
    return Fail(ERROR_ACCESS_DENIED);
  uint64_t start = Join64(lpOverlapped->OffsetHigh, lpOverlapped->Offset);
  uint64_t length = Join64(nNumberOfBytesToLockHigh, nNumberOfBytesToLockLow);
  bool exclusive = (dwFlags & LOCKFILE_EXCLUSIVE_LOCK) != 0;
  FileEntry* owner = FileOf(*h);
  for (const HandleEntry& other : M().handles) {
    if (!other.open || other.kind != HandleKind::File || FileOf(other) != owner) continue;
    for (const FileLock& l : other.locks) {
      bool overlaps = start < l.start + l.length && l.start < start + length;
      if (overlaps && (exclusive || l.exclusive)) {
        // Without LOCKFILE_FAIL_IMMEDIATELY Windows would wait here; nothing in the simulated
        // machine can unlock meanwhile, so it says so instead of hanging.
        return Fail(ERROR_LOCK_VIOLATION);
      }
    }
  }
  FindHandle(hFile, HandleKind::File)->locks.push_back(FileLock{start, length, exclusive});
  return TRUE;
}

BOOL UnlockFileEx(HANDLE hFile, DWORD dwReserved, DWORD nNumberOfBytesToUnlockLow,
                  DWORD nNumberOfBytesToUnlockHigh, LPOVERLAPPED lpOverlapped) {
  SIM_CALL({Ptr(hFile), Dec(dwReserved), Dec(nNumberOfBytesToUnlockLow),
            Dec(nNumberOfBytesToUnlockHigh), Ptr(lpOverlapped)});
  HandleEntry* h = FileCall(call, hFile);
  if (!h) return FALSE;
  if (!lpOverlapped || dwReserved != 0) return Fail(ERROR_INVALID_PARAMETER);
  uint64_t start = Join64(lpOverlapped->OffsetHigh, lpOverlapped->Offset);
  uint64_t length = Join64(nNumberOfBytesToUnlockHigh, nNumberOfBytesToUnlockLow);
  for (size_t i = 0; i < h->locks.size(); i++) {
    if (h->locks[i].start == start && h->locks[i].length == length) {
      h->locks.erase(h->locks.begin() + (long)i);
      return TRUE;
    }
  }
  return Fail(ERROR_NOT_LOCKED);
}

UINT GetTempFileNameA(LPCSTR lpPathName, LPCSTR lpPrefixString, UINT uUnique,
                      LPSTR lpTempFileName) {
  SIM_CALL({Str(lpPathName), Str(lpPrefixString), Dec(uUnique), Ptr(lpTempFileName)});
  if (call.Faulted(lpPathName ? lpPathName : "")) return 0;
  if (!lpPathName || !lpPrefixString || !lpTempFileName) return Fail(ERROR_INVALID_PARAMETER);
  // The name is the directory, three letters of the prefix, four hex digits and ".TMP",
  // written into a buffer of MAX_PATH.
  if (strlen(lpPathName) > MAX_PATH - 14) return Fail(ERROR_BUFFER_OVERFLOW);
  std::string dir = lpPathName;
  if (!dir.empty() && dir.back() != '\\' && dir.back() != '/') dir += "\\";
  std::string prefix = std::string(lpPrefixString).substr(0, 3);
  std::string dirFull = FullPath(dir);
  FileEntry* parent = Lookup(dirFull);
  if (!parent) return Fail(ERROR_PATH_NOT_FOUND);
  if (!parent->isDirectory) return Fail(ERROR_DIRECTORY);
  if (parent->accessDenied) return Fail(ERROR_ACCESS_DENIED);
  for (UINT unique = uUnique ? uUnique : 1; unique <= 0xFFFF; unique++) {
    char number[8];
    snprintf(number, sizeof number, "%X", unique);
    std::string name = dir + prefix + number + ".TMP";
    std::string full = FullPath(name);
    if (uUnique == 0 && Lookup(full)) continue;
    if (uUnique == 0) {
      // Only a number the function chose is made into an empty file.
      FileEntry e;
      e.path = full;
      e.lastWriteTime = 0;
      M().files.entries[Lower(full)] = e;
    }
    memcpy(lpTempFileName, name.c_str(), name.size() + 1);
    return unique;
  }
  return Fail(ERROR_FILE_EXISTS);
}

BOOL DeleteFileA(LPCSTR lpFileName) {
  SIM_CALL({Str(lpFileName)});
  if (call.Faulted(lpFileName ? lpFileName : "")) return FALSE;
  if (!lpFileName) return Fail(ERROR_INVALID_PARAMETER);
  if (TooLong(lpFileName, MAX_PATH + 1, ERROR_FILENAME_EXCED_RANGE)) return FALSE;
  std::string full = FullPath(lpFileName);
  FileEntry* e = Lookup(full);
  if (!e) return Fail(full.empty() ? ERROR_PATH_NOT_FOUND : MissingError(full));
  if (e->isDirectory || e->accessDenied) return Fail(ERROR_ACCESS_DENIED);
  // Opening it for deletion meets the sharing of the handles open on it first.
  if (ClashesWithOpenHandles(full, DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE))
    return Fail(ERROR_SHARING_VIOLATION);
  if (e->runningImage || (e->attributes & FILE_ATTRIBUTE_READONLY)) return Fail(ERROR_ACCESS_DENIED);
  if (e->deletePending) return Fail(ERROR_ACCESS_DENIED);
  if (e->hold != Hold::None || ClashesWithOpenHandles(full, DELETE, 0))
    return Fail(ERROR_SHARING_VIOLATION);
  EraseEntry(full);
  return TRUE;
}

BOOL RemoveDirectoryA(LPCSTR lpPathName) {
  SIM_CALL({Str(lpPathName)});
  if (call.Faulted(lpPathName ? lpPathName : "")) return FALSE;
  if (!lpPathName) return Fail(ERROR_INVALID_PARAMETER);
  if (TooLong(lpPathName, MAX_PATH + 1, ERROR_FILENAME_EXCED_RANGE)) return FALSE;
  std::string full = FullPath(lpPathName);
  FileEntry* e = Lookup(full);
  if (!e) return Fail(full.empty() ? ERROR_PATH_NOT_FOUND : MissingError(full));
  if (!e->isDirectory) return Fail(ERROR_DIRECTORY);
  if (e->accessDenied) return Fail(ERROR_ACCESS_DENIED);
  if (HasChildren(full)) return Fail(ERROR_DIR_NOT_EMPTY);
  // The current directory is held open by the process itself.
  if (EqualNoCase(FullPath(M().files.currentDir), full)) return Fail(ERROR_SHARING_VIOLATION);
  M().files.entries.erase(Lower(full));
  return TRUE;
}

DWORD GetFullPathNameA(LPCSTR lpFileName, DWORD nBufferLength, LPSTR lpBuffer,
                       LPSTR* lpFilePart) {
  SIM_CALL({Str(lpFileName), Dec(nBufferLength), Ptr(lpBuffer)});
  if (call.Faulted(lpFileName ? lpFileName : "")) return 0;
  if (!lpFileName || !lpFileName[0]) return Fail(ERROR_INVALID_NAME);
  if (TooLong(lpFileName, MAX_PATH + 1, ERROR_FILENAME_EXCED_RANGE)) return 0;
  std::string full = FullPath(lpFileName);
  if (full.empty()) return Fail(ERROR_INVALID_NAME);  // forms the model does not resolve
  // A trailing separator stays, as Windows keeps it.
  char last = lpFileName[strlen(lpFileName) - 1];
  if ((last == '\\' || last == '/') && full.back() != '\\') full += "\\";
  if (full.size() + 1 > nBufferLength || !lpBuffer) return (DWORD)(full.size() + 1);
  memcpy(lpBuffer, full.c_str(), full.size() + 1);
  if (lpFilePart) {
    char* cut = strrchr(lpBuffer, '\\');
    *lpFilePart = cut && cut[1] ? cut + 1 : NULL;
  }
  return (DWORD)full.size();
}

// Each short part spelled long, the other parts as given; the path must name an entry.
DWORD GetLongPathNameA(LPCSTR lpszShortPath, LPSTR lpszLongPath, DWORD cchBuffer) {
  SIM_CALL({Str(lpszShortPath), Ptr(lpszLongPath), Dec(cchBuffer)});
  if (!lpszShortPath) return Fail(ERROR_INVALID_PARAMETER);
  if (call.Faulted(lpszShortPath)) return 0;
  std::string full = FullPath(lpszShortPath);
  if (full.empty() || !EqualNoCase(full, lpszShortPath)) return Fail(ERROR_INVALID_PARAMETER);
  std::string path = LongForm(lpszShortPath);
  if (!Lookup(path)) return Fail(MissingError(path));
  if (!lpszLongPath || path.size() + 1 > cchBuffer) return (DWORD)(path.size() + 1);
  memcpy(lpszLongPath, path.c_str(), path.size() + 1);
  return (DWORD)path.size();
}

// The final path as Windows gives it: each part spelled as the file system holds it, the drive
// letter in upper case, after "\\?\"; a share's after "\\?\UNC\".
static std::string FinalSpelling(const std::string& full) {
  size_t root = RootLength(full);
  std::string path = full.substr(0, root);
  bool share = root != 3;
  if (!share) path[0] = (char)toupper((unsigned char)path[0]);
  for (size_t at = root; at < full.size();) {
    size_t end = full.find('\\', at);
    if (end == std::string::npos) end = full.size();
    FileEntry* e = Lookup(full.substr(0, end));
    path += (path.size() > root ? "\\" : "") + (e ? NameOf(e->path) : full.substr(at, end - at));
    at = end + 1;
  }
  return share ? "\\\\?\\UNC\\" + path.substr(2) : "\\\\?\\" + path;
}

BOOL GetFileInformationByHandle(HANDLE hFile, LPBY_HANDLE_FILE_INFORMATION lpFileInformation) {
  SIM_CALL({Ptr(hFile), Ptr(lpFileInformation)});
  HandleEntry* h = FileCall(call, hFile);
  if (!h) return FALSE;
  if (!lpFileInformation) return Fail(ERROR_INVALID_PARAMETER);
  FileEntry* e = FileOf(*h);
  if (!e) return Fail(ERROR_INVALID_HANDLE);
  memset(lpFileInformation, 0, sizeof *lpFileInformation);
  lpFileInformation->dwFileAttributes = e->attributes;
  lpFileInformation->ftCreationTime = ToFileTime(e->lastWriteTime);
  lpFileInformation->ftLastAccessTime = ToFileTime(e->lastWriteTime);
  lpFileInformation->ftLastWriteTime = ToFileTime(e->lastWriteTime);
  lpFileInformation->dwVolumeSerialNumber = 0x5EED1234;
  uint64_t size = e->contents.size();
  lpFileInformation->nFileSizeHigh = (DWORD)(size >> 32);
  lpFileInformation->nFileSizeLow = (DWORD)(size & 0xFFFFFFFFu);
  lpFileInformation->nNumberOfLinks = e->links;
  // Its identity on the volume, given when first asked for; a rename keeps it.
  if (!e->index) e->index = ++M().files.lastIndex;
  lpFileInformation->nFileIndexHigh = (DWORD)(e->index >> 32);
  lpFileInformation->nFileIndexLow = (DWORD)(e->index & 0xFFFFFFFFu);
  return TRUE;
}

// Only the DOS form, with a drive letter, is modelled.
DWORD GetFinalPathNameByHandleA(HANDLE hFile, LPSTR lpszFilePath, DWORD cchFilePath,
                                DWORD dwFlags) {
  SIM_CALL({Ptr(hFile), Ptr(lpszFilePath), Dec(cchFilePath), Hex(dwFlags)});
  HandleEntry* h = FileCall(call, hFile);
  if (!h) return 0;
  if (dwFlags != (FILE_NAME_NORMALIZED | VOLUME_NAME_DOS)) return Fail(ERROR_INVALID_PARAMETER);
  FileEntry* e = FileOf(*h);
  if (!e) return Fail(ERROR_INVALID_HANDLE);
  std::string path = e->finalPath.empty() ? FinalSpelling(e->path) : e->finalPath;
  // Too small a buffer: the size needed, with the terminating NUL.
  if (!lpszFilePath || path.size() + 1 > cchFilePath) return (DWORD)(path.size() + 1);
  memcpy(lpszFilePath, path.c_str(), path.size() + 1);
  return (DWORD)path.size();
}

namespace {

// The new name of a rename as bytes: what the record shows and the model resolves. False when
// the structure does not hold it.
bool RenameTarget(const void* info, DWORD size, std::string* name) {
  const size_t head = offsetof(FILE_RENAME_INFO, FileName);
  if (!info || size < head) return false;
  const FILE_RENAME_INFO* rename = (const FILE_RENAME_INFO*)info;
  if (rename->FileNameLength % sizeof(WCHAR) || rename->FileNameLength > size - head) return false;
  const WCHAR* wide = rename->FileName;
  std::u16string text;
  for (DWORD i = 0; i < rename->FileNameLength / sizeof(WCHAR); i++)
    text += wide[i] ? (char16_t)wide[i] : u'?';
  // The simulated files hold their names in the ANSI code page; a character it lacks makes a
  // name no file can have.
  bool lacking = false;
  *name = ToCodePage(text, M().ansiCodePage, true, &lacking);
  if (lacking) *name += '?';
  return true;
}

// FileRenameInfo: the open file gets the new name, which it may take from another file. Other
// handles of the file must share deletion; the file's handles keep it under its new name.
BOOL RenameOpenFile(HandleEntry* h, const FILE_RENAME_INFO* rename, const std::string& name) {
  if (!(h->access & DELETE)) return Fail(ERROR_ACCESS_DENIED);
  if (rename->RootDirectory || name.empty() || name.find('?') != std::string::npos)
    return Fail(ERROR_INVALID_NAME);
  FileEntry* e = FileOf(*h);
  if (!e) return Fail(ERROR_INVALID_HANDLE);
  if (e != Lookup(h->name)) return Fail(ERROR_ACCESS_DENIED);  // its path went to another file
  if (e->hold != Hold::None) return Fail(ERROR_SHARING_VIOLATION);
  for (const HandleEntry& other : M().handles)
    if (&other != h && Holds(other, h->name) && !(other.share & FILE_SHARE_DELETE))
      return Fail(ERROR_SHARING_VIOLATION);
  std::string destFull;
  // Folders on the way lead where their junctions do; a link at the new name is replaced.
  if (!Resolve(FullPath(name), false, &destFull) || destFull.empty())
    return Fail(ERROR_PATH_NOT_FOUND);
  if (!EqualNoCase(destFull.substr(0, 2), e->path.substr(0, 2)))
    return Fail(ERROR_NOT_SAME_DEVICE);
  if (DWORD error = CreateError(destFull)) return Fail(error);
  FileEntry* dest = Lookup(destFull);
  if (dest && dest != e) {
    if (!rename->ReplaceIfExists) return Fail(ERROR_ALREADY_EXISTS);
    if (dest->isDirectory || dest->accessDenied || (dest->attributes & FILE_ATTRIBUTE_READONLY))
      return Fail(ERROR_ACCESS_DENIED);
    bool open = dest->hold != Hold::None;
    for (const HandleEntry& other : M().handles)
      open |= Holds(other, dest->path);
    if (open) return Fail(ERROR_ACCESS_DENIED);
    EraseEntry(destFull);
  }
  MoveEntry(e->path, destFull);
  return TRUE;
}

}  // namespace

BOOL SetFileInformationByHandle(HANDLE hFile, FILE_INFO_BY_HANDLE_CLASS FileInformationClass,
                                LPVOID lpFileInformation, DWORD dwBufferSize) {
  std::string name;
  bool renames = FileInformationClass == FileRenameInfo &&
                 RenameTarget(lpFileInformation, dwBufferSize, &name);
  bool disposes = FileInformationClass == FileDispositionInfo && lpFileInformation &&
                  dwBufferSize >= sizeof(FILE_DISPOSITION_INFO);
  const FILE_BASIC_INFO* basic = FileInformationClass == FileBasicInfo && lpFileInformation &&
                                         dwBufferSize >= sizeof(FILE_BASIC_INFO)
                                     ? (const FILE_BASIC_INFO*)lpFileInformation
                                     : nullptr;
  SIM_CALL({Ptr(hFile), Dec(FileInformationClass),
            renames    ? name
            : disposes ? Dec(((FILE_DISPOSITION_INFO*)lpFileInformation)->DeleteFile)
            : basic    ? Hex((uint64_t)basic->LastWriteTime.QuadPart) + " " + Hex(basic->FileAttributes)
                       : Ptr(lpFileInformation),
            Dec(dwBufferSize)});
  HandleEntry* h = FileCall(call, hFile);
  if (!h) return FALSE;
  if (renames) return RenameOpenFile(h, (const FILE_RENAME_INFO*)lpFileInformation, name);
  if (basic) {
    // The times and attributes a copy keeps; 0 leaves each as it is.
    if (!(h->access & (WRITE_RIGHTS | FILE_WRITE_ATTRIBUTES))) return Fail(ERROR_ACCESS_DENIED);
    FileEntry* e = FileOf(*h);
    if (!e) return Fail(ERROR_INVALID_HANDLE);
    if (basic->LastWriteTime.QuadPart) e->lastWriteTime = (uint64_t)basic->LastWriteTime.QuadPart;
    if (basic->FileAttributes) {
      DWORD kept = basic->FileAttributes & SETTABLE_ATTRIBUTES;
      e->attributes = kept ? kept : FILE_ATTRIBUTE_NORMAL;
    }
    return TRUE;
  }
  if (!disposes) return Fail(ERROR_INVALID_PARAMETER);
  if (!(h->access & DELETE)) return Fail(ERROR_ACCESS_DENIED);
  FileEntry* e = FileOf(*h);
  if (!e) return Fail(ERROR_INVALID_HANDLE);
  if (e->attributes & FILE_ATTRIBUTE_READONLY) return Fail(ERROR_ACCESS_DENIED);
  e->deletePending = ((FILE_DISPOSITION_INFO*)lpFileInformation)->DeleteFile != 0;
  return TRUE;
}

namespace {

const uintptr_t kViewBase = 0x7E0000000000ULL, kViewStride = 0x10000;

MappedView* ViewAt(const void* address) {
  uintptr_t a = (uintptr_t)address;
  std::vector<MappedView>& views = M().files.views;
  if (a < kViewBase || (a - kViewBase) % kViewStride) return nullptr;
  size_t i = (a - kViewBase) / kViewStride;
  return i < views.size() && views[i].mapped ? &views[i] : nullptr;
}

// What an address given to NtAreMappedFilesTheSame is in: the running image (`running`), or
// a view of the file at `path`. False when it is in neither.
bool MappedFileAt(const void* address, bool* running, std::string* path) {
  if (address == (const void*)kImageModule) {
    *running = true;
    return true;
  }
  MappedView* v = ViewAt(address);
  if (!v) return false;
  *running = v->runningImage;
  *path = v->path;
  return true;
}

}  // namespace

namespace sim {

const HMODULE kImageModule = (HMODULE)(uintptr_t)0x140000000ULL;
const HMODULE kNtdllModule = (HMODULE)(uintptr_t)0x7FFB0000;

bool RenameFile(const std::string& from, const std::string& to) {
  std::string fromFull = FullPath(from), toFull = FullPath(to);
  if (!Lookup(fromFull) || toFull.empty() || Lookup(toFull) ||
      ClashesWithOpenHandles(fromFull, DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE))
    return false;
  std::string spelled = Lookup(fromFull)->path;
  MoveEntry(spelled, toFull);
  return true;
}

LONG NtAreMappedFilesTheSame(PVOID file1MappedAsAnImage, PVOID file2MappedAsFile) {
  SIM_CALL({Ptr(file1MappedAsAnImage), Ptr(file2MappedAsFile)});
  DWORD error = 0;
  if (call.FaultCode("", &error)) return (LONG)error;  // a status
  bool running1 = false, running2 = false;
  std::string path1, path2;
  if (!MappedFileAt(file1MappedAsAnImage, &running1, &path1) ||
      !MappedFileAt(file2MappedAsFile, &running2, &path2))
    return (LONG)0xC0000141;  // STATUS_INVALID_ADDRESS
  bool same = running1 || running2 ? running1 == running2 : EqualNoCase(path1, path2);
  return same ? 0 : (LONG)0xC00000D4;  // STATUS_NOT_SAME_DEVICE
}

}  // namespace sim

// Moves the file pointer of an open file, as ReadFile and WriteFile use it.
BOOL SetFilePointerEx(HANDLE hFile, LARGE_INTEGER liDistanceToMove,
                      PLARGE_INTEGER lpNewFilePointer, DWORD dwMoveMethod) {
  SIM_CALL({Ptr(hFile), Dec(liDistanceToMove.QuadPart), Ptr(lpNewFilePointer), Dec(dwMoveMethod)});
  HandleEntry* h = FileCall(call, hFile);
  if (!h) return FALSE;
  FileEntry* e = FileOf(*h);
  int64_t from = dwMoveMethod == FILE_BEGIN     ? 0
                 : dwMoveMethod == FILE_CURRENT ? (int64_t)h->position
                 : dwMoveMethod == FILE_END     ? (int64_t)(e ? e->contents.size() : 0)
                                                : -1;
  if (from < 0) return Fail(ERROR_INVALID_PARAMETER);
  int64_t to = from + liDistanceToMove.QuadPart;
  if (to < 0) return Fail(ERROR_NEGATIVE_SEEK);
  h->position = (uint64_t)to;
  if (lpNewFilePointer) lpNewFilePointer->QuadPart = to;
  return TRUE;
}

// A read-only mapping of an open file; SEC_IMAGE maps it as a program image. The mapping
// handle's id is its section.
HANDLE CreateFileMappingA(HANDLE hFile, LPSECURITY_ATTRIBUTES lpFileMappingAttributes,
                          DWORD flProtect, DWORD dwMaximumSizeHigh, DWORD dwMaximumSizeLow,
                          LPCSTR lpName) {
  SIM_CALL({Ptr(hFile), Ptr(lpFileMappingAttributes), Hex(flProtect), Dec(dwMaximumSizeHigh),
            Dec(dwMaximumSizeLow), Str(lpName)});
  HandleEntry* h = FileCall(call, hFile);
  if (!h) return NULL;
  if ((flProtect & ~SEC_IMAGE) != PAGE_READONLY || dwMaximumSizeHigh || dwMaximumSizeLow || lpName)
    return Fail(ERROR_INVALID_PARAMETER, nullptr);
  if (!(h->access & READ_RIGHTS)) return Fail(ERROR_ACCESS_DENIED, nullptr);
  Section section;
  section.path = h->name;
  section.image = (flProtect & SEC_IMAGE) != 0;
  if (FileEntry* e = FileOf(*h)) {
    // Nothing to map; the running image maps whatever bytes a test gave it.
    if (e->contents.empty() && !e->runningImage) return Fail(ERROR_FILE_INVALID, nullptr);
    // With no running program arranged, the file at the program's path is the one running.
    section.runningImage = e->runningImage || UnarrangedImage(e->path);
  } else if (UnarrangedImage(h->name)) {
    section.runningImage = true;
  } else {
    return Fail(ERROR_INVALID_HANDLE, nullptr);
  }
  M().files.sections.push_back(section);
  return NewHandle(HandleKind::Mapping, (int64_t)M().files.sections.size() - 1, h->name);
}

LPVOID MapViewOfFile(HANDLE hFileMappingObject, DWORD dwDesiredAccess, DWORD dwFileOffsetHigh,
                     DWORD dwFileOffsetLow, SIZE_T dwNumberOfBytesToMap) {
  SIM_CALL({Ptr(hFileMappingObject), Hex(dwDesiredAccess), Dec(dwFileOffsetHigh),
            Dec(dwFileOffsetLow), Dec((int64_t)dwNumberOfBytesToMap)});
  HandleEntry* h = FindHandle(hFileMappingObject, HandleKind::Mapping);
  if (!h) return Fail(ERROR_INVALID_HANDLE, nullptr);
  if (call.Faulted(h->name)) return NULL;
  if (dwDesiredAccess != FILE_MAP_READ) return Fail(ERROR_ACCESS_DENIED, nullptr);
  const Section& section = M().files.sections[(size_t)h->id];
  M().files.views.push_back(MappedView{section.path, section.runningImage, true});
  return (LPVOID)(kViewBase + (M().files.views.size() - 1) * kViewStride);
}

BOOL UnmapViewOfFile(LPCVOID lpBaseAddress) {
  SIM_CALL({Ptr(lpBaseAddress)});
  MappedView* v = ViewAt(lpBaseAddress);
  if (!v) return Fail(ERROR_INVALID_ADDRESS);
  v->mapped = false;
  // As with every release call: a reported failure still leaves the view unmapped.
  return !call.Faulted();
}

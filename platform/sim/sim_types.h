// The subset of Windows types and constants that the installer uses, declared for hosts
// that are not Windows. Sizes and layouts follow 64-bit Windows, so that the cbSize values
// the installer writes are the ones the real API expects.
#ifndef PLATFORM_SIM_SIM_TYPES_H
#define PLATFORM_SIM_SIM_TYPES_H

#include <stddef.h>
#include <stdint.h>

#define WINAPI
#define CALLBACK
#define ANYSIZE_ARRAY 1

typedef int BOOL;
typedef unsigned char BYTE;
typedef uint16_t WORD;
typedef uint32_t DWORD;
typedef int32_t LONG;
typedef uint32_t ULONG;
typedef int64_t LONGLONG;
typedef unsigned int UINT;
typedef char CHAR;
typedef int16_t SHORT;
typedef uint16_t USHORT;
typedef uint64_t ULONG_PTR;
typedef uint64_t SIZE_T;
typedef uint64_t DWORD_PTR;
typedef void* PVOID;
typedef void* LPVOID;
typedef const void* LPCVOID;
typedef char* LPSTR;
typedef const char* LPCSTR;
typedef unsigned short WCHAR;
typedef WCHAR* LPWSTR;
typedef const WCHAR* LPCWSTR;
typedef BOOL* LPBOOL;
typedef unsigned char BOOLEAN;
typedef DWORD* LPDWORD;
typedef DWORD* PDWORD;
typedef BYTE* PBYTE;
typedef BYTE* LPBYTE;
typedef void* HANDLE;
typedef HANDLE* PHANDLE;
typedef void* HWND;
typedef void* HLOCAL;
typedef struct SimHkey* HKEY;
typedef HKEY* PHKEY;
typedef LONG LSTATUS;
typedef DWORD REGSAM;
typedef DWORD ACCESS_MASK;
typedef DWORD SECURITY_INFORMATION;
typedef WORD SECURITY_DESCRIPTOR_CONTROL;
typedef void* PSID;
typedef void* HDEVINFO;
typedef struct SimHmodule* HMODULE;
typedef intptr_t (WINAPI* FARPROC)();

#ifndef TRUE
#define TRUE 1
// Code pages and the conversion of wide text to them.
#define CP_ACP 0
#define CP_UTF8 65001
#define WC_ERR_INVALID_CHARS 0x00000080UL
#define WC_NO_BEST_FIT_CHARS 0x00000400UL

#endif
#ifndef FALSE
#define FALSE 0
// Code pages and the conversion of wide text to them.
#define CP_ACP 0
#define CP_UTF8 65001
#define WC_ERR_INVALID_CHARS 0x00000080UL
#define WC_NO_BEST_FIT_CHARS 0x00000400UL

#endif

#define INVALID_HANDLE_VALUE ((HANDLE)(intptr_t)-1)
#define MAX_PATH 260

typedef union _LARGE_INTEGER {
  struct {
    DWORD LowPart;
    LONG HighPart;
  };
  int64_t QuadPart;
} LARGE_INTEGER, *PLARGE_INTEGER;

// File mappings and the file pointer.
#define PAGE_READONLY 0x02
#define SEC_IMAGE 0x1000000
#define FILE_MAP_READ 0x0004
#define FILE_BEGIN 0
#define FILE_CURRENT 1
#define FILE_END 2

// Error codes.
#define ERROR_SUCCESS 0L
#define NO_ERROR 0L
#define ERROR_FILE_NOT_FOUND 2L
#define ERROR_PATH_NOT_FOUND 3L
#define ERROR_ACCESS_DENIED 5L
#define ERROR_INVALID_HANDLE 6L
#define ERROR_NOT_ENOUGH_MEMORY 8L
#define ERROR_INVALID_DATA 13L
#define ERROR_OUTOFMEMORY 14L
#define ERROR_NO_MORE_FILES 18L
#define ERROR_SHARING_VIOLATION 32L
#define ERROR_LOCK_VIOLATION 33L
#define ERROR_NOT_LOCKED 158L
#define ERROR_HANDLE_EOF 38L
#define ERROR_HANDLE_DISK_FULL 39L
#define ERROR_FILE_EXISTS 80L
#define ERROR_DISK_FULL 112L
#define ERROR_DIR_NOT_EMPTY 145L
#define ERROR_INVALID_PARAMETER 87L
#define ERROR_BUFFER_OVERFLOW 111L
#define ERROR_DISK_FULL 112L
#define ERROR_INVALID_NAME 123L
#define ERROR_MOD_NOT_FOUND 126L
#define ERROR_PROC_NOT_FOUND 127L
#define ERROR_BAD_EXE_FORMAT 193L
#define ERROR_NEGATIVE_SEEK 131L
#define ERROR_INVALID_ADDRESS 487L
#define ERROR_FILE_INVALID 1006L
#define ERROR_FILENAME_EXCED_RANGE 206L
#define ERROR_INSUFFICIENT_BUFFER 122L
#define ERROR_ALREADY_EXISTS 183L
#define ERROR_MORE_DATA 234L
#define ERROR_NO_MORE_ITEMS 259L
#define ERROR_DIRECTORY 267L
#define ERROR_KEY_DELETED 1018L
#define ERROR_BADKEY 1010L
#define ERROR_CANTOPEN 1011L
#define ERROR_DEVICE_NOT_CONNECTED 1167L
#define ERROR_UNKNOWN_REVISION 1305L
#define ERROR_REVISION_MISMATCH 1306L
#define ERROR_INVALID_ACL 1336L
#define ERROR_INVALID_SID 1337L
#define ERROR_INVALID_SECURITY_DESCR 1338L
#define ERROR_ALLOTTED_SPACE_EXCEEDED 1344L
#define ERROR_GEN_FAILURE 31L
#define ERROR_NOT_OWNER 288L
#define ERROR_NO_SYSTEM_RESOURCES 1450L
#define ERROR_INVALID_USER_BUFFER 1784L
#define ERROR_INVALID_FLAGS 1004L
#define ERROR_INVALID_FUNCTION 1L
#define ERROR_NOT_SAME_DEVICE 17L
#define ERROR_NO_UNICODE_TRANSLATION 1113L
#define ERROR_CANT_RESOLVE_FILENAME 1921L
#define ERROR_FILE_TOO_LARGE 223L
#define RPC_S_SERVER_UNAVAILABLE 1722L
#define ERROR_LOG_FILE_FULL 1502L

// The types of an event in the event log.
#define EVENTLOG_SUCCESS 0x0000
#define EVENTLOG_ERROR_TYPE 0x0001
#define EVENTLOG_WARNING_TYPE 0x0002
#define EVENTLOG_INFORMATION_TYPE 0x0004

// Generic access, sharing and creation.
#define GENERIC_READ 0x80000000UL
#define GENERIC_WRITE 0x40000000UL
#define GENERIC_EXECUTE 0x20000000UL
#define GENERIC_ALL 0x10000000UL
#define FILE_READ_DATA 0x0001UL
#define FILE_WRITE_DATA 0x0002UL
#define FILE_APPEND_DATA 0x0004UL
#define FILE_SHARE_READ 0x00000001UL
#define FILE_SHARE_WRITE 0x00000002UL
#define FILE_SHARE_DELETE 0x00000004UL
#define CREATE_NEW 1
#define CREATE_ALWAYS 2
#define OPEN_EXISTING 3
#define OPEN_ALWAYS 4
#define TRUNCATE_EXISTING 5

// File attributes and moves.
#define FILE_ATTRIBUTE_READONLY 0x00000001UL
#define FILE_ATTRIBUTE_HIDDEN 0x00000002UL
#define FILE_ATTRIBUTE_SYSTEM 0x00000004UL
#define FILE_ATTRIBUTE_DIRECTORY 0x00000010UL
#define FILE_ATTRIBUTE_ARCHIVE 0x00000020UL
#define FILE_ATTRIBUTE_NORMAL 0x00000080UL
#define INVALID_FILE_ATTRIBUTES ((DWORD)-1)
#define MOVEFILE_REPLACE_EXISTING 0x00000001UL
#define MOVEFILE_COPY_ALLOWED 0x00000002UL
#define MOVEFILE_DELAY_UNTIL_REBOOT 0x00000004UL
#define FILE_ATTRIBUTE_REPARSE_POINT 0x00000400UL
#define FILE_ALL_ACCESS 0x001F01FFUL
#define FILE_READ_ATTRIBUTES 0x00000080UL
// Opens a symbolic link or junction itself instead of what it leads to.
#define FILE_FLAG_OPEN_REPARSE_POINT 0x00200000UL
#define FILE_WRITE_ATTRIBUTES 0x00000100UL
// GetFinalPathNameByHandleA: the normalized name with a drive letter (both are 0).
#define FILE_NAME_NORMALIZED 0x0UL
#define VOLUME_NAME_DOS 0x0UL
#define VOLUME_NAME_GUID 0x1UL
#define VOLUME_NAME_NT 0x2UL
#define VOLUME_NAME_NONE 0x4UL
// Text conversion.
#define CP_ACP 0
#define MB_ERR_INVALID_CHARS 0x00000008UL

typedef struct _FILETIME {
  DWORD dwLowDateTime;
  DWORD dwHighDateTime;
} FILETIME, *PFILETIME, *LPFILETIME;

typedef struct _SYSTEMTIME {
  WORD wYear;
  WORD wMonth;
  WORD wDayOfWeek;
  WORD wDay;
  WORD wHour;
  WORD wMinute;
  WORD wSecond;
  WORD wMilliseconds;
} SYSTEMTIME, *PSYSTEMTIME, *LPSYSTEMTIME;

// Passed as NULL to WriteFile; LockFileEx and UnlockFileEx take the locked range's offset
// from it.
typedef struct _OVERLAPPED {
  ULONG_PTR Internal;
  ULONG_PTR InternalHigh;
  DWORD Offset;
  DWORD OffsetHigh;
  HANDLE hEvent;
} OVERLAPPED, *LPOVERLAPPED;

typedef struct _BY_HANDLE_FILE_INFORMATION {
  DWORD dwFileAttributes;
  FILETIME ftCreationTime;
  FILETIME ftLastAccessTime;
  FILETIME ftLastWriteTime;
  DWORD dwVolumeSerialNumber;
  DWORD nFileSizeHigh;
  DWORD nFileSizeLow;
  DWORD nNumberOfLinks;
  DWORD nFileIndexHigh;
  DWORD nFileIndexLow;
} BY_HANDLE_FILE_INFORMATION, *PBY_HANDLE_FILE_INFORMATION, *LPBY_HANDLE_FILE_INFORMATION;

// SetFileInformationByHandle's classes (the first few, in Windows' order).
typedef enum _FILE_INFO_BY_HANDLE_CLASS {
  FileBasicInfo = 0,
  FileStandardInfo = 1,
  FileNameInfo = 2,
  FileRenameInfo = 3,
  FileDispositionInfo = 4,
  FileAllocationInfo = 5,
  FileEndOfFileInfo = 6,
} FILE_INFO_BY_HANDLE_CLASS;

typedef union _LARGE_INTEGER {
  struct {
    DWORD LowPart;
    LONG HighPart;
  };
  LONGLONG QuadPart;
} LARGE_INTEGER;

// FileBasicInfo: a time of 0 leaves it as it is; attributes of 0 leave them as they are.
typedef struct _FILE_BASIC_INFO {
  LARGE_INTEGER CreationTime;
  LARGE_INTEGER LastAccessTime;
  LARGE_INTEGER LastWriteTime;
  LARGE_INTEGER ChangeTime;
  DWORD FileAttributes;
} FILE_BASIC_INFO, *PFILE_BASIC_INFO;

// The new name follows the structure, FileNameLength bytes of it, without a terminating NUL.
typedef struct _FILE_RENAME_INFO {
  union {
    BOOLEAN ReplaceIfExists;
    DWORD Flags;
  };
  HANDLE RootDirectory;
  DWORD FileNameLength;
  WCHAR FileName[1];
} FILE_RENAME_INFO, *PFILE_RENAME_INFO;

typedef struct _FILE_DISPOSITION_INFO {
  BOOLEAN DeleteFile;
} FILE_DISPOSITION_INFO, *PFILE_DISPOSITION_INFO;

#define LOCKFILE_FAIL_IMMEDIATELY 0x00000001UL
#define LOCKFILE_EXCLUSIVE_LOCK 0x00000002UL

typedef struct _SECURITY_ATTRIBUTES {
  DWORD nLength;
  LPVOID lpSecurityDescriptor;
  BOOL bInheritHandle;
} SECURITY_ATTRIBUTES, *PSECURITY_ATTRIBUTES, *LPSECURITY_ATTRIBUTES;

typedef struct _WIN32_FIND_DATAA {
  DWORD dwFileAttributes;
  FILETIME ftCreationTime;
  FILETIME ftLastAccessTime;
  FILETIME ftLastWriteTime;
  DWORD nFileSizeHigh;
  DWORD nFileSizeLow;
  DWORD dwReserved0;
  DWORD dwReserved1;
  CHAR cFileName[MAX_PATH];
  CHAR cAlternateFileName[14];
} WIN32_FIND_DATAA, *PWIN32_FIND_DATAA, *LPWIN32_FIND_DATAA;

// Console.
#define ENABLE_PROCESSED_INPUT 0x0001
#define ENABLE_LINE_INPUT 0x0002
#define ENABLE_ECHO_INPUT 0x0004
#define ENABLE_WINDOW_INPUT 0x0008
#define ENABLE_MOUSE_INPUT 0x0010
#define KEY_EVENT 0x0001
#define MOUSE_EVENT 0x0002
#define WINDOW_BUFFER_SIZE_EVENT 0x0004
#define FOCUS_EVENT 0x0010
#define VK_SHIFT 0x10
#define VK_CONTROL 0x11
#define VK_MENU 0x12
#define VK_RETURN 0x0D
#define VK_ESCAPE 0x1B
#define VK_LEFT 0x25
#define VK_UP 0x26
#define VK_RIGHT 0x27
#define VK_DOWN 0x28
#define VK_F1 0x70
#define VK_LSHIFT 0xA0
#define VK_RSHIFT 0xA1
#define VK_LCONTROL 0xA2
#define VK_RCONTROL 0xA3
#define VK_LMENU 0xA4
#define VK_RMENU 0xA5

typedef struct _KEY_EVENT_RECORD {
  BOOL bKeyDown;
  WORD wRepeatCount;
  WORD wVirtualKeyCode;
  WORD wVirtualScanCode;
  union {
    uint16_t UnicodeChar;
    CHAR AsciiChar;
  } uChar;
  DWORD dwControlKeyState;
} KEY_EVENT_RECORD;

typedef struct _INPUT_RECORD {
  WORD EventType;
  union {
    KEY_EVENT_RECORD KeyEvent;
    BYTE Padding[16];
  } Event;
} INPUT_RECORD, *PINPUT_RECORD;

// Devices.
typedef struct _GUID {
  uint32_t Data1;
  uint16_t Data2;
  uint16_t Data3;
  uint8_t Data4[8];
} GUID, *LPGUID;
typedef const GUID* LPCGUID;

#define DIGCF_DEFAULT 0x00000001UL
#define DIGCF_PRESENT 0x00000002UL
#define DIGCF_ALLCLASSES 0x00000004UL
#define DIGCF_PROFILE 0x00000008UL
#define DIGCF_DEVICEINTERFACE 0x00000010UL
#define SPDRP_DEVICEDESC 0x00000000UL
#define SPDRP_HARDWAREID 0x00000001UL
#define REG_NONE 0
#define REG_SZ 1
#define REG_EXPAND_SZ 2
#define REG_DWORD 4
#define REG_MULTI_SZ 7
#define REG_OPTION_NON_VOLATILE 0x00000000UL
#define REG_CREATED_NEW_KEY 0x00000001UL
#define REG_OPENED_EXISTING_KEY 0x00000002UL
#define LPTR 0x0040
#define LMEM_ZEROINIT 0x0040
#define LMEM_FIXED 0x0000

typedef struct _SP_DEVINFO_DATA {
  DWORD cbSize;
  GUID ClassGuid;
  DWORD DevInst;
  ULONG_PTR Reserved;
} SP_DEVINFO_DATA, *PSP_DEVINFO_DATA;

typedef struct _SP_DEVICE_INTERFACE_DATA {
  DWORD cbSize;
  GUID InterfaceClassGuid;
  DWORD Flags;
  ULONG_PTR Reserved;
} SP_DEVICE_INTERFACE_DATA, *PSP_DEVICE_INTERFACE_DATA;

typedef struct _SP_DEVICE_INTERFACE_DETAIL_DATA_A {
  DWORD cbSize;
  CHAR DevicePath[ANYSIZE_ARRAY];
} SP_DEVICE_INTERFACE_DETAIL_DATA_A, *PSP_DEVICE_INTERFACE_DETAIL_DATA_A;

typedef struct _HIDD_ATTRIBUTES {
  ULONG Size;
  USHORT VendorID;
  USHORT ProductID;
  USHORT VersionNumber;
} HIDD_ATTRIBUTES, *PHIDD_ATTRIBUTES;

// Library loading.
#define LOAD_WITH_ALTERED_SEARCH_PATH 0x00000008UL
#define LOAD_LIBRARY_SEARCH_APPLICATION_DIR 0x00000200UL
#define LOAD_LIBRARY_SEARCH_USER_DIRS 0x00000400UL
#define LOAD_LIBRARY_SEARCH_SYSTEM32 0x00000800UL
#define LOAD_LIBRARY_SEARCH_DEFAULT_DIRS 0x00001000UL

// Registry.
#define HKEY_CLASSES_ROOT ((HKEY)(uintptr_t)0x80000000UL)
#define HKEY_CURRENT_USER ((HKEY)(uintptr_t)0x80000001UL)
#define HKEY_LOCAL_MACHINE ((HKEY)(uintptr_t)0x80000002UL)
#define HKEY_USERS ((HKEY)(uintptr_t)0x80000003UL)
#define DELETE 0x00010000UL
#define READ_CONTROL 0x00020000UL
#define WRITE_DAC 0x00040000UL
#define WRITE_OWNER 0x00080000UL
#define SYNCHRONIZE 0x00100000UL
#define KEY_QUERY_VALUE 0x0001
#define KEY_SET_VALUE 0x0002
#define KEY_CREATE_SUB_KEY 0x0004
#define KEY_ENUMERATE_SUB_KEYS 0x0008
#define KEY_NOTIFY 0x0010
#define KEY_CREATE_LINK 0x0020
#define KEY_WOW64_64KEY 0x0100
#define KEY_READ 0x20019UL
#define KEY_WRITE 0x20006UL
#define KEY_ALL_ACCESS 0xF003FUL

// Security.
#define DACL_SECURITY_INFORMATION 0x00000004UL
#define OWNER_SECURITY_INFORMATION 0x00000001UL
#define GROUP_SECURITY_INFORMATION 0x00000002UL
#define SECURITY_DESCRIPTOR_REVISION 1
#define SECURITY_DESCRIPTOR_MIN_LENGTH 40
#define ACL_REVISION 2
#define ACCESS_ALLOWED_ACE_TYPE 0x0
#define SECURITY_BUILTIN_DOMAIN_RID 0x00000020UL
#define DOMAIN_ALIAS_RID_ADMINS 0x00000220UL
#define DOMAIN_ALIAS_RID_USERS 0x00000221UL
#define FILE_GENERIC_READ 0x00120089UL
#define FILE_GENERIC_EXECUTE 0x001200A0UL
#define SE_DACL_PRESENT 0x0004
#define OBJECT_INHERIT_ACE 0x01
#define CONTAINER_INHERIT_ACE 0x02
#define INHERIT_ONLY_ACE 0x08
#define HEAP_ZERO_MEMORY 0x00000008UL
#define SE_DACL_DEFAULTED 0x0008
#define SE_DACL_PROTECTED 0x1000
#define SECURITY_LOCAL_SYSTEM_RID 0x00000012UL
#define MUTEX_MODIFY_STATE 0x0001UL
#define MUTEX_ALL_ACCESS 0x1F0001UL
#define CREATE_MUTEX_INITIAL_OWNER 0x00000001UL
#define SE_SELF_RELATIVE 0x8000
#define SECURITY_NT_AUTHORITY \
  { 0, 0, 0, 0, 0, 5 }

typedef struct _SID_IDENTIFIER_AUTHORITY {
  BYTE Value[6];
} SID_IDENTIFIER_AUTHORITY, *PSID_IDENTIFIER_AUTHORITY;

typedef struct _SID {
  BYTE Revision;
  BYTE SubAuthorityCount;
  SID_IDENTIFIER_AUTHORITY IdentifierAuthority;
  DWORD SubAuthority[ANYSIZE_ARRAY];
} SID;

typedef struct _ACL {
  BYTE AclRevision;
  BYTE Sbz1;
  WORD AclSize;
  WORD AceCount;
  WORD Sbz2;
} ACL, *PACL;

typedef struct _ACE_HEADER {
  BYTE AceType;
  BYTE AceFlags;
  WORD AceSize;
} ACE_HEADER;

typedef struct _ACCESS_ALLOWED_ACE {
  ACE_HEADER Header;
  ACCESS_MASK Mask;
  DWORD SidStart;
} ACCESS_ALLOWED_ACE;

// Absolute form, as on 64-bit Windows.
typedef struct _SECURITY_DESCRIPTOR {
  BYTE Revision;
  BYTE Sbz1;
  SECURITY_DESCRIPTOR_CONTROL Control;
  PSID Owner;
  PSID Group;
  PACL Sacl;
  PACL Dacl;
} SECURITY_DESCRIPTOR;
typedef void* PSECURITY_DESCRIPTOR;

// Processes.
#define STARTF_USESHOWWINDOW 0x00000001UL
#define STARTF_USESIZE 0x00000002UL
#define STARTF_USESTDHANDLES 0x00000100UL
#define SW_HIDE 0
#define SW_SHOWNORMAL 1
#define CREATE_NEW_CONSOLE 0x00000010UL
#define STILL_ACTIVE 259UL
#define INFINITE 0xFFFFFFFFUL
#define WAIT_OBJECT_0 0x00000000UL
#define WAIT_TIMEOUT 0x00000102UL
#define WAIT_FAILED 0xFFFFFFFFUL
#define WAIT_ABANDONED 0x00000080UL

typedef struct _STARTUPINFOA {
  DWORD cb;
  LPSTR lpReserved;
  LPSTR lpDesktop;
  LPSTR lpTitle;
  DWORD dwX;
  DWORD dwY;
  DWORD dwXSize;
  DWORD dwYSize;
  DWORD dwXCountChars;
  DWORD dwYCountChars;
  DWORD dwFillAttribute;
  DWORD dwFlags;
  WORD wShowWindow;
  WORD cbReserved2;
  LPBYTE lpReserved2;
  HANDLE hStdInput;
  HANDLE hStdOutput;
  HANDLE hStdError;
} STARTUPINFOA, *LPSTARTUPINFOA;

typedef struct _PROCESS_INFORMATION {
  HANDLE hProcess;
  HANDLE hThread;
  DWORD dwProcessId;
  DWORD dwThreadId;
} PROCESS_INFORMATION, *LPPROCESS_INFORMATION;

// Code pages and the conversion of wide text to them.
#define CP_ACP 0
#define CP_UTF8 65001
#define WC_ERR_INVALID_CHARS 0x00000080UL
#define WC_NO_BEST_FIT_CHARS 0x00000400UL

// Authenticode signatures (wintrust.dll and crypt32.dll, found through GetProcAddress).
typedef LONG HRESULT;
#define TRUST_E_NOSIGNATURE ((LONG)0x800B0100L)
#define TRUST_E_SUBJECT_FORM_UNKNOWN ((LONG)0x800B0003L)
#define TRUST_E_PROVIDER_UNKNOWN ((LONG)0x800B0001L)
#define TRUST_E_BAD_DIGEST ((LONG)0x80096010L)
#define CERT_E_UNTRUSTEDROOT ((LONG)0x800B0109L)
#define WINTRUST_ACTION_GENERIC_VERIFY_V2 \
  {0xaac56b, 0xcd44, 0x11d0, {0x8c, 0xc2, 0x00, 0xc0, 0x4f, 0xc2, 0x95, 0xee}}
#define WTD_UI_NONE 2
#define WTD_REVOKE_NONE 0
#define WTD_CHOICE_FILE 1
#define WTD_STATEACTION_VERIFY 1
#define WTD_STATEACTION_CLOSE 2
#define WTD_CACHE_ONLY_URL_RETRIEVAL 0x00001000UL
#define CALG_SHA_256 0x0000800cU
typedef unsigned int ALG_ID;
typedef ULONG_PTR HCRYPTPROV_LEGACY;

typedef struct WINTRUST_FILE_INFO_ {
  DWORD cbStruct;
  LPCWSTR pcwszFilePath;
  HANDLE hFile;
  GUID* pgKnownSubject;
} WINTRUST_FILE_INFO;

typedef struct _WINTRUST_DATA {
  DWORD cbStruct;
  LPVOID pPolicyCallbackData;
  LPVOID pSIPClientData;
  DWORD dwUIChoice;
  DWORD fdwRevocationChecks;
  DWORD dwUnionChoice;
  WINTRUST_FILE_INFO* pFile;
  DWORD dwStateAction;
  HANDLE hWVTStateData;
  WCHAR* pwszURLReference;
  DWORD dwProvFlags;
  DWORD dwUIContext;
} WINTRUST_DATA;

typedef struct _CERT_CONTEXT {
  DWORD dwCertEncodingType;
  BYTE* pbCertEncoded;
  DWORD cbCertEncoded;
} CERT_CONTEXT;
typedef const CERT_CONTEXT* PCCERT_CONTEXT;

typedef struct _CRYPT_PROVIDER_CERT {
  DWORD cbStruct;
  PCCERT_CONTEXT pCert;
} CRYPT_PROVIDER_CERT;

typedef struct _CRYPT_PROVIDER_SGNR {
  DWORD cbStruct;
  DWORD csCertChain;
  CRYPT_PROVIDER_CERT* pasCertChain;
} CRYPT_PROVIDER_SGNR;

// What the verification keeps between its two calls; the installer only passes it on.
typedef struct _CRYPT_PROVIDER_DATA {
  DWORD cbStruct;
  DWORD csSigners;
  CRYPT_PROVIDER_SGNR* pasSigners;
} CRYPT_PROVIDER_DATA;

#endif

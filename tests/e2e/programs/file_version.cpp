// Prints the version resource of each file named, as Windows reads it:
//   <file> <file version> <product version> <ProductName>
// or "<file> none <error>" when GetFileVersionInfoA finds none.
#include <windows.h>

#include <stdio.h>
#include <vector>

static const char* Text(void* info, const char* name) {
  char path[128];
  snprintf(path, sizeof path, "\\StringFileInfo\\040904B0\\%s", name);
  void* value = 0;
  UINT size = 0;
  return VerQueryValueA(info, path, &value, &size) && size ? (const char*)value : "-";
}

int main(int argc, char** argv) {
  int missing = 0;
  for (int i = 1; i < argc; i++) {
    DWORD handle = 0;
    DWORD size = GetFileVersionInfoSizeA(argv[i], &handle);
    std::vector<char> info(size ? size : 1);
    VS_FIXEDFILEINFO* fixed = 0;
    UINT fixedSize = 0;
    if (!size || !GetFileVersionInfoA(argv[i], 0, size, info.data()) ||
        !VerQueryValueA(info.data(), "\\", (void**)&fixed, &fixedSize) ||
        fixedSize < sizeof *fixed) {
      printf("%s none %lu\n", argv[i], GetLastError());
      missing = 1;
      continue;
    }
    const DWORD parts[] = {fixed->dwFileVersionMS, fixed->dwFileVersionLS,
                           fixed->dwProductVersionMS, fixed->dwProductVersionLS};
    printf("%s %u.%u.%u.%u %u.%u.%u.%u %s\n", argv[i], (unsigned)HIWORD(parts[0]),
           (unsigned)LOWORD(parts[0]), (unsigned)HIWORD(parts[1]), (unsigned)LOWORD(parts[1]),
           (unsigned)HIWORD(parts[2]), (unsigned)LOWORD(parts[2]), (unsigned)HIWORD(parts[3]),
           (unsigned)LOWORD(parts[3]), Text(info.data(), "ProductName"));
  }
  return missing;
}

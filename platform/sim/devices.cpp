// Simulated device operations: the device tree and HID interfaces through SetupAPI, the HID
// calls, and the local heap the scan allocates from. Each call records its arguments and can
// be told to fail; targets are device instance IDs or interface paths.
#include <stddef.h>
#include <stdio.h>
#include <string.h>

#include "machine.h"
#include "sim_win32.h"

using namespace sim;

namespace sim {

const GUID kHidGuid = {0x4D1E55B2, 0xF16F, 0x11CF, {0x88, 0xCB, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};

void InitDevices() {}

std::string MultiString(const std::vector<std::string>& entries) {
  std::string bytes;
  for (const std::string& e : entries) {
    bytes += e;
    bytes += '\0';
  }
  bytes += '\0';
  return bytes;
}

SimDevice& AddRawDevice(const std::string& instanceId, const std::string& bytes) {
  SimDevice d;
  d.instanceId = instanceId;
  d.hardwareIds = bytes;
  M().devices.devices.push_back(d);
  return M().devices.devices.back();
}

SimDevice& AddDevice(const std::string& instanceId, const std::vector<std::string>& ids) {
  return AddRawDevice(instanceId, MultiString(ids));
}

SimDevice& AddDeviceWithoutIds(const std::string& instanceId) {
  SimDevice& d = AddRawDevice(instanceId, "");
  d.hasHardwareIds = false;
  return d;
}

SimHidInterface& AddHidInterface(const std::string& path, WORD vendorId, WORD productId) {
  SimHidInterface i;
  i.path = path;
  i.vendorId = vendorId;
  i.productId = productId;
  M().devices.hidInterfaces.push_back(i);
  return M().devices.hidInterfaces.back();
}

std::string GuidText(const GUID* g) {
  if (!g) return "NULL";
  char buf[64];
  snprintf(buf, sizeof buf, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
           (unsigned)g->Data1, g->Data2, g->Data3, g->Data4[0], g->Data4[1], g->Data4[2],
           g->Data4[3], g->Data4[4], g->Data4[5], g->Data4[6], g->Data4[7]);
  return buf;
}

}  // namespace sim

static bool SameGuid(const GUID* a, const GUID& b) { return a && memcmp(a, &b, sizeof b) == 0; }

static SimDeviceSet* FindSet(HDEVINFO set) {
  HandleEntry* e = FindHandle(set, HandleKind::DeviceSet);
  if (!e) return nullptr;
  auto it = M().devices.sets.find(e->id);
  return it == M().devices.sets.end() ? nullptr : &it->second;
}

// The device a device record names: Reserved carries its place in the set.
static SimDevice* RecordDevice(SimDeviceSet* s, PSP_DEVINFO_DATA data) {
  if (!data || data->cbSize != sizeof(SP_DEVINFO_DATA) || s->interfaces) return nullptr;
  if (data->Reserved >= s->members.size()) return nullptr;
  return &M().devices.devices[s->members[data->Reserved]];
}

static SimHidInterface* RecordInterface(SimDeviceSet* s, PSP_DEVICE_INTERFACE_DATA data) {
  if (!data || data->cbSize != sizeof(SP_DEVICE_INTERFACE_DATA) || !s->interfaces) return nullptr;
  if (data->Reserved >= s->members.size()) return nullptr;
  return &M().devices.hidInterfaces[s->members[data->Reserved]];
}

void HidD_GetHidGuid(LPGUID HidGuid) {
  SIM_CALL({Ptr(HidGuid)});
  *HidGuid = kHidGuid;
}

HDEVINFO SetupDiGetClassDevsA(const GUID* ClassGuid, LPCSTR Enumerator, HWND hwndParent,
                              DWORD Flags) {
  SIM_CALL({GuidText(ClassGuid), Str(Enumerator), Ptr(hwndParent), Hex(Flags)});
  if (call.Faulted()) return INVALID_HANDLE_VALUE;
  if (!ClassGuid && !(Flags & DIGCF_ALLCLASSES))
    return Fail(ERROR_INVALID_PARAMETER, INVALID_HANDLE_VALUE);
  DevicesModel& d = M().devices;
  SimDeviceSet s;
  s.flags = Flags;
  s.interfaces = (Flags & DIGCF_DEVICEINTERFACE) != 0;
  bool present = (Flags & DIGCF_PRESENT) != 0;
  if (s.interfaces) {
    // Only the HID class has interfaces in this machine.
    if ((Flags & DIGCF_ALLCLASSES) || SameGuid(ClassGuid, kHidGuid))
      for (size_t i = 0; i < d.hidInterfaces.size(); i++)
        if (!present || d.hidInterfaces[i].present) s.members.push_back(i);
  } else if (Flags & DIGCF_ALLCLASSES) {
    for (size_t i = 0; i < d.devices.size(); i++)
      if (!present || d.devices[i].present) s.members.push_back(i);
  }
  int64_t id = d.nextSetId++;
  d.sets[id] = std::move(s);
  return NewHandle(HandleKind::DeviceSet, id, "device set");
}

BOOL SetupDiEnumDeviceInterfaces(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData,
                                 const GUID* InterfaceClassGuid, DWORD MemberIndex,
                                 PSP_DEVICE_INTERFACE_DATA DeviceInterfaceData) {
  SIM_CALL({Ptr(DeviceInfoSet), Ptr(DeviceInfoData), GuidText(InterfaceClassGuid), Dec(MemberIndex),
            DeviceInterfaceData ? Dec(DeviceInterfaceData->cbSize) : "NULL"});
  SimDeviceSet* s = FindSet(DeviceInfoSet);
  if (!s) return Fail(ERROR_INVALID_HANDLE);
  if (!DeviceInterfaceData || DeviceInterfaceData->cbSize != sizeof(SP_DEVICE_INTERFACE_DATA))
    return Fail(ERROR_INVALID_USER_BUFFER);
  bool inRange = s->interfaces && SameGuid(InterfaceClassGuid, kHidGuid) &&
                 MemberIndex < s->members.size();
  std::string target = inRange ? M().devices.hidInterfaces[s->members[MemberIndex]].path : "";
  // Past the last member every enumeration ends, injected failure or not.
  if (!inRange) return Fail(ERROR_NO_MORE_ITEMS);
  if (call.Faulted(target)) return FALSE;
  DeviceInterfaceData->InterfaceClassGuid = kHidGuid;
  DeviceInterfaceData->Flags = 1;  // SPINT_ACTIVE
  DeviceInterfaceData->Reserved = MemberIndex;
  return TRUE;
}

BOOL SetupDiGetDeviceInterfaceDetailA(HDEVINFO DeviceInfoSet,
                                      PSP_DEVICE_INTERFACE_DATA DeviceInterfaceData,
                                      PSP_DEVICE_INTERFACE_DETAIL_DATA_A DeviceInterfaceDetailData,
                                      DWORD DeviceInterfaceDetailDataSize, PDWORD RequiredSize,
                                      PSP_DEVINFO_DATA DeviceInfoData) {
  SIM_CALL({Ptr(DeviceInfoSet), Ptr(DeviceInterfaceData), Ptr(DeviceInterfaceDetailData),
            Dec(DeviceInterfaceDetailDataSize), Ptr(RequiredSize), Ptr(DeviceInfoData),
            DeviceInterfaceDetailData ? Dec(DeviceInterfaceDetailData->cbSize) : "NULL"});
  SimDeviceSet* s = FindSet(DeviceInfoSet);
  if (!s) return Fail(ERROR_INVALID_HANDLE);
  SimHidInterface* i = RecordInterface(s, DeviceInterfaceData);
  if (!i) return Fail(ERROR_INVALID_PARAMETER);
  // Faults leave the size untouched, as a call that fails early does.
  if (call.Faulted(i->path)) return FALSE;
  DWORD needed = (DWORD)(offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath) + i->path.size() + 1);
  if (!DeviceInterfaceDetailData) {
    if (DeviceInterfaceDetailDataSize != 0) return Fail(ERROR_INVALID_USER_BUFFER);
    if (RequiredSize) *RequiredSize = needed;
    return Fail(ERROR_INSUFFICIENT_BUFFER);
  }
  if (DeviceInterfaceDetailData->cbSize != sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A) ||
      DeviceInterfaceDetailDataSize < offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath) + 1)
    return Fail(ERROR_INVALID_USER_BUFFER);
  if (DeviceInterfaceDetailDataSize < needed) {
    if (RequiredSize) *RequiredSize = needed;
    return Fail(ERROR_INSUFFICIENT_BUFFER);
  }
  memcpy(DeviceInterfaceDetailData->DevicePath, i->path.c_str(), i->path.size() + 1);
  if (RequiredSize) *RequiredSize = needed;
  return TRUE;
}

// CreateFileA of anything but the console comes here: only HID interface paths exist.
HANDLE OpenHidPath(LPCSTR path, DWORD access, DWORD share, DWORD disposition) {
  SimHidInterface* found = nullptr;
  for (SimHidInterface& i : M().devices.hidInterfaces)
    if (path && i.present && EqualNoCase(i.path, path)) found = &i;
  if (!found) return Fail(ERROR_FILE_NOT_FOUND, INVALID_HANDLE_VALUE);
  if (disposition != OPEN_EXISTING && disposition != OPEN_ALWAYS)
    return Fail(ERROR_ACCESS_DENIED, INVALID_HANDLE_VALUE);
  if (found->accessDenied) return Fail(ERROR_ACCESS_DENIED, INVALID_HANDLE_VALUE);
  if (found->heldElsewhere) {
    // Both openers must allow what the other does.
    bool clash = ((access & GENERIC_READ) && !(found->heldShare & FILE_SHARE_READ)) ||
                 ((access & GENERIC_WRITE) && !(found->heldShare & FILE_SHARE_WRITE)) ||
                 ((found->heldAccess & GENERIC_READ) && !(share & FILE_SHARE_READ)) ||
                 ((found->heldAccess & GENERIC_WRITE) && !(share & FILE_SHARE_WRITE));
    if (clash) return Fail(ERROR_SHARING_VIOLATION, INVALID_HANDLE_VALUE);
  }
  return NewHandle(HandleKind::HidDevice, found - &M().devices.hidInterfaces[0], found->path, access);
}

BOOL HidD_GetAttributes(HANDLE HidDeviceObject, PHIDD_ATTRIBUTES Attributes) {
  SIM_CALL({Ptr(HidDeviceObject), Attributes ? Dec(Attributes->Size) : "NULL"});
  HandleEntry* e = FindHandle(HidDeviceObject, HandleKind::HidDevice);
  if (!e) return Fail(ERROR_INVALID_HANDLE);
  const SimHidInterface& i = M().devices.hidInterfaces[(size_t)e->id];
  // A failed read leaves the record as it was, unless the interface is told to write it.
  if (call.Faulted(e->name)) {
    if (i.writesOnFault) {
      Attributes->VendorID = i.vendorId;
      Attributes->ProductID = i.productId;
    }
    return FALSE;
  }
  Attributes->Size = sizeof(HIDD_ATTRIBUTES);
  Attributes->VendorID = i.vendorId;
  Attributes->ProductID = i.productId;
  Attributes->VersionNumber = 0x0100;
  return TRUE;
}

BOOL SetupDiEnumDeviceInfo(HDEVINFO DeviceInfoSet, DWORD MemberIndex,
                           PSP_DEVINFO_DATA DeviceInfoData) {
  SIM_CALL({Ptr(DeviceInfoSet), Dec(MemberIndex),
            DeviceInfoData ? Dec(DeviceInfoData->cbSize) : "NULL"});
  SimDeviceSet* s = FindSet(DeviceInfoSet);
  if (!s) return Fail(ERROR_INVALID_HANDLE);
  if (!DeviceInfoData || DeviceInfoData->cbSize != sizeof(SP_DEVINFO_DATA))
    return Fail(ERROR_INVALID_USER_BUFFER);
  bool inRange = !s->interfaces && MemberIndex < s->members.size();
  std::string target = inRange ? M().devices.devices[s->members[MemberIndex]].instanceId : "";
  // Past the last member every enumeration ends, injected failure or not.
  if (!inRange) return Fail(ERROR_NO_MORE_ITEMS);
  if (call.Faulted(target)) return FALSE;
  memset(&DeviceInfoData->ClassGuid, 0, sizeof DeviceInfoData->ClassGuid);
  DeviceInfoData->DevInst = (DWORD)(s->members[MemberIndex] + 1);
  DeviceInfoData->Reserved = MemberIndex;
  return TRUE;
}

// Like the real call, a success leaves the thread's last error as it was.
BOOL SetupDiGetDeviceRegistryPropertyA(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData,
                                       DWORD Property, PDWORD PropertyRegDataType,
                                       PBYTE PropertyBuffer, DWORD PropertyBufferSize,
                                       PDWORD RequiredSize) {
  SIM_CALL({Ptr(DeviceInfoSet), DeviceInfoData ? Dec(DeviceInfoData->cbSize) : "NULL",
            Hex(Property), Ptr(PropertyRegDataType), Ptr(PropertyBuffer), Dec(PropertyBufferSize),
            Ptr(RequiredSize)});
  SimDeviceSet* s = FindSet(DeviceInfoSet);
  if (!s) return Fail(ERROR_INVALID_HANDLE);
  SimDevice* dev = RecordDevice(s, DeviceInfoData);
  if (!dev) return Fail(ERROR_INVALID_PARAMETER);
  if (call.Faulted(dev->instanceId)) {
    if (RequiredSize && dev->sizeOnFault) *RequiredSize = dev->sizeOnFault;
    return FALSE;
  }
  if (PropertyBufferSize && !PropertyBuffer) return Fail(ERROR_INVALID_DATA);
  if (Property != SPDRP_HARDWAREID || !dev->hasHardwareIds) return Fail(ERROR_INVALID_DATA);
  DWORD size = (DWORD)dev->hardwareIds.size();
  if (RequiredSize) *RequiredSize = size;
  // As on Wine, a query that offers no room fails even for an empty list.
  if (PropertyBufferSize < size || PropertyBufferSize == 0) return Fail(ERROR_INSUFFICIENT_BUFFER);
  memcpy(PropertyBuffer, dev->hardwareIds.data(), size);
  if (PropertyRegDataType) *PropertyRegDataType = REG_MULTI_SZ;
  return TRUE;
}

BOOL SetupDiDestroyDeviceInfoList(HDEVINFO DeviceInfoSet) {
  SIM_CALL({Ptr(DeviceInfoSet)});
  HandleEntry* e = FindHandle(DeviceInfoSet, HandleKind::DeviceSet);
  if (!e) return Fail(ERROR_INVALID_HANDLE);
  M().devices.sets.erase(e->id);
  ReleaseAnyHandle(DeviceInfoSet);
  return !call.Faulted();
}

// Blocks are exactly the size asked for, so that the sanitizers catch any overrun; without
// LMEM_ZEROINIT they are filled with junk, as reused heap memory would be.
HLOCAL LocalAlloc(UINT uFlags, SIZE_T uBytes) {
  SIM_CALL({Hex(uFlags), Dec((int64_t)uBytes)});
  if (call.Faulted()) return nullptr;
  LocalBlock b;
  b.size = (size_t)uBytes;
  b.bytes.reset(new char[uBytes ? uBytes : 1]);
  memset(b.bytes.get(), (uFlags & LMEM_ZEROINIT) ? 0 : 0xCD, uBytes ? uBytes : 1);
  HLOCAL h = b.bytes.get();
  M().devices.localBlocks[h] = std::move(b);
  M().devices.localAllocs++;
  TrackAllocation(1);
  return h;
}

HLOCAL LocalFree(HLOCAL hMem) {
  SIM_CALL({Ptr(hMem)});
  if (!hMem) return nullptr;
  auto it = M().devices.localBlocks.find(hMem);
  if (it == M().devices.localBlocks.end()) return Fail(ERROR_INVALID_HANDLE, hMem);
  M().devices.localBlocks.erase(it);
  TrackAllocation(-1);
  return nullptr;
}

int lstrlenA(LPCSTR lpString) { return lpString ? (int)strlen(lpString) : 0; }

// Drive figures on Windows. The drive-information device of the Windows 95
// family is asked first, then the extended free-space call (looked up at run
// time, as the oldest systems lack it), then the plain free-space call.
#include <windows.h>

#include <cstddef>

#include "platform/platform.h"
#include "platform/win32/wide_text.h"

namespace platform {

namespace {

// The register record of the device's DOS-call service.
struct DiocRegisters {
  DWORD ebx, edx, ecx, eax, edi, esi, flags;
};
static_assert(sizeof(DiocRegisters) == 28);

// What Int 21h function 7303h (Get_ExtFreeSpace) fills in.
struct ExtendedFreeSpace {
  WORD size, level;
  DWORD sectorsPerCluster, bytesPerSector, availableClusters, totalClusters;
  DWORD availablePhysicalSectors, totalPhysicalSectors;
  DWORD availableAllocationUnits, totalAllocationUnits;
  DWORD reserved[2];
};
static_assert(sizeof(ExtendedFreeSpace) == 44);

constexpr DWORD kDosDriveInfo = 6;
constexpr DWORD kGetExtendedFreeSpace = 0x7303;
constexpr DWORD kCarryFlag = 1;

// The record carries addresses in 32-bit registers; an address above 4 GB
// cannot be passed, and the device exists only where none is.
bool FitsRegister(const void* address) { return reinterpret_cast<uintptr_t>(address) <= 0xFFFFFFFFu; }

DWORD RegisterOf(const void* address) { return static_cast<DWORD>(reinterpret_cast<uintptr_t>(address)); }

void SetFromClusters(DriveFigures& figures, DWORD clusterSize, DWORD totalClusters, DWORD freeClusters) {
  figures.clusterSize = static_cast<int32_t>(clusterSize);
  figures.capacityBytes = static_cast<int64_t>(totalClusters) * clusterSize;
  figures.freeBytes = static_cast<int64_t>(freeClusters) * clusterSize;
}

bool ReadThroughDevice(const std::string& root, DriveFigures& figures) {
  HANDLE device = CreateFileA("\\\\.\\vwin32", 0, 0, nullptr, 0, FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  if (device == INVALID_HANDLE_VALUE) return false;
  ExtendedFreeSpace space{};
  DiocRegisters registers{};
  bool read = false;
  if (FitsRegister(root.c_str()) && FitsRegister(&space)) {
    registers.eax = kGetExtendedFreeSpace;
    registers.edx = RegisterOf(root.c_str());
    registers.edi = RegisterOf(&space);
    registers.ecx = sizeof space;
    registers.flags = kCarryFlag;
    DWORD returned = 0;
    read = DeviceIoControl(device, kDosDriveInfo, &registers, sizeof registers, &registers, sizeof registers,
                           &returned, nullptr) &&
           (registers.flags & kCarryFlag) == 0;
  }
  CloseHandle(device);
  if (!read) return false;
  SetFromClusters(figures, space.sectorsPerCluster * space.bytesPerSector, space.totalAllocationUnits,
                  space.availableAllocationUnits);
  return true;
}

using DiskFreeSpaceEx = BOOL(WINAPI*)(LPCWSTR, PULARGE_INTEGER, PULARGE_INTEGER, PULARGE_INTEGER);

bool ReadExtendedFigures(const std::wstring& root, DriveFigures& figures) {
  HMODULE kernel = GetModuleHandleW(L"KERNEL32.DLL");
  if (kernel == nullptr) return false;
  auto freeSpaceEx = reinterpret_cast<DiskFreeSpaceEx>(
      reinterpret_cast<void*>(GetProcAddress(kernel, "GetDiskFreeSpaceExW")));
  ULARGE_INTEGER availableToCaller, total, totalFree;
  if (freeSpaceEx == nullptr || !freeSpaceEx(root.c_str(), &availableToCaller, &total, &totalFree)) {
    return false;
  }
  figures.capacityBytes = static_cast<int64_t>(total.QuadPart);
  figures.freeBytes = static_cast<int64_t>(totalFree.QuadPart);
  DWORD sectorsPerCluster, bytesPerSector, freeClusters, totalClusters;
  if (GetDiskFreeSpaceW(root.c_str(), &sectorsPerCluster, &bytesPerSector, &freeClusters, &totalClusters)) {
    figures.clusterSize = static_cast<int32_t>(sectorsPerCluster * bytesPerSector);
  }
  return true;
}

bool ReadPlainFigures(const std::wstring& root, DriveFigures& figures) {
  DWORD sectorsPerCluster, bytesPerSector, freeClusters, totalClusters;
  if (!GetDiskFreeSpaceW(root.c_str(), &sectorsPerCluster, &bytesPerSector, &freeClusters, &totalClusters)) {
    return false;
  }
  SetFromClusters(figures, sectorsPerCluster * bytesPerSector, totalClusters, freeClusters);
  return true;
}

}  // namespace

std::string MountPointOf(const std::string&) { return ""; }

bool ReadDriveFigures(const std::string& root, DriveFigures& figures) {
  figures = DriveFigures{};
  const std::wstring wideRoot = win32::Widen(root);
  if (!ReadThroughDevice(root, figures) && !ReadExtendedFigures(wideRoot, figures) &&
      !ReadPlainFigures(wideRoot, figures)) {
    return false;
  }
  // Windows has no blocks kept apart: what is not free is in use.
  figures.usedBytes = figures.capacityBytes - figures.freeBytes;
  return true;
}

std::string DescribeVolume(const std::string& root) {
  wchar_t label[256];
  wchar_t fileSystem[256];
  if (!GetVolumeInformationW(win32::Widen(root).c_str(), label, 256, nullptr, nullptr, nullptr, fileSystem,
                             256)) {
    return "";
  }
  return win32::Narrow(label) + " (" + win32::Narrow(fileSystem) + ")";
}

}  // namespace platform

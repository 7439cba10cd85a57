#include "cpu/cpu_info.h"

#include <cpuid.h>

#include <cstring>

namespace TAVROMATTING {

std::atomic<bool> CpuInfo::forcePortable_{false};

const CpuInfo& CpuInfo::Get() {
  static const CpuInfo info;
  return info;
}

CpuInfo::CpuInfo() {
  unsigned a = 0, b = 0, c = 0, d = 0;
  __cpuid(0, a, b, c, d);
  maxLeaf = int32_t(a);
  char v[13] = {};
  std::memcpy(v, &b, 4);
  std::memcpy(v + 4, &d, 4);
  std::memcpy(v + 8, &c, 4);
  vendor = v;
  if (vendor == "GenuineIntel")
    isIntel = true;
  else if (vendor == "AuthenticAMD")
    isAmd = true;
  if (maxLeaf >= 1) {
    __cpuid(1, a, b, c, d);
    leaf1Ecx = c;
    leaf1Edx = d;
  }
  if (maxLeaf >= 7) {
    __cpuid_count(7, 0, a, b, c, d);
    leaf7Ebx = b;
    leaf7Ecx = c;
  }
  __cpuid(0x80000000u, a, b, c, d);
  maxExtLeaf = int32_t(a);
  if (uint32_t(maxExtLeaf) >= 0x80000001u) {
    __cpuid(0x80000001u, a, b, c, d);
    ext1Ecx = c;
    ext1Edx = d;
  }
  if (uint32_t(maxExtLeaf) >= 0x80000004u) {
    char br[49] = {};
    for (unsigned i = 0; i < 3; ++i) {
      __cpuid(0x80000002u + i, a, b, c, d);
      std::memcpy(br + 16 * i, &a, 4);
      std::memcpy(br + 16 * i + 4, &b, 4);
      std::memcpy(br + 16 * i + 8, &c, 4);
      std::memcpy(br + 16 * i + 12, &d, 4);
    }
    brand = br;
  }
}

}  // namespace TAVROMATTING

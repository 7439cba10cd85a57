// The processor's features, read once with CPUID. Kernels ask it which
// instruction sets they may use.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

namespace TAVROMATTING {

class CpuInfo {
 public:
  static const CpuInfo& Get();

  bool HasAvx512f() const { return Usable() && (leaf7Ebx >> 16 & 1); }
  bool HasAvx2() const { return Usable() && (leaf7Ebx >> 5 & 1); }
  bool HasAvx() const { return Usable() && (leaf1Ecx >> 28 & 1); }
  bool HasF16c() const { return Usable() && (leaf1Ecx >> 29 & 1); }
  bool HasFma() const { return Usable() && (leaf1Ecx >> 12 & 1); }

  // Makes every feature above read as absent (the portable SSE paths run);
  // for tests and comparisons. Off by default.
  static void ForcePortable(bool on) { forcePortable_.store(on); }
  static bool PortableForced() { return forcePortable_.load(); }

  int32_t maxLeaf = 0;
  int32_t maxExtLeaf = 0;
  std::string vendor;
  std::string brand;
  bool isIntel = false;
  bool isAmd = false;
  uint32_t leaf1Ecx = 0, leaf1Edx = 0;
  uint32_t leaf7Ebx = 0, leaf7Ecx = 0;
  uint32_t ext1Ecx = 0, ext1Edx = 0;
  std::vector<std::string> list0;
  std::vector<std::string> list1;

 private:
  CpuInfo();
  bool Usable() const { return !forcePortable_.load(std::memory_order_relaxed); }
  static std::atomic<bool> forcePortable_;
};

}  // namespace TAVROMATTING

#include "engine/x86/run_env.h"

#include <iostream>

#include "engine/x86/cpu_info.h"

namespace TAVROMATTING {
namespace x86 {

RunEnv::RunEnv() {
  LinkLayerRegistrations();
  const CpuInfo& cpu = CpuInfo::Get();
  std::cout << (cpu.HasAvx512f() ? "Support AVX512F!" : "Not support AVX512F!") << std::endl;
  std::cout << (cpu.HasAvx2() ? "Support AVX2!" : "Not support AVX2!") << std::endl;
  std::cout << (cpu.HasAvx() ? "Support AVX!" : "Not support AVX!") << std::endl;
  std::cout << (cpu.HasF16c() ? "Support F16C!" : "Not support F16C!") << std::endl;
}

}  // namespace x86
}  // namespace TAVROMATTING

#include "engine/x86/run_env.h"


#include "diagnostics/diagnostics.h"
#include "cpu/cpu_info.h"

namespace TAVROMATTING {
namespace x86 {

RunEnv::RunEnv() {
  LinkLayerRegistrations();
  const CpuInfo& cpu = CpuInfo::Get();
  tavro_diag::Line(cpu.HasAvx512f() ? "Support AVX512F!" : "Not support AVX512F!");
  tavro_diag::Line(cpu.HasAvx2() ? "Support AVX2!" : "Not support AVX2!");
  tavro_diag::Line(cpu.HasAvx() ? "Support AVX!" : "Not support AVX!");
  tavro_diag::Line(cpu.HasF16c() ? "Support F16C!" : "Not support F16C!");
}

}  // namespace x86
}  // namespace TAVROMATTING

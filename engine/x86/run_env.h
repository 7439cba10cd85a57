// The x86 run environment: kBackendX86; prints the processor's features
// when made and folds activations / rewires element-wise layers in place.
#pragma once

#include "engine/core/run_env.h"

namespace TAVROMATTING {
namespace x86 {

class RunEnv : public core::RunEnv {
 public:
  RunEnv();
  int Kind() const override { return core::kBackendX86; }
  bool OptimizeGraph(Net* net) override;
};

}  // namespace x86
}  // namespace TAVROMATTING

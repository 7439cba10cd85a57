// The x86 run environment: kBackendX86; prints the processor's features
// when made and folds activations / rewires element-wise layers in place.
#pragma once

#include "engine/core/run_env.h"

namespace TAVROMATTING {

// Makes sure every layer type is registered under kBackendX86 (the file of
// static registrations is linked in). Building a run environment calls it.
void LinkLayerRegistrations();

namespace x86 {

class RunEnv : public core::RunEnv {
 public:
  // Also makes sure the x86 layer registrations are linked in.
  RunEnv();
  int Kind() const override { return core::kBackendX86; }
  bool OptimizeGraph(Net* net) override;
};

}  // namespace x86
}  // namespace TAVROMATTING

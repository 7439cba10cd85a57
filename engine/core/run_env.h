// A run environment: which backend the network runs on and the hooks around
// preparation and execution.
#pragma once

namespace TAVROMATTING {
class Net;
namespace core {

// Backend kinds. The network builder takes kind 0; the x86 environment runs
// every layer from the registry under kind 2; an environment of kind 6 would
// leave the mask in floats for the inference call to convert. The registry
// holds kBackendKinds maps.
enum BackendKind : int {
  kBackendBuilder = 0,
  kBackendX86 = 2,
  kBackendFloatMask = 6,
  kBackendKinds = 8
};

class RunEnv {
 public:
  virtual ~RunEnv() = default;
  virtual int Kind() const = 0;
  virtual void BeginRun() {}
  virtual void EndRun() {}
  virtual void Flush() {}
  virtual void Synchronize() {}
  virtual void BeforePrepare() {}
  virtual void AfterPrepare() {}
  virtual bool Query() const { return false; }
  virtual bool OptimizeGraph(Net* net) { return false; }
  virtual bool AfterRun(Net* net) { return false; }
  virtual bool AfterPrepareNet(Net* net) { return false; }

  bool asynchronous = false;
  bool halfPrecision = false;
};

}  // namespace core
}  // namespace TAVROMATTING

// A run environment: which backend the network runs on and the hooks around
// preparation and execution.
#pragma once

namespace TAVROMATTING {
class Net;
namespace core {

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

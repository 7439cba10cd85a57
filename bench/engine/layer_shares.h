// Per-layer-type time shares from the engine's timing diagnostics: runs a
// network with timing on, captures the per-layer lines it prints and sums the
// milliseconds by layer type.
#pragma once

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

namespace TAVROMATTING {
class Net;
}

namespace tavro_bench {

// Runs f with standard output going to a temporary file; returns the text.
template <typename F>
std::string CaptureStdout(F f) {
  std::fflush(stdout);
  FILE* tmp = std::tmpfile();
  if (!tmp) {
    f();
    return {};
  }
  const int saved = dup(fileno(stdout));
  dup2(fileno(tmp), fileno(stdout));
  f();
  std::fflush(stdout);
  dup2(saved, fileno(stdout));
  close(saved);
  std::string text;
  std::rewind(tmp);
  char buf[4096];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, tmp)) > 0) text.append(buf, n);
  std::fclose(tmp);
  return text;
}

// One executed layer: its timing label ("<name>:<type>_<description>"), its
// type, its fastest time (ms) and its floating-point operations (a multiply-
// add counts two; zero for layers that do not count them).
struct LayerTime {
  std::string label, type;
  double ms = 0.0;
  uint64_t flops = 0;
};

// Every executed layer in run order: `runs` timed runs of `net` on `bgr`
// (width x height B,G,R bytes), each layer with its fastest run (a shared
// machine only ever adds time). The net must already be warm.
std::vector<LayerTime> LayerTimes(TAVROMATTING::Net* net, const unsigned char* bgr,
                                  unsigned char* mask, int width, int height, int runs);

// Layer type -> milliseconds per inference: LayerTimes summed by type.
std::map<std::string, double> TimesByType(const std::vector<LayerTime>& layers);

}  // namespace tavro_bench

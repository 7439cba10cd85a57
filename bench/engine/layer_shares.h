// Per-layer-type time shares from the engine's timing diagnostics: runs a
// network with timing on, captures the per-layer lines it prints and sums the
// milliseconds by layer type.
#pragma once

#include <unistd.h>

#include <cstdio>
#include <map>
#include <string>

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

// Layer type -> milliseconds per inference: `runs` timed runs of `net` on
// `bgr` (width x height B,G,R bytes), each layer's fastest run, summed by
// type. The net must already be warm.
std::map<std::string, double> LayerTypeTimes(TAVROMATTING::Net* net, const unsigned char* bgr,
                                             unsigned char* mask, int width, int height, int runs);

}  // namespace tavro_bench

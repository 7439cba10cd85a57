#include "bench/engine/layer_shares.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "engine/core/net.h"
#include "engine/x86/matting_net.h"

namespace tavro_bench {

std::map<std::string, double> LayerTypeTimes(TAVROMATTING::Net* net, const unsigned char* bgr,
                                             unsigned char* mask, int width, int height,
                                             int runs) {
  net->timing = true;
  const std::string text = CaptureStdout([&] {
    for (int i = 0; i < runs; ++i) TAVROMATTING::RunMattingNet(net, bgr, mask, width, height);
  });
  net->timing = false;
  // Lines: "<name>:<type>_<description>   cost:  <ms>  ms". Each layer counts
  // with its fastest run (a shared machine only ever adds time), then the
  // layers are summed by type.
  std::map<std::string, std::pair<std::string, double>> byLayer;  // label -> type, ms
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find('\n', pos);
    if (end == std::string::npos) end = text.size();
    const std::string line = text.substr(pos, end - pos);
    pos = end + 1;
    const size_t cost = line.find(" cost:");
    const size_t colon = line.find(':');
    if (cost == std::string::npos || colon == std::string::npos || colon >= cost) continue;
    const size_t underscore = line.find('_', colon);
    if (underscore == std::string::npos || underscore > cost) continue;
    const std::string label = line.substr(0, cost);
    const double ms = std::atof(line.c_str() + cost + 6);
    auto it = byLayer.find(label);
    if (it == byLayer.end())
      byLayer[label] = {line.substr(colon + 1, underscore - colon - 1), ms};
    else if (ms < it->second.second)
      it->second.second = ms;
  }
  std::map<std::string, double> byType;
  for (const auto& [label, v] : byLayer) byType[v.first] += v.second;
  return byType;
}

}  // namespace tavro_bench

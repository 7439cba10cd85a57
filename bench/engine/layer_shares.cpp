#include "bench/engine/layer_shares.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "engine/core/net.h"
#include "engine/x86/matting_net.h"

namespace tavro_bench {

std::vector<LayerTime> LayerTimes(TAVROMATTING::Net* net, const unsigned char* bgr,
                                  unsigned char* mask, int width, int height, int runs) {
  net->timing = true;
  const std::string text = CaptureStdout([&] {
    for (int i = 0; i < runs; ++i) TAVROMATTING::RunMattingNet(net, bgr, mask, width, height);
  });
  net->timing = false;
  std::map<std::string, uint64_t> flopsByName;
  for (const TAVROMATTING::Layer* l : net->layers) flopsByName[l->name] = l->flops;
  // Lines: "<name>:<type>_<description>   cost:  <ms>  ms", one per executed
  // layer and run; the first run gives the order.
  std::vector<LayerTime> layers;
  std::map<std::string, size_t> slot;  // label -> index in layers
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
    std::string label = line.substr(0, cost);
    label.erase(label.find_last_not_of(' ') + 1);
    const double ms = std::atof(line.c_str() + cost + 6);
    auto it = slot.find(label);
    if (it == slot.end()) {
      slot[label] = layers.size();
      auto f = flopsByName.find(line.substr(0, colon));
      layers.push_back({label, line.substr(colon + 1, underscore - colon - 1), ms,
                        f == flopsByName.end() ? 0 : f->second});
    } else if (ms < layers[it->second].ms) {
      layers[it->second].ms = ms;
    }
  }
  return layers;
}

std::map<std::string, double> TimesByType(const std::vector<LayerTime>& layers) {
  std::map<std::string, double> byType;
  for (const LayerTime& l : layers) byType[l.type] += l.ms;
  return byType;
}

}  // namespace tavro_bench

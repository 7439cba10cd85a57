#include "bench/engine/layer_shares.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "engine/core/net.h"
#include "engine/matting_net.h"

namespace tavro_bench {

std::map<std::string, double> LayerTypeTimes(TAVROMATTING::Net* net, const unsigned char* bgr,
                                             unsigned char* mask, int width, int height,
                                             int runs) {
  net->timing = true;
  const std::string text = CaptureStdout([&] {
    for (int i = 0; i < runs; ++i) TAVROMATTING::RunMattingNet(net, bgr, mask, width, height);
  });
  net->timing = false;
  // Lines: "<name>:<type>_<description>   cost:  <ms>  ms".
  std::map<std::string, double> byType;
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
    const std::string type = line.substr(colon + 1, underscore - colon - 1);
    byType[type] += std::atof(line.c_str() + cost + 6) / runs;
  }
  return byType;
}

}  // namespace tavro_bench

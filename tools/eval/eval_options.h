// Command line and pipeline switches of tavro-eval.
#pragma once

#include <string>

namespace tavro_eval {

struct EvalOptions {
  std::string images, masks, csv, list;
  std::string maskOut;  // folder that receives each mask as STEM.png
  bool sequence = false;
  int workWidth = 320, workHeight = 224;
  bool opticalFlow = false;  // stills: off unless the config asks
  bool mediaFilter = false;
  bool refineEdges = false;
};

// Parses argv; prints a usage or error line to stderr and returns false on
// bad arguments.
bool ParseOptions(int argc, char** argv, EvalOptions& out);

// Applies a "configs" style JSON object (inline text, or a file holding
// it): "enable_optical_flow", "enable_media_filter", "prefer_efficiency"
// (224 x 224 work size), "refine_edges". "enable" and "bokeh" do not change
// the mask that is scored. Returns false when the text is not a JSON object.
bool ApplyConfig(const std::string& jsonOrPath, EvalOptions& opts);

}  // namespace tavro_eval

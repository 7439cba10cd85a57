#include "tools/eval/eval_options.h"

#include <rapidjson/document.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

namespace tavro_eval {

namespace {

void Usage() {
  std::fprintf(stderr,
               "usage: tavro-eval --images DIR --masks DIR [--config JSON|FILE] "
               "[--size WxH] [--csv FILE] [--list FILE] [--mask-out DIR] [--sequence]\n");
}

bool ReadBool(const rapidjson::Document& d, const char* key, bool& out) {
  auto it = d.FindMember(key);
  if (it == d.MemberEnd() || !it->value.IsBool()) return false;
  out = it->value.GetBool();
  return true;
}

}  // namespace

bool ApplyConfig(const std::string& jsonOrPath, EvalOptions& opts) {
  std::string text = jsonOrPath;
  std::ifstream file(jsonOrPath);
  if (file) {
    std::stringstream ss;
    ss << file.rdbuf();
    text = ss.str();
  }
  rapidjson::Document d;
  d.Parse(text.c_str());
  if (d.HasParseError() || !d.IsObject()) return false;
  bool v = false;
  if (ReadBool(d, "enable_optical_flow", v)) opts.opticalFlow = v;
  if (ReadBool(d, "enable_media_filter", v)) opts.mediaFilter = v;
  if (ReadBool(d, "refine_edges", v)) opts.refineEdges = v;
  if (ReadBool(d, "prefer_efficiency", v)) {
    opts.workWidth = v ? 224 : 320;
    opts.workHeight = 224;
  }
  return true;
}

bool ParseOptions(int argc, char** argv, EvalOptions& out) {
  std::string config, size;
  bool sawConfig = false;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    auto value = [&](std::string& dst) {
      if (i + 1 >= argc) return false;
      dst = argv[++i];
      return true;
    };
    bool ok = true;
    if (a == "--images") ok = value(out.images);
    else if (a == "--masks") ok = value(out.masks);
    else if (a == "--csv") ok = value(out.csv);
    else if (a == "--mask-out") ok = value(out.maskOut);
    else if (a == "--list") ok = value(out.list);
    else if (a == "--config") ok = sawConfig = value(config);
    else if (a == "--size") ok = value(size);
    else if (a == "--sequence") out.sequence = true;
    else if (a == "-h" || a == "--help") ok = false;
    else {
      std::fprintf(stderr, "unknown argument: %s\n", a.c_str());
      ok = false;
    }
    if (!ok) {
      Usage();
      return false;
    }
  }
  if (out.images.empty() || out.masks.empty()) {
    Usage();
    return false;
  }
  // A sequence runs like a stream: flow on unless the config says otherwise.
  if (out.sequence) out.opticalFlow = true;
  if (sawConfig && !ApplyConfig(config, out)) {
    std::fprintf(stderr, "--config: not a JSON object: %s\n", config.c_str());
    return false;
  }
  if (!size.empty()) {
    int w = 0, h = 0;
    if (std::sscanf(size.c_str(), "%dx%d", &w, &h) != 2 || w < 16 || h < 16 ||
        w > 4096 || h > 4096) {
      std::fprintf(stderr, "--size: expected WxH (16..4096), got %s\n", size.c_str());
      return false;
    }
    out.workWidth = w;
    out.workHeight = h;
  }
  return true;
}

}  // namespace tavro_eval

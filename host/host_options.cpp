#include "host/host_options.h"

#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <cstring>

#include "sdk/filter_settings.h"

namespace tavro_host {

const char kHostUsage[] =
    "usage: tavro-host (--demo | INPUT) [options]\n"
    "  INPUT                 a .y4m file, a video OpenCV can read (.mp4, .avi, ...),\n"
    "                        a folder of images, or webcam:N\n"
    "  --demo                built-in synthetic clip (640x480, 90 frames)\n"
    "  --input PATH          same as INPUT\n"
    "  --module PATH         the module (default: ../lib/libtavro_segmentation_extension.so\n"
    "                        next to this program)\n"
    "  --config JSON         value of the filter's \"configs\" property\n"
    "                        (default {\"enable\":true})\n"
    "  --set NAME=BOOL       one boolean \"configs\" member, applied after --config\n"
    "                        (repeatable; NAME as in docs/CONFIGS.md)\n"
    "  --frames N            stop after N frames\n"
    "  --mask-out PATH       masks as a grey video (.y4m, .mp4 or .avi; - as --output)\n"
    "  --output PATH         frames after the filter (.y4m, .mp4 or .avi; - for Y4M\n"
    "                        on standard output)\n"
    "  --background WHAT     put the person over WHAT in --output: blur (the\n"
    "                        background blurred), a colour (#RRGGBB, #AARRGGBB,\n"
    "                        black, white, green, blue, grey), a picture (PNG\n"
    "                        transparency shows the blur) or a video (looped)\n"
    "  --blur-strength N     0-100 (default 50): sigma is N/100 of 1/12 the height\n"
    "  --edge-feather PX     soften the person's edge over PX pixels (default 0)\n"
    "  --mask-threshold N    mask value where the person begins (default 128)\n"
    "  --mask-softness N     mask range of the fade around it (default 96)\n"
    "  --sheet PNG           contact sheet of sampled frames beside their masks\n"
    "  --stability           print \"flicker: F\" as the last line of stdout\n"
    "  --log FILE            the module's diagnostic lines (default: standard error)\n"
    "  --warmup-wait MS      after the first frame, re-send it until a mask comes\n"
    "                        back or MS pass (default 5000; 0 = no wait)\n"
    "  --verbose             also show the video decoders' own messages\n"
    "  --help                this text\n";

namespace {
bool ParseInt(const char* text, int* value) {
  char* end = nullptr;
  const long v = std::strtol(text, &end, 10);
  if (!*text || *end || v < 0 || v > 1000000000L) return false;
  *value = static_cast<int>(v);
  return true;
}
// Adds "NAME=true|false" to json (a "configs" object) when NAME is a member.
bool AddSetting(const std::string& text, std::string* json, std::string* error) {
  const size_t eq = text.find('=');
  const std::string name = text.substr(0, eq), value = eq == std::string::npos ? "" : text.substr(eq + 1);
  if (!tavro_rtc::FindFilterSetting(name.c_str())) {
    *error = "--set: no \"configs\" member " + name + " (members:";
    for (const tavro_rtc::FilterSettingInfo& member : tavro_rtc::kFilterSettings)
      *error += std::string(" ") + member.name;
    *error += ")";
    return false;
  }
  if (value != "true" && value != "false") {
    *error = "--set " + name + ": the value must be true or false";
    return false;
  }
  *json = (json->empty() ? "{" : json->substr(0, json->size() - 1) + ",") + "\"" + name +
          "\":" + value + "}";
  return true;
}

// A numeric option's value, range-checked, into its field.
bool SetNumber(const std::string& a, const char* v, HostOptions* o, std::string* error) {
  int n;
  const int most = a == "--blur-strength" ? 100
                 : a == "--frames" || a == "--warmup-wait" ? 1000000000 : 255;
  if (!ParseInt(v, &n) || n > most) {
    *error = "bad number for " + a + ": " + v;
    return false;
  }
  int* target = a == "--frames" ? &o->maxFrames
              : a == "--warmup-wait" ? &o->warmupWaitMs
              : a == "--blur-strength" ? &o->composite.blurStrength
              : a == "--edge-feather" ? &o->composite.edgeFeather
              : a == "--mask-threshold" ? &o->composite.maskThreshold
              : &o->composite.maskSoftness;
  *target = n;
  return true;
}

// What the options say together: outputs the writers can fill, and either
// --demo or an input.
bool CheckHostOptions(const HostOptions& o, std::string* error) {
  // OpenCV's writer would make a file of any name, but fills only these.
  for (const std::string* path : {&o.output, &o.maskOut}) {
    std::string ext = std::filesystem::path(*path).extension().string();
    for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (!path->empty() && *path != "-" && ext != ".y4m" && ext != ".mp4" && ext != ".avi") {
      *error = (path == &o.output ? "--output " : "--mask-out ") + *path +
               ": tavro-host writes .y4m, .mp4 or .avi (or - for Y4M on standard output)";
      return false;
    }
  }
  if (o.demo == !o.input.empty()) {
    *error = o.demo ? "give either --demo or an input, not both" : "no input (or --demo)";
    return false;
  }
  return true;
}

}  // namespace

bool ParseHostOptions(int argc, char** argv, HostOptions* o, std::string* error) {
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    auto value = [&](const char* name) -> const char* {
      if (i + 1 >= argc) {
        *error = std::string(name) + " needs a value";
        return nullptr;
      }
      return argv[++i];
    };
    const char* v = nullptr;
    if (a == "--help" || a == "-h") {
      o->help = true;
    } else if (a == "--demo") {
      o->demo = true;
    } else if (a == "--stability") {
      o->stability = true;
    } else if (a == "--input" || a == "--module" || a == "--config" || a == "--mask-out" ||
               a == "--output" || a == "--sheet" || a == "--log") {
      if (!(v = value(a.c_str()))) return false;
      std::string* target = a == "--input" ? &o->input
                          : a == "--module" ? &o->modulePath
                          : a == "--config" ? &o->configs
                          : a == "--mask-out" ? &o->maskOut
                          : a == "--output" ? &o->output
                          : a == "--log" ? &o->logPath : &o->sheet;
      *target = v;
    } else if (a == "--background") {
      if (!(v = value(a.c_str()))) return false;
      o->background = v;
    } else if (a == "--verbose") {
      o->verbose = true;
    } else if (a == "--set") {
      if (!(v = value(a.c_str())) || !AddSetting(v, &o->setsJson, error)) return false;
    } else if (a == "--frames" || a == "--warmup-wait" || a == "--blur-strength" ||
               a == "--edge-feather" || a == "--mask-threshold" || a == "--mask-softness") {
      if (!(v = value(a.c_str())) || !SetNumber(a, v, o, error)) return false;
    } else if (!a.empty() && a[0] == '-') {
      *error = "unknown option " + a;
      return false;
    } else if (o->input.empty()) {
      o->input = a;
    } else {
      *error = "more than one input: " + a;
      return false;
    }
  }
  if (o->help) return true;
  // The mask's edges follow the frame's own edges unless the user's configs
  // or --set say otherwise.
  if (o->configs.find("\"refine_edges\"") == std::string::npos &&
      o->setsJson.find("\"refine_edges\"") == std::string::npos &&
      !AddSetting("refine_edges=true", &o->setsJson, error))
    return false;
  return CheckHostOptions(*o, error);
}

}  // namespace tavro_host

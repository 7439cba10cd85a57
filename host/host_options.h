// Command line of tavro-host.
#pragma once

#include <string>

#include "host/composite/compositor.h"

namespace tavro_host {

struct HostOptions {
  bool demo = false;
  std::string input;       // file, folder or webcam:N
  std::string modulePath;  // empty: next to the program
  std::string configs = "{\"enable\":true}";
  int maxFrames = -1;      // -1: all
  std::string maskOut, output, sheet;
  std::string logPath;     // the module's lines; empty: standard error
  // --set NAME=BOOL members, as one "configs" object applied after configs
  // (empty: none given).
  std::string setsJson;
  bool stability = false;
  int warmupWaitMs = 5000;
  // --background: "blur", a colour, a picture or a video; empty: the
  // module's own output.
  std::string background;
  CompositeSettings composite;
  bool verbose = false;
  bool help = false;
};

// False with *error set on a bad command line.
bool ParseHostOptions(int argc, char** argv, HostOptions* options,
                      std::string* error);

extern const char kHostUsage[];

}  // namespace tavro_host

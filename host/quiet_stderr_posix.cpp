#include "host/quiet_stderr.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

namespace tavro_host {

QuietStderr::QuietStderr(bool quiet) {
  if (!quiet) return;
  const int null = open("/dev/null", O_WRONLY | O_CLOEXEC);
  if (null < 0) return;
  std::fflush(stderr);
  saved_ = dup(STDERR_FILENO);
  if (saved_ >= 0) dup2(null, STDERR_FILENO);
  close(null);
}

QuietStderr::~QuietStderr() {
  if (saved_ < 0) return;
  std::fflush(stderr);
  dup2(saved_, STDERR_FILENO);
  close(saved_);
}

void QuietDecoderLogs() { setenv("OPENCV_FFMPEG_LOGLEVEL", "-8", 0); }

}  // namespace tavro_host

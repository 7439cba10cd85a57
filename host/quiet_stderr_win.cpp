#include "host/quiet_stderr.h"

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <cstdlib>

namespace tavro_host {

QuietStderr::QuietStderr(bool quiet) {
  if (!quiet) return;
  const int null = _open("NUL", _O_WRONLY);
  if (null < 0) return;
  std::fflush(stderr);
  saved_ = _dup(_fileno(stderr));
  if (saved_ >= 0) _dup2(null, _fileno(stderr));
  _close(null);
}

QuietStderr::~QuietStderr() {
  if (saved_ < 0) return;
  std::fflush(stderr);
  _dup2(saved_, _fileno(stderr));
  _close(saved_);
}

void QuietDecoderLogs() { if (!std::getenv("OPENCV_FFMPEG_LOGLEVEL")) _putenv_s("OPENCV_FFMPEG_LOGLEVEL", "-8"); }

}  // namespace tavro_host

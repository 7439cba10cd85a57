#include "host/progress_bar.h"

#include <algorithm>
#include <cstdio>
#include <string>

namespace tavro_host {

void ProgressBar::update(int done) {
  if (total_ <= 0) return;
  constexpr int kWidth = 30;
  const int percent = std::min(100, done * 100 / total_);
  if (percent == shown_) return;
  shown_ = percent;
  const int filled = percent * kWidth / 100;
  std::string bar(filled, '#');
  bar.append(kWidth - filled, '.');
  std::fprintf(stderr, "\r[%s] %3d%% %d/%d frames", bar.c_str(), percent, done, total_);
  std::fflush(stderr);
  drawn_ = true;
}

void ProgressBar::finish() {
  if (drawn_) std::fputc('\n', stderr);
  drawn_ = false;
}

}  // namespace tavro_host

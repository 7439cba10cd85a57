#include "diagnostics/diagnostics.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <iostream>
#include <mutex>

namespace tavro_diag {

namespace {
// Whole writes under one lock: the warm-up thread prints while a video
// thread writes its cost line.
std::mutex& SinkMutex() {
  static std::mutex mutex;
  return mutex;
}
std::atomic<LineSink> currentSink{nullptr};
// The start of a line a sink has not seen yet (guarded by SinkMutex).
std::string& Pending() {
  static std::string pending;
  return pending;
}
}  // namespace

void SetLineSink(LineSink sink) {
  std::lock_guard<std::mutex> lock(SinkMutex());
  currentSink.store(sink);
  Pending().clear();
}

LineSink CurrentLineSink() { return currentSink.load(); }

void Write(const char* text, std::size_t size) {
  std::lock_guard<std::mutex> lock(SinkMutex());
  const LineSink sink = currentSink.load();
  if (!sink) {
    // std::cout, not the C stream: callers and tests may redirect it, and it
    // is synchronised with stdio, so the order of bytes is kept either way.
    std::cout.write(text, static_cast<std::streamsize>(size));
    std::cout.flush();
    return;
  }
  std::string& pending = Pending();
  for (std::size_t i = 0; i < size; ++i) {
    if (text[i] != '\n') {
      pending.push_back(text[i]);
      continue;
    }
    sink(pending.c_str());
    pending.clear();
  }
}

void Write(const std::string& text) { Write(text.data(), text.size()); }

void Line(const std::string& text) {
  std::string line;
  line.reserve(text.size() + 1);
  line.append(text).push_back('\n');
  Write(line);
}

void Printf(const char* format, ...) {
  char small[256];
  va_list args;
  va_start(args, format);
  va_list again;
  va_copy(again, args);
  const int n = std::vsnprintf(small, sizeof small, format, args);
  va_end(args);
  if (n < 0) {
    va_end(again);
    return;
  }
  if (static_cast<std::size_t>(n) < sizeof small) {
    va_end(again);
    Write(small, static_cast<std::size_t>(n));
    return;
  }
  std::string big(static_cast<std::size_t>(n) + 1, '\0');
  std::vsnprintf(&big[0], big.size(), format, again);
  va_end(again);
  Write(big.data(), static_cast<std::size_t>(n));
}

}  // namespace tavro_diag

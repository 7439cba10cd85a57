#include "diagnostics/diagnostics.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstring>
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

namespace {
// Under SinkMutex: text to standard output, or its complete lines to sink.
void WriteLocked(LineSink sink, const char* text, std::size_t size) {
  if (!sink) {
    // std::cout, not the C stream: callers and tests may redirect it, and it
    // is synchronised with stdio, so the order of bytes is kept either way.
    std::cout.write(text, static_cast<std::streamsize>(size));
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

void WriteLines(const char* text, std::size_t size, bool lineEnd) noexcept {
  try {
    std::lock_guard<std::mutex> lock(SinkMutex());
    const LineSink sink = currentSink.load();
    WriteLocked(sink, text, size);
    if (lineEnd) WriteLocked(sink, "\n", 1);
    if (!sink) std::cout.flush();
  } catch (...) {  // no memory for the line (or a sink that threw): dropped
  }
}
}  // namespace

void Write(const char* text, std::size_t size) noexcept { WriteLines(text, size, false); }

void Write(const std::string& text) noexcept { WriteLines(text.data(), text.size(), false); }

void Line(const char* text) noexcept { WriteLines(text, std::strlen(text), true); }

void Line(const std::string& text) noexcept { WriteLines(text.data(), text.size(), true); }

void Printf(const char* format, ...) noexcept {
  char small[256];
  va_list args;
  va_start(args, format);
  va_list again;
  va_copy(again, args);
  const int n = std::vsnprintf(small, sizeof small, format, args);
  va_end(args);
  if (n >= 0 && static_cast<std::size_t>(n) < sizeof small) {
    Write(small, static_cast<std::size_t>(n));
  } else if (n >= 0) {
    try {
      std::string big(static_cast<std::size_t>(n) + 1, '\0');
      std::vsnprintf(&big[0], big.size(), format, again);
      Write(big.data(), static_cast<std::size_t>(n));
    } catch (...) {  // no memory for a long line: dropped
    }
  }
  va_end(again);
}

}  // namespace tavro_diag

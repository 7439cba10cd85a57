// Test doubles for the extension tests: a matting implementation whose
// warm-up can be held back or made to fail, and a recording host control.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <iostream>
#include <mutex>
#include <streambuf>
#include <string>
#include <thread>
#include <vector>

#include "extension/matting_interface.h"
#include "sdk/tavro_rtc_sdk.h"

namespace tavro_test {

// Shared with the test after the wrapper takes ownership of the double.
struct MattingLog {
  std::mutex mutex;
  std::condition_variable cond;
  bool gateOpen = true;      // warmup() blocks while false
  int32_t warmupResult = 0;  // what warmup() returns
  int32_t initResult = 0;    // forced init result (0: check sizes)
  uint8_t maskValue = 200;   // what process() writes
  std::atomic<int> initCalls{0}, warmupCalls{0}, processCalls{0},
      setConfigCalls{0};
  tavro::FrameImage lastImage;
  tavro::SegmentationConfig lastConfig;

  void holdWarmup() {
    std::lock_guard<std::mutex> lock(mutex);
    gateOpen = false;
  }
  void releaseWarmup() {
    std::lock_guard<std::mutex> lock(mutex);
    gateOpen = true;
    cond.notify_all();
  }
};

class FakeMatting final : public tavro::MattingInterface {
 public:
  explicit FakeMatting(MattingLog* log) : log_(log) {}
  int32_t init(int32_t iw, int32_t ih, int32_t ow, int32_t oh) override {
    ++log_->initCalls;
    if (iw <= 0 || ih <= 0 || ow <= 0 || oh <= 0) return -1;
    return log_->initResult;
  }
  int32_t warmup() override {
    std::unique_lock<std::mutex> lock(log_->mutex);
    log_->cond.wait(lock, [this] { return log_->gateOpen; });
    ++log_->warmupCalls;
    return log_->warmupResult;
  }
  int32_t process(tavro::FrameImage image, tavro::MaskBuffer& mask) override {
    ++log_->processCalls;
    {
      std::lock_guard<std::mutex> lock(log_->mutex);
      log_->lastImage = image;
    }
    for (int32_t i = 0; i < mask.width * mask.height; ++i)
      mask.data[i] = log_->maskValue;
    return 0;
  }
  int32_t setConfig(tavro::SegmentationConfig config) override {
    ++log_->setConfigCalls;
    std::lock_guard<std::mutex> lock(log_->mutex);
    log_->lastConfig = config;
    return 0;
  }
  const char* version() override { return "fake"; }

 private:
  MattingLog* log_;
};

// Waits (up to 5 s) until pred() holds.
template <class Pred>
bool WaitFor(Pred pred) {
  for (int i = 0; i < 2500; ++i) {
    if (pred()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return pred();
}

// Diverts std::cout into a buffer for its lifetime; safe to write from
// several threads. Create it before any thread that prints starts.
class CoutRecorder final : public std::streambuf {
 public:
  CoutRecorder() { old_ = std::cout.rdbuf(this); }
  ~CoutRecorder() override { std::cout.rdbuf(old_); }

  // Everything written since the last take().
  std::string take() {
    std::lock_guard<std::mutex> lock(mutex_);
    std::string s;
    s.swap(text_);
    return s;
  }
  // Waits (up to 5 s) until the pending text contains needle.
  bool waitFor(const std::string& needle) {
    std::unique_lock<std::mutex> lock(mutex_);
    return cond_.wait_for(lock, std::chrono::seconds(5), [&] {
      return text_.find(needle) != std::string::npos;
    });
  }

 protected:
  int overflow(int c) override {
    if (c == traits_type::eof()) return 0;
    std::lock_guard<std::mutex> lock(mutex_);
    text_.push_back(static_cast<char>(c));
    cond_.notify_all();
    return c;
  }
  std::streamsize xsputn(const char* s, std::streamsize n) override {
    std::lock_guard<std::mutex> lock(mutex_);
    text_.append(s, static_cast<size_t>(n));
    cond_.notify_all();
    return n;
  }
  int sync() override { return 0; }

 private:
  std::streambuf* old_;
  std::mutex mutex_;
  std::condition_variable cond_;
  std::string text_;
};

class RecordingControl final : public tavro_rtc::ExtensionControl {
 public:
  void getCapabilities() override {}
  void recycleVideoCache() override {}
  void dumpVideoFrame() override {}
  void logMessage(int32_t level, const char* message) override {
    std::lock_guard<std::mutex> lock(mutex);
    logs.push_back(std::to_string(level) + ":" + message);
  }
  size_t count() {
    std::lock_guard<std::mutex> lock(mutex);
    return logs.size();
  }
  void fireEvent() override {}
  void registerProvider(const char* name,
                        tavro_rtc::ExtensionProvider* provider) override {
    names.push_back(name);
    if (provider) provider->release();
  }
  std::mutex mutex;  // the module's threads may log
  std::vector<std::string> logs;
  std::vector<std::string> names;
};

}  // namespace tavro_test

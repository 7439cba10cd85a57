// The host side of the stand-in SDK: what a host program (or a test) uses to
// drive a loaded extension module: run the registration callbacks the module
// handed over, look providers up, and make frames and event sinks.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "sdk/tavro_rtc_sdk.h"

namespace tavro_rtc {

// Calls every registration callback received through ordinal 9 that has not
// run yet, with a valid host context. Returns how many ran.
TAVRO_SDK_API int RunPendingRegistrations();

// Names given to ordinal 9 so far, in order (including ones already run).
TAVRO_SDK_API std::vector<std::string> PendingProviderNames();

// A registered provider with one reference for the caller, or null.
TAVRO_SDK_API ExtensionProvider* FindProvider(const char* name);

// Releases every provider the host keeps and forgets pending registrations.
TAVRO_SDK_API void ShutdownHost();

// The host's extension control (the object ordinal 7 returns).
TAVRO_SDK_API ExtensionControl* HostExtensionControl();

// The context token RunPendingRegistrations passes to callbacks; ordinal 7
// answers null for any other value.
TAVRO_SDK_API void* HostRegistrationContext();

// Log lines sent through logMessage go here (default: stderr, prefixed).
typedef std::function<void(int32_t level, const std::string& text)> LogHandler;
TAVRO_SDK_API void SetLogHandler(LogHandler handler);

// A host video frame holding one contiguous I420 picture and the last alpha
// attached to it. The planes lie where a filter finds them from the width w
// and height h alone: Y (w x h) at 0, U at w*h, V at w*h + (w*h)/4, chroma
// planes of (w / 2) x (h / 2). For even sizes the planes are back to back;
// an odd width or height leaves a gap of a few bytes between U and V.
class TAVRO_SDK_API HostVideoFrame final : public VideoFrame {
 public:
  // A new frame with one reference for the caller; pixels zeroed.
  static HostVideoFrame* Create(int32_t width, int32_t height);
  // Bytes of the frame buffer (up to the end of the V plane).
  static size_t I420Size(int32_t width, int32_t height);
  static size_t VOffset(int32_t width, int32_t height);

  // Copy a tight picture (Y, U, V back to back, chroma (w/2) x (h/2)) into
  // the frame's planes, and the frame's planes back into one.
  void setPlanes(const std::vector<uint8_t>& tight);
  void getPlanes(std::vector<uint8_t>& tight) const;

  void addRef() const override;
  int32_t release() const override;
  bool hasOneRef() const override;
  int32_t refCount() const { return count_.load(); }

  int32_t getVideoFrameType() const override { return 1; }
  int32_t getVideoFrameData(FrameDataRecord* data) const override;
  int32_t fillVideoFrameData(const FrameDataRecord* data) override { return -1; }
  int32_t attachAlphaBuffer(int32_t index,
                            const AlphaBufferRecord* alpha) override;

  int32_t width() const { return width_; }
  int32_t height() const { return height_; }
  uint8_t* pixels() { return pixels_.data(); }
  const std::vector<uint8_t>& i420() const { return pixels_; }
  std::vector<uint8_t>& i420() { return pixels_; }
  const std::vector<uint8_t>& alpha() const { return alpha_; }
  // Room for an alpha buffer of n bytes, so that attaching one of at most
  // that size does not allocate.
  void reserveAlpha(size_t n) { alpha_.reserve(n); }
  int attachCount() const { return attachCount_; }
  // The request fields (108..120) of the last getVideoFrameData call.
  const FrameDataRecord& lastRequest() const { return lastRequest_; }

 private:
  HostVideoFrame(int32_t width, int32_t height);
  ~HostVideoFrame() override;

  int32_t width_, height_;
  mutable std::vector<uint8_t> pixels_;
  std::vector<uint8_t> alpha_;
  int attachCount_ = 0;
  mutable FrameDataRecord lastRequest_{};
  mutable std::atomic<int32_t> count_{0};
};

// An event sink that keeps every event; optionally echoes them to stderr.
class TAVRO_SDK_API HostEventSink final : public EventSink {
 public:
  static HostEventSink* Create(bool echo);

  void addRef() const override;
  int32_t release() const override;
  bool hasOneRef() const override;
  int32_t refCount() const { return count_.load(); }

  void onStarted() override {}
  void onStopped() override {}
  void postEvent(const char* key, const char* value) override;

  std::vector<std::pair<std::string, std::string>> events() const;

 private:
  explicit HostEventSink(bool echo) : echo_(echo) {}
  ~HostEventSink() override;

  bool echo_;
  mutable std::mutex mutex_;
  std::vector<std::pair<std::string, std::string>> events_;
  mutable std::atomic<int32_t> count_{0};
};

}  // namespace tavro_rtc

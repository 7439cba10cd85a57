// The host SDK contract as seen by a video-filter extension module: the host
// objects the module calls (extension control, event sink, video frame), the
// objects the module hands to the host (provider, video filter), the records
// they exchange, and the two functions the module imports.
//
// Import mapping. The Windows host exports the two functions by ordinal only;
// on Linux they are imported by name:
//   ordinal 9  ->  tavro_sdk_register_extension_provider
//   ordinal 7  ->  tavro_sdk_get_extension_control
//
// Slots. Virtual operations are listed in slot order; placeholders keep the
// slot numbers of the operations the module uses. (With the Itanium C++ ABI a
// virtual destructor takes two vtable entries; module and host are built from
// this one header, so declaration order is what matters.)
//
// Reference passing. A pointer parameter documented as "owned" carries one
// reference that the callee releases before returning (or keeps). A result
// slot (T** out) receives a pointer that carries one reference for the caller.
#pragma once

#include <cstddef>
#include <cstdint>

// Everything declared with this leaves (or is imported from) the SDK library.
// Windows builds define it as __declspec(dllexport) inside the SDK and
// __declspec(dllimport) for its users.
#ifndef TAVRO_SDK_API
#define TAVRO_SDK_API __attribute__((visibility("default")))
#endif
// The two functions the module imports. The Windows SDK exports them by
// ordinal only (its .def file), so there they carry no export mark.
#ifndef TAVRO_SDK_ORDINAL_API
#define TAVRO_SDK_ORDINAL_API TAVRO_SDK_API
#endif

namespace tavro_rtc {

// Root of every reference-counted object exchanged with the host.
class RefCountInterface {
 public:
  virtual void addRef() const = 0;                  // slot 0
  // Returns 0 when this dropped the last reference (the object is gone),
  // 1 otherwise.
  virtual int32_t release() const = 0;              // slot 1
  virtual bool hasOneRef() const = 0;               // slot 2
 protected:
  virtual ~RefCountInterface() = default;           // slot 3
};

// Frame description the host writes for getVideoFrameData. Byte offsets are
// part of the contract; the caller presets the request fields.
struct FrameDataRecord {
  int32_t reserved0[4];   // 0
  uint8_t* pixels;        // 16: one contiguous I420 picture, no row padding
  int32_t reserved1[18];  // 24
  int32_t width;          // 96
  int32_t height;         // 100
  int32_t reserved2;      // 104
  int32_t bufferType;     // 108: preset 2 (raw data) by the caller
  int32_t pixelFormat;    // 112: preset 2 (I420) by the caller
  int32_t memoryType;     // 116: preset 2 (system memory) by the caller
  int32_t rotation;       // 120: preset 0 by the caller
  int32_t reserved3;      // 124
};
static_assert(offsetof(FrameDataRecord, pixels) == 16, "pixels at 16");
static_assert(offsetof(FrameDataRecord, width) == 96, "width at 96");
static_assert(offsetof(FrameDataRecord, height) == 100, "height at 100");
static_assert(offsetof(FrameDataRecord, bufferType) == 108, "preset at 108");
static_assert(offsetof(FrameDataRecord, pixelFormat) == 112, "preset at 112");
static_assert(offsetof(FrameDataRecord, memoryType) == 116, "preset at 116");
static_assert(offsetof(FrameDataRecord, rotation) == 120, "preset at 120");

// One-byte-per-pixel alpha handed to attachAlphaBuffer; the host copies it.
struct AlphaBufferRecord {
  const uint8_t* data;  // 0
  int32_t size;         // 8: number of bytes (width x height)
};
static_assert(offsetof(AlphaBufferRecord, data) == 0, "data at 0");
static_assert(offsetof(AlphaBufferRecord, size) == 8, "size at 8");

// One entry written by enumerateExtensions.
struct ExtensionRecord {
  int32_t type;      // 0: 1 = video filter
  int32_t padding;   // 4
  const char* name;  // 8: static NUL-terminated text
};
static_assert(sizeof(ExtensionRecord) == 16, "extension record is 16 bytes");
static_assert(offsetof(ExtensionRecord, name) == 8, "name at 8");

// A video frame travelling through the host's pipeline.
class VideoFrame : public RefCountInterface {
 public:
  virtual int32_t getVideoFrameData(FrameDataRecord* data) const = 0;  // 4
  virtual int32_t getVideoFrameType() const = 0;                     // slot 5
  virtual int32_t fillVideoFrameData(const FrameDataRecord* data) = 0;  // 6
  // Copies size bytes of alpha before returning; index 0 is the mask plane.
  virtual int32_t attachAlphaBuffer(int32_t index,
                                    const AlphaBufferRecord* alpha) = 0;  // 7
};

// Receives events from an extension (key/value texts).
class EventSink : public RefCountInterface {
 public:
  virtual void onStarted() = 0;                                   // slot 4
  virtual void onStopped() = 0;                                   // slot 5
  virtual void postEvent(const char* key, const char* value) = 0;  // slot 6
};

class ExtensionProvider;

// Levels of ExtensionControl::logMessage. The module's set-up messages come
// with kLogInfo. Its diagnostic lines (cost lines, start-up lines, wrapper
// messages) go to standard output unless a filter's "configs" sets
// "diagnostics_to_log"; they then come here, one line each without its line
// end, with kLogDiagnostic, from whichever thread wrote them.
enum LogLevel : int32_t { kLogDiagnostic = 0, kLogInfo = 1 };

// The host's extension control, obtained through ordinal 7. Not counted.
class ExtensionControl {
 public:
  virtual void getCapabilities() = 0;                           // slot 0
  virtual void recycleVideoCache() = 0;                         // slot 1
  virtual void dumpVideoFrame() = 0;                            // slot 2
  virtual void logMessage(int32_t level, const char* message) = 0;  // slot 3
  virtual void fireEvent() = 0;                                 // slot 4
  // provider is owned: the host keeps that reference and releases it later.
  virtual void registerProvider(const char* name,
                                ExtensionProvider* provider) = 0;  // slot 5
 protected:
  ~ExtensionControl() = default;
};

// A video filter made by a provider and driven once per frame.
class VideoFilter : public RefCountInterface {
 public:
  virtual bool hostQuery4() = 0;                                      // 4
  virtual void setEnabled(bool enabled) = 0;                          // 5
  virtual bool isEnabled() const = 0;                                 // 6
  virtual int32_t setProperty(const char* key, const char* value) = 0;  // 7
  virtual int32_t hostQuery8() = 0;                                   // 8
  virtual bool hostQuery9() = 0;                                      // 9
  virtual void hostNotify10() = 0;                                    // 10
  virtual bool hostQuery11() = 0;                                     // 11
  virtual bool hostQuery12() = 0;                                     // 12
  virtual void getProcessingOptions(int32_t* mode, bool* flag) = 0;   // 13
  // sink is owned (may be null).
  virtual int32_t start(EventSink* sink) = 0;                         // 14
  virtual int32_t stop() = 0;                                         // 15
  virtual void getFrameRequirements(int32_t* a, int32_t* b) = 0;      // 16
  // frame is owned.
  virtual int32_t releaseFrame(VideoFrame* frame) = 0;                // 17
  // in is owned; *out holds a counted reference the caller owns. Results:
  // 0 processed (alpha attached), 1 passed through (disabled), 2 no frame.
  virtual int32_t adaptVideoFrame(VideoFrame* in, VideoFrame** out) = 0;  // 18
};

// The object a module registers; the host asks it for extensions.
class ExtensionProvider : public RefCountInterface {
 public:
  virtual void setExtensionControl(ExtensionControl* control) = 0;  // slot 4
  virtual void enumerateExtensions(ExtensionRecord* records,
                                   int32_t* count) = 0;            // slot 5
  virtual void createExtension6(RefCountInterface** result) = 0;    // slot 6
  virtual void createVideoFilter(const char* name,
                                 VideoFilter** result) = 0;         // slot 7
  virtual void createExtension8(RefCountInterface** result) = 0;    // slot 8
  virtual void hostNotify9() = 0;                                   // slot 9
};

// The callback a module hands over with its provider name; the host calls it
// when it is ready, with an argument of its own that the module passes on,
// unchanged, to tavro_sdk_get_extension_control.
typedef void (*ProviderRegistrationCallback)(void* hostContext);

}  // namespace tavro_rtc

extern "C" {

// Ordinal 9: remembers a provider name and its registration callback.
TAVRO_SDK_ORDINAL_API int32_t tavro_sdk_register_extension_provider(
    const char* providerName, tavro_rtc::ProviderRegistrationCallback callback);

// Ordinal 7: the extension control for a registration call, or null.
TAVRO_SDK_ORDINAL_API tavro_rtc::ExtensionControl* tavro_sdk_get_extension_control(
    void* hostContext);

}  // extern "C"

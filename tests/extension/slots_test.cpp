// Pins the virtual-slot order of every interface crossing the host boundary
// (and of the internal interfaces whose order is part of the design). With
// the Itanium C++ ABI a virtual pointer-to-member holds 1 + the vtable byte
// offset; a virtual destructor takes two entries, counted once here.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>

#include "extension/matting_interface.h"
#include "extension/video_segmentation_wrapper.h"
#include "sdk/tavro_rtc_sdk.h"
#include "system/event_wrapper.h"
#include "system/thread_wrapper.h"

namespace {

template <class F>
size_t Entry(F f) {
  struct {
    uintptr_t ptr;
    ptrdiff_t adj;
  } raw;
  static_assert(sizeof(F) == sizeof(raw), "Itanium member-function pointer");
  std::memcpy(&raw, &f, sizeof(raw));
  EXPECT_EQ(raw.ptr & 1, 1u) << "not virtual";
  return (raw.ptr - 1) / sizeof(void*);
}

// dtorSlot: the slot of the destructor (its two entries count once).
template <class F>
int Slot(F f, int dtorSlot) {
  const int e = static_cast<int>(Entry(f));
  return e > dtorSlot ? e - 1 : e;
}

}  // namespace

TEST(Slots, HostObjects) {
  using namespace tavro_rtc;
  EXPECT_EQ(Slot(&RefCountInterface::addRef, 3), 0);
  EXPECT_EQ(Slot(&RefCountInterface::release, 3), 1);
  EXPECT_EQ(Slot(&RefCountInterface::hasOneRef, 3), 2);
  EXPECT_EQ(Slot(&VideoFrame::getVideoFrameData, 3), 4);
  EXPECT_EQ(Slot(&VideoFrame::attachAlphaBuffer, 3), 7);
  EXPECT_EQ(Slot(&EventSink::postEvent, 3), 6);
  EXPECT_EQ(Slot(&ExtensionControl::logMessage, 99), 3);
  EXPECT_EQ(Slot(&ExtensionControl::registerProvider, 99), 5);
}

TEST(Slots, ProviderAndFilter) {
  using namespace tavro_rtc;
  EXPECT_EQ(Slot(&ExtensionProvider::setExtensionControl, 3), 4);
  EXPECT_EQ(Slot(&ExtensionProvider::enumerateExtensions, 3), 5);
  EXPECT_EQ(Slot(&ExtensionProvider::createExtension6, 3), 6);
  EXPECT_EQ(Slot(&ExtensionProvider::createVideoFilter, 3), 7);
  EXPECT_EQ(Slot(&ExtensionProvider::createExtension8, 3), 8);
  EXPECT_EQ(Slot(&ExtensionProvider::hostNotify9, 3), 9);
  EXPECT_EQ(Slot(&VideoFilter::hostQuery4, 3), 4);
  EXPECT_EQ(Slot(&VideoFilter::setEnabled, 3), 5);
  EXPECT_EQ(Slot(&VideoFilter::setProperty, 3), 7);
  EXPECT_EQ(Slot(&VideoFilter::getProcessingOptions, 3), 13);
  EXPECT_EQ(Slot(&VideoFilter::start, 3), 14);
  EXPECT_EQ(Slot(&VideoFilter::stop, 3), 15);
  EXPECT_EQ(Slot(&VideoFilter::releaseFrame, 3), 17);
  EXPECT_EQ(Slot(&VideoFilter::adaptVideoFrame, 3), 18);
}

TEST(Slots, InternalInterfaces) {
  EXPECT_EQ(Slot(&tavro::MattingInterface::init, 0), 1);
  EXPECT_EQ(Slot(&tavro::MattingInterface::version, 0), 5);
  EXPECT_EQ(Slot(&tavro::VideoSegmentationWrapper::Process, 0), 1);
  EXPECT_EQ(Slot(&tavro::VideoSegmentationWrapper::version, 0), 3);
  EXPECT_EQ(Slot(&TavroRTCMP::ThreadWrapper::RequestStop, 0), 1);
  EXPECT_EQ(Slot(&TavroRTCMP::ThreadWrapper::Stop, 0), 4);
  EXPECT_EQ(Slot(&TavroRTCMP::EventWrapper::Wait, 0), 3);
  EXPECT_EQ(Slot(&TavroRTCMP::EventWrapper::StopTimer, 0), 5);
}

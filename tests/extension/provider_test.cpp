#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "extension/module_entry.h"
#include "extension/ref_counted_object.h"
#include "extension/seg_extension_provider.h"
#include "extension/version.h"
#include "sdk/sdk_host.h"
#include "tests/extension/fakes.h"

using tavro::RefCountedObject;
using tavro::SEGExtensionProvider;
using tavro_test::RecordingControl;

namespace {

class ProviderTest : public ::testing::Test {
 protected:
  ProviderTest() : provider(new RefCountedObject<SEGExtensionProvider>()) {
    provider->addRef();
  }
  ~ProviderTest() override { provider->release(); }

  tavro_rtc::VideoFilter* Create(const char* name) {
    tavro_rtc::VideoFilter* f = reinterpret_cast<tavro_rtc::VideoFilter*>(0x1);
    provider->createVideoFilter(name, &f);
    return f;
  }

  tavro_rtc::ExtensionProvider* provider;
  RecordingControl control;
};

}  // namespace

TEST_F(ProviderTest, OnlyTheExactNameMakesAFilter) {
  provider->setExtensionControl(&control);
  control.logs.clear();
  for (const char* bad : {"portraitsegmentation", "PortraitSegmentation ",
                          "PortraitSegmentationX", "PortraitSegmentatio", "",
                          static_cast<const char*>(nullptr)})
    EXPECT_EQ(Create(bad), nullptr);
  EXPECT_TRUE(control.logs.empty());

  tavro_rtc::VideoFilter* a = Create("PortraitSegmentation");
  tavro_rtc::VideoFilter* b = Create("PortraitSegmentation");
  ASSERT_NE(a, nullptr);
  ASSERT_NE(b, nullptr);
  EXPECT_NE(a, b);
  EXPECT_TRUE(a->hasOneRef());
  EXPECT_TRUE(b->hasOneRef());
  EXPECT_FALSE(a->isEnabled());
  EXPECT_EQ(control.logs, (std::vector<std::string>{
                              "1:segmentation: createVideoFilter",
                              "1:segmentation: createVideoFilter"}));
  EXPECT_EQ(a->release(), 0);
  EXPECT_EQ(b->release(), 0);
}

TEST_F(ProviderTest, ControlHandOverLogsOnlyForARealControl) {
  tavro_rtc::VideoFilter* f = Create("PortraitSegmentation");
  ASSERT_NE(f, nullptr);  // no control yet: works, logs nothing
  f->release();
  provider->setExtensionControl(&control);
  EXPECT_EQ(control.logs, std::vector<std::string>{
                              "1:segmentation: sdk setExtensionControl for provider"});
  provider->setExtensionControl(nullptr);
  f = Create("PortraitSegmentation");
  f->release();
  EXPECT_EQ(control.logs.size(), 1u);
}

TEST_F(ProviderTest, EnumerateAndEmptyFactories) {
  tavro_rtc::ExtensionRecord records[2] = {{9, 9, nullptr}, {9, 9, nullptr}};
  int32_t count = 0;
  provider->enumerateExtensions(records, &count);
  EXPECT_EQ(count, 1);
  EXPECT_EQ(records[0].type, 1);
  EXPECT_STREQ(records[0].name, "PortraitSegmentation");
  EXPECT_EQ(records[1].type, 9) << "only the first record is written";
  tavro_rtc::RefCountInterface* r = reinterpret_cast<tavro_rtc::RefCountInterface*>(0x1);
  provider->createExtension6(&r);
  EXPECT_EQ(r, nullptr);
  r = reinterpret_cast<tavro_rtc::RefCountInterface*>(0x1);
  provider->createExtension8(&r);
  EXPECT_EQ(r, nullptr);
  provider->hostNotify9();
}

TEST_F(ProviderTest, ReleaseReportsTheLastReference) {
  provider->addRef();
  EXPECT_FALSE(provider->hasOneRef());
  EXPECT_EQ(provider->release(), 1);
  EXPECT_TRUE(provider->hasOneRef());
}

TEST(Registration, CallbackRegistersOneProviderWithTheHost) {
  // A context the host does not know yields no control: nothing registered.
  int bogus = 0;
  tavro::RegisterSegmentationProvider(&bogus);
  EXPECT_EQ(tavro_rtc::FindProvider("video_segmentation_provider"), nullptr);

  tavro::RegisterSegmentationProvider(tavro_rtc::HostRegistrationContext());
  tavro_rtc::ExtensionProvider* p =
      tavro_rtc::FindProvider("video_segmentation_provider");
  ASSERT_NE(p, nullptr);
  EXPECT_FALSE(p->hasOneRef()) << "the host keeps its own reference";
  EXPECT_EQ(p->release(), 1);
  tavro_rtc::ShutdownHost();
  EXPECT_EQ(tavro_rtc::FindProvider("video_segmentation_provider"), nullptr);
}

TEST(Registration, LoadHookHandsOverNameAndCallback) {
  tavro::OnModuleLoaded();
  auto names = tavro_rtc::PendingProviderNames();
  ASSERT_FALSE(names.empty());
  EXPECT_EQ(names.back(), "video_segmentation_provider");
  EXPECT_EQ(tavro_rtc::RunPendingRegistrations(), 1);
  EXPECT_EQ(tavro_rtc::RunPendingRegistrations(), 0);
  tavro_rtc::SetLogHandler([](int32_t, const std::string&) {});
  tavro_rtc::ExtensionProvider* p =
      tavro_rtc::FindProvider("video_segmentation_provider");
  ASSERT_NE(p, nullptr);
  p->setExtensionControl(tavro_rtc::HostExtensionControl());
  p->release();
  tavro_rtc::ShutdownHost();
  tavro_rtc::SetLogHandler(nullptr);
}

TEST(Version, SamePointerAndQuotedText) {
  const char* a = tavro::GetMattingVersionText();
  const char* b = tavro::GetMattingVersionText();
  EXPECT_EQ(a, b);
  ASSERT_EQ(std::strlen(a), 23u);
  EXPECT_STREQ(a, "\"matting_release_2.0.5\"");
}

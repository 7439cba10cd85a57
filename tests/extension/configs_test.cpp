#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>

#include "extension/diagnostics_route.h"
#include "extension/ref_counted_object.h"
#include "extension/seg_video_filter.h"
#include "tests/extension/fakes.h"

using tavro::RefCountedObject;
using tavro::SEGVideoFilter;
using tavro::SegmentationConfig;
using tavro::VideoSegmentationWrapper;
using tavro_test::FakeMatting;
using tavro_test::MattingLog;

namespace {

class ConfigsTest : public ::testing::Test {
 protected:
  ConfigsTest() {
    filter = new RefCountedObject<SEGVideoFilter>(
        std::unique_ptr<VideoSegmentationWrapper>(new VideoSegmentationWrapper(
            std::unique_ptr<tavro::MattingInterface>(new FakeMatting(&log)))));
    filter->addRef();
  }
  ~ConfigsTest() override { filter->release(); }

  int32_t Set(const char* json) { return filter->setProperty("configs", json); }
  SegmentationConfig Config() { return filter->wrapper().config(); }

  MattingLog log;
  RefCountedObject<SEGVideoFilter>* filter;
};

}  // namespace

TEST_F(ConfigsTest, DefaultsBeforeAnyProperty) {
  SegmentationConfig c = Config();
  EXPECT_FALSE(c.settings.enable_media_filter);
  EXPECT_TRUE(c.settings.enable_optical_flow);
  EXPECT_FALSE(c.settings.bokeh);
  EXPECT_EQ(c.netWidth, 320);
  EXPECT_EQ(c.netHeight, 224);
  EXPECT_FALSE(filter->isEnabled());
}

TEST_F(ConfigsTest, EnableMustBeABoolean) {
  EXPECT_EQ(Set(R"({"enable": 1})"), -1);
  EXPECT_FALSE(filter->isEnabled());
  EXPECT_EQ(Set(R"({"enable": true})"), -1);
  EXPECT_TRUE(filter->isEnabled());
  EXPECT_EQ(log.setConfigCalls, 0) << "no config member, no setConfig";
  EXPECT_EQ(Set(R"({"enable": false})"), -1);
  EXPECT_FALSE(filter->isEnabled());
}

TEST_F(ConfigsTest, NonBooleanMemberStopsTheWalk) {
  EXPECT_EQ(Set(R"({"enable": true, "bokeh": "yes"})"), -1);
  EXPECT_TRUE(filter->isEnabled());
  EXPECT_FALSE(Config().settings.bokeh);
  filter->setEnabled(false);
  // "enable" is looked at first, whatever the order in the text.
  EXPECT_EQ(Set(R"({"bokeh": true, "enable": "on"})"), -1);
  EXPECT_FALSE(filter->isEnabled());
  EXPECT_FALSE(Config().settings.bokeh);
  // Earlier members stay applied when a later one is bad.
  EXPECT_EQ(Set(R"({"enable_media_filter": true, "prefer_efficiency": null, "bokeh": true})"), -1);
  EXPECT_TRUE(Config().settings.enable_media_filter);
  EXPECT_FALSE(Config().settings.bokeh);
  EXPECT_EQ(Config().netWidth, 320);
}

TEST_F(ConfigsTest, EachMemberEditsItsField) {
  EXPECT_EQ(Set(R"({"prefer_efficiency": true})"), -1);
  EXPECT_EQ(Config().netWidth, 224);
  EXPECT_EQ(Config().netHeight, 224);
  EXPECT_EQ(Set(R"({"prefer_efficiency": false})"), -1);
  EXPECT_EQ(Config().netWidth, 320);
  EXPECT_EQ(Config().netHeight, 224);
  int before = log.setConfigCalls;
  EXPECT_EQ(Set(R"({"bokeh": true, "enable_optical_flow": false,
                    "enable_media_filter": true, "other": 5})"), -1);
  EXPECT_EQ(log.setConfigCalls - before, 3) << "one setConfig per member";
  SegmentationConfig c = Config();
  EXPECT_TRUE(c.settings.bokeh);
  EXPECT_FALSE(c.settings.enable_optical_flow);
  EXPECT_TRUE(c.settings.enable_media_filter);
  EXPECT_TRUE(log.lastConfig.settings.bokeh) << "the last call carries every edit";
  EXPECT_FALSE(log.lastConfig.settings.enable_optical_flow);
}

// Every member of the list after "enable" reaches the adapter's settings,
// unchanged, from either value.
TEST_F(ConfigsTest, EveryListedMemberReachesTheAdapter) {
  for (const tavro_rtc::FilterSettingInfo& member : tavro_rtc::kFilterSettings) {
    if (member.field == &tavro_rtc::FilterSettings::enable) continue;
    for (bool value : {!member.initial, member.initial}) {
      const std::string json = std::string("{\"") + member.name + "\": " + (value ? "true}" : "false}");
      EXPECT_EQ(Set(json.c_str()), -1);
      EXPECT_EQ(log.lastConfig.settings.*member.field, value) << json;
      EXPECT_EQ(Config().settings.*member.field, value) << json;
    }
  }
  tavro::RouteDiagnosticsToHostLog(false);
}

TEST_F(ConfigsTest, RefusedKeysAndDocuments) {
  const SegmentationConfig before = Config();
  EXPECT_EQ(filter->setProperty("Configs", R"({"bokeh": true})"), -1);
  EXPECT_EQ(filter->setProperty("configs ", R"({"bokeh": true})"), -1);
  EXPECT_EQ(filter->setProperty("", R"({"bokeh": true})"), -1);
  EXPECT_EQ(filter->setProperty(nullptr, R"({"bokeh": true})"), -1);
  EXPECT_EQ(filter->setProperty("configs", nullptr), -1);
  for (const char* bad : {"", "{", R"({"bokeh": true} x)", R"({"bokeh": true} /* c */)",
                          R"([{"bokeh": true}])", R"("bokeh")", "true",
                          "{\"bokeh\": tru}", "\xff\xfe"}) {
    EXPECT_EQ(Set(bad), -1) << bad;
  }
  const std::string deep(1000000, '[');  // must not exhaust the stack
  EXPECT_EQ(Set(deep.c_str()), -1);
  EXPECT_EQ(Set(" \t\r\n{\"bokeh\": false} \n"), -1);  // blanks around are fine
  EXPECT_EQ(Config().settings.bokeh, before.settings.bokeh);
  EXPECT_EQ(log.setConfigCalls, 1);
}

TEST_F(ConfigsTest, NetworkSizeChangeReachesTheWrapper) {
  EXPECT_EQ(Set(R"({"prefer_efficiency": true})"), -1);
  EXPECT_EQ(log.lastConfig.netWidth, 224);
  EXPECT_EQ(log.lastConfig.netHeight, 224);
}

// Two property threads each flip their own member, once per round, at the
// same moment; after every round both members must hold what their thread
// wrote. A lost copy-edit-write shows as the other thread's member reverting.
TEST_F(ConfigsTest, EditsFromTwoPropertyThreadsAreNotLost) {
  constexpr int kRounds = 20000;
  std::atomic<int> arrived{0};
  auto meet = [&](int round) {  // both threads pass together, twice a round
    arrived.fetch_add(1);
    while (arrived.load() < 2 * round) std::this_thread::yield();
  };
  std::atomic<int> lost{0};
  auto edits = [&](const char* on, const char* off, bool first) {
    for (int i = 0; i < kRounds; ++i) {
      meet(2 * i + 1);
      Set(i % 2 ? on : off);
      meet(2 * i + 2);
      if (first) {
        const SegmentationConfig c = Config();
        if (c.settings.enable_media_filter != (i % 2 == 1) || c.settings.bokeh != (i % 2 == 1)) ++lost;
      }
    }
  };
  std::thread media(edits, "{\"enable_media_filter\":true}",
                    "{\"enable_media_filter\":false}", true);
  edits("{\"bokeh\":true}", "{\"bokeh\":false}", false);
  media.join();
  EXPECT_EQ(lost.load(), 0) << "rounds with a lost edit";
}

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "host/contact_sheet.h"
#include "host/demo_clip.h"
#include "host/flicker_meter.h"
#include "host/host_options.h"
#include "host/i420_image.h"

using namespace tavro_host;

TEST(I420Image, LayoutUsesIntegerHalves) {
  I420Image img(5, 3);
  EXPECT_EQ(img.data.size(), 15u + 2 * 2 * 1);
  EXPECT_EQ(img.u() - img.y(), 15);
  EXPECT_EQ(img.v() - img.y(), 17);
  EXPECT_EQ(I420Image::SizeFor(1, 1), 1u);
  EXPECT_EQ(I420Image::SizeFor(0, 4), 0u);
}

TEST(I420Image, ColourConversionRoundTripsWithinRounding) {
  cv::Mat bgr(4, 6, CV_8UC3);
  const cv::Vec3b colours[] = {{20, 40, 200}, {200, 180, 10}, {128, 128, 128}};
  for (int r = 0; r < 4; ++r)
    for (int c = 0; c < 6; ++c) bgr.at<cv::Vec3b>(r, c) = colours[(c / 2) % 3];
  cv::Mat back = I420ToBgr(BgrToI420(bgr));
  for (int r = 0; r < 4; ++r)
    for (int c = 0; c < 6; ++c)
      for (int k = 0; k < 3; ++k)
        EXPECT_NEAR(back.at<cv::Vec3b>(r, c)[k], bgr.at<cv::Vec3b>(r, c)[k], 3)
            << r << "," << c;
  // Odd sizes and 1-pixel frames convert without touching memory out of range.
  EXPECT_EQ(I420ToBgr(BgrToI420(cv::Mat(5, 7, CV_8UC3, cv::Scalar(1, 2, 3)))).size(),
            cv::Size(7, 5));
  EXPECT_EQ(I420ToBgr(BgrToI420(cv::Mat(1, 1, CV_8UC3, cv::Scalar(9, 9, 9)))).size(),
            cv::Size(1, 1));
}

TEST(FlickerMeter, MeanAbsoluteChangeOverPixelsAndPairs) {
  FlickerMeter m;
  std::vector<uint8_t> a(4, 0), b = {255, 255, 0, 0}, c(4, 0);
  m.add(a.data(), 2, 2);
  EXPECT_EQ(m.flicker(), 0.0);
  m.add(b.data(), 2, 2);  // 127.5
  m.add(c.data(), 2, 2);  // 127.5
  EXPECT_DOUBLE_EQ(m.flicker(), 127.5);
  std::vector<uint8_t> d(6, 10);
  m.add(d.data(), 3, 2);  // new size: no pair
  EXPECT_EQ(m.pairs(), 2);
  m.add(d.data(), 3, 2);  // unchanged: 0
  EXPECT_DOUBLE_EQ(m.flicker(), 255.0 / 3);
}

TEST(ContactSheet, KeepsEvenlySpacedFramesOfALongRun) {
  ContactSheet sheet(4, 32);
  cv::Mat frame(18, 32, CV_8UC3, cv::Scalar(0, 0, 255));
  cv::Mat mask(18, 32, CV_8UC1, cv::Scalar(255));
  for (int i = 0; i < 1000; ++i) sheet.offer(i, frame, mask);
  std::vector<int> kept = sheet.keptIndices();
  EXPECT_GE(kept.size(), 4u);
  EXPECT_LT(kept.size(), 8u);
  for (size_t i = 1; i < kept.size(); ++i)
    EXPECT_EQ(kept[i] - kept[i - 1], kept[1] - kept[0]);
  cv::Mat img = sheet.render();
  ASSERT_FALSE(img.empty());
  EXPECT_EQ(ContactSheet().render().empty(), true);
  EXPECT_FALSE(sheet.save("sheet.no-such-image-format"));
}

TEST(DemoClip, PersonMovesInTheFrame) {
  cv::Mat a = RenderDemoFrame(0), b = RenderDemoFrame(15);
  ASSERT_EQ(a.size(), cv::Size(kDemoWidth, kDemoHeight));
  cv::Mat diff;
  cv::absdiff(a, b, diff);
  EXPECT_GT(cv::countNonZero(diff.reshape(1)), 1000);
  if (DemoUsesPhoto()) {
    // The camera pans and zooms over the photograph: halfway through, most
    // pixels differ from the first frame's.
    cv::absdiff(a, RenderDemoFrame(kDemoFrames / 2), diff);
    EXPECT_GT(cv::countNonZero(diff.reshape(1)), a.total());
  } else {
    // The drawn figure moves over a fixed backdrop.
    EXPECT_EQ(a.at<cv::Vec3b>(5, 5), b.at<cv::Vec3b>(5, 5));
  }
}

TEST(HostOptions, ParsesAndRefuses) {
  auto parse = [](std::vector<const char*> args, HostOptions* o, std::string* e) {
    args.insert(args.begin(), "tavro-host");
    return ParseHostOptions(static_cast<int>(args.size()), const_cast<char**>(args.data()), o, e);
  };
  HostOptions o;
  std::string e;
  ASSERT_TRUE(parse({"clip.mp4", "--frames", "12", "--config", "{}", "--stability"}, &o, &e)) << e;
  EXPECT_EQ(o.input, "clip.mp4");
  EXPECT_EQ(o.maxFrames, 12);
  EXPECT_EQ(o.configs, "{}");
  EXPECT_TRUE(o.stability);
  HostOptions sets;
  ASSERT_TRUE(parse({"--demo", "--set", "bokeh=true", "--set", "enable_media_filter=false"},
                    &sets, &e))
      << e;
  EXPECT_EQ(sets.setsJson, R"({"bokeh":true,"enable_media_filter":false,"refine_edges":true})");
  // Edge refinement is on unless the user's configs or --set name it.
  HostOptions off;
  ASSERT_TRUE(parse({"--demo", "--config", R"({"enable":true,"refine_edges":false})"}, &off, &e));
  EXPECT_EQ(off.setsJson, "");
  for (std::vector<const char*> bad :
       {std::vector<const char*>{}, {"--demo", "x.y4m"}, {"--frames", "-3", "--demo"},
        {"--demo", "--frames"}, {"--demo", "--bogus"}, {"a", "b"},
        {"--demo", "--set", "bokhe=true"}, {"--demo", "--set", "bokeh=1"},
        {"--demo", "--set", "bokeh"}}) {
    HostOptions fresh;
    EXPECT_FALSE(parse(bad, &fresh, &e));
  }
}

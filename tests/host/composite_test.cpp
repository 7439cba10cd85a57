// The background composite shared by tavro-host and the GStreamer element:
// no person colour in the blurred background, exact ends of the mask ramp,
// colours and pictures with transparency over the blur, feathering, odd
// frame sizes; and the pictures it is given (transparency, cut-short JPEG).
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <vector>

#include <opencv2/imgcodecs.hpp>

#include "host/backdrop_picture.h"
#include "host/composite/compositor.h"
#include "host/host_backdrop.h"
#include "host/i420_image.h"

using namespace tavro_host;

namespace {

// A grey background (Y 60) with a bright, coloured person rectangle.
struct Scene {
  static constexpr int kW = 160, kH = 120;
  I420Image frame{kW, kH};
  std::vector<uint8_t> mask = std::vector<uint8_t>(size_t(kW) * kH, 0);
  cv::Rect person{60, 30, 40, 90};

  explicit Scene(int edge = 0) {
    std::fill(frame.y(), frame.y() + frame.lumaSize(), 60);
    std::fill(frame.u(), frame.u() + 2 * frame.chromaSize(), 128);
    for (int y = person.y; y < person.y + person.height; ++y)
      for (int x = person.x; x < person.x + person.width; ++x) {
        frame.y()[y * kW + x] = 230;
        frame.u()[(y / 2) * frame.chromaWidth() + x / 2] = 200;
        const bool in = x >= person.x + edge && x < person.x + person.width - edge &&
                        y >= person.y + edge;
        mask[y * kW + x] = in ? 255 : 100;
      }
  }
};

I420Image Composite(const I420Image& frame, const std::vector<uint8_t>& mask,
                    const Backdrop& backdrop = Backdrop(),
                    const CompositeSettings& settings = CompositeSettings()) {
  I420Image out = frame;
  Compositor c;
  c.setSettings(settings);
  c.composite(Planes(out), mask.data(), out.width, backdrop);
  return out;
}

// Largest distance of luma from 60 and of U from 128 over background pixels
// at least `from` pixels away from the person rectangle.
std::pair<int, int> BackgroundError(const Scene& s, const I420Image& out, int from) {
  int ey = 0, eu = 0;
  for (int y = 0; y < Scene::kH; ++y)
    for (int x = 0; x < Scene::kW; ++x) {
      const int dx = std::max({s.person.x - x, x - (s.person.x + s.person.width - 1), 0});
      const int dy = std::max(s.person.y - y, 0);
      if (std::max(dx, dy) < from) continue;
      ey = std::max(ey, std::abs(out.y()[y * Scene::kW + x] - 60));
      eu = std::max(eu, std::abs(out.u()[(y / 2) * out.chromaWidth() + x / 2] - 128));
    }
  return {ey, eu};
}

}  // namespace

TEST(Composite, BlurKeepsThePersonOutOfTheBackground) {
  const Scene exact;
  const I420Image out = Composite(exact.frame, exact.mask);
  for (size_t i = 0; i < exact.mask.size(); ++i)
    if (exact.mask[i] == 255) {
      ASSERT_EQ(out.y()[i], exact.frame.y()[i]) << i;
    }
  const auto [ey, eu] = BackgroundError(exact, out, 1);
  EXPECT_LE(ey, 1);
  EXPECT_LE(eu, 1);

  // A soft mask edge (2 px at 100, less than half a person): the rim
  // shows in part, but the blur beyond it carries much less of the person
  // than a plain blur would.
  const Scene tight(2);
  const std::vector<uint8_t> none(tight.mask.size(), 0);
  const auto [ty, tu] = BackgroundError(tight, Composite(tight.frame, tight.mask), 6);
  const auto [py, pu] = BackgroundError(tight, Composite(tight.frame, none), 6);
  EXPECT_LT(ty * 3, py);
  EXPECT_LT(tu * 3, pu);
}

TEST(Composite, RampColourPictureAndFeather) {
  const Scene s;
  // Mask ramp: below threshold - softness / 2 the background, above
  // threshold + softness / 2 the frame, a hard cut with softness 0.
  std::vector<uint8_t> mask(s.mask.size());
  for (size_t i = 0; i < mask.size(); ++i) mask[i] = uint8_t(i % 256);
  Backdrop green;
  ArgbToYuva(0xFF00FF00, green.colour);
  CompositeSettings hard;
  hard.maskSoftness = 0;
  hard.maskThreshold = 100;
  const I420Image ramp = Composite(s.frame, mask, green), cut = Composite(s.frame, mask, green, hard);
  for (size_t i = 0; i < mask.size(); ++i) {
    if (mask[i] < 80) {
      ASSERT_EQ(ramp.y()[i], green.colour[0]) << i;
    }
    if (mask[i] > 176) {
      ASSERT_EQ(ramp.y()[i], s.frame.y()[i]) << i;
    }
    ASSERT_EQ(cut.y()[i], mask[i] >= 100 ? s.frame.y()[i] : green.colour[0]) << i;
  }
  const I420Image all = Composite(s.frame, std::vector<uint8_t>(mask.size(), 0), green);
  EXPECT_EQ(all.u()[0], green.colour[1]);
  EXPECT_EQ(all.v()[0], green.colour[2]);

  // A picture whose left half is transparent: the blur shows there, the
  // picture on the right.
  cv::Mat bgra(Scene::kH, Scene::kW, CV_8UC4, cv::Scalar(255, 0, 0, 255));
  bgra(cv::Rect(0, 0, Scene::kW / 2, Scene::kH)).setTo(cv::Scalar(255, 0, 0, 0));
  BackdropPicture picture;
  picture.set(bgra, Scene::kW, Scene::kH);
  ASSERT_NE(picture.alpha(), nullptr);
  Backdrop over;
  over.picture = &picture.planes();
  over.pictureAlpha = picture.alpha();
  const I420Image blurred = Composite(s.frame, s.mask), layered = Composite(s.frame, s.mask, over);
  const uint8_t blueY = picture.planes().plane[0].data[0];
  EXPECT_EQ(layered.y()[10 * Scene::kW + 5], blurred.y()[10 * Scene::kW + 5]);
  EXPECT_EQ(layered.y()[10 * Scene::kW + Scene::kW - 5], blueY);

  // Feathering a hard edge by 3 px: the ramp spans 7 pixels, the rest is
  // untouched.
  CompositeSettings feather;
  feather.edgeFeather = 3;
  const I420Image f = Composite(s.frame, s.mask, green, feather);
  const uint8_t* row = f.y() + 80 * Scene::kW;
  for (int x = 0; x < Scene::kW; ++x) {
    const int d = std::min(std::abs(x - s.person.x), std::abs(x - (s.person.x + s.person.width)));
    if (d > 3) {
      ASSERT_EQ(row[x], s.mask[80 * Scene::kW + x] ? 230 : green.colour[0]) << x;
    }
  }
  // Just outside, the frame's own grey shows through the green; just
  // inside, green shows in the person.
  EXPECT_LT(row[s.person.x - 1], green.colour[0]);
  EXPECT_LT(row[s.person.x], 230);
}

// Odd sizes, GStreamer's chroma of (w + 1) / 2, padded rows, a 1-pixel
// frame and every blur strength: no reads or writes outside the planes
// (checked under AddressSanitizer), an all-person mask keeps the frame.
TEST(Composite, OddSizesAndPaddedRows) {
  for (const auto& [w, h] : {std::pair{33, 17}, {1, 1}, {2, 3}, {641, 361}}) {
    const int cw = (w + 1) / 2, ch = (h + 1) / 2, stride = w + 7, cstride = cw + 5;
    std::vector<uint8_t> y(size_t(stride) * h, 90), u(size_t(cstride) * ch, 100),
        v(size_t(cstride) * ch, 150);
    for (size_t i = 0; i < y.size(); ++i) y[i] = uint8_t(i * 7);
    const std::vector<uint8_t> y0 = y;
    PlanarFrame f;
    f.plane[0] = {y.data(), w, h, stride};
    f.plane[1] = {u.data(), cw, ch, cstride};
    f.plane[2] = {v.data(), cw, ch, cstride};
    Compositor c;
    for (int strength : {0, 1, 50, 100}) {
      CompositeSettings settings;
      settings.blurStrength = strength;
      settings.edgeFeather = 2;
      c.setSettings(settings);
      std::vector<uint8_t> all(size_t(w) * h, 255);
      c.composite(f, all.data(), w, Backdrop());
      ASSERT_EQ(y, y0) << w << "x" << h;
      std::vector<uint8_t> half(size_t(w) * h);
      for (size_t i = 0; i < half.size(); ++i) half[i] = uint8_t(i % 2 ? 255 : 0);
      std::vector<uint8_t> copy = y;
      f.plane[0].data = copy.data();
      c.composite(f, half.data(), w, Backdrop());
      f.plane[0].data = y.data();
    }
  }
}

TEST(BackdropPicture, TransparencyCutShortJpegAndColours) {
  const std::string dir = ::testing::TempDir();
  cv::Mat read;
  std::string error;
  // A PNG's transparency is kept. OpenCV builds without image codecs (the
  // Windows cross build) can neither write nor read the test pictures.
  if (cv::haveImageWriter(".png")) {
    cv::Mat bgra(20, 30, CV_8UC4, cv::Scalar(0, 0, 255, 128));
    ASSERT_TRUE(cv::imwrite(dir + "tavro_half.png", bgra));
    ASSERT_TRUE(ReadPicture(dir + "tavro_half.png", &read, &error)) << error;
    EXPECT_EQ(read.channels(), 4);
    BackdropPicture p;
    p.set(read, 15, 9);
    ASSERT_NE(p.alpha(), nullptr);
    EXPECT_NEAR(p.alpha()[0], 128, 1);
    EXPECT_EQ(p.planes().plane[1].width, 8);
  }

  // A JPEG cut short is refused by name.
  if (cv::haveImageWriter(".jpg")) {
    ASSERT_TRUE(cv::imwrite(dir + "tavro_whole.jpg", cv::Mat(64, 64, CV_8UC3, cv::Scalar(1, 2, 3))));
    ASSERT_TRUE(ReadPicture(dir + "tavro_whole.jpg", &read, &error)) << error;
    std::ifstream in(dir + "tavro_whole.jpg", std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::ofstream(dir + "tavro_cut.jpg", std::ios::binary) << bytes.substr(0, bytes.size() / 2);
    EXPECT_FALSE(ReadPicture(dir + "tavro_cut.jpg", &read, &error));
    EXPECT_NE(error.find("cut short"), std::string::npos) << error;
  }
  EXPECT_FALSE(ReadPicture(dir + "tavro_none.png", &read, &error));

  uint8_t yuva[4];
  ASSERT_TRUE(ParseColour("#00ff00", yuva));
  EXPECT_EQ(yuva[3], 255);
  ASSERT_TRUE(ParseColour("0x80000000", yuva));
  EXPECT_EQ(yuva[0], 16);
  EXPECT_EQ(yuva[3], 128);
  ASSERT_TRUE(ParseColour("white", yuva));
  EXPECT_EQ(yuva[0], 235);
  for (const char* bad : {"", "#12345", "#gg0000", "0x", "beach.jpg"})
    EXPECT_FALSE(ParseColour(bad, yuva)) << bad;
}

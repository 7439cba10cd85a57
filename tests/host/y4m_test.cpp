#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "host/i420_image.h"
#include "host/y4m.h"

using namespace tavro_host;

namespace {

std::string TempPath(const char* name) {
  return "/tmp/tavro_host_test_" + std::to_string(getpid()) + "_" + name;
}

I420Image Pattern(int w, int h, int seed) {
  I420Image img(w, h);
  for (size_t i = 0; i < img.data.size(); ++i)
    img.data[i] = static_cast<uint8_t>((i * 31 + seed * 7) & 0xFF);
  return img;
}

}  // namespace

TEST(Y4m, ColourRoundTripKeepsEveryInMemoryByte) {
  for (auto [w, h] : {std::pair{640, 360}, std::pair{7, 5}, std::pair{1, 1},
                      std::pair{2, 2}, std::pair{3, 8}}) {
    const std::string path = TempPath("rt.y4m");
    Y4mWriter writer;
    ASSERT_TRUE(writer.open(path, w, h, 25.0, false));
    for (int k = 0; k < 3; ++k) ASSERT_TRUE(writer.write(Pattern(w, h, k)));
    EXPECT_FALSE(writer.write(Pattern(w + 1, h, 0))) << "size is fixed";
    writer.close();

    Y4mReader reader;
    std::string error;
    ASSERT_TRUE(reader.open(path, &error)) << error;
    EXPECT_EQ(reader.width(), w);
    EXPECT_EQ(reader.height(), h);
    EXPECT_NEAR(reader.fps(), 25.0, 1e-9);
    I420Image frame;
    for (int k = 0; k < 3; ++k) {
      ASSERT_TRUE(reader.read(frame)) << w << "x" << h << " frame " << k;
      EXPECT_EQ(frame.data, Pattern(w, h, k).data);
    }
    EXPECT_FALSE(reader.read(frame));
    std::remove(path.c_str());
  }
}

TEST(Y4m, OddSizesUseRoundedUpChromaOnDisk) {
  const std::string path = TempPath("odd.y4m");
  Y4mWriter writer;
  ASSERT_TRUE(writer.open(path, 5, 3, 30.0, false));
  ASSERT_TRUE(writer.write(Pattern(5, 3, 1)));
  writer.close();
  std::ifstream in(path, std::ios::binary | std::ios::ate);
  std::string header = "YUV4MPEG2 W5 H3 F30000:1000 Ip A1:1 C420jpeg\n";
  EXPECT_EQ(static_cast<size_t>(in.tellg()), header.size() + 6 + 15 + 2 * 3 * 2);
  std::remove(path.c_str());
}

TEST(Y4m, GreyRoundTripAndMonoInput) {
  const std::string path = TempPath("grey.y4m");
  std::vector<uint8_t> mask(9 * 4);
  for (size_t i = 0; i < mask.size(); ++i) mask[i] = static_cast<uint8_t>(i * 7);
  Y4mWriter writer;
  ASSERT_TRUE(writer.open(path, 9, 4, 30.0, true));
  ASSERT_TRUE(writer.writeGrey(mask.data()));
  writer.close();
  Y4mReader reader;
  std::string error;
  ASSERT_TRUE(reader.open(path, &error)) << error;
  EXPECT_TRUE(reader.mono());
  I420Image frame;
  ASSERT_TRUE(reader.read(frame));
  EXPECT_EQ(std::vector<uint8_t>(frame.y(), frame.y() + 36), mask);
  EXPECT_EQ(frame.u()[0], 128);
  std::remove(path.c_str());
}

TEST(Y4m, RejectsWhatItCannotRead) {
  const std::string path = TempPath("bad.y4m");
  Y4mReader missing;
  std::string error;
  EXPECT_FALSE(missing.open(path + ".none", &error));
  for (const char* text : {"NOTY4M W2 H2\n", "YUV4MPEG2 W0 H2 C420jpeg\n",
                           "YUV4MPEG2 W4 H4 C444\nFRAME\n"}) {
    std::ofstream(path, std::ios::binary) << text;
    Y4mReader reader;
    EXPECT_FALSE(reader.open(path, &error)) << text;
    EXPECT_FALSE(error.empty());
  }
  // A truncated frame ends the input instead of yielding garbage.
  std::ofstream(path, std::ios::binary) << "YUV4MPEG2 W4 H4 C420jpeg\nFRAME\nabc";
  Y4mReader reader;
  ASSERT_TRUE(reader.open(path, &error));
  I420Image frame;
  EXPECT_FALSE(reader.read(frame));
  std::remove(path.c_str());
}

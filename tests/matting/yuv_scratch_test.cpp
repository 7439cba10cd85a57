// libyuv's row scratch comes from the scaling call's own block (the libyuv
// linked in calls the module's malloc and free), the block is given back
// when the call ends, and libyuv's allocations outside a call, or on
// another thread, are the heap's.
#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "matting/image_ops.h"
#include "matting/yuv_scratch.h"

extern "C" void* tavro_yuv_malloc(size_t n);
extern "C" void tavro_yuv_free(void* p);

using namespace TavroMatting;

TEST(LibyuvScratch, ScalingCallsBorrowTheirBlockAndOthersUseTheHeap) {
  std::vector<uint8_t> src(size_t(640) * 360, 90), dst(size_t(333) * 187);
  const uint64_t before = YuvScratchLends();
  // A bilinear down-scale by an odd ratio takes a row buffer.
  ASSERT_EQ(ScaleImage(PlaneDesc(src.data(), 640, 360, 640),
                       PlaneDesc(dst.data(), 333, 187, 333), kScaleBilinear),
            0);
  const uint64_t lends = YuvScratchLends();
  EXPECT_GT(lends, before) << "the libyuv linked in does not call the module's malloc";
  EXPECT_EQ(dst[size_t(333) * 100 + 100], 90);

  // Outside a scaling call libyuv's allocations are the heap's.
  void* p = tavro_yuv_malloc(16);
  ASSERT_NE(p, nullptr);
  tavro_yuv_free(p);
  EXPECT_EQ(YuvScratchLends(), lends);

  // A scope lends only to its own thread, once at a time, and only what fits.
  YuvScratchScope scope(256);
  ASSERT_TRUE(scope.ok());
  void* other = nullptr;
  std::thread([&] { other = tavro_yuv_malloc(64); }).join();
  EXPECT_EQ(YuvScratchLends(), lends) << "another thread got this thread's block";
  tavro_yuv_free(other);
  void* big = tavro_yuv_malloc(257);
  EXPECT_EQ(YuvScratchLends(), lends);
  void* first = tavro_yuv_malloc(256);
  void* second = tavro_yuv_malloc(8);
  EXPECT_EQ(YuvScratchLends(), lends + 1);
  EXPECT_NE(first, second);
  tavro_yuv_free(second);
  tavro_yuv_free(first);
  tavro_yuv_free(big);
  void* again = tavro_yuv_malloc(100);
  EXPECT_EQ(again, first) << "the block was not given back";
  tavro_yuv_free(again);
}

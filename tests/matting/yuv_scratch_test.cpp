// libyuv's row scratch comes from the thread's block on every platform build
// (Linux rewrites the shared libyuv's slots, Windows links a renamed libyuv),
// and the block is given back when the call ends.
#include <gtest/gtest.h>

#include <vector>

#include "matting/image_ops.h"
#include "matting/yuv_scratch.h"
#include "matting/yuv_scratch_thread.h"

using namespace TavroMatting;

TEST(LibyuvScratch, ScalingCallsBorrowAndReturnTheThreadBlock) {
  ASSERT_TRUE(RedirectLibyuvHeap());
  std::vector<uint8_t> src(size_t(640) * 360, 90), dst(size_t(333) * 187);
  // A bilinear down-scale by an odd ratio takes a row buffer.
  ASSERT_EQ(ScaleImage(PlaneDesc(src.data(), 640, 360, 640),
                       PlaneDesc(dst.data(), 333, 187, 333), kScaleBilinear),
            0);
  const YuvScratch* s = ThreadYuvScratch(false);
  ASSERT_NE(s, nullptr);
  const uint32_t lends = s->lends;
  EXPECT_GT(lends, 0u);
  EXPECT_FALSE(s->lent);
  EXPECT_FALSE(s->active);
  EXPECT_EQ(dst[size_t(333) * 100 + 100], 90);

  // Outside a scaling call libyuv's allocations are the heap's.
  void* p = YuvScratchMalloc(16);
  EXPECT_NE(p, s->block);
  YuvScratchFree(p);
  EXPECT_EQ(s->lends, lends);
}

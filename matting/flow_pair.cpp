#include "matting/flow_pair.h"

#include <cmath>
#include <cstring>

#include "matting/image_ops.h"

namespace cv {
// Exported by libopencv_core (4.x) and called by its own thread-exit hooks,
// but declared in none of its public headers.
CV_EXPORTS void releaseTlsStorageThread();
}  // namespace cv

namespace TavroMatting {

namespace {

constexpr int kPatchSize = 8;

// Source index and fraction of each destination position of a bilinear
// upscale; positions outside the source clamp to the edge with fraction 0.
struct Tap {
  int index;
  float frac;
};

void MakeTaps(int srcLen, int dstLen, std::vector<Tap>& taps) {
  taps.resize(dstLen);
  const double ratio = double(srcLen) / dstLen;
  for (int d = 0; d < dstLen; ++d) {
    const float s = float((d + 0.5) * ratio - 0.5);
    int i = int(std::floor(s));
    float f = s - float(i);
    if (i < 0) {
      i = 0;
      f = 0.f;
    } else if (i >= srcLen - 1) {
      i = srcLen - 1;
      f = 0.f;
    }
    taps[d] = {i, f};
  }
}

int16_t SaturateRound(float v) {
  const float r = std::nearbyint(v);  // ties to even in the default mode
  if (!(r >= -32768.f)) return r != r ? 0 : -32768;
  if (r > 32767.f) return 32767;
  return int16_t(r);
}

bool RunDis(cv::DISOpticalFlow& dis, const cv::Mat& from, const cv::Mat& to,
            cv::Mat& flow) {
  try {
    // DIS takes a flow matrix of the right size as its starting guess; each
    // search must see only its two level images, not the previous search's
    // answer (the other direction, or the last frame), so it writes into a
    // fresh matrix.
    flow.release();
    dis.calc(from, to, flow);
    return flow.type() == CV_32FC2 && flow.rows == from.rows && flow.cols == from.cols;
  } catch (...) {
    return false;
  }
}

}  // namespace

int FlowLevelForSize(int width, int height) {
  if (height <= 64 || width <= 64) return 1;
  if (height <= 160 || width <= 160) return 2;
  return 3;
}

cv::Ptr<cv::DISOpticalFlow> CreateFlowObject(int level) {
  try {
    cv::Ptr<cv::DISOpticalFlow> dis =
        cv::DISOpticalFlow::create(cv::DISOpticalFlow::PRESET_ULTRAFAST);
    dis->setPatchSize(kPatchSize);
    dis->setPatchStride(4);
    dis->setGradientDescentIterations(12);
    dis->setVariationalRefinementIterations(0);
    dis->setUseMeanNormalization(true);
    dis->setUseSpatialPropagation(true);
    dis->setFinestScale(level);
    return dis;
  } catch (...) {
    return nullptr;
  }
}

void UpscaleFlow(const cv::Mat& levelFlow, int level, int16_t* planes,
                 int width, int height) {
  const size_t m = size_t(width) * height;
  if (levelFlow.empty() || levelFlow.type() != CV_32FC2) {
    std::memset(planes, 0, 2 * m * sizeof(int16_t));
    return;
  }
  std::vector<Tap> xs, ys;
  MakeTaps(levelFlow.cols, width, xs);
  MakeTaps(levelFlow.rows, height, ys);
  const float gain = float(1 << level);
  const int lastCol = levelFlow.cols - 1, lastRow = levelFlow.rows - 1;
  int16_t* px = planes;
  int16_t* py = planes + m;
  for (int y = 0; y < height; ++y) {
    const Tap ty = ys[y];
    const cv::Vec2f* r0 = levelFlow.ptr<cv::Vec2f>(ty.index);
    const cv::Vec2f* r1 = levelFlow.ptr<cv::Vec2f>(std::min(ty.index + 1, lastRow));
    for (int x = 0; x < width; ++x) {
      const Tap tx = xs[x];
      const int x1 = std::min(tx.index + 1, lastCol);
      for (int c = 0; c < 2; ++c) {
        const float top = r0[tx.index][c] * (1.f - tx.frac) + r0[x1][c] * tx.frac;
        const float bottom = r1[tx.index][c] * (1.f - tx.frac) + r1[x1][c] * tx.frac;
        const float v = (top * (1.f - ty.frac) + bottom * ty.frac) * gain;
        (c == 0 ? px : py)[size_t(y) * width + x] = SaturateRound(v);
      }
    }
  }
}

void ComputeFlowPair(cv::DISOpticalFlow& dis, int level, const uint8_t* prevGray,
                     const uint8_t* curGray, int width, int height,
                     int16_t* flowFwd, int16_t* flowBwd, FlowScratch& scratch) {
  const int lw = width >> level, lh = height >> level;
  const size_t planeBytes = 2 * size_t(width) * height * sizeof(int16_t);
  if (lw < kPatchSize || lh < kPatchSize) {
    std::memset(flowFwd, 0, planeBytes);
    std::memset(flowBwd, 0, planeBytes);
    return;
  }
  scratch.prevLevel.create(lh, lw, CV_8UC1);
  scratch.curLevel.create(lh, lw, CV_8UC1);
  // Level images that cannot be made (no memory) give no motion, as a
  // failed search does.
  if (ScaleImage(PlaneDesc(const_cast<uint8_t*>(prevGray), width, height, width),
                 PlaneDesc(scratch.prevLevel.data, lw, lh, int(scratch.prevLevel.step)),
                 kScaleBilinear) != 0 ||
      ScaleImage(PlaneDesc(const_cast<uint8_t*>(curGray), width, height, width),
                 PlaneDesc(scratch.curLevel.data, lw, lh, int(scratch.curLevel.step)),
                 kScaleBilinear) != 0) {
    std::memset(flowFwd, 0, planeBytes);
    std::memset(flowBwd, 0, planeBytes);
    return;
  }
  // The search runs on the level images themselves, so DIS's own pyramid
  // starts at its finest scale 0.
  const int keptScale = dis.getFinestScale();
  dis.setFinestScale(0);
  if (RunDis(dis, scratch.prevLevel, scratch.curLevel, scratch.levelFlow))
    UpscaleFlow(scratch.levelFlow, level, flowFwd, width, height);
  else
    std::memset(flowFwd, 0, planeBytes);
  if (RunDis(dis, scratch.curLevel, scratch.prevLevel, scratch.levelFlow))
    UpscaleFlow(scratch.levelFlow, level, flowBwd, width, height);
  else
    std::memset(flowBwd, 0, planeBytes);
  dis.setFinestScale(keptScale);
}

void ReleaseOpenCvThreadData() {
  try {
    cv::releaseTlsStorageThread();
  } catch (...) {
  }
}

}  // namespace TavroMatting

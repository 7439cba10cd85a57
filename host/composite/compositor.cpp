#include "host/composite/compositor.h"

#include "host/composite/pixel_rows.h"

#include <algorithm>
#include <cstring>

#include <libyuv/scale.h>

namespace tavro_host {

namespace {

void BlendConstRow(uint8_t front, int opacity, const uint8_t* back, uint8_t* dst, int n) {
  for (int x = 0; x < n; ++x)
    dst[x] = uint8_t((front * opacity + back[x] * (255 - opacity) + 255) >> 8);
}

void BoxScale(const uint8_t* src, int w, int h, std::vector<uint8_t>& dst, int dw, int dh) {
  dst.resize(size_t(dw) * dh);
  if (dw == w && dh == h) {
    std::memcpy(dst.data(), src, dst.size());
    return;
  }
  libyuv::ScalePlane(src, w, w, h, dst.data(), dw, dw, dh, libyuv::kFilterBox);
}

}  // namespace

void Compositor::setSettings(const CompositeSettings& s) {
  settings_ = s;
  settings_.blurStrength = std::clamp(s.blurStrength, 0, 100);
  settings_.edgeFeather = std::clamp(s.edgeFeather, 0, 255);
  settings_.maskThreshold = std::clamp(s.maskThreshold, 0, 255);
  settings_.maskSoftness = std::clamp(s.maskSoftness, 0, 255);
  const int t = settings_.maskThreshold, soft = settings_.maskSoftness;
  for (int m = 0; m < 256; ++m) {
    int a;
    if (soft == 0) {
      a = m >= t ? 255 : 0;
    } else {
      a = ((m - t) * 2 + soft) * 255 / (2 * soft);  // 0 at t - soft/2, 255 at t + soft/2
      a = std::clamp(a, 0, 255);
    }
    if (m == 255) a = 255;  // sure person stays itself whatever the ramp
    if (m == 0) a = 0;
    alphaLut_[m] = uint8_t(a);
    // The blur's weight is full only well below the threshold and falls
    // to 0 at it, so an edge pixel that is part person (hair) hardly feeds
    // the background.
    int k;
    if (soft == 0) {
      k = m < t ? 255 : 0;
    } else {
      const float d = std::clamp((t - m) / (soft * 0.5f), 0.0f, 1.0f);
      k = int(255 * d * d + 0.5f);
    }
    weightLut_[m] = uint8_t(k);
  }
}

void Compositor::makeAlpha(const uint8_t* mask, int maskStride, int w, int h) {
  alpha_[0].resize(size_t(w) * h);
  for (int y = 0; y < h; ++y)
    MapMaskRow(mask + size_t(y) * maskStride, alphaLut_, alpha_[0].data() + size_t(y) * w, w);
}

// A box of radius r over the opacity, columns first (whole rows at a time),
// then along each row with a running sum.
void Compositor::feather(int w, int h) {
  const int r = settings_.edgeFeather;
  if (r <= 0) return;
  std::vector<uint8_t>& a = alpha_[0];
  const int taps = 2 * r + 1;
  featherSums_.assign(w, 0);
  featherOut_.resize(a.size());
  std::vector<uint8_t>& out = featherOut_;
  auto row = [&](int y) { return a.data() + size_t(std::clamp(y, 0, h - 1)) * w; };
  for (int y = -r; y <= r; ++y) {
    const uint8_t* s = row(y);
    for (int x = 0; x < w; ++x) featherSums_[x] += s[x];
  }
  for (int y = 0; y < h; ++y) {
    uint8_t* o = out.data() + size_t(y) * w;
    for (int x = 0; x < w; ++x) o[x] = uint8_t((featherSums_[x] + taps / 2) / taps);
    const uint8_t* leaving = row(y - r);
    const uint8_t* coming = row(y + r + 1);
    for (int x = 0; x < w; ++x) featherSums_[x] += coming[x] - leaving[x];
  }
  featherRow_.resize(w + 2 * r);
  for (int y = 0; y < h; ++y) {
    uint8_t* o = out.data() + size_t(y) * w;
    for (int x = -r; x < w + r; ++x) featherRow_[x + r] = o[std::clamp(x, 0, w - 1)];
    int sum = 0;
    for (int i = 0; i < taps; ++i) sum += featherRow_[i];
    uint8_t* d = a.data() + size_t(y) * w;
    for (int x = 0; x < w; ++x) {
      d[x] = uint8_t((sum + taps / 2) / taps);
      if (x + 1 < w) sum += featherRow_[x + taps] - featherRow_[x];
    }
  }
}

void Compositor::compositePlane(int p, const PlanarFrame& frame, const Plane& mask,
                                const Backdrop& backdrop, bool blur, float sigma) {
  const Plane& f = frame.plane[p];
  const int w = f.width, h = f.height;
  const uint8_t* alpha = alpha_[p ? 1 : 0].data();
  const uint8_t* pictureAlpha = backdrop.pictureAlpha;
  if (p && pictureAlpha) {
    BoxScale(pictureAlpha, frame.plane[0].width, frame.plane[0].height, pictureAlpha_, w, h);
    pictureAlpha = pictureAlpha_.data();
  }
  const Plane* picture = backdrop.picture ? &backdrop.picture->plane[p] : nullptr;

  // The background behind the person, built in background_ unless an
  // opaque picture is all of it.
  const uint8_t* back = nullptr;
  int backStride = w;
  if (picture && !pictureAlpha) {
    back = picture->data;
    backStride = picture->stride;
  } else {
    background_.resize(size_t(w) * h);
    const Plane bg{background_.data(), w, h, w};
    if (blur) {
      blur_.run(f, mask, weightLut_, sigma, bg);
    } else if (backdrop.colour[3] < 255) {
      for (int y = 0; y < h; ++y) std::memcpy(bg.row(y), f.row(y), w);
    }
    if (backdrop.colour[3] == 255) {
      std::memset(background_.data(), backdrop.colour[p], background_.size());
    } else if (backdrop.colour[3] > 0) {
      BlendConstRow(backdrop.colour[p], backdrop.colour[3], background_.data(),
                    background_.data(), int(background_.size()));
    }
    if (picture)
      for (int y = 0; y < h; ++y)
        BlendRow(picture->row(y), bg.row(y), pictureAlpha + size_t(y) * w, bg.row(y), w);
    back = background_.data();
  }
  for (int y = 0; y < h; ++y)
    BlendRow(f.row(y), back + size_t(y) * backStride, alpha + size_t(y) * w, f.row(y), w);
}

void Compositor::composite(const PlanarFrame& frame, const uint8_t* mask, int maskStride,
                           const Backdrop& backdrop) {
  const int w = frame.plane[0].width, h = frame.plane[0].height;
  if (w <= 0 || h <= 0 || !mask) return;
  makeAlpha(mask, maskStride, w, h);
  feather(w, h);
  const bool opaquePicture = backdrop.picture && !backdrop.pictureAlpha;
  const bool blur = !opaquePicture && backdrop.colour[3] < 255 && settings_.blurStrength > 0;
  const float sigma = settings_.blurStrength / 100.0f * h / 12.0f;
  const int cw = frame.plane[1].width, ch = frame.plane[1].height;
  const Plane maskPlane{const_cast<uint8_t*>(mask), w, h, maskStride};
  compositePlane(0, frame, maskPlane, backdrop, blur, sigma);
  if (cw > 0 && ch > 0) {
    // U and V share one mask at their size; their opacity is its ramp, or,
    // with feathering, the feathered luma opacity scaled down.
    chromaMask_.resize(size_t(cw) * ch);
    libyuv::ScalePlane(mask, maskStride, w, h, chromaMask_.data(), cw, cw, ch,
                       libyuv::kFilterBox);
    if (settings_.edgeFeather > 0) {
      BoxScale(alpha_[0].data(), w, h, alpha_[1], cw, ch);
    } else {
      alpha_[1].resize(size_t(cw) * ch);
      MapMaskRow(chromaMask_.data(), alphaLut_, alpha_[1].data(), cw * ch);
    }
    const Plane chromaMask{chromaMask_.data(), cw, ch, cw};
    const float chromaSigma = sigma * ch / h;
    compositePlane(1, frame, chromaMask, backdrop, blur, chromaSigma);
    compositePlane(2, frame, chromaMask, backdrop, blur, chromaSigma);
  }
}

}  // namespace tavro_host

// Helpers shared by the engine tests: deterministic data, weight tensors in
// the planar source layout, and tolerant comparisons.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "engine/core/pack_cache.h"
#include "engine/core/tensor.h"
#include "impl_x86/weight_layout.h"

namespace tavro_test {

inline std::vector<float> Random(size_t n, uint32_t seed, float lo = -1.f, float hi = 1.f) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<float> d(lo, hi);
  std::vector<float> v(n);
  for (auto& x : v) x = d(rng);
  return v;
}

// Packs planar-source weight data (n, h, w, c) into `code` as the layers'
// pack caches do.
inline std::vector<float> Pack(const std::vector<float>& planar, uint32_t n, uint32_t h,
                               uint32_t w, uint32_t c, uint32_t code, bool swap = false) {
  TAVROMATTING::Tensor t;
  t.SetShape(n, h, w, c, TAVROMATTING::kPlanarSource);
  float* p = t.EnsureFloat();
  std::copy(planar.begin(), planar.end(), p);
  const TAVROMATTING::PackedLayout q = TAVROMATTING::PackLayout(t, {code, swap});
  std::vector<float> v(q.data, q.data + q.count);
  TAVROMATTING::AlignedFree(q.data);
  return v;
}

inline void ExpectNear(const std::vector<float>& got, const std::vector<float>& want,
                       float tol, const char* what) {
  ASSERT_EQ(got.size(), want.size()) << what;
  size_t bad = 0;
  for (size_t i = 0; i < got.size(); ++i) {
    const float t = tol * (1.f + std::fabs(want[i]));
    if (!(std::fabs(got[i] - want[i]) <= t)) {
      if (++bad <= 5) ADD_FAILURE() << what << ": [" << i << "] " << got[i] << " vs " << want[i];
    }
  }
  EXPECT_EQ(bad, 0u) << what;
}

}  // namespace tavro_test

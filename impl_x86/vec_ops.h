// Operations written once over a vector type V (Sse4, Avx8, Fma8, Fma4). Like
// the kernel bodies, this header is included inside the target region of the
// file that instantiates it, after that file's other includes, and its
// templates have internal linkage, so a baseline object never shares a copy
// compiled for AVX.
#pragma once

#include <cstring>

#include "impl_x86/activation.h"

namespace TAVROMATTING {
namespace {

// The fused activation (kActRelu, kActClippedRelu, kActLeakyRelu; any other
// kind leaves v unchanged). Leaky: slope * min(v, 0) + max(v, 0) as V::MulAdd.
template <class V>
inline typename V::T ApplyFused(const FusedAct& a, typename V::T v) {
  switch (a.kind) {
    case kActRelu: return V::Max(v, V::Zero());
    case kActClippedRelu: return V::Min(V::Max(v, V::Zero()), V::Set1(a.upper));
    case kActLeakyRelu:
      return V::MulAdd(V::Set1(a.slope), V::Min(v, V::Zero()), V::Max(v, V::Zero()));
    default: return v;
  }
}

// Stores LANES (a multiple of V::kLanes) floats of v[], or only the first
// `valid` of them.
template <class V, int LANES>
inline void StoreLanes(float* dst, const typename V::T* v, int valid) {
  constexpr int R = LANES / V::kLanes;
  if (valid >= LANES) {
    for (int j = 0; j < R; ++j) V::Store(dst + V::kLanes * j, v[j]);
  } else {
    alignas(32) float tmp[LANES];
    for (int j = 0; j < R; ++j) V::StoreAligned(tmp + V::kLanes * j, v[j]);
    std::memcpy(dst, tmp, sizeof(float) * valid);
  }
}

// Loads LANES floats into v[], or only the first `valid` of them (the rest
// zero).
template <class V, int LANES>
inline void LoadLanes(const float* src, typename V::T* v, int valid) {
  constexpr int R = LANES / V::kLanes;
  if (valid >= LANES) {
    for (int j = 0; j < R; ++j) v[j] = V::Load(src + V::kLanes * j);
  } else {
    alignas(32) float tmp[LANES] = {};
    std::memcpy(tmp, src, sizeof(float) * valid);
    for (int j = 0; j < R; ++j) v[j] = V::LoadAligned(tmp + V::kLanes * j);
  }
}

// Applies the fused activation to the registers of one block of B floats and
// stores them (only the first `valid` floats when the block is cut short).
template <class V, int B>
inline void ActivateStore(const FusedAct& act, typename V::T* v, float* dst, int valid) {
#pragma GCC unroll 16
  for (int j = 0; j < B / V::kLanes; ++j) v[j] = ApplyFused<V>(act, v[j]);
  StoreLanes<V, B>(dst, v, valid);
}

// The bias of one channel block starting at m0, zeros past C or without bias.
template <class V, int B>
inline void LoadBiasBlock(const float* bias, int m0, int C, typename V::T* out) {
  alignas(32) float block[B];
  for (int j = 0; j < B; ++j) block[j] = (bias && m0 + j < C) ? bias[m0 + j] : 0.f;
  for (int j = 0; j < B / V::kLanes; ++j) out[j] = V::LoadAligned(block + V::kLanes * j);
}

}  // namespace
}  // namespace TAVROMATTING

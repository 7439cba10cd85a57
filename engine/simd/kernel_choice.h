// Which kernel member each portable forward pass runs, as pure functions of
// the layer shape, the half-precision flag and the processor's features. The
// forward passes call them every time they run; tests call them with made-up
// feature sets to check every row of the tables on any machine.
#pragma once

#include <cstdint>

#include "impl_x86/activation.h"
#include "impl_x86/conv_args.h"
#include "impl_x86/pooling_kernels.h"

namespace TAVROMATTING {

// The features the dispatchers look at.
struct KernelFeatures {
  bool avx = false, avx2 = false, fma = false;
  // From the process-wide CpuInfo (all false while the portable path is forced).
  static KernelFeatures Current();
  bool Avx2Fma() const { return avx2 && fma; }
  bool AvxFma() const { return avx && fma; }
};

using ConvKernel = void (*)(const ConvArgs&);

struct ConvMember {
  ConvKernel kernel = nullptr;  // null: no member (the dispatcher declines)
  uint32_t code = 0;            // packed weight layout it reads
  bool fuses = false;           // applies an attached fusible activation
  const char* name = "none";
  bool scales = false;          // applies ConvArgs::outScale/outShift
  bool readsBytes = false;      // can read normalised bytes (ConvArgs::inBytes)
  bool strided = false;         // honours ConvArgs::outStride (can fill a channel slice)
};

namespace simd {

// Convolution (including the single-output row for 2 -> 1 channels).
ConvMember ChooseConvMember(const ConvArgs& a, bool halfPrecision, const KernelFeatures& f);
// Depthwise (groups == channels).
ConvMember ChooseDepthwiseMember(const ConvArgs& a, bool halfPrecision, const KernelFeatures& f);
// Grouped (groups < channels), by output channels per group; null kernel when
// no member fits.
ConvMember ChooseGroupedMember(int perGroup, bool halfPrecision, const KernelFeatures& f);
// Transposed convolution (weights packed with the n-c swap).
ConvMember ChooseDeconvMember(const ConvArgs& a, bool halfPrecision, const KernelFeatures& f);

// Pooling: exactly one of the three function pointers is set.
struct PoolMember {
  void (*windowed)(const ConvArgs&, PoolOp) = nullptr;
  void (*fixed)(const ConvArgs&) = nullptr;  // 3x3 stride-2 max
  void (*global)(const float*, int, int, float*) = nullptr;
  const char* name = "none";
};
PoolMember ChoosePoolMember(bool global, PoolOp op, const ConvArgs& a, bool halfPrecision,
                            const KernelFeatures& f);

using ActivationKernel = void (*)(const ActivationArgs&, const float*, float*, uint64_t);
struct ActivationMember {
  ActivationKernel kernel = nullptr;
  const char* name = "none";
};
// simd::Activation (x86 = false) or x86::Activation (x86 = true; its own
// members for kinds 5 and 7, ignoring the half-precision flag).
ActivationMember ChooseActivationMember(bool x86, uint32_t kind, bool halfPrecision,
                                        const KernelFeatures& f);

// The simple layers: true when the faster member runs.
bool UseBatchnormAvx2(int C, bool halfPrecision, const KernelFeatures& f);
bool UseResizeAvx2(int C, bool halfPrecision, const KernelFeatures& f);
bool UseConcatAvx(bool halfPrecision, const KernelFeatures& f);
bool UseMmaAvx(int C, bool halfPrecision, const KernelFeatures& f);

}  // namespace simd
}  // namespace TAVROMATTING

// Which kernel member each forward pass runs, as pure functions of the layer
// shape, the half-precision flag and the processor's features (x86 only:
// SSE, AVX, AVX2, FMA). The
// forward passes call them every time they run; tests call them with made-up
// feature sets to check every row of the tables on any machine.
#pragma once

#include <cstdint>
#include <vector>

#include "impl_x86/activation.h"
#include "impl_x86/conv_args.h"
#include "impl_x86/elementwise_kernels.h"
#include "impl_x86/pooling_kernels.h"

namespace TAVROMATTING {

// Instruction sets, as the bits of a member's requires mask.
constexpr uint32_t kFeatureAvx = 1, kFeatureAvx2 = 2, kFeatureFma = 4;

// The features the dispatchers look at.
struct KernelFeatures {
  bool avx = false, avx2 = false, fma = false;
  // From the process-wide CpuInfo (all false while the portable path is forced).
  static KernelFeatures Current();
  bool Avx2Fma() const { return avx2 && fma; }
  bool AvxFma() const { return avx && fma; }
  uint32_t Mask() const {
    return (avx ? kFeatureAvx : 0u) | (avx2 ? kFeatureAvx2 : 0u) | (fma ? kFeatureFma : 0u);
  }
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
  uint32_t requires = 0;        // kFeature bits its code needs (and the table asks for)
  const char* symbol = "";      // the kernel function's name
};

// One row of a dispatch table, for listings and tests: the path it belongs
// to, the features it requires and its member (null kernel: the x86 path
// declines).
struct ConvTableRow {
  bool x86;
  uint32_t requires;
  ConvMember member;
};
// The convolution and depthwise tables (engine/simd/conv_table.cpp).
std::vector<ConvTableRow> ConvTable();
std::vector<ConvTableRow> DepthwiseTable();

namespace simd {

// Convolution (including the single-output row for 2 -> 1 channels): the
// portable rows of the convolution table.
ConvMember ChooseConvMember(const ConvArgs& a, bool halfPrecision, const KernelFeatures& f);
// Depthwise (groups == channels): the portable rows of the depthwise table.
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
  uint32_t requires = 0;   // kFeature bits its code needs (and the table asks for)
  const char* symbol = "";  // the kernel function's name
};
PoolMember ChoosePoolMember(bool global, PoolOp op, const ConvArgs& a, bool halfPrecision,
                            const KernelFeatures& f);
// Every row of the pooling table, in order, for listings and tests.
std::vector<PoolMember> PoolTable();

using ActivationKernel = void (*)(const ActivationArgs&, const float*, float*, uint64_t);
struct ActivationMember {
  ActivationKernel kernel = nullptr;
  const char* name = "none";
  uint32_t requires = 0;   // kFeature bits its code needs (and the table asks for)
  const char* symbol = "";  // the kernel function's name
};
// simd::Activation (x86 = false) or x86::Activation (x86 = true; its own
// members for kinds 5 and 7, ignoring the half-precision flag).
ActivationMember ChooseActivationMember(bool x86, uint32_t kind, bool halfPrecision,
                                        const KernelFeatures& f);
// Every row of the activation table, in order, for listings and tests.
std::vector<ActivationMember> ActivationTable();

// Batch norm, bilinear resize, concat and MMA: a vector member and portable
// ones. The first row whose features are present and whose channel multiple
// (0: any) divides C runs; the last row of each table always fits.
template <class Kernel>
struct ElementwiseMember {
  Kernel kernel = nullptr;
  uint32_t requires = 0;    // kFeature bits its code needs (and the table asks for)
  int channelMultiple = 0;  // C must be a multiple of it (0: any C)
  const char* symbol = "";  // the kernel function's name
};
using BatchnormKernel = void (*)(const float*, float*, uint64_t, int, const float*,
                                 const float*);
using ResizeKernel = void (*)(const ResizeArgs&);
using ConcatKernel = void (*)(const float* const*, const int*, int, float*, uint64_t);
using MmaKernel = void (*)(const float*, const float*, const float*, float*, uint64_t, int,
                           const FusedAct&);
ElementwiseMember<BatchnormKernel> ChooseBatchnormMember(int C, bool halfPrecision,
                                                         const KernelFeatures& f);
ElementwiseMember<ResizeKernel> ChooseResizeMember(int C, bool halfPrecision,
                                                   const KernelFeatures& f);
ElementwiseMember<ConcatKernel> ChooseConcatMember(bool halfPrecision, const KernelFeatures& f);
ElementwiseMember<MmaKernel> ChooseMmaMember(int C, bool halfPrecision, const KernelFeatures& f);
// Every row of those four tables: its kernel's name and requires.
struct ElementwiseRow {
  const char* symbol;
  uint32_t requires;
};
std::vector<ElementwiseRow> ElementwiseTable();

}  // namespace simd

// The x86 path's rows of the same tables; a null kernel means it declines
// and the portable forward pass runs. Its members fuse an attached Relu
// (kActRelu) only.
namespace x86 {
// inputHasFloat: the input tensor has a float buffer (the stride-2 block-16
// member cannot read an 8-bit input).
ConvMember ChooseConvMember(const ConvArgs& a, bool inputHasFloat, const KernelFeatures& f);
// Pure depthwise layers (groups == channels).
ConvMember ChooseDepthwiseMember(const ConvArgs& a, const KernelFeatures& f);
}  // namespace x86

}  // namespace TAVROMATTING

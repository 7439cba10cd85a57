// Transposed convolution, SSE members: stride 2 over block 4, two outputs,
// and the 5x5 stride-2 members over the input walk they share with the FMA
// members.
#include <vector>

#include "impl_x86/conv_kernels.h"
#include "impl_x86/deconv_body.h"
#include "impl_x86/vec_sse.h"

namespace TAVROMATTING {

void DeconvStride2Sse4(const ConvArgs& a) { DeconvStride2<Sse4>(a); }
void DeconvTwoOutputSse(const ConvArgs& a) { DeconvTwoOutput<Sse4>(a); }

// The 5x5 stride-2 walk visits every input pixel (iy, ix) and computes the
// four output pixels (2iy + py, 2ix + px) together; each output pixel takes
// the taps of its parity, which read the 3x3 input neighbourhood around
// (iy, ix) (missing rows and columns at the edges contribute nothing).
void Deconv5x5Walk(const ConvArgs& a, Deconv5x5Pixel pixel) {
  const int P = a.kh - 1 - a.padT, Q = a.kw - 1 - a.padL;
  const int qh = (a.Ho + 1) / 2, qw = (a.Wo + 1) / 2;
  for (int iy = 0; iy < qh; ++iy)
    for (int ix = 0; ix < qw; ++ix)
      for (int py = 0; py < 2; ++py) {
        const int oy = 2 * iy + py;
        if (oy >= a.Ho) continue;
        int ky0, ky1;
        Stride2Taps(oy, P, a.kh, a.H, &ky0, &ky1);
        for (int px = 0; px < 2; ++px) {
          const int ox = 2 * ix + px;
          if (ox >= a.Wo) continue;
          int kx0, kx1;
          Stride2Taps(ox, Q, a.kw, a.W, &kx0, &kx1);
          pixel(a, oy, ox, ky0, ky1, kx0, kx1);
        }
      }
}

void Deconv5x5S2Sse4(const ConvArgs& a) { Deconv5x5Walk(a, Deconv5x5PixelBlocked<Sse4>); }
void Deconv5x5S2SseByInput(const ConvArgs& a) { Deconv5x5Walk(a, Deconv5x5PixelByInput<Sse4>); }

}  // namespace TAVROMATTING

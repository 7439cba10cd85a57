// Layer records to layers: parameter parsing, output shapes, descriptions,
// failure results and the fused-activation hand-shake.
#include <gtest/gtest.h>

#include <cstring>
#include <deque>
#include <string>
#include <vector>

#include "engine/core/conv.h"
#include "engine/core/layer_registry.h"
#include "engine/core/simple_layers.h"
#include "engine/simd/activation.h"
#include "engine/x86/run_env.h"
#include "tests/engine/test_util.h"

using namespace TAVROMATTING;

namespace {

// Builds LayerRecords whose strings outlive the test.
struct Records {
  std::deque<std::string> strings;
  const char* S(const std::string& s) {
    strings.push_back(s);
    return strings.back().c_str();
  }
  LayerRecord Make(const std::string& type, std::vector<std::string> blobs,
                   std::vector<std::string> weights = {}, std::vector<std::pair<int, uint32_t>> u = {},
                   std::vector<std::pair<int, float>> f = {}) {
    LayerRecord r;
    std::memset(&r, 0, sizeof r);
    r.name = S(blobs.back());
    r.type = S(type);
    for (size_t i = 0; i < blobs.size(); ++i) r.blobs[i] = S(blobs[i]);
    for (size_t i = 0; i < weights.size(); ++i) r.weights[i] = S(weights[i]);
    for (auto& kv : u) r.params[kv.first] = kv.second;
    for (auto& kv : f) std::memcpy(&r.params[kv.first], &kv.second, 4);
    return r;
  }
};

std::vector<std::pair<int, uint32_t>> Window(uint32_t k, uint32_t s, uint32_t p, uint32_t d = 1) {
  return {{0, k}, {1, k}, {2, p}, {3, p}, {4, p}, {5, p}, {6, s}, {7, s}, {8, d}, {9, d}};
}

struct Fixture {
  TensorMap blobs, weights;
  Records rec;
  std::vector<Layer*> layers;
  x86::RunEnv* env;
  Fixture() {
    LinkLayerRegistrations();
    env = new x86::RunEnv;
    weights["__dummy_zero_tensor__"].SetShape(1, 1, 1, 1024, kPlain);
    weights["__dummy_zero_tensor__"].EnsureFloat();
  }
  ~Fixture() {
    for (Layer* l : layers) delete l;
    delete env;
  }
  Tensor& Weight(const std::string& name, uint32_t n, uint32_t h, uint32_t w, uint32_t c,
                 uint32_t seed) {
    Tensor& t = weights[name];
    t.SetShape(n, h, w, c, kPlanarSource);
    auto v = tavro_test::Random(size_t(n) * h * w * c, seed);
    std::copy(v.begin(), v.end(), t.EnsureFloat());
    return t;
  }
  Layer* Add(const LayerRecord& r) {
    Layer* l = LayerRegistry::Create(2, r, blobs, weights);
    if (l) layers.push_back(l);
    return l;
  }
  Tensor& Blob(const std::string& n, uint32_t h, uint32_t w, uint32_t c) {
    Tensor& t = blobs[n];
    t.SetShape(1, h, w, c, kPlain);
    return t;
  }
};

}  // namespace

TEST(Layers, ConvolutionShapesAndDescriptions) {
  Fixture fx;
  fx.Blob("in", 224, 320, 3);
  fx.Weight("w", 24, 3, 3, 3, 1);
  Layer* conv = fx.Add(fx.rec.Make("Conv", {"in", "c1"}, {"w"}, Window(3, 2, 1)));
  ASSERT_NE(conv, nullptr);
  conv->Setup();
  Tensor& out = fx.blobs["c1"];
  EXPECT_EQ(out.h, 112u);
  EXPECT_EQ(out.w, 160u);
  EXPECT_EQ(out.c, 24u);
  EXPECT_EQ(conv->Description(), "3x3_s2x2_24x112x160x3");
  EXPECT_EQ(conv->flops, 2ull * 24 * 27 * 112 * 160);
  EXPECT_FALSE(conv->PropertyQuery());
  // A single weight name gets the shared zero bias.
  EXPECT_EQ(static_cast<core::Conv*>(dynamic_cast<core::Conv*>(conv))->bias,
            &fx.weights["__dummy_zero_tensor__"]);

  // 1x1: no stride part in the description.
  fx.Weight("w1", 8, 1, 1, 24, 2);
  Layer* pw = fx.Add(fx.rec.Make("Conv", {"c1", "c2"}, {"w1"}, Window(1, 1, 0)));
  pw->Setup();
  EXPECT_EQ(pw->Description(), "1x1_8x112x160x24");
  EXPECT_TRUE(pw->PropertyQuery());

  // 3x3 dilation 2 pads 2 keeps the size.
  fx.Blob("d", 14, 20, 4);
  fx.Weight("wd", 4, 3, 3, 4, 3);
  Layer* dil = fx.Add(fx.rec.Make("Conv", {"d", "d2"}, {"wd"}, Window(3, 1, 2, 2)));
  dil->Setup();
  EXPECT_EQ(fx.blobs["d2"].h, 14u);
  EXPECT_EQ(fx.blobs["d2"].w, 20u);

  // ConvTranspose: kernel 2 stride 2 doubles; explicit size recomputes pads.
  fx.Blob("t", 7, 10, 8);
  fx.Weight("wt", 8, 2, 2, 4, 4);
  Layer* ct = fx.Add(fx.rec.Make("ConvTranspose", {"t", "t2"}, {"wt"}, Window(2, 2, 0)));
  ct->Setup();
  EXPECT_EQ(fx.blobs["t2"].h, 14u);
  EXPECT_EQ(fx.blobs["t2"].w, 20u);
  EXPECT_EQ(fx.blobs["t2"].c, 4u);
  fx.Weight("wt3", 8, 3, 3, 4, 5);
  auto p = Window(3, 2, 0);
  p.push_back({11, 14});
  p.push_back({12, 20});
  auto* ct3 = dynamic_cast<core::DeConv*>(fx.Add(fx.rec.Make("ConvTranspose", {"t", "t3"}, {"wt3"}, p)));
  ct3->Setup();
  EXPECT_EQ(fx.blobs["t3"].h, 14u);
  EXPECT_EQ(ct3->padTop, 0u);  // total (6*2 + 3 - 14) = 1: top 0, bottom 1
  EXPECT_EQ(ct3->padBottom, 1u);

  // DepthwiseConv takes its group from slot 10 (0 reads as 1).
  fx.Weight("wdw", 4, 3, 3, 1, 6);
  auto g = Window(3, 1, 1);
  g.push_back({10, 4});
  auto* dw = dynamic_cast<core::Conv*>(fx.Add(fx.rec.Make("DepthwiseConv", {"d", "dw"}, {"wdw"}, g)));
  EXPECT_EQ(dw->group, 4u);
}

TEST(Layers, SmallLayerShapes) {
  Fixture fx;
  fx.Blob("x", 7, 10, 6);
  fx.Blob("y", 7, 10, 2);
  auto up = fx.rec.Make("Resize", {"x", "up"}, {}, {{0, 0}, {1, 1}}, {{16, 2.f}, {17, 2.f}});
  fx.Add(up)->Setup();
  EXPECT_EQ(fx.blobs["up"].h, 14u);
  EXPECT_EQ(fx.blobs["up"].w, 20u);
  fx.Add(fx.rec.Make("Concat", {"x", "y", "cat"}))->Setup();
  EXPECT_EQ(fx.blobs["cat"].c, 8u);
  fx.Blob("x2", 7, 10, 6);
  fx.Add(fx.rec.Make("ShuffleSplit2", {"x", "x2", "s0", "s1"}, {}, {{0, 2}}))->Setup();
  EXPECT_EQ(fx.blobs["s1"].c, 6u);
  fx.Add(fx.rec.Make("ShuffleSplit2", {"x", "x2", "s"}, {}, {{0, 2}}))->Setup();
  EXPECT_EQ(fx.blobs["s"].c, 12u);
  // The pooling operation follows the type name; global average takes the
  // whole image as its window.
  Layer* pool = fx.Add(fx.rec.Make("MaxPool", {"x", "gap"}, {}, Window(3, 2, 1)));
  pool->type = "GlobalAveragePool";
  pool->Setup();
  EXPECT_EQ(fx.blobs["gap"].h, 1u);
  EXPECT_EQ(fx.blobs["gap"].w, 1u);
  fx.Add(fx.rec.Make("Mattingmask", {"y", "m"}))->Setup();
  EXPECT_EQ(fx.blobs["m"].c, 1u);
  EXPECT_EQ(fx.blobs["m"].h, 7u);
}

TEST(Layers, ByteBoundariesFailWithoutBuffers) {
  Fixture fx;
  fx.Blob("in", 2, 2, 3);
  Layer* norm = fx.Add(fx.rec.Make("Normalize", {"in", "n"}, {}, {{0, 3}}));
  norm->Setup();
  EXPECT_FALSE(norm->Forward(fx.env));  // no 8-bit input
  uint8_t px[12] = {124, 0, 0};
  fx.blobs["in"].Bind(kUint8, px);
  EXPECT_TRUE(norm->Forward(fx.env));

  fx.Blob("p", 2, 2, 1);
  Layer* mask = fx.Add(fx.rec.Make("Mattingmask", {"p", "m"}));
  mask->Setup();
  EXPECT_FALSE(mask->Forward(fx.env));  // no 8-bit output
  uint8_t out[4] = {9, 9, 9, 9};
  fx.blobs["m"].Bind(kUint8, out);
  float* pv = fx.blobs["p"].data();
  pv[0] = 0.5f;
  pv[1] = 1.2f;
  EXPECT_TRUE(mask->Forward(fx.env));
  EXPECT_EQ(out[0], 127);
  EXPECT_EQ(out[1], 255);
  EXPECT_EQ(out[2], 0);
}

TEST(Layers, FusedActivationHandshake) {
  Fixture fx;
  fx.Blob("in", 5, 6, 4);
  fx.Weight("w", 8, 3, 3, 4, 1);
  Layer* conv = fx.Add(fx.rec.Make("Conv", {"in", "c"}, {"w"}, Window(3, 1, 1)));
  Layer* relu = fx.Add(fx.rec.Make("Relu", {"c", "c"}, {}, {{0, 1}}));  // in place
  conv->Setup();
  ASSERT_TRUE(conv->PackWeights(fx.env));
  conv->attached.push_back(relu);
  auto in = tavro_test::Random(5 * 6 * 4, 3);
  std::copy(in.begin(), in.end(), fx.blobs["in"].data());
  ASSERT_TRUE(conv->Forward(fx.env));
  EXPECT_TRUE(relu->fused);  // the direct member applied it
  const float* c = fx.blobs["c"].data();
  for (int i = 0; i < 5 * 6 * 8; ++i) EXPECT_GE(c[i], 0.f);
  EXPECT_TRUE(relu->Forward(fx.env));  // in place with the flag: only clears it
  EXPECT_FALSE(relu->fused);

  // A kind that cannot be fused (sigmoid) is left to run by itself.
  Layer* sig = fx.Add(fx.rec.Make("Sigmoid", {"c", "c"}, {}, {{0, 5}}));
  conv->attached[0] = sig;
  ASSERT_TRUE(conv->Forward(fx.env));
  EXPECT_FALSE(sig->fused);
}

TEST(Layers, ConvForwardMatchesAcrossMembersOnModelShapes) {
  // The dispatcher's choice for each decoder-style shape equals the plain
  // reference convolution computed here.
  struct Case {
    uint32_t cin, cout, k, pad, dil;
  };
  for (const Case& c : {Case{32, 16, 3, 1, 1}, Case{16, 4, 3, 2, 2}, Case{16, 4, 2, 1, 2},
                        Case{8, 2, 3, 2, 2}, Case{8, 2, 2, 1, 2}, Case{4, 1, 3, 1, 1},
                        Case{2, 1, 3, 1, 2}, Case{28, 4, 1, 0, 1}, Case{24, 3, 1, 0, 1}}) {
    Fixture fx;
    const uint32_t H = 9, W = 11;
    fx.Blob("in", H, W, c.cin);
    Tensor& wt = fx.Weight("w", c.cout, c.k, c.k, c.cin, c.cout * 7 + c.k);
    std::vector<float> planar(wt.floatData(), wt.floatData() + wt.ElementCount());
    Tensor& bt = fx.Weight("b", 1, 1, 1, c.cout, 99);
    std::vector<float> bias(bt.floatData(), bt.floatData() + c.cout);
    Layer* conv = fx.Add(fx.rec.Make("Conv", {"in", "o"}, {"w", "b"}, Window(c.k, 1, c.pad, c.dil)));
    conv->Setup();
    ASSERT_TRUE(conv->PackWeights(fx.env));
    auto in = tavro_test::Random(size_t(H) * W * c.cin, 5);
    std::copy(in.begin(), in.end(), fx.blobs["in"].data());
    ASSERT_TRUE(conv->Forward(fx.env));
    Tensor& o = fx.blobs["o"];
    std::vector<float> want(o.ElementCount());
    for (uint32_t oy = 0; oy < o.h; ++oy)
      for (uint32_t ox = 0; ox < o.w; ++ox)
        for (uint32_t f = 0; f < c.cout; ++f) {
          float s = bias[f];
          for (uint32_t ky = 0; ky < c.k; ++ky)
            for (uint32_t kx = 0; kx < c.k; ++kx) {
              const int iy = int(oy) - int(c.pad) + int(ky * c.dil);
              const int ix = int(ox) - int(c.pad) + int(kx * c.dil);
              if (iy < 0 || ix < 0 || iy >= int(H) || ix >= int(W)) continue;
              for (uint32_t k = 0; k < c.cin; ++k)
                s += in[(size_t(iy) * W + ix) * c.cin + k] *
                     planar[((size_t(f) * c.cin + k) * c.k + ky) * c.k + kx];
            }
          want[(size_t(oy) * o.w + ox) * c.cout + f] = s;
        }
    std::vector<float> got(o.floatData(), o.floatData() + o.ElementCount());
    tavro_test::ExpectNear(got, want, 1e-5f, ("conv " + std::to_string(c.cin) + "->" +
                                              std::to_string(c.cout) + " k" + std::to_string(c.k))
                                                 .c_str());
  }
}

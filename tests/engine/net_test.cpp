// Building the built-in network from its tables, the graph optimisation,
// and running it with and without diagnostics.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "engine/core/layer_registry.h"
#include "engine/core/net.h"
#include "engine/x86/matting_net.h"
#include "cpu/cpu_info.h"
#include "engine/x86/layers.h"
#include "engine/x86/run_env.h"
#include "model/portrait_tables.h"
#include "tests/engine/test_util.h"

using namespace TAVROMATTING;

namespace {

struct NetDeleter {
  void operator()(Net* n) const { DestroyNet(n); }
};
using NetPtr = std::unique_ptr<Net, NetDeleter>;

NetPtr MakeNet() {
  testing::internal::CaptureStdout();
  Net* n = CreateNet(0, 0);
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(out.rfind("create net start11!\n", 0), 0u) << out;
  EXPECT_NE(out.find("AVX2!\n"), std::string::npos);
  EXPECT_NE(out.find("F16C!\n"), std::string::npos);
  return NetPtr(n);
}

// A colourful deterministic test picture.
std::vector<uint8_t> Picture(int w, int h) {
  std::vector<uint8_t> v(size_t(w) * h * 3);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      uint8_t* p = &v[(size_t(y) * w + x) * 3];
      const bool person = (x - w / 2) * (x - w / 2) + (y - h / 2) * (y - h / 2) * 2 < w * w / 10;
      p[0] = uint8_t(person ? 60 + y % 40 : (x * 7) & 255);
      p[1] = uint8_t(person ? 90 : (y * 5) & 255);
      p[2] = uint8_t(person ? 170 : ((x + y) * 3) & 255);
    }
  return v;
}

class CountingEnv : public x86::RunEnv {
 public:
  void Flush() override { ++flushes; }
  int flushes = 0;
};

}  // namespace

TEST(Net, BuildsThePortraitModelFromItsTables) {
  NetPtr net = MakeNet();
  ASSERT_TRUE(net);
  EXPECT_EQ(net->layers.size(), 159u);
  EXPECT_EQ(net->weights.size(), 171u);
  EXPECT_EQ(net->blobs.size(), 173u);
  EXPECT_EQ(net->inputNames.at(0), "input");
  EXPECT_EQ(net->outputNames.at(0), "mask");
  EXPECT_EQ(net->layers.front()->name, "59x");
  EXPECT_EQ(net->layers.front()->inputs.at(0), net->Blob("input"));
  EXPECT_EQ(net->layers.back()->type, "Mattingmask");
  EXPECT_EQ(net->Blob("mask")->producer, net->layers.back());

  uint64_t floats = 0;
  for (size_t i = 0; i < model::kPortraitWeightCount; ++i) {
    const WeightRecord& r = model::kPortraitWeightRecords[i];
    floats += uint64_t(r.n) * r.h * r.w * r.c;
    EXPECT_EQ(reinterpret_cast<uintptr_t>(r.data) % 64, 0u) << r.name;
  }
  EXPECT_EQ(floats, 162424u);
  // The embedded blob is exactly as long as the tables expect.
  EXPECT_EQ(size_t(tavro_portrait_weight_data_end - tavro_portrait_weight_data),
            model::kPortraitWeightBlobFloats);

  Tensor* w = net->Weight("1221");
  ASSERT_NE(w, nullptr);
  EXPECT_EQ(w->n, 24u);
  EXPECT_EQ(w->h, 3u);
  EXPECT_EQ(w->w, 3u);
  EXPECT_EQ(w->c, 3u);
  EXPECT_EQ(w->format, 1u);
  EXPECT_EQ(w->floatData(), model::kPortraitWeightRecords[0].data);  // borrowed, not copied
  EXPECT_EQ(w->borrowed[kFloat32], 1);

  // Every weight record is named by some layer record and exists.
  std::set<std::string> used;
  for (size_t i = 0; i < model::kPortraitLayerCount; ++i)
    for (const char* n : model::kPortraitLayerRecords[i].weights)
      if (n && n[0]) {
        used.insert(n);
        EXPECT_NE(net->Weight(n), nullptr) << n;
      }
  EXPECT_EQ(used.size(), 170u);

  // All 47 activations are attached to their producer: 42 convolutions,
  // 3 batch normalisations and, with the normalisations that follow them
  // folded in, the 2 transposed convolutions.
  int toConv = 0, toBn = 0, toDeconv = 0;
  for (Layer* l : net->layers) {
    for (Layer* a : l->attached) {
      EXPECT_EQ(a->inputs[0], a->outputs[0]) << a->name;  // now in place
      EXPECT_EQ(a->outputs[0]->producer, l);
      toConv += l->type == "Conv";
      toBn += l->type == "BatchNormalization";
      toDeconv += l->type == "ConvTranspose";
    }
  }
  EXPECT_EQ(toConv, 42);
  EXPECT_EQ(toBn, 3);
  EXPECT_EQ(toDeconv, 2);
  int bnFolded = 0;
  for (Layer* l : net->layers)
    if (auto* d = dynamic_cast<simd::DeConv*>(l)) {
      ASSERT_NE(d->outputBatchnorm, nullptr) << d->name;
      EXPECT_TRUE(d->outputBatchnorm->folded);
      EXPECT_EQ(d->outputs[0], d->outputBatchnorm->outputs[0]);
      ++bnFolded;
    }
  EXPECT_EQ(bnFolded, 2);
  for (Layer* l : net->layers) EXPECT_FALSE(l->visited);

  // A convolution without a bias record shares the zero tensor.
  const Tensor* zero = net->Weight("__dummy_zero_tensor__");
  int sharing = 0;
  for (Layer* l : net->layers)
    if (auto* c = dynamic_cast<core::Conv*>(l)) sharing += c->bias == zero;
  EXPECT_GT(sharing, 1);
}

TEST(Net, RunsAndProducesAMask) {
  NetPtr net = MakeNet();
  const int w = 320, h = 224;
  auto img = Picture(w, h);
  std::vector<uint8_t> mask(size_t(w) * h, 7);
  testing::internal::CaptureStdout();
  EXPECT_EQ(RunMattingNet(net.get(), img.data(), mask.data(), w, h), 0);
  EXPECT_EQ(RunMattingNet(net.get(), img.data(), mask.data(), w, h), 0);
  const std::string out = testing::internal::GetCapturedStdout();
  // Prepared once: one warm-up line, nothing else without diagnostics.
  EXPECT_EQ(out.rfind("Warmup cost:   ", 0), 0u) << out;
  EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 1);
  const auto [lo, hi] = std::minmax_element(mask.begin(), mask.end());
  EXPECT_LT(*lo, *hi);  // not a constant mask
  std::vector<uint8_t> again(mask.size());
  RunMattingNet(net.get(), img.data(), again.data(), w, h);
  EXPECT_EQ(again, mask);  // deterministic
  // A different size needs a new network: the prepared one leaves a zero mask.
  std::vector<uint8_t> small(224 * 224, 9);
  RunMattingNet(net.get(), img.data(), small.data(), 224, 224);
  EXPECT_EQ(*std::max_element(small.begin(), small.end()), 0);
}

TEST(Net, SizesTheNetworkCannotTakeLeaveAZeroMask) {
  for (auto [w, h] : {std::pair<int, int>{100, 100}, {320, 180}, {33, 17}, {8, 8}}) {
    NetPtr net = MakeNet();
    auto img = Picture(w, h);
    std::vector<uint8_t> mask(size_t(w) * h, 9);
    testing::internal::CaptureStdout();
    EXPECT_EQ(RunMattingNet(net.get(), img.data(), mask.data(), w, h), 0);
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(*std::max_element(mask.begin(), mask.end()), 0) << w << "x" << h;
  }
  EXPECT_EQ(RunMattingNet(nullptr, nullptr, nullptr, 320, 224), 0);
  EXPECT_EQ(CreateNet(1, 0), nullptr);
}

TEST(Net, PortableAndSquareSizesAgree) {
  // 224 x 224 works on a fresh network, and forcing the portable path does
  // not change the mask (today every path is the portable one; this guards
  // the later AVX members).
  const int w = 224, h = 224;
  auto img = Picture(w, h);
  std::vector<uint8_t> a(size_t(w) * h), b(size_t(w) * h);
  {
    NetPtr net = MakeNet();
    testing::internal::CaptureStdout();
    RunMattingNet(net.get(), img.data(), a.data(), w, h);
    testing::internal::GetCapturedStdout();
  }
  CpuInfo::ForcePortable(true);
  {
    NetPtr net = MakeNet();
    testing::internal::CaptureStdout();
    RunMattingNet(net.get(), img.data(), b.data(), w, h);
    testing::internal::GetCapturedStdout();
  }
  CpuInfo::ForcePortable(false);
  int maxDiff = 0;
  for (size_t i = 0; i < a.size(); ++i) maxDiff = std::max(maxDiff, std::abs(a[i] - b[i]));
  EXPECT_LE(maxDiff, 1);
}

// The mask of one image at 160 x 96 from a fresh network.
std::vector<uint8_t> FreshMask(const std::vector<uint8_t>& img, int w, int h) {
  std::vector<uint8_t> mask(size_t(w) * h);
  NetPtr net = MakeNet();
  testing::internal::CaptureStdout();
  RunMattingNet(net.get(), img.data(), mask.data(), w, h);
  testing::internal::GetCapturedStdout();
  return mask;
}

int MaxDiff(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
  int d = 0;
  for (size_t i = 0; i < a.size(); ++i) d = std::max(d, std::abs(a[i] - b[i]));
  return d;
}

TEST(Net, SwitchingPathsOnOneNetGivesEachFrameItsOwnMask) {
  // Members of the two paths want weights in different layouts and fuse
  // different activations; one net that meets both must still compute every
  // frame, never hand back the previous frame's mask.
  const int w = 160, h = 96;
  auto first = Picture(w, h);
  std::vector<uint8_t> second(first.rbegin(), first.rend());
  const auto fastFirst = FreshMask(first, w, h);
  CpuInfo::ForcePortable(true);
  const auto portableSecond = FreshMask(second, w, h);
  CpuInfo::ForcePortable(false);
  ASSERT_GT(MaxDiff(fastFirst, portableSecond), 100);

  NetPtr net = MakeNet();
  std::vector<uint8_t> mask(size_t(w) * h);
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  RunMattingNet(net.get(), first.data(), mask.data(), w, h);
  EXPECT_LE(MaxDiff(mask, fastFirst), 1);
  CpuInfo::ForcePortable(true);
  RunMattingNet(net.get(), second.data(), mask.data(), w, h);
  EXPECT_LE(MaxDiff(mask, portableSecond), 1);
  CpuInfo::ForcePortable(false);
  RunMattingNet(net.get(), first.data(), mask.data(), w, h);
  EXPECT_LE(MaxDiff(mask, fastFirst), 1);
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

// What a forward pass may not change about a tensor: its float buffer and
// the fields that describe it, as one line per tensor.
std::vector<std::string> States(const TensorMap& map) {
  std::vector<std::string> v;
  for (const auto& kv : map) {
    const Tensor& t = kv.second;
    std::ostringstream s;
    s << kv.first << " " << t.floatData() << " " << t.n << "x" << t.h << "x" << t.w << "x" << t.c
      << " format " << t.format << " count " << t.ElementCount();
    v.push_back(s.str());
  }
  return v;
}
// Layouts packed for the convolution layers' weights, layer by layer.
std::vector<size_t> PackCounts(const Net& net) {
  std::vector<size_t> v;
  for (Layer* l : net.layers)
    if (auto* conv = dynamic_cast<core::Conv*>(l))
      v.push_back(conv->weight && conv->weight->packs() ? conv->weight->packs()->size() : 0);
  return v;
}

TEST(Net, WeightsArePackedWhenPreparedAndTensorsKeepTheirBuffers) {
  // Every convolution packs its member's layout of its weight during the
  // warm-up: running the network packs nothing more, and no weight or blob
  // tensor exposes another buffer or shape after a run. Forcing the portable
  // path packs its members' layouts once, before its first run.
  const int w = 160, h = 96;
  auto img = Picture(w, h);
  std::vector<uint8_t> mask(size_t(w) * h);
  NetPtr net = MakeNet();
  const auto weightsBuilt = States(net->weights);
  Tensor* input = net->Blob("input");
  Tensor* out = net->Blob("mask");
  input->SetShape(1, h, w, 3, kPlain);
  input->Bind(kUint8, img.data());
  out->SetShape(1, h, w, 1, kPlain);
  out->Bind(kUint8, mask.data());
  testing::internal::CaptureStdout();
  const bool warm = net->Warmup();
  testing::internal::GetCapturedStdout();
  ASSERT_TRUE(warm);
  const auto packed = PackCounts(*net);
  EXPECT_EQ(packed.size(), 75u);
  for (size_t i = 0; i < packed.size(); ++i) EXPECT_GE(packed[i], 1u) << i;
  EXPECT_EQ(States(net->weights), weightsBuilt);
  ASSERT_TRUE(net->Run());
  const auto blobsRun = States(net->blobs);
  EXPECT_TRUE(net->Run());
  EXPECT_EQ(States(net->weights), weightsBuilt);
  EXPECT_EQ(States(net->blobs), blobsRun);
  EXPECT_EQ(PackCounts(*net), packed);
  CpuInfo::ForcePortable(true);
  EXPECT_TRUE(net->Run());
  CpuInfo::ForcePortable(false);
  const auto both = PackCounts(*net);
  EXPECT_TRUE(net->Run());
  EXPECT_EQ(PackCounts(*net), both);
  EXPECT_EQ(States(net->weights), weightsBuilt);
}

TEST(Net, TimingAndRangeDiagnostics) {
  testing::internal::CaptureStdout();
  auto* env = new CountingEnv;
  NetPtr net(BuildNet(std::unique_ptr<core::RunEnv>(env), model::kPortraitWeightRecords,
                      model::kPortraitWeightCount, model::kPortraitLayerRecords,
                      model::kPortraitLayerCount));
  testing::internal::GetCapturedStdout();
  const int w = 96, h = 64;
  auto img = Picture(w, h);
  std::vector<uint8_t> mask(size_t(w) * h);
  testing::internal::CaptureStdout();
  RunMattingNet(net.get(), img.data(), mask.data(), w, h);  // prepares, sets fused flags
  testing::internal::GetCapturedStdout();
  env->flushes = 0;
  net->timing = true;
  net->range = true;
  testing::internal::CaptureStdout();
  RunMattingNet(net.get(), img.data(), mask.data(), w, h);
  const std::string out = testing::internal::GetCapturedStdout();
  int executed = 0, flushesWanted = 0;
  for (Layer* l : net->layers) {
    if (l->fused || l->folded) continue;
    ++executed;
    flushesWanted += l->index != 0 && l->index % 8 == 0;
  }
  // The 41 Relus after convolutions are fused, and so are the 2 after the
  // batch normalisations that follow the transposed convolutions (those
  // normalisations are applied by the transposed convolutions); the 3 other
  // Relus after batch normalisations and the final Sigmoid run in place on
  // their own. The 4 concats that only a 1x1 convolution reads are read in
  // place by it and the 3 that read only convolutions are filled by them;
  // the first convolution normalises the input itself and the final Sigmoid
  // writes the mask bytes.
  EXPECT_EQ(executed, 159 - 43 - 2 - 4 - 3 - 1 - 1);
  EXPECT_EQ(env->flushes, flushesWanted);
  std::istringstream lines(out);
  std::string line;
  int costLines = 0, rangeLines = 0;
  while (std::getline(lines, line)) {
    if (line.find(" cost:  ") == 80) ++costLines;
    if (line.find(" min max:") != std::string::npos) ++rangeLines;
  }
  EXPECT_EQ(costLines, executed);
  EXPECT_EQ(rangeLines, executed);
  EXPECT_NE(out.find("60:Conv_3x3_s2x2_24x32x48x3"), std::string::npos) << out.substr(0, 400);
}

TEST(Registry, UnknownAndDuplicateTypes) {
  LinkLayerRegistrations();
  LayerRecord rec;
  std::memset(&rec, 0, sizeof rec);
  rec.name = "m";
  rec.type = "Mul";
  const char* blobs[] = {"a", "m"};
  rec.blobs[0] = blobs[0];
  rec.blobs[1] = blobs[1];
  TensorMap b, w;
  testing::internal::CaptureStdout();
  EXPECT_EQ(LayerRegistry::Create(2, rec, b, w), nullptr);
  rec.type = "Conv";
  EXPECT_EQ(LayerRegistry::Create(3, rec, b, w), nullptr);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "Implementation not exists: [2,Mul]\nImplementation not exists: [3,Conv]\n");

  // A duplicate registration prints once and the later creator wins.
  static int made = 0;
  LayerCreator first = [](const LayerRecord&, TensorMap&, TensorMap&) -> Layer* {
    ++made;
    return nullptr;
  };
  testing::internal::CaptureStdout();
  LayerRegistry::Register(7, "Conv", first);
  LayerRegistry::Register(7, "Conv", [](const LayerRecord&, TensorMap&, TensorMap&) -> Layer* {
    made += 10;
    return nullptr;
  });
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "Layer type Conv already registered.\n");
  LayerRegistry::Create(7, rec, b, w);
  EXPECT_EQ(made, 10);
}

namespace {

// An element-wise product used to exercise the optimisation's rewiring.
class TestMul : public virtual Layer {
 public:
  TestMul(const LayerRecord& rec, TensorMap& blobs, TensorMap&) { LinkRecord(rec, blobs, 2); }
  void Setup() override {
    const Tensor& a = *inputs[0];
    outputs[0]->SetShape(a.n, a.h, a.w, a.c, a.format);
  }
  bool Forward(core::RunEnv*) override {
    ++calls;
    const uint64_t n = inputs[0]->ElementCount();
    float* a = inputs[0]->data();
    float* b = inputs[1]->data();
    float* o = outputs[0]->data();
    for (uint64_t i = 0; i < n; ++i) o[i] = a[i] * b[i];
    return true;
  }
  static int calls;
};
int TestMul::calls = 0;

class KindFiveEnv : public x86::RunEnv {
 public:
  int Kind() const override { return 5; }
};

template <typename T>
Layer* Make(const LayerRecord& r, TensorMap& b, TensorMap& w) {
  return new T(r, b, w);
}

}  // namespace

TEST(GraphOptimisation, SigmoidTimesInputBecomesSwish) {
  LayerRegistry::Register(5, "Sigmoid", &Make<x86::Activation>);
  LayerRegistry::Register(5, "Relu", &Make<x86::Activation>);
  LayerRegistry::Register(5, "Mul", &Make<TestMul>);
  LayerRecord recs[3];
  std::memset(recs, 0, sizeof recs);
  recs[0] = {"s", "Sigmoid", {5}, {"input", "s"}, {}};
  recs[1] = {"m", "Mul", {}, {"input", "s", "m"}, {}};
  recs[2] = {"r", "Relu", {1}, {"m", "r"}, {}};
  testing::internal::CaptureStdout();
  NetPtr net(BuildNet(std::unique_ptr<core::RunEnv>(new KindFiveEnv), nullptr, 0, recs, 3));
  testing::internal::GetCapturedStdout();
  ASSERT_EQ(net->layers.size(), 3u);
  Layer* sig = net->layers[0];
  Layer* mul = net->layers[1];
  Layer* relu = net->layers[2];
  Tensor* x = net->Blob("input");
  EXPECT_EQ(sig->type, "Swish");
  EXPECT_EQ(dynamic_cast<core::Activation*>(sig)->kind, 7u);
  EXPECT_EQ(sig->outputs[0], x);  // in place on the sigmoid's input
  EXPECT_TRUE(mul->folded);
  EXPECT_EQ(relu->inputs[0], x);
  EXPECT_TRUE(relu->attached.empty());

  x->SetShape(1, 1, 3, 3, kPlain);
  float* xv = x->data();
  const float vals[9] = {-3, -1, -0.5f, 0, 0.5f, 1, 2, 3, 8};
  std::copy(vals, vals + 9, xv);
  TestMul::calls = 0;
  testing::internal::CaptureStdout();
  EXPECT_TRUE(net->Warmup());
  net->timing = true;
  EXPECT_TRUE(net->Run());
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(TestMul::calls, 0);  // folded: never called, no timing line
  EXPECT_EQ(out.find("m:Mul"), std::string::npos);
  const float* r = net->Blob("r")->data();
  for (int i = 0; i < 9; ++i)
    EXPECT_NEAR(r[i], std::max(0.f, vals[i] / (1.f + std::exp(-vals[i]))), 2e-3f) << i;
}

TEST(GraphOptimisation, SharedInputIsNotFolded) {
  LayerRegistry::Register(5, "Relu", &Make<x86::Activation>);
  LayerRegistry::Register(5, "Concat", &Make<x86::Concat>);
  LayerRegistry::Register(5, "Sigmoid", &Make<x86::Activation>);
  LayerRecord recs[3];
  std::memset(recs, 0, sizeof recs);
  recs[0] = {"a", "Sigmoid", {5}, {"input", "a"}, {}};
  recs[1] = {"b", "Relu", {1}, {"a", "b"}, {}};   // "a" is also read by the concat
  recs[2] = {"c", "Concat", {}, {"a", "b", "c"}, {}};
  testing::internal::CaptureStdout();
  NetPtr net(BuildNet(std::unique_ptr<core::RunEnv>(new KindFiveEnv), nullptr, 0, recs, 3));
  testing::internal::GetCapturedStdout();
  EXPECT_TRUE(net->layers[0]->attached.empty());
  EXPECT_NE(net->layers[1]->inputs[0], net->layers[1]->outputs[0]);
}

TEST(GraphOptimisation, FoldedConcatsGiveTheJoinedResult) {
  // In the built-in model four concats feed only the 1x1 convolution after
  // them, which reads their inputs in place; the three others read only
  // convolutions, which fill their slices of the concat's output. A net with
  // the folds undone gives the same mask on both paths.
  const int w = 160, h = 96;
  auto img = Picture(w, h);
  NetPtr net = MakeNet();
  std::vector<std::pair<Layer*, simd::Conv*>> readInPlace;
  std::vector<std::pair<Layer*, x86::Conv*>> filled;
  int concats = 0;
  for (size_t i = 0; i < net->layers.size(); ++i) {
    Layer* l = net->layers[i];
    if (l->type != "Concat") continue;
    ++concats;
    if (!l->folded) continue;
    auto* next =
        i + 1 < net->layers.size() ? dynamic_cast<simd::Conv*>(net->layers[i + 1]) : nullptr;
    if (next && next->concatInput == l) {
      EXPECT_EQ(next->kernelW, 1u);
      readInPlace.push_back({l, next});
      continue;
    }
    int offset = 0;
    for (Tensor* t : l->inputs) {
      auto* conv = dynamic_cast<x86::Conv*>(t->producer);
      ASSERT_NE(conv, nullptr) << l->name;
      EXPECT_EQ(conv->concatOutput, l);
      EXPECT_EQ(conv->sliceOffset, offset);
      offset += int(t->c);
      filled.push_back({l, conv});
    }
  }
  EXPECT_EQ(readInPlace.size(), 4u);
  EXPECT_EQ(filled.size(), 9u);
  EXPECT_EQ(concats, 7);
  auto fold = [&](bool on) {
    for (auto& [concat, conv] : readInPlace)
      concat->folded = on, conv->concatInput = on ? concat : nullptr;
    for (auto& [concat, conv] : filled)
      concat->folded = on, conv->concatOutput = on ? concat : nullptr;
  };
  for (bool portable : {false, true}) {
    CpuInfo::ForcePortable(portable);
    std::vector<uint8_t> folded(size_t(w) * h), joined(folded.size());
    testing::internal::CaptureStdout();
    RunMattingNet(net.get(), img.data(), folded.data(), w, h);
    fold(false);
    RunMattingNet(net.get(), img.data(), joined.data(), w, h);
    fold(true);
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(MaxDiff(folded, joined), 0) << (portable ? "portable" : "fast");
  }
  CpuInfo::ForcePortable(false);
}

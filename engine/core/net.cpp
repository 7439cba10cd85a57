#include "engine/core/net.h"

#include <algorithm>
#include <cstdio>

#include "cpu/cpu_info.h"
#include "diagnostics/diagnostics.h"
#include "engine/core/layer_registry.h"
#include "engine/core/scope_timer.h"

namespace TAVROMATTING {

Net::Net() {
  Tensor& zero = weights["__dummy_zero_tensor__"];
  zero.name = "__dummy_zero_tensor__";
  zero.SetShape(1, 1, 1, 1024, kPlain);
  zero.EnsureFloat();
}

Net::~Net() {
  Release();
  env.reset();
}

Tensor* Net::Blob(const std::string& blobName) {
  auto it = blobs.find(blobName);
  return it == blobs.end() ? nullptr : &it->second;
}

Tensor* Net::Weight(const std::string& weightName) {
  auto it = weights.find(weightName);
  return it == weights.end() ? nullptr : &it->second;
}

void Net::Release() {
  for (Layer* l : layers) delete l;
  layers.clear();
  reportedFailures_.clear();
  blobs.clear();
  weights.clear();
}

bool Net::Warmup() {
  if (prepared) return true;
  bool ok = true;
  {
    ScopeTimer timer("Warmup", true, false);
    env->BeforePrepare();
    for (Layer* l : layers) l->visited = false;
    for (auto& kv : weights) {
      Tensor& t = kv.second;
      if (!env->halfPrecision) {
        if (t.halfData() && !t.floatData()) t.HalfToFloat();
      } else {
        if (t.floatData() && !t.halfData()) t.FloatToHalf();
      }
    }
    totalFlops = 0;
    for (Layer* l : layers) {
      ok = l->Prepare(env.get()) && ok;
      totalFlops += l->flops;
    }
    env->AfterPrepare();
    env->AfterPrepareNet(this);
    PackWeights();
  }
  prepared = true;
  return ok;
}

std::string Net::Label(Layer* layer) const {
  std::string label;
  if (diagnosticMode & 1) label += layer->name;
  if (diagnosticMode & 2) label += ":" + layer->type;
  if (diagnosticMode & 4) label += "_" + layer->Description();
  return label;
}

void Net::DumpOutputs(Layer* layer, const std::string& label) {
  for (size_t k = 0; k < layer->outputs.size(); ++k) {
    Tensor* src = layer->outputs[k];
    Tensor copy;
    src->CopyTo(copy);
    const float* p = copy.data(kPlanarSource);
    tavro_diag::Printf("%s output%d(n:%d, c:%d, h:%d, w:%d):\n", label.c_str(), int(k),
                       int(src->n), int(src->c), int(src->h), int(src->w));
    uint64_t total = copy.ElementCount();
    for (uint32_t r = dumpRowFirst; r < dumpRowEnd; ++r) {
      for (uint32_t x = 0; x < src->w; ++x) {
        uint64_t i = uint64_t(r) * src->w + x;
        if (p && i < total) tavro_diag::Printf("%f,", p[i]);
      }
      tavro_diag::Write("\n");
    }
  }
  tavro_diag::Write("\n");
}

void Net::ReportFailure(const Layer* layer) {
  if (std::find(reportedFailures_.begin(), reportedFailures_.end(), layer) !=
      reportedFailures_.end())
    return;
  tavro_diag::Line("layer " + layer->name + " (" + layer->type + ") forward failed");
  reportedFailures_.push_back(layer);
}

void Net::PackWeights() {
  packedPortable_ = CpuInfo::PortableForced();
  packsComplete_ = true;
  for (Layer* l : layers) packsComplete_ = l->PackWeights(env.get()) && packsComplete_;
}

bool Net::Run() {
  bool ok = true;
  // A pack that failed for lack of memory is tried again, and members change
  // with the features (the portable path can be forced between runs).
  if (!packsComplete_ || packedPortable_ != CpuInfo::PortableForced()) PackWeights();
  ScopeTimer timer("Net run", false, false);
  const bool async = env->asynchronous;
  if (async) env->BeginRun();
  for (size_t i = 0; i < layers.size(); ++i) {
    Layer* layer = layers[i];
    if (layer->fused || layer->folded) continue;
    std::string label;
    if (timing || dump) label = Label(layer);
    if (!async && timing) {
      if (!label.empty()) timer.name = label.substr(0, 80);
      timer.printOnDestroy = false;
      timer.Restart();
    }
    if (!layer->folded && !layer->Forward(env.get())) {
      ok = false;
      ReportFailure(layer);
    }
    if (!async && timing) {
      env->Synchronize();
      timer.StopLayer();
    }
    if (range && !layer->outputs.empty()) {
      if (env->halfPrecision) layer->outputs[0]->HalfToFloat();
      float lo, hi;
      layer->UpdateRange(&lo, &hi);
      tavro_diag::Printf("%s min max:%f, %f\n", label.c_str(), lo, hi);
    }
    if (!async && dump &&
        std::find(dumpNames.begin(), dumpNames.end(), layer->name) != dumpNames.end())
      DumpOutputs(layer, label);
    if (i != 0 && i % 8 == 0) env->Flush();
    if (async) layer->AfterForward();
  }
  env->AfterRun(this);
  if (async) env->EndRun();
  return ok;
}

Net* BuildNet(std::unique_ptr<core::RunEnv> env, const WeightRecord* weightRecords,
              size_t weightCount, const LayerRecord* layerRecords, size_t layerCount) {
  if (!env) return nullptr;
  Net* net = new Net;
  net->env = std::move(env);
  for (size_t i = 0; i < weightCount; ++i) {
    const WeightRecord& r = weightRecords[i];
    Tensor& t = net->weights[r.name];
    t.name = r.name;
    t.BindRecord(r.n, r.h, r.w, r.c, r.format, int(r.elementKind), r.data);
  }
  if (std::find(net->inputNames.begin(), net->inputNames.end(), "input") == net->inputNames.end())
    net->inputNames.push_back("input");
  if (std::find(net->outputNames.begin(), net->outputNames.end(), "mask") ==
      net->outputNames.end())
    net->outputNames.push_back("mask");
  Tensor& input = net->blobs["input"];
  input.name = "input";
  input.SetShape(1, 224, 320, 3, kPlain);
  for (size_t i = 0; i < layerCount; ++i) {
    int kind = net->env->Kind();
    Layer* layer = LayerRegistry::Create(kind, layerRecords[i], net->blobs, net->weights);
    if (!layer) continue;
    layer->index = uint32_t(net->layers.size());
    net->layers.push_back(layer);
  }
  net->env->OptimizeGraph(net);
  return net;
}

}  // namespace TAVROMATTING

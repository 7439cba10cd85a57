#!/usr/bin/env python3
"""Parity of the PyTorch twin and the C++ engine on the same input bytes.

Stills of the validation list are taken as camera frames and turned into the
network's B,G,R bytes the way the filter does (I420, BT.601 limited range,
bilinear squeeze to the work size, back to B,G,R).  The same bytes go to the
twin (deploy form, weights from the .bin) and to
    tavro-engine --raw-in FILE --size WxH --raw-out FILE --weights FILE.bin
and the two masks are compared pixel by pixel.

Last line: "parity: P% of pixels within 1 level (max diff D)"; the exit
status is 1 below the threshold (99.9% by default), 2 when the engine cannot
be run, 77 when the validation stills are not there.  --self-check compares the float32 twin with a float64 twin instead
of the engine (how much one level of rounding moves, no C++ needed).

Run with the interpreter that has torch, from anywhere:
    /usr/bin/python3 tools/parity.py [--count N] [--sizes 320x224,224x224]
"""
import argparse
import os
import subprocess
import sys
import tempfile

import numpy as np

REPO = os.path.abspath(os.path.join(os.path.dirname(__file__), ".."))
sys.path.insert(0, REPO)

from tools.train import data           # noqa: E402
from tools.twin import weights_io      # noqa: E402
from tools.twin.net import TwinNet, run_bytes  # noqa: E402


def parse_args():
    p = argparse.ArgumentParser(description="twin vs engine mask parity")
    p.add_argument("--engine", default=os.path.join(REPO, "build", "bin", "tavro-engine"))
    p.add_argument("--weights", default=os.path.join(REPO, "model", "portrait_weights.bin"))
    p.add_argument("--list", default="val.txt")
    p.add_argument("--count", type=int, default=40, help="stills (0 = all)")
    p.add_argument("--sizes", default="320x224,224x224")
    p.add_argument("--threshold", type=float, default=99.9)
    p.add_argument("--self-check", action="store_true",
                   help="compare with a float64 twin instead of the engine")
    return p.parse_args()


def engine_mask(engine, weights, bgr, tmp):
    h, w = bgr.shape[:2]
    src, dst = os.path.join(tmp, "in.raw"), os.path.join(tmp, "out.raw")
    bgr.tofile(src)
    if os.path.exists(dst):
        os.remove(dst)
    cmd = [engine, "--raw-in", src, "--size", "%dx%d" % (w, h),
           "--raw-out", dst, "--weights", weights]
    res = subprocess.run(cmd, stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
    if res.returncode != 0 or not os.path.exists(dst):
        raise RuntimeError("%s failed (%d): %s" % (
            " ".join(cmd), res.returncode, res.stdout.decode(errors="replace")[-500:]))
    out = np.fromfile(dst, dtype=np.uint8)
    if out.size != w * h:
        raise RuntimeError("engine wrote %d bytes, expected %d" % (out.size, w * h))
    return out.reshape(h, w)


def main():
    args = parse_args()
    import torch
    torch.set_num_threads(2)
    weights = weights_io.read(args.weights)
    twin = TwinNet(train_form=False)
    twin.load_folded_weights(weights)
    twin.eval()
    reference = None
    if args.self_check:
        reference = TwinNet(train_form=False).double()
        reference.load_folded_weights(weights)
        reference.eval()
    elif not os.access(args.engine, os.X_OK):
        print("engine not found: %s (build it with scripts/build.sh build)" % args.engine)
        print("parity: 0.0000% of pixels within 1 level (max diff 255)")
        return 2

    if not os.path.exists(os.path.join(data.PORTRAIT, args.list)):
        print("skipped: no %s under %s (set TAVRO_DATA)" % (args.list, data.PORTRAIT))
        return 77
    stems = data.read_list(args.list)
    if args.count:
        stems = stems[:args.count]
    stills = data.Stills(stems)
    sizes = [tuple(int(v) for v in s.split("x")) for s in args.sizes.split(",")]
    total = within = 0
    worst = 0
    with tempfile.TemporaryDirectory() as tmp:
        for (w, h) in sizes:
            size_total = size_within = size_exact = size_worst = 0
            for i in range(len(stills)):
                img, _ = stills.get(i)
                bgr = np.ascontiguousarray(data.still_as_frame(img, w, h))
                ours = run_bytes(twin, bgr)
                if reference is not None:
                    x = torch.from_numpy(bgr).permute(2, 0, 1)[None].double()
                    with torch.no_grad():
                        p = torch.sigmoid(reference(x))[0, 0]
                    theirs = torch.trunc(p * 255).clamp(0, 255).to(torch.uint8).numpy()
                else:
                    try:
                        theirs = engine_mask(args.engine, args.weights, bgr, tmp)
                    except RuntimeError as e:
                        print(e)
                        print("parity: 0.0000% of pixels within 1 level (max diff 255)")
                        return 2
                d = np.abs(ours.astype(np.int16) - theirs.astype(np.int16))
                size_total += d.size
                size_within += int((d <= 1).sum())
                size_exact += int((d == 0).sum())
                size_worst = max(size_worst, int(d.max()))
            print("%dx%d: %.4f%% within 1 level, %.4f%% equal, max diff %d over %d stills" % (
                w, h, 100.0 * size_within / size_total, 100.0 * size_exact / size_total,
                size_worst, len(stills)))
            total += size_total
            within += size_within
            worst = max(worst, size_worst)
    pct = 100.0 * within / total
    print("parity: %.4f%% of pixels within 1 level (max diff %d)" % (pct, worst))
    return 0 if pct >= args.threshold else 1


if __name__ == "__main__":
    sys.exit(main())

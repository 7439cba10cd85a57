#!/usr/bin/python3
"""Exports the portrait network to ONNX for the engine benchmark.

The PyTorch twin (tools/twin) is built in its deploy form, loaded with a weight
file (default model/portrait_weights.bin) and exported with its final sigmoid,
one file per input size, because the nearest-neighbour upsampling is traced
with its index tables for a fixed size:

    /usr/bin/python3 tools/onnx/export_onnx.py --out-dir build/onnx
    -> build/onnx/portrait_320x224.onnx, build/onnx/portrait_224x224.onnx

Input "input": 1 x 3 x H x W float32 holding the B, G, R bytes (0..255);
output "prob": 1 x 1 x H x W probabilities. Needs Debian's python3-torch
(torch.onnx's own exporter; the separate onnx package is not required).
"""
import argparse
import os
import sys
import warnings

import numpy as np
import torch
import torch.nn as nn
import torch.nn.functional as F

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
sys.path.insert(0, ROOT)

from tools.twin import net as twin_net  # noqa: E402
from tools.twin import ops  # noqa: E402
from tools.twin import weights_io  # noqa: E402


def _traceable_resize_nearest(x, scale_w, scale_h, align_corners):
    """The twin's nearest resize in a form ONNX importers take: the model only
    upsamples by whole factors, where the engine's index tables (align-corners
    rounding included) reduce to floor(o * in / out), which is ONNX Resize
    "nearest" with asymmetric coordinates. Other tables are refused."""
    _, _, h, w = (int(v) for v in x.shape)
    oh, ow = ops.resize_out_size(h, scale_h), ops.resize_out_size(w, scale_w)
    for src, dst in ((h, oh), (w, ow)):
        want = ops.nearest_indices(src, dst, align_corners)
        if dst % src or not np.array_equal(want, np.arange(dst) // (dst // src)):
            raise NotImplementedError("resize %d -> %d is not a whole-factor repeat" % (src, dst))
    return F.interpolate(x, size=(oh, ow), mode="nearest")


class WithSigmoid(nn.Module):
    def __init__(self, net):
        super().__init__()
        self.net = net

    def forward(self, x):
        return torch.sigmoid(self.net(x))


def _keep_duplicate_initializers():
    """The exporter merges initializers with equal values (e.g. the batch
    norms' unit scales and zero means) and reads the copies through Identity
    nodes, which OpenCV's ONNX importer (4.6) cannot load; every weight keeps
    its own initializer instead."""
    if hasattr(torch._C, "_jit_pass_onnx_deduplicate_initializers"):
        torch._C._jit_pass_onnx_deduplicate_initializers = lambda graph, params, training: params


def parse_size(text):
    w, h = text.lower().split("x")
    return int(w), int(h)


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--weights", default=os.path.join(ROOT, "model", "portrait_weights.bin"))
    ap.add_argument("--out-dir", required=True)
    ap.add_argument("--sizes", nargs="+", default=[(320, 224), (224, 224)], type=parse_size,
                    help="W x H of each exported file")
    ap.add_argument("--opset", type=int, default=11)
    args = ap.parse_args()

    warnings.filterwarnings("ignore", category=torch.jit.TracerWarning)
    _keep_duplicate_initializers()
    twin_net.ops.resize_nearest = _traceable_resize_nearest
    net = twin_net.TwinNet(train_form=False)
    net.load_folded_weights(weights_io.read(args.weights))
    model = WithSigmoid(net).eval()
    os.makedirs(args.out_dir, exist_ok=True)
    for w, h in args.sizes:
        path = os.path.join(args.out_dir, "portrait_%dx%d.onnx" % (w, h))
        dummy = torch.zeros(1, 3, h, w)
        with torch.no_grad():
            torch.onnx.export(model, dummy, path, opset_version=args.opset,
                              input_names=["input"], output_names=["prob"],
                              do_constant_folding=True)
        print("wrote", path)
    return 0


if __name__ == "__main__":
    sys.exit(main())

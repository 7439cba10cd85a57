"""Grid texture of a network's masks: the energy of the pixel-pitch
alternation that stride-2 transposed convolutions leave when their four
output phases disagree, measured at the work size inside the masks' soft
band, and a picture of the soft band magnified.

    /usr/bin/python3 -m tools.train.grid CHECKPOINT.pt [--sheet out.png]

The figure is the mean, over soft-band pixels (0.02 < p < 0.98), of the
squared second differences at the pixel pitch (tools/train/losses.py
checkerboard_energy), on the val.txt stills and the hard-background frames
at 320 x 224.
"""
import argparse
import os

import cv2
import numpy as np
import torch

from tools.train import data, evaluate, losses, soup
from tools.twin.net import TwinNet


def load(path):
    net = TwinNet(train_form=True)
    net.load_state_dict(soup.weights_of(path))
    net.eval()
    return net


def energy(net, valset, batch=16):
    total, band_total = 0.0, 0.0
    probs = []
    with torch.no_grad():
        for s in range(0, len(valset), batch):
            x = torch.from_numpy(valset.inputs[s:s + batch]).permute(0, 3, 1, 2).float()
            p = torch.sigmoid(net(x))
            e, band = losses.checkerboard_energy(p)
            total += float(e.sum())
            band_total += float(band.sum())
            probs.append(p[:, 0].numpy())
    return total / max(1.0, band_total), np.concatenate(probs)


def sheet(probs, path, count=6):
    """The soft band of the first masks with the most of it, magnified 3x
    (nearest neighbour, so a grid shows as a grid)."""
    soft = [((p > 0.1) & (p < 0.9)).sum() for p in probs]
    picks = np.argsort(soft)[::-1][:count]
    tiles = []
    for i in picks:
        p = probs[i]
        ys, xs = np.nonzero((p > 0.1) & (p < 0.9))
        cy, cx = int(np.median(ys)), int(np.median(xs))
        y0, x0 = max(0, min(p.shape[0] - 64, cy - 32)), max(0, min(p.shape[1] - 64, cx - 32))
        crop = (p[y0:y0 + 64, x0:x0 + 64] * 255).astype(np.uint8)
        tiles.append(cv2.resize(crop, (192, 192), interpolation=cv2.INTER_NEAREST))
    cv2.imwrite(path, np.hstack(tiles))


def main(argv=None):
    p = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    p.add_argument("checkpoint")
    p.add_argument("--sheet", default="")
    args = p.parse_args(argv)
    torch.set_num_threads(1)
    net = load(args.checkpoint)
    sets = {"val": data.read_list("val.txt")}
    hard_list = os.path.join(data.HARDVAL_CACHE, "list.txt")
    if os.path.exists(hard_list):
        sets["hard"] = data.read_list(hard_list)
    for name, stems in sets.items():
        e, probs = energy(net, evaluate.ValSet(stems, 320, 224))
        print("%s: checkerboard energy %.3e per soft-band pixel" % (name, e))
        if args.sheet and name == "val":
            sheet(probs, args.sheet)


if __name__ == "__main__":
    main()

#!/usr/bin/env python3
"""Figures for the model card, through the twin (deploy form, from a .bin).

    /usr/bin/python3 tools/train/report.py [--weights model/portrait_weights.bin]
        [--sheet docs/model_worst.png] [--video-step 1]

Prints the validation mean IoU at 320x224 and 224x224 (per source too), the
mean IoU on each masked video sequence (640x360 frames squeezed like camera
frames), and writes a contact sheet of the worst validation stills
(still | truth | mask).
"""
import argparse
import json
import os
import sys

import cv2
import numpy as np
import torch

REPO = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
sys.path.insert(0, REPO)

from tools.train import data, evaluate          # noqa: E402
from tools.twin import description, weights_io    # noqa: E402
from tools.twin.net import TwinNet, run_bytes     # noqa: E402

VIDEO = os.path.join(data.DATA_ROOT, "video")


def video_iou(net, width, height, step):
    out = {}
    for seq in sorted(os.listdir(VIDEO)):
        names = sorted(os.listdir(os.path.join(VIDEO, seq, "images")))[::step]
        ious = []
        for n in names:
            img = cv2.imread(os.path.join(VIDEO, seq, "images", n))
            truth = cv2.imread(os.path.join(VIDEO, seq, "masks", n[:-4] + ".png"),
                               cv2.IMREAD_GRAYSCALE) >= 128
            m = run_bytes(net, data.still_as_frame(img, width, height))
            ious.append(evaluate.iou(evaluate.mask_to_still(m, truth.shape), truth))
        out[seq] = float(np.mean(ious))
    return out


def contact_sheet(net, valset, ious, path, count=8, thumb_h=96):
    rows = []
    for i in np.argsort(ious)[:count]:
        img, mask = data.Stills([valset.stems[i]]).get(0)
        m = run_bytes(net, valset.inputs[i])
        pred = cv2.resize(m, (img.shape[1], img.shape[0]), interpolation=cv2.INTER_LINEAR)
        tiles = [img, cv2.cvtColor(mask, cv2.COLOR_GRAY2BGR),
                 cv2.cvtColor(pred, cv2.COLOR_GRAY2BGR)]
        scale = thumb_h / img.shape[0]
        tiles = [cv2.resize(t, (max(1, int(t.shape[1] * scale)), thumb_h),
                            interpolation=cv2.INTER_AREA) for t in tiles]
        row = np.concatenate(tiles, axis=1)
        cv2.putText(row, "%s %.2f" % (valset.stems[i], ious[i]), (3, 12),
                    cv2.FONT_HERSHEY_SIMPLEX, 0.35, (0, 0, 255), 1, cv2.LINE_AA)
        rows.append(row)
    width = max(r.shape[1] for r in rows)
    rows = [cv2.copyMakeBorder(r, 0, 2, 0, width - r.shape[1], cv2.BORDER_CONSTANT)
            for r in rows]
    # Two columns of rows keep the sheet small.
    half = (len(rows) + 1) // 2
    left = np.concatenate(rows[:half], axis=0)
    right = np.concatenate(rows[half:], axis=0) if rows[half:] else np.zeros_like(left)
    right = cv2.copyMakeBorder(right, 0, left.shape[0] - right.shape[0], 0, 0,
                               cv2.BORDER_CONSTANT)
    cv2.imwrite(path, np.concatenate([left, right], axis=1),
                (cv2.IMWRITE_PNG_COMPRESSION, 9))


def main():
    p = argparse.ArgumentParser(description="model card figures")
    p.add_argument("--weights", default=description.WEIGHTS_BIN)
    p.add_argument("--sheet", default="")
    p.add_argument("--video-step", type=int, default=1)
    args = p.parse_args()
    torch.set_num_threads(2)
    net = TwinNet(train_form=False)
    net.load_folded_weights(weights_io.read(args.weights))
    net.eval()
    figures = {}
    for (w, h) in ((320, 224), (224, 224)):
        vs = evaluate.ValSet(data.read_list("val.txt"), w, h)
        res = evaluate.evaluate(net, vs)
        figures["val_%dx%d" % (w, h)] = {"mean_iou": res["mean_iou"],
                                         "by_source": res["by_source"]}
        print("val %dx%d: mean IoU %.4f %s" % (w, h, res["mean_iou"],
                                               json.dumps(res["by_source"])))
        if args.sheet and (w, h) == (320, 224):
            contact_sheet(net, vs, res["ious"], args.sheet)
            print("worst stills:", args.sheet)
    for (w, h) in ((320, 224), (224, 224)):
        v = video_iou(net, w, h, args.video_step)
        figures["video_%dx%d" % (w, h)] = v
        print("video %dx%d: mean %.4f %s" % (w, h, np.mean(list(v.values())),
                                             json.dumps(v)))
    return 0


if __name__ == "__main__":
    sys.exit(main())

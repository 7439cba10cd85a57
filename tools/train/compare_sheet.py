"""A contact sheet of two sets of module masks on the same frames: the frames
where the first set (before) calls the most background pixels person, each
row the frame, then each mask set laid over it (background kept at a third of
its brightness, false positives tinted red).

    /usr/bin/python3 -m tools.train.compare_sheet --images DIR --truth DIR \
        --before MASKS --after MASKS --out sheet.png [--count 6] [--width 320]
"""
import argparse
import os

import cv2
import numpy as np


def overlay(frame, mask, truth):
    person = mask >= 128
    out = frame.astype(np.float32)
    out[~person] *= 0.33
    wrong = person & (truth <= 127)
    out[wrong] = 0.5 * out[wrong] + 0.5 * np.array([40, 40, 255], np.float32)
    return out.astype(np.uint8)


def read(folder, stem, flags):
    for ext in (".png", ".jpg"):
        path = os.path.join(folder, stem + ext)
        if os.path.exists(path):
            return cv2.imread(path, flags)
    return None


def false_positives(mask, truth):
    return int(((mask >= 128) & (truth <= 127)).sum())


def main(argv=None):
    p = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    p.add_argument("--images", required=True)
    p.add_argument("--truth", required=True)
    p.add_argument("--before", required=True)
    p.add_argument("--after", required=True)
    p.add_argument("--out", required=True)
    p.add_argument("--count", type=int, default=6)
    p.add_argument("--width", type=int, default=320, help="width of each tile")
    args = p.parse_args(argv)
    scored = []
    for name in sorted(os.listdir(args.before)):
        stem = name[:-4]
        before = read(args.before, stem, cv2.IMREAD_GRAYSCALE)
        truth = read(args.truth, stem, cv2.IMREAD_GRAYSCALE)
        if before is not None and truth is not None and truth.shape == before.shape:
            scored.append((false_positives(before, truth), stem))
    rows = []
    for _, stem in sorted(scored, reverse=True)[:args.count]:
        frame = read(args.images, stem, cv2.IMREAD_COLOR)
        truth = read(args.truth, stem, cv2.IMREAD_GRAYSCALE)
        after = read(args.after, stem, cv2.IMREAD_GRAYSCALE)
        if frame is None or after is None:
            continue
        h, w = truth.shape
        frame = frame[:h, :w]
        tiles = [frame] + [overlay(frame, read(d, stem, cv2.IMREAD_GRAYSCALE), truth)
                           for d in (args.before, args.after)]
        th = args.width * h // w
        rows.append(np.hstack([cv2.resize(t, (args.width, th), interpolation=cv2.INTER_AREA)
                               for t in tiles]))
    if not rows:
        raise SystemExit("no frames in common")
    cv2.imwrite(args.out, np.vstack(rows), [cv2.IMWRITE_JPEG_QUALITY, 80])
    print("wrote", args.out, "with", len(rows), "frames")


if __name__ == "__main__":
    main()

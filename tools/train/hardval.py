"""The hard-background validation set: val.txt people on the backgrounds
people have behind them in calls.

Each frame is a 640 x 360 camera frame: a scene of the data set's
scenes/val.txt (flags waving or hung in a room, textures and fabrics,
indoor rooms; never seen in training) with one val.txt person pasted onto
it by the exact mask, so the truth is exact.  Frames are made from a fixed
seed, frame by frame, so every run of this script writes the same images;
they go to tools/train/cache/hardval/ (not committed) with list.txt, and
their stems start with "hardval_" so data.Stills reads them like stills.

    /usr/bin/python3 -m tools.train.hardval [--count 300]
"""
import argparse
import os

import cv2
import numpy as np

from tools.train import data, scenes

WIDTH, HEIGHT = 640, 360
SEED = 20261207


def person_cut(img, mask, rng):
    """The person's box of a still plus a margin, and its mask."""
    ys, xs = np.nonzero(mask > 127)
    if len(xs) == 0:
        return None
    h, w = mask.shape
    x0, x1 = max(0, xs.min() - 4), min(w, xs.max() + 5)
    y0, y1 = max(0, ys.min() - 4), min(h, ys.max() + 5)
    return img[y0:y1, x0:x1], mask[y0:y1, x0:x1], y1 >= h - 2


def frame(stills, scene_set, k):
    """Frame k: (B,G,R image, uint8 mask)."""
    rng = np.random.default_rng([SEED, k])
    while True:
        cut = person_cut(*stills.get(int(rng.integers(len(stills)))), rng)
        if cut is not None:
            break
    person, mask, chest_cut = cut
    i = int(rng.integers(len(scene_set)))
    img = scene_set.get(i)
    if scene_set.flag[i]:
        room = scene_set.get(int(rng.choice(scene_set.indoor)))
        bg = scenes.flag_scene(img, bool(scene_set.flat[i]), room, WIDTH, HEIGHT, rng)
    else:
        bg = scenes.cover(img, WIDTH, HEIGHT, rng)
    # Head-and-shoulders people sit on the bottom edge, as in a call;
    # full-body ones stand somewhere in the lower part of the frame.
    ph = int(HEIGHT * rng.uniform(0.65, 0.95) if chest_cut else HEIGHT * rng.uniform(0.5, 0.9))
    pw = max(8, int(person.shape[1] * ph / person.shape[0]))
    if pw > WIDTH * 0.9:
        ph = int(ph * WIDTH * 0.9 / pw)
        pw = int(WIDTH * 0.9)
    x0 = int(rng.uniform(0.05 * WIDTH, max(0.05 * WIDTH + 1, 0.95 * WIDTH - pw)))
    y0 = HEIGHT - ph if chest_cut else int(rng.uniform(0.05 * HEIGHT, HEIGHT - ph + 1))
    out, out_mask = data._composite(person, mask, pw, ph, x0, y0, bg)
    return out, out_mask, scene_set.files[i].split("/")[0]


def main(argv=None):
    p = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    p.add_argument("--count", type=int, default=300)
    args = p.parse_args(argv)
    stills = data.Stills(data.read_list("val.txt"))
    scene_set = scenes.Scenes(data.SCENES, "val.txt")
    os.makedirs(os.path.join(data.HARDVAL_CACHE, "images"), exist_ok=True)
    os.makedirs(os.path.join(data.HARDVAL_CACHE, "masks"), exist_ok=True)
    stems = []
    for k in range(args.count):
        img, mask, kind = frame(stills, scene_set, k)
        stem = "%s%s_%04d" % (data.HARDVAL_PREFIX, kind, k)
        cv2.imwrite(os.path.join(data.HARDVAL_CACHE, "images", stem + ".jpg"), img,
                    (cv2.IMWRITE_JPEG_QUALITY, 95))
        cv2.imwrite(os.path.join(data.HARDVAL_CACHE, "masks", stem + ".png"), mask)
        stems.append(stem)
    with open(os.path.join(data.HARDVAL_CACHE, "list.txt"), "w") as f:
        f.write("\n".join(stems) + "\n")
    print("%d frames in %s" % (len(stems), data.HARDVAL_CACHE))


if __name__ == "__main__":
    main()

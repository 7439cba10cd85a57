"""Teacher-labelled frames of the talking-head clips as extra training stills.

The clips in the data set's clips/ folder are the product's own domain
(people in front of a camera, indoors) but carry no masks.  Every STEP-th
frame is scaled to at most 480 px on its longest side, written as a JPEG
under tools/train/cache/clips/images/, and the teacher's soft mask (see
teacher.py) is written both as the frame's mask and as its teacher mask, so
tools/train/data.py treats these frames like any other still whose truth is
the teacher's answer.  The stems go to tools/train/cache/clips/list.txt.

    /usr/bin/python3 -m tools.distill.clips [--step 4]
"""
import argparse
import os

import cv2

from tools.distill import teacher
from tools.train import data

LONGEST = 480


def frames(path, step):
    """(index, B,G,R frame) of every step-th frame of a clip."""
    cap = cv2.VideoCapture(path)
    k = 0
    while True:
        ok, frame = cap.read()
        if not ok:
            break
        if k % step == 0:
            h, w = frame.shape[:2]
            s = min(1.0, LONGEST / max(h, w))
            if s < 1.0:
                frame = cv2.resize(frame, (int(round(w * s)), int(round(h * s))),
                                   interpolation=cv2.INTER_AREA)
            yield k, frame
        k += 1
    cap.release()


def main():
    p = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    p.add_argument("--step", type=int, default=4)
    p.add_argument("--teacher", default=teacher.DEFAULT)
    args = p.parse_args()
    clips = sorted(n for n in os.listdir(data.CLIPS) if n.endswith(".mp4"))
    os.makedirs(os.path.join(data.CLIP_CACHE, "images"), exist_ok=True)
    os.makedirs(os.path.join(data.CLIP_CACHE, "masks"), exist_ok=True)
    folder = data.teacher_dir(args.teacher)
    os.makedirs(folder, exist_ok=True)
    stems = []
    for name in clips:
        got = list(frames(os.path.join(data.CLIPS, name), args.step))
        base = "clip_" + os.path.splitext(name)[0]
        for k in range(0, len(got), teacher.CHUNK):
            part = got[k:k + teacher.CHUNK]
            for (idx, frame), soft in zip(part, teacher.label([f for _, f in part], args.teacher)):
                stem = "%s_%05d" % (base, idx)
                cv2.imwrite(os.path.join(data.CLIP_CACHE, "images", stem + ".jpg"),
                            frame, [cv2.IMWRITE_JPEG_QUALITY, 92])
                cv2.imwrite(os.path.join(data.CLIP_CACHE, "masks", stem + ".png"), soft)
                cv2.imwrite(os.path.join(folder, stem + ".png"), soft)
                stems.append(stem)
        print("%s: %d frames" % (name, len(got)), flush=True)
    with open(os.path.join(data.CLIP_CACHE, "list.txt"), "w") as f:
        f.write("\n".join(stems) + "\n")
    print("%d clip frames labelled" % len(stems))


if __name__ == "__main__":
    main()

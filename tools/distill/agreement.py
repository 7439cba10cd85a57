"""Agreement of the module with the teacher on the talking-head clips,
frame by frame: the clip's first frames are labelled once by the teacher
(default the mean of the selfie segmenter and RVM) into
tools/train/cache/agreement/<clip>/, then tavro-eval runs them as a
sequence (optical flow and media filter on, as deployed) and reports the
mean IoU of the module's masks against the teacher's.

    /usr/bin/python3 -m tools.distill.agreement [--frames 60] [--label-only]
"""
import argparse
import os
import subprocess

import cv2

from tools.distill import flicker, teacher
from tools.train import data

CACHE = os.path.join(os.path.dirname(data.CLIP_CACHE), "agreement")
TALKING_HEADS = ("talking_head_a", "talking_head_b", "talking_head_c",
                 "talking_head_d", "talking_head_e")
CONFIG = '{"enable":true,"enable_optical_flow":true,"enable_media_filter":true}'


def label_clip(name, frames, who):
    folder = os.path.join(CACHE, name)
    done = os.path.join(folder, "done-" + who)
    if os.path.exists(done):
        return folder
    os.makedirs(os.path.join(folder, "images"), exist_ok=True)
    os.makedirs(os.path.join(folder, "masks"), exist_ok=True)
    got = flicker.read_frames(os.path.join(data.CLIPS, name + ".mp4"), frames)
    for k, soft in enumerate(teacher.label(got, who)):
        cv2.imwrite(os.path.join(folder, "images", "%05d.png" % k), got[k])
        cv2.imwrite(os.path.join(folder, "masks", "%05d.png" % k), soft)
    open(done, "w").close()
    return folder


def main(argv=None):
    p = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    p.add_argument("--frames", type=int, default=60)
    p.add_argument("--teacher", default=teacher.DEFAULT)
    p.add_argument("--eval", default="build/bin/tavro-eval")
    p.add_argument("--label-only", action="store_true")
    args = p.parse_args(argv)
    for name in TALKING_HEADS:
        if not os.path.exists(os.path.join(data.CLIPS, name + ".mp4")):
            continue
        folder = label_clip(name, args.frames, args.teacher)
        if args.label_only:
            continue
        out = subprocess.run([args.eval, "--images", os.path.join(folder, "images"),
                              "--masks", os.path.join(folder, "masks"), "--sequence",
                              "--config", CONFIG], capture_output=True, text=True)
        print(name, out.stdout.strip().splitlines()[-1] if out.stdout.strip() else out.stderr)


if __name__ == "__main__":
    main()

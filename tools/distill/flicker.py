"""Temporal stability of the teacher segmenter run frame by frame on a clip:
the measure `tavro-host --stability` prints for the module (mean absolute
change of the mask between consecutive frames, grey levels, averaged over
pixels and frame pairs), so the two can be compared on the same frames.

    /usr/bin/python3 -m tools.distill.flicker CLIP.mp4 [CLIP.mp4 ...] [--frames N]

The teacher sees each whole frame squeezed to its 256 x 256 input; its
probability map is scaled back to the frame size, as the module's mask is.
"""
import argparse
import os

import cv2
import numpy as np

from tools.distill import teacher


def read_frames(path, limit):
    cap = cv2.VideoCapture(path)
    out = []
    while limit <= 0 or len(out) < limit:
        ok, frame = cap.read()
        if not ok:
            break
        out.append(frame)
    cap.release()
    return out


def flicker(masks):
    """Mean absolute change between consecutive masks, in grey levels."""
    diffs = [np.abs(a.astype(np.int16) - b.astype(np.int16)).mean()
             for a, b in zip(masks, masks[1:])]
    return float(np.mean(diffs)) if diffs else 0.0


def main():
    p = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    p.add_argument("clips", nargs="+")
    p.add_argument("--frames", type=int, default=0, help="first N frames (0: all)")
    args = p.parse_args()
    for path in args.clips:
        frames = read_frames(path, args.frames)
        masks = []
        for k in range(0, len(frames), teacher.CHUNK):
            masks += teacher.label(frames[k:k + teacher.CHUNK], "selfie")
        print("%s: teacher flicker %.3f over %d frames" % (
            os.path.basename(path), flicker(masks), len(masks)))


if __name__ == "__main__":
    main()

"""A self-contained training data pack (one .npz under --max-mib) for a
training run on another machine, e.g. one with a CUDA GPU:

- the training stills (and teacher-labelled clip frames) at most LONGEST px
  on their longest side, their masks and teacher masks;
- people-free backdrops: the outdoor frames and the scenes of
  scenes/train.txt (the hard negatives first when the budget is short);
- the val.txt stills and the hard-background frames for validation.

JPEG quality steps down until the pack fits.  train.py --pack FILE reads
everything from it instead of the data folder.

    /usr/bin/python3 -m tools.train.pack OUT.npz [--teacher selfie] [--max-mib 60]
"""
import argparse
import io
import os

import cv2
import numpy as np

from tools.train import data, scenes

LONGEST = 224
BACKDROP_LONGEST = 256
# Validation stills travel at the network's width: they are squeezed to
# 320 x 224 anyway, and scored at this size.
VAL_LONGEST = 320


def _shrink(img, longest, interp=cv2.INTER_AREA):
    h, w = img.shape[:2]
    f = min(1.0, longest / max(h, w))
    if f >= 1.0:
        return img
    return cv2.resize(img, (max(2, int(round(w * f))), max(2, int(round(h * f)))),
                      interpolation=interp)


def _jpg(img, q):
    return cv2.imencode(".jpg", img, (cv2.IMWRITE_JPEG_QUALITY, q))[1]


def _png(img):
    return cv2.imencode(".png", img, (cv2.IMWRITE_PNG_COMPRESSION, 9))[1]


def _blob(arrays):
    """Concatenated bytes and offsets of a list of encoded arrays."""
    offsets = np.cumsum([0] + [len(a) for a in arrays]).astype(np.int64)
    return (np.concatenate(arrays) if arrays else np.zeros(0, np.uint8)), offsets


def unblob(blob, offsets):
    return [blob[offsets[i]:offsets[i + 1]] for i in range(len(offsets) - 1)]


def _half_png(mask, factor=2):
    """Masks travel at a fraction of the image's size (they are smooth and
    restored bilinearly); the teacher's soft masks at a quarter."""
    h, w = mask.shape[:2]
    return _png(cv2.resize(mask, (max(1, w // factor), max(1, h // factor)),
                           interpolation=cv2.INTER_AREA))


def build(teacher, quality, scene_limit):
    stems = data.training_stems(clip_frames=os.path.exists(
        os.path.join(data.CLIP_CACHE, "list.txt")))
    stills = data.Stills(stems, 0.5 if teacher else 0.0, teacher or "selfie")
    imgs, masks, soft = [], [], []
    for i in range(len(stills)):
        img, mask = stills.get(i)
        img = _shrink(img, LONGEST)
        m = cv2.resize(mask, (img.shape[1], img.shape[0]), interpolation=cv2.INTER_AREA)
        imgs.append(_jpg(img, quality))
        masks.append(_half_png(m[..., 0] if m.ndim == 3 else m))
        if m.ndim == 3:
            soft.append(_half_png(m[..., 1], 4))
    out = {"stems": np.array(stems), "teacher": np.array(teacher or "")}
    out["still_blob"], out["still_off"] = _blob(imgs)
    out["mask_blob"], out["mask_off"] = _blob(masks)
    out["soft_blob"], out["soft_off"] = _blob(soft)
    # Backdrops: outdoor frames, then scenes with the hard negatives first.
    outdoor = data.Backgrounds()
    out["outdoor_blob"], out["outdoor_off"] = _blob(
        [_jpg(_shrink(outdoor.get(i), BACKDROP_LONGEST), quality) for i in range(len(outdoor))])
    sc = scenes.Scenes(data.SCENES, "train.txt")
    order = np.argsort(-sc.p, kind="stable")[:scene_limit]
    out["scene_files"] = np.array([sc.files[i] for i in order])
    out["scene_frac"] = np.array([sc.fractions[i] for i in order], np.float32)
    out["scene_blob"], out["scene_off"] = _blob(
        [_jpg(_shrink(sc.get(i), BACKDROP_LONGEST), quality) for i in order])
    # Validation at full size: the figures must match the CPU runs'.
    for name, lst in (("val", data.read_list("val.txt")),
                      ("hard", data.read_list(os.path.join(data.HARDVAL_CACHE, "list.txt"))
                       if os.path.exists(os.path.join(data.HARDVAL_CACHE, "list.txt")) else [])):
        vs = data.Stills(lst)
        out[name + "_stems"] = np.array(lst)
        pairs = [vs.get(i) for i in range(len(vs))]
        small = [_shrink(im, VAL_LONGEST) for im, _ in pairs]
        out[name + "_blob"], out[name + "_off"] = _blob([_jpg(im, 75) for im in small])
        out[name + "_mblob"], out[name + "_moff"] = _blob([
            _png(cv2.resize(m, (im.shape[1], im.shape[0]), interpolation=cv2.INTER_NEAREST))
            for im, (_, m) in zip(small, pairs)])
    return out


def load(path, teacher_weight=0.0):
    """(training stills, backdrops, val stills, hard-background stills or
    None) from a pack written by this script."""
    z = np.load(path)
    stems = [str(s) for s in z["stems"]]
    soft = unblob(z["soft_blob"], z["soft_off"]) if len(z["soft_off"]) > 1 else []
    teacher = str(z["teacher"])
    stills = data.Stills.from_bytes(stems, unblob(z["still_blob"], z["still_off"]),
                                    unblob(z["mask_blob"], z["mask_off"]), soft,
                                    teacher_weight)
    outdoor = data.Backgrounds.from_bytes(unblob(z["outdoor_blob"], z["outdoor_off"]))
    sc = scenes.Scenes.from_bytes([str(f) for f in z["scene_files"]],
                                  unblob(z["scene_blob"], z["scene_off"]),
                                  [float(f) for f in z["scene_frac"]])
    backdrops = data.Backdrops.from_parts(outdoor, sc)
    vals = []
    for name in ("val", "hard"):
        lst = [str(s) for s in z[name + "_stems"]]
        vals.append(data.Stills.from_bytes(lst, unblob(z[name + "_blob"], z[name + "_off"]),
                                           unblob(z[name + "_mblob"], z[name + "_moff"]), [])
                    if lst else None)
    return stills, backdrops, vals[0], vals[1], teacher


def main(argv=None):
    p = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    p.add_argument("out")
    p.add_argument("--teacher", default="selfie",
                   help="teacher whose masks go in ('' for none)")
    p.add_argument("--max-mib", type=float, default=60.0)
    args = p.parse_args(argv)
    # Measured with the current data: 57.8 MiB at quality 45 with 1,000
    # scenes and half-size teacher masks; quarter-size teacher masks save
    # about 6 MiB, which the first rung spends on quality.
    for quality, scene_limit in ((55, 1300), (45, 1000)):
        pack = build(args.teacher, quality, scene_limit)
        buf = io.BytesIO()
        np.savez(buf, **pack)
        mib = buf.tell() / 2 ** 20
        print(", ".join("%s %.1f" % (k[:-5], v.nbytes / 2 ** 20)
                        for k, v in pack.items() if k.endswith("_blob")))
        print("quality %d, %d scenes: %.1f MiB" % (quality, len(pack["scene_files"]), mib),
              flush=True)
        if mib <= args.max_mib:
            with open(args.out, "wb") as f:
                f.write(buf.getvalue())
            print("wrote", args.out)
            return
    raise SystemExit("the pack does not fit in %.0f MiB" % args.max_mib)


if __name__ == "__main__":
    main()

"""Figures of masks written by the module (tavro-eval --mask-out) against
exact truths: mean IoU, the false-positive rate (share of background pixels
called person), the boundary F-measure and the soft-band share.

- Boundary F (tolerance 3 px): precision is the share of the mask's outline
  pixels within 3 px of the true outline, recall the share of true outline
  pixels within 3 px of the mask's; F is their harmonic mean, per image.
- Soft-band share: of all pixels more than 3 px from the true outline, the
  share whose mask byte lies between 64 and 192 -- half-transparent mask
  where the answer is clear (the grid texture shows up there).

    /usr/bin/python3 -m tools.train.mask_figures --masks OUT --truth DIR [--list FILE]
"""
import argparse
import json
import os

import cv2
import numpy as np

TOLERANCE = 3


def outline(binary):
    b = binary.astype(np.uint8)
    return (b - cv2.erode(b, np.ones((3, 3), np.uint8))) > 0


def boundary_f(pred, truth, tol=TOLERANCE):
    po, to = outline(pred), outline(truth)
    if not po.any() and not to.any():
        return 1.0
    if not po.any() or not to.any():
        return 0.0
    dt_t = cv2.distanceTransform((~to).astype(np.uint8), cv2.DIST_L2, 3)
    dt_p = cv2.distanceTransform((~po).astype(np.uint8), cv2.DIST_L2, 3)
    precision = float((dt_t[po] <= tol).mean())
    recall = float((dt_p[to] <= tol).mean())
    return 0.0 if precision + recall == 0 else 2 * precision * recall / (precision + recall)


def figures(mask, truth_bytes):
    """Per-image figures of one module mask against its truth bytes."""
    truth = truth_bytes > 127
    pred = mask >= 128
    union = np.logical_or(pred, truth).sum()
    iou = 1.0 if union == 0 else float(np.logical_and(pred, truth).sum()) / union
    far = cv2.distanceTransform((~outline(truth)).astype(np.uint8), cv2.DIST_L2, 3) > TOLERANCE
    soft = (mask >= 64) & (mask <= 192)
    return {"iou": iou, "fp": int(np.logical_and(pred, ~truth).sum()),
            "bg": int((~truth).sum()), "bf": boundary_f(pred, truth),
            "soft": int((soft & far).sum()), "far": int(far.sum())}


def summarise(rows):
    n = max(1, len(rows))
    return {"images": len(rows),
            "mean_iou": sum(r["iou"] for r in rows) / n,
            "fp_rate": sum(r["fp"] for r in rows) / max(1, sum(r["bg"] for r in rows)),
            "boundary_f": sum(r["bf"] for r in rows) / n,
            "soft_band_share": sum(r["soft"] for r in rows) / max(1, sum(r["far"] for r in rows))}


def main(argv=None):
    p = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    p.add_argument("--masks", required=True, help="module masks, STEM.png")
    p.add_argument("--truth", required=True, help="true masks, STEM.png")
    p.add_argument("--list", default="", help="stems to score (default: all masks)")
    p.add_argument("--by-kind", action="store_true",
                   help="also per kind: the stem's second field (hardval_KIND_n)")
    args = p.parse_args(argv)
    if args.list:
        with open(args.list) as f:
            stems = [s.strip() for s in f if s.strip()]
    else:
        stems = sorted(n[:-4] for n in os.listdir(args.masks) if n.endswith(".png"))
    rows, kinds = [], {}
    for stem in stems:
        mask = cv2.imread(os.path.join(args.masks, stem + ".png"), cv2.IMREAD_GRAYSCALE)
        truth = cv2.imread(os.path.join(args.truth, stem + ".png"), cv2.IMREAD_GRAYSCALE)
        if mask is None or truth is None:
            continue
        if truth.shape != mask.shape:
            truth = cv2.resize(truth, (mask.shape[1], mask.shape[0]),
                               interpolation=cv2.INTER_NEAREST)
        r = figures(mask, truth)
        rows.append(r)
        kinds.setdefault(stem.split("_")[1] if "_" in stem else "", []).append(r)
    out = summarise(rows)
    if args.by_kind:
        out["by_kind"] = {k: summarise(v) for k, v in sorted(kinds.items())}
    print(json.dumps(out, indent=1))


if __name__ == "__main__":
    main()

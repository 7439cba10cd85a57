"""Backgrounds of the kinds people have behind them in calls.

A person composited only onto outdoor frames teaches the network that
"red and skin-like" means person: flags, striped fabric, bookshelves and
posters then leak into the mask.  This module draws the backdrop of a
composite from

- the people-free scenes of the data set (flags, textures and fabrics,
  indoor rooms), the hard negatives (files a free segmenter wrongly calls
  person on) drawn more often;
- flags rendered the way a camera sees them: flat on a wall, waving on a
  pole with folds and shading, or hung beside the shoulders inside a room;
- procedural patterns made on the fly: stripes, checks, text and posters;

and it decorrelates colour: a backdrop may be hue-shifted toward the
person's colours, and the person's clothing toward the backdrop's, so
colour alone never decides.
"""
import os

import cv2
import numpy as np

SCENE_KINDS = ("flag", "texture", "indoor")
# Share of each kind among the scene draws, and how much more often a hard
# negative (selfie_person_fraction above HARD_FRACTION) is drawn.
KIND_SHARE = {"flag": 0.3, "texture": 0.25, "indoor": 0.45}
HARD_FRACTION = 0.02
HARD_BOOST = 3.0
# Flat renderings (vector flags, seals) get a wave or a wall; photographed
# flags are used as they are.
FLAT_FLAG_PREFIXES = ("flag/flagicons", "flag/usstate", "flag/usseal")


def _read_bytes(path):
    with open(path, "rb") as f:
        return np.frombuffer(f.read(), dtype=np.uint8)


def read_manifest(root):
    """{file: selfie_person_fraction} from the scenes' manifest.tsv."""
    out = {}
    with open(os.path.join(root, "manifest.tsv")) as f:
        header = f.readline().rstrip("\n").split("\t")
        col = header.index("selfie_person_fraction")
        for line in f:
            parts = line.rstrip("\n").split("\t")
            try:
                out[parts[0]] = float(parts[col])
            except (IndexError, ValueError):
                out[parts[0]] = 0.0
    return out


class Scenes:
    """Encoded scene images of one split, held in memory, with draw
    weights: each kind takes its KIND_SHARE, hard negatives HARD_BOOST times
    the others of their kind."""

    def __init__(self, root, split="train.txt"):
        with open(os.path.join(root, split)) as f:
            files = [s.strip() for s in f if s.strip()]
        fractions = read_manifest(root)
        self._setup(files, [_read_bytes(os.path.join(root, n)) for n in files],
                    [fractions.get(n, 0.0) for n in files])

    @classmethod
    def from_bytes(cls, files, images, fractions):
        """Scenes whose encoded images are already in memory (a data pack)."""
        self = cls.__new__(cls)
        self._setup(list(files), list(images), list(fractions))
        return self

    def _setup(self, files, images, fractions):
        self.files = files
        self.images = images
        self.fractions = fractions
        kinds = [n.split("/")[0] for n in files]
        w = np.array([HARD_BOOST if f > HARD_FRACTION else 1.0 for f in fractions])
        for kind in SCENE_KINDS:
            sel = np.array([k == kind for k in kinds])
            if sel.any():
                w[sel] *= KIND_SHARE[kind] / w[sel].sum()
        self.p = w / w.sum()
        self.flat = np.array([n.startswith(FLAT_FLAG_PREFIXES) for n in files])
        self.flag = np.array([k == "flag" for k in kinds])
        self.indoor = [i for i, k in enumerate(kinds) if k == "indoor"]

    def __len__(self):
        return len(self.files)

    def get(self, i):
        return cv2.imdecode(self.images[i], cv2.IMREAD_COLOR)

    def draw(self, rng):
        return int(rng.choice(len(self.files), p=self.p))


def wave(flag, rng):
    """A flat flag as cloth: a travelling sine displacement along its
    length (stronger away from the pole) with matching folds' shading."""
    h, w = flag.shape[:2]
    pad = int(0.12 * h) + 2
    flag = cv2.copyMakeBorder(flag, pad, pad, 0, 0, cv2.BORDER_CONSTANT,
                              value=(0, 0, 0))
    H = flag.shape[0]
    xs, ys = np.meshgrid(np.arange(w, dtype=np.float32),
                         np.arange(H, dtype=np.float32))
    periods = rng.uniform(0.6, 2.2)
    phase = rng.uniform(0, 2 * np.pi)
    amp = rng.uniform(0.03, 0.1) * h
    t = 2 * np.pi * periods * xs / w + phase + 0.5 * np.pi * ys / H
    grow = 0.3 + 0.7 * xs / w
    dy = amp * grow * np.sin(t)
    dx = 0.25 * amp * grow * np.cos(t)
    src_y = ys - dy
    src_x = np.clip(xs - dx, 0, w - 1)
    out = cv2.remap(flag, src_x, src_y, cv2.INTER_LINEAR,
                    borderMode=cv2.BORDER_CONSTANT, borderValue=(0, 0, 0))
    alpha = cv2.remap(np.ones((H, w), np.float32), src_x, src_y, cv2.INTER_LINEAR,
                      borderMode=cv2.BORDER_CONSTANT, borderValue=0)
    shade = 1.0 + rng.uniform(0.15, 0.4) * grow * np.cos(t)
    out = np.clip(out.astype(np.float32) * shade[..., None], 0, 255).astype(np.uint8)
    return out, alpha


def _place(dst, src, alpha, x0, y0):
    """Blends src (with float alpha) onto dst at (x0, y0), clipped."""
    h, w = src.shape[:2]
    H, W = dst.shape[:2]
    xa, ya, xb, yb = max(0, x0), max(0, y0), min(W, x0 + w), min(H, y0 + h)
    if xa >= xb or ya >= yb:
        return dst
    s = src[ya - y0:yb - y0, xa - x0:xb - x0].astype(np.float32)
    a = alpha[ya - y0:yb - y0, xa - x0:xb - x0, None]
    d = dst[ya:yb, xa:xb].astype(np.float32)
    dst[ya:yb, xa:xb] = (a * s + (1 - a) * d + 0.5).astype(np.uint8)
    return dst


def flag_scene(flag, flat, room, cw, ch, rng):
    """A flag as the camera sees it: waving across the frame, flat on a
    wall, or hanging in a room beside where the person stands."""
    r = rng.random()
    if flat and r < 0.35:
        body, alpha = wave(flag, rng)
        return _cover_blend(room, body, alpha, cw, ch, rng, scale=(1.1, 1.8))
    if r < 0.7 and room is not None:
        # A flag hung in a room: left or right third, partly behind the
        # person that will be pasted in the middle.
        body, alpha = wave(flag, rng) if flat and rng.random() < 0.6 else (
            flag, np.ones(flag.shape[:2], np.float32))
        canvas = cover(room, cw, ch, rng)
        fh = int(ch * rng.uniform(0.35, 0.8))
        fw = max(8, int(body.shape[1] * fh / body.shape[0]))
        body = cv2.resize(body, (fw, fh), interpolation=cv2.INTER_AREA)
        alpha = cv2.resize(alpha, (fw, fh), interpolation=cv2.INTER_LINEAR)
        side = rng.random() < 0.5
        x0 = int(rng.uniform(-0.3 * fw, 0.35 * cw)) if side else int(
            rng.uniform(0.65 * cw - fw, cw - 0.7 * fw))
        y0 = int(rng.uniform(-0.2 * fh, max(1.0, ch - fh)))
        return _place(canvas, body, alpha, x0, y0)
    return cover(flag, cw, ch, rng)


def _cover_blend(room, body, alpha, cw, ch, rng, scale):
    """A waving flag filling most of the frame, the room (or a plain wall)
    showing where the cloth curls away."""
    canvas = cover(room, cw, ch, rng) if room is not None else np.full(
        (ch, cw, 3), rng.integers(40, 230, 3), np.uint8)
    s = max(cw / body.shape[1], ch / body.shape[0]) * rng.uniform(*scale)
    bw, bh = max(8, int(body.shape[1] * s)), max(8, int(body.shape[0] * s))
    body = cv2.resize(body, (bw, bh), interpolation=cv2.INTER_LINEAR)
    alpha = cv2.resize(alpha, (bw, bh), interpolation=cv2.INTER_LINEAR)
    x0 = int(rng.integers(min(0, cw - bw), 1))
    y0 = int(rng.integers(min(0, ch - bh), 1))
    return _place(canvas, body, alpha, x0, y0)


def cover(img, w, h, rng):
    """Scales img to cover w x h and crops a random window (flipped half
    the time)."""
    ih, iw = img.shape[:2]
    s = max(w / iw, h / ih) * rng.uniform(1.0, 1.3)
    nw, nh = max(w, int(round(iw * s))), max(h, int(round(ih * s)))
    img = cv2.resize(img, (nw, nh), interpolation=cv2.INTER_LINEAR)
    x = int(rng.integers(0, nw - w + 1))
    y = int(rng.integers(0, nh - h + 1))
    img = img[y:y + h, x:x + w]
    return np.ascontiguousarray(img[:, ::-1] if rng.random() < 0.5 else img)


def _palette(rng, n):
    """n saturated or skin-like colours: reds, oranges and skin tones, the
    colours the network must not take for a person, come often."""
    hues = np.where(rng.random(n) < 0.5, rng.uniform(0, 25, n),
                    rng.uniform(0, 180, n))
    sats = rng.uniform(60, 255, n)
    vals = rng.uniform(60, 255, n)
    hsv = np.stack([hues, sats, vals], 1).astype(np.uint8)[None]
    return cv2.cvtColor(hsv, cv2.COLOR_HSV2BGR)[0]


def procedural(cw, ch, rng):
    """Stripes, checks, text or a wall of posters, drawn on the fly."""
    kind = rng.integers(4)
    cols = _palette(rng, 6)
    if kind == 0:                                   # stripes, any angle
        period = rng.uniform(6, 60)
        ang = rng.uniform(0, np.pi)
        ys, xs = np.mgrid[0:ch, 0:cw].astype(np.float32)
        u = (xs * np.cos(ang) + ys * np.sin(ang)) / period
        idx = np.floor(u).astype(np.int64) % int(rng.integers(2, 4))
        img = cols[idx]
    elif kind == 1:                                 # checks / tartan
        px, py = rng.uniform(6, 50, 2)
        ys, xs = np.mgrid[0:ch, 0:cw].astype(np.float32)
        idx = (np.floor(xs / px) + np.floor(ys / py)).astype(np.int64) % 2
        img = cols[idx]
        if rng.random() < 0.5:
            stripe = ((xs % px) < px * 0.2) | ((ys % py) < py * 0.2)
            img[stripe] = cols[2]
    elif kind == 2:                                 # text on a board
        img = np.full((ch, cw, 3), cols[0], np.uint8)
        for _ in range(int(rng.integers(4, 14))):
            word = "".join(chr(int(c)) for c in rng.integers(65, 91, rng.integers(2, 9)))
            org = (int(rng.integers(-20, cw)), int(rng.integers(10, ch + 10)))
            cv2.putText(img, word, org, int(rng.integers(0, 8)),
                        float(rng.uniform(0.5, 3.0)), tuple(int(c) for c in cols[1 + rng.integers(5)]),
                        int(rng.integers(1, 6)), cv2.LINE_AA)
    else:                                           # posters on a wall
        img = np.full((ch, cw, 3), cols[0], np.uint8)
        for _ in range(int(rng.integers(2, 7))):
            w, h = int(rng.uniform(0.15, 0.5) * cw), int(rng.uniform(0.2, 0.6) * ch)
            x, y = int(rng.integers(-w // 2, cw)), int(rng.integers(-h // 2, ch))
            c = tuple(int(v) for v in cols[1 + rng.integers(5)])
            cv2.rectangle(img, (x, y), (x + w, y + h), c, -1)
            cv2.circle(img, (x + w // 2, y + h // 2), max(2, min(w, h) // 4),
                       tuple(int(v) for v in cols[1 + rng.integers(5)]), -1)
    img = np.ascontiguousarray(img, dtype=np.uint8)
    if rng.random() < 0.5:
        img = cv2.GaussianBlur(img, (0, 0), rng.uniform(0.5, 2.5))
    return img


def _shift_hue(img, delta, mask=None):
    """Rotates the hue of img (B,G,R) by delta (OpenCV hue units, 0..180),
    only where mask is set when one is given."""
    hsv = cv2.cvtColor(img, cv2.COLOR_BGR2HSV)
    h = hsv[..., 0].astype(np.int32)
    shifted = ((h + int(delta)) % 180).astype(np.uint8)
    if mask is None:
        hsv[..., 0] = shifted
    else:
        hsv[..., 0] = np.where(mask, shifted, hsv[..., 0])
    return cv2.cvtColor(hsv, cv2.COLOR_HSV2BGR)


def _mean_hue(img, mask=None):
    hsv = cv2.cvtColor(img, cv2.COLOR_BGR2HSV)
    sel = hsv[..., 1] > 40
    if mask is not None:
        sel &= mask
    if not sel.any():
        return None
    ang = hsv[..., 0][sel].astype(np.float32) * (np.pi / 90.0)
    return float(np.arctan2(np.sin(ang).mean(), np.cos(ang).mean()) * 90.0 / np.pi) % 180


def _skin(img):
    """A loose skin-colour test in YCrCb: kept out of clothing hue shifts."""
    ycc = cv2.cvtColor(img, cv2.COLOR_BGR2YCrCb)
    cr, cb = ycc[..., 1], ycc[..., 2]
    return (cr > 135) & (cr < 180) & (cb > 85) & (cb < 135)


def decorrelate(person, person_mask, bg, rng):
    """Colour decorrelation: half the time the backdrop's hue moves to the
    person's, a quarter of the time the person's clothing (not skin) takes
    the backdrop's hue.  Returns (person, bg)."""
    r = rng.random()
    if r < 0.5:
        target = _mean_hue(person, person_mask)
        if target is not None:
            src = _mean_hue(bg)
            if src is not None:
                bg = _shift_hue(bg, target - src + rng.uniform(-8, 8))
    elif r < 0.75:
        target = _mean_hue(bg)
        src = _mean_hue(person, person_mask)
        if target is not None and src is not None:
            cloth = person_mask & ~_skin(person)
            person = _shift_hue(person, target - src + rng.uniform(-8, 8), cloth)
    return person, bg

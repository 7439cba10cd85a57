"""Training and validation samples as the filter shows frames to the network.

Most stills are portrait-orientation photos; the deployed network sees
landscape camera frames (16:9, 4:3, sometimes portrait phone frames) squeezed
to the work size without keeping the aspect ratio, after an I420 round trip.
Each training sample therefore builds a camera frame first: the photo is
placed into a wider canvas (composited onto another background, or with its
own borders extended), at a random scale and position, then jittered in
colour, blurred, noised and JPEG-compressed, and finally passed through the
I420 squeeze of tools/train/i420.py.  The dataset is preloaded as encoded
bytes (about 150 MB) and decoded per sample.
"""
import os

import cv2
import numpy as np

from tools.train import i420, scenes

# The datasets live beside the repository (../shared/data seen from its root);
# TAVRO_DATA points elsewhere.
_REPO = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
DATA_ROOT = os.environ.get("TAVRO_DATA") or os.path.join(
    os.path.dirname(_REPO), "shared", "data")
PORTRAIT = os.path.join(DATA_ROOT, "portrait")
BACKGROUNDS = os.path.join(DATA_ROOT, "backgrounds")
SCENES = os.path.join(DATA_ROOT, "scenes")
CLIPS = os.path.join(DATA_ROOT, "clips")
# Teacher masks written by tools/distill/teacher.py, one folder per teacher
# (see teacher_dir).
TEACHER_CACHE = os.path.join(_REPO, "tools", "train", "cache")
# Teacher-labelled clip frames written by tools/distill/clips.py; their stems
# start with CLIP_PREFIX and their mask is the teacher's.
CLIP_CACHE = os.path.join(_REPO, "tools", "train", "cache", "clips")
CLIP_PREFIX = "clip_"
# The hard-background validation frames written by tools/train/hardval.py.
HARDVAL_CACHE = os.path.join(_REPO, "tools", "train", "cache", "hardval")
HARDVAL_PREFIX = "hardval_"

cv2.setNumThreads(1)


def teacher_dir(teacher):
    """Folder of a teacher's soft masks: cache/teacher for the selfie
    segmenter alone (the first teacher), cache/teacher-NAME for others, such
    as "selfie+rvm", the mean of two."""
    return os.path.join(TEACHER_CACHE, "teacher" if teacher == "selfie" else "teacher-" + teacher)


def read_list(name):
    """Stems of a list in the portrait set, or of a list file given by path."""
    path = name if os.path.isabs(name) else os.path.join(PORTRAIT, name)
    with open(path) as f:
        return [s.strip() for s in f if s.strip()]


def training_stems(clip_frames=False):
    """Stems of train.txt, plus the teacher-labelled clip frames if asked."""
    stems = read_list("train.txt")
    if clip_frames:
        stems += read_list(os.path.join(CLIP_CACHE, "list.txt"))
    return stems


def _pair_paths(stem):
    root = (CLIP_CACHE if stem.startswith(CLIP_PREFIX) else
            HARDVAL_CACHE if stem.startswith(HARDVAL_PREFIX) else PORTRAIT)
    return (os.path.join(root, "images", stem + ".jpg"),
            os.path.join(root, "masks", stem + ".png"))


def _read_bytes(path):
    with open(path, "rb") as f:
        return np.frombuffer(f.read(), dtype=np.uint8)


class Stills:
    """Encoded image/mask pairs of one list, held in memory.

    With teacher_weight > 0 each still also carries the teacher's soft mask:
    get() then returns the masks stacked as two channels (truth, teacher),
    every geometric step of a sample moves both alike, and the target
    becomes (1 - w) * truth + w * teacher."""

    def __init__(self, stems, teacher_weight=0.0, teacher="selfie"):
        self.stems = list(stems)
        paths = [_pair_paths(s) for s in self.stems]
        self.images = [_read_bytes(im) for im, _ in paths]
        self.masks = [_read_bytes(m) for _, m in paths]
        self.teacher_weight = teacher_weight
        self.soft = []
        if teacher_weight > 0:
            folder = teacher_dir(teacher)
            missing = [s for s in self.stems
                       if not os.path.exists(os.path.join(folder, s + ".png"))]
            if missing:
                raise FileNotFoundError(
                    "%d teacher masks missing in %s (first %s); make them with "
                    "python3 -m tools.distill.teacher --teacher %s" % (
                        len(missing), folder, missing[0], teacher))
            self.soft = [_read_bytes(os.path.join(folder, s + ".png"))
                         for s in self.stems]

    @classmethod
    def from_bytes(cls, stems, images, masks, soft, teacher_weight=0.0):
        """Stills whose encoded images and masks are already in memory (a
        data pack); soft: the teacher's encoded masks, or [] for none."""
        self = cls.__new__(cls)
        self.stems, self.images, self.masks = list(stems), list(images), list(masks)
        self.soft = list(soft) if teacher_weight > 0 else []
        self.teacher_weight = teacher_weight
        return self

    def __len__(self):
        return len(self.stems)

    def get(self, i):
        img = cv2.imdecode(self.images[i], cv2.IMREAD_COLOR)
        mask = cv2.imdecode(self.masks[i], cv2.IMREAD_GRAYSCALE)
        if mask.shape != img.shape[:2]:
            # Nearest for masks stored at the image's size but off by a
            # pixel; bilinear for the half-size masks of a data pack.
            small = mask.shape[0] * 3 < img.shape[0] * 2
            mask = cv2.resize(mask, (img.shape[1], img.shape[0]),
                              interpolation=cv2.INTER_LINEAR if small else cv2.INTER_NEAREST)
        if self.soft:
            soft = cv2.imdecode(self.soft[i], cv2.IMREAD_GRAYSCALE)
            if soft.shape != mask.shape:
                soft = cv2.resize(soft, (mask.shape[1], mask.shape[0]),
                                  interpolation=cv2.INTER_LINEAR)
            mask = np.dstack([mask, soft])
        return img, mask


def _truth(mask):
    """The ground-truth channel of a mask that may carry a teacher channel."""
    return mask[..., 0] if mask.ndim == 3 else mask


def target(mask, width, height, teacher_weight):
    """Float training target at the work size from a one- or two-channel
    mask."""
    t = cv2.resize(mask, (width, height),
                   interpolation=cv2.INTER_AREA).astype(np.float32) / 255.0
    if t.ndim == 3:
        t = (1.0 - teacher_weight) * t[..., 0] + teacher_weight * t[..., 1]
    return t


class Backgrounds:
    """The outdoor people-free frames."""

    def __init__(self):
        names = sorted(n for n in os.listdir(BACKGROUNDS) if n.endswith(".jpg"))
        self.images = [_read_bytes(os.path.join(BACKGROUNDS, n)) for n in names]

    @classmethod
    def from_bytes(cls, images):
        self = cls.__new__(cls)
        self.images = list(images)
        return self

    def __len__(self):
        return len(self.images)

    def get(self, i):
        return cv2.imdecode(self.images[i], cv2.IMREAD_COLOR)


# Where a composite's backdrop comes from: the scenes people sit in front of
# (flags, textures, rooms), patterns drawn on the fly, or the outdoor frames.
BACKDROP_SHARE = {"scene": 0.62, "procedural": 0.13, "outdoor": 0.25}
# Share of all samples that are a backdrop alone, with an empty mask: the
# network must also learn to say "nobody here" on a flag or a shelf.
NEGATIVE_SHARE = 0.04


class Backdrops:
    """Backdrops for composites: outdoor frames, the scenes of one split
    (see tools/train/scenes.py) and procedural patterns."""

    def __init__(self, split="train.txt"):
        self.outdoor = Backgrounds()
        self.scenes = scenes.Scenes(SCENES, split)

    @classmethod
    def from_parts(cls, outdoor, scene_set):
        self = cls.__new__(cls)
        self.outdoor, self.scenes = outdoor, scene_set
        return self

    def __len__(self):
        return len(self.outdoor) + len(self.scenes)

    def get(self, i):
        if i < len(self.outdoor):
            return self.outdoor.get(i)
        return self.scenes.get(i - len(self.outdoor))

    def canvas(self, cw, ch, rng):
        """A cw x ch backdrop."""
        kinds, probs = zip(*BACKDROP_SHARE.items())
        kind = kinds[rng.choice(len(kinds), p=np.array(probs) / sum(probs))]
        if kind == "procedural":
            return scenes.procedural(cw, ch, rng)
        if kind == "outdoor":
            return scenes.cover(self.outdoor.get(int(rng.integers(len(self.outdoor)))),
                                cw, ch, rng)
        i = self.scenes.draw(rng)
        img = self.scenes.get(i)
        if self.scenes.flag[i]:
            room = self.scenes.get(int(rng.choice(self.scenes.indoor))) if (
                self.scenes.indoor) else None
            return scenes.flag_scene(img, bool(self.scenes.flat[i]), room, cw, ch, rng)
        return scenes.cover(img, cw, ch, rng)


def _backdrop(backgrounds, cw, ch, rng):
    """A backdrop canvas from whatever backgrounds object the caller has:
    Backdrops draws its own mix, a plain list of frames is covered."""
    if hasattr(backgrounds, "canvas"):
        return backgrounds.canvas(cw, ch, rng)
    bg = backgrounds.get(int(rng.integers(len(backgrounds))))
    if rng.random() < 0.5:
        bg = bg[:, ::-1]
    return _cover(bg, cw, ch, rng)


# Camera frame shapes the filter meets: (aspect w/h, probability).
FRAME_ASPECTS = ((16 / 9, 0.55), (4 / 3, 0.25), (9 / 16, 0.12), (3 / 4, 0.08))
# Share of samples that take the photo itself as the frame; the rest place
# the person into a wider frame (border extension or a new background).
STILL_SHARE = 0.5
# Share of the other samples that extend the photo's own borders; the rest
# are composites onto a backdrop.
EXTEND_SHARE = 0.3
CANVAS_SHORT = 256          # canvas short side in pixels before the squeeze


def _cover(img, w, h, rng):
    """Scales img to cover w x h and crops a random window."""
    ih, iw = img.shape[:2]
    s = max(w / iw, h / ih) * rng.uniform(1.0, 1.3)
    nw, nh = max(w, int(round(iw * s))), max(h, int(round(ih * s)))
    img = cv2.resize(img, (nw, nh), interpolation=cv2.INTER_LINEAR)
    x = rng.integers(0, nw - w + 1)
    y = rng.integers(0, nh - h + 1)
    return img[y:y + h, x:x + w]


def _source_geometry(img, mask, rng):
    """Flip and a small rotation of the photo (borders replicated)."""
    if rng.random() < 0.5:
        img, mask = img[:, ::-1], mask[:, ::-1]
    if rng.random() < 0.4:
        h, w = mask.shape[:2]
        m = cv2.getRotationMatrix2D((w / 2, h / 2), rng.uniform(-12, 12), 1.0)
        img = cv2.warpAffine(img, m, (w, h), flags=cv2.INTER_LINEAR,
                             borderMode=cv2.BORDER_REPLICATE)
        mask = cv2.warpAffine(mask, m, (w, h), flags=cv2.INTER_LINEAR,
                              borderMode=cv2.BORDER_REPLICATE)
    return np.ascontiguousarray(img), np.ascontiguousarray(mask)


def _canvas_size(rng):
    aspects, probs = zip(*FRAME_ASPECTS)
    a = aspects[rng.choice(len(aspects), p=np.array(probs) / sum(probs))]
    if a >= 1:
        h = CANVAS_SHORT
        w = int(round(h * a))
    else:
        w = CANVAS_SHORT
        h = int(round(w / a))
    return w + w % 2, h + h % 2


def _placement(img, cw, ch, rng, full_body):
    """Scaled size and top-left corner of the photo on the canvas.  Photos
    cut at the chest stay cut by the frame's bottom edge; full-body photos
    may stand anywhere."""
    ih, iw = img.shape[:2]
    rel = np.exp(rng.uniform(np.log(0.5), np.log(1.35)))  # photo height / canvas
    ph = max(8, int(round(ch * rel)))
    pw = max(8, int(round(iw * ph / ih)))
    lo, hi = -0.3 * pw, cw - 0.7 * pw
    if hi < lo:                       # photo far wider than the canvas
        lo, hi = cw - pw, 0.0
    x0 = int(round(rng.uniform(lo, hi)))
    bottom = ch + rng.uniform(-0.25 if full_body else 0.0, 0.3) * ph
    y0 = int(round(bottom - ph))
    return pw, ph, x0, y0


# Share of composites from full-body photos that shrink the person to a small
# figure in a wide scene (people across a room, a street, a stage).
SMALL_SHARE = 0.3


def _person_crop(img, mask, rng):
    """The photo cut down to its person's bounding box plus a small margin,
    or None when the mask is empty."""
    ys, xs = np.nonzero(_truth(mask) > 127)
    if len(xs) == 0:
        return None
    h, w = mask.shape[:2]
    mx = int((xs.max() - xs.min()) * rng.uniform(0.03, 0.15)) + 2
    my = int((ys.max() - ys.min()) * rng.uniform(0.03, 0.15)) + 2
    x0, x1 = max(0, xs.min() - mx), min(w, xs.max() + 1 + mx)
    y0, y1 = max(0, ys.min() - my), min(h, ys.max() + 1 + my)
    return img[y0:y1, x0:x1], mask[y0:y1, x0:x1]


def _small_placement(img, cw, ch, rng):
    """Size and corner of a person cropped to its box, 0.15 to 0.5 of the
    frame height, standing somewhere in the lower two thirds."""
    ih, iw = img.shape[:2]
    rel = np.exp(rng.uniform(np.log(0.15), np.log(0.5)))
    ph = max(8, int(round(ch * rel)))
    pw = max(4, int(round(iw * ph / ih)))
    lo, hi = -0.2 * pw, cw - 0.8 * pw
    if hi < lo:                       # a lying person far wider than the frame
        lo, hi = cw - pw, 0.0
    x0 = int(round(rng.uniform(lo, hi)))
    bottom = rng.uniform(max(ph, ch / 3), ch + 0.1 * ph)
    return pw, ph, x0, int(round(bottom - ph))


def _paste(dst, src, x0, y0):
    """Pastes src onto dst at (x0, y0) with clipping; returns the region."""
    h, w = src.shape[:2]
    H, W = dst.shape[:2]
    xa, ya, xb, yb = max(0, x0), max(0, y0), min(W, x0 + w), min(H, y0 + h)
    if xa >= xb or ya >= yb:
        return None
    dst[ya:yb, xa:xb] = src[ya - y0:yb - y0, xa - x0:xb - x0]
    return ya, yb, xa, xb


def _extend(img, mask, pw, ph, x0, y0, cw, ch, rng):
    """The photo on the canvas with its own borders extended to fill it."""
    img = cv2.resize(img, (pw, ph), interpolation=cv2.INTER_AREA)
    mask = cv2.resize(mask, (pw, ph), interpolation=cv2.INTER_LINEAR)
    # Crop what falls outside, then extend what is missing.
    cx0, cy0 = max(0, -x0), max(0, -y0)
    cx1, cy1 = min(pw, cw - x0), min(ph, ch - y0)
    if cx0 >= cx1 or cy0 >= cy1:
        return None
    img, mask = img[cy0:cy1, cx0:cx1], mask[cy0:cy1, cx0:cx1]
    left, top = max(0, x0), max(0, y0)
    right, bottom = cw - left - img.shape[1], ch - top - img.shape[0]
    mode = cv2.BORDER_REFLECT_101 if rng.random() < 0.7 else cv2.BORDER_REPLICATE
    try:
        img = cv2.copyMakeBorder(img, top, bottom, left, right, mode)
        mask = cv2.copyMakeBorder(mask, top, bottom, left, right, mode)
    except cv2.error:
        img = cv2.copyMakeBorder(img, top, bottom, left, right, cv2.BORDER_REPLICATE)
        mask = cv2.copyMakeBorder(mask, top, bottom, left, right, cv2.BORDER_REPLICATE)
    return img, mask


def _composite(img, mask, pw, ph, x0, y0, bg):
    """The person (by its true mask) alpha-blended onto a background canvas.
    A teacher channel is capped by the true alpha: whatever the teacher saw
    outside the pasted person is now background."""
    img = cv2.resize(img, (pw, ph), interpolation=cv2.INTER_AREA)
    mask = cv2.resize(mask, (pw, ph), interpolation=cv2.INTER_LINEAR)
    ch, cw = bg.shape[:2]
    layer = np.zeros_like(bg)
    out_mask = np.zeros((ch, cw) + mask.shape[2:], np.uint8)
    if _paste(layer, img, x0, y0) is None:
        return bg, out_mask
    _paste(out_mask, mask, x0, y0)
    alpha = _truth(out_mask)
    a = alpha.astype(np.float32) / 255.0
    out = cv2.blendLinear(layer, bg, a, 1.0 - a)
    if out_mask.ndim == 3:
        out_mask[..., 1] = np.minimum(out_mask[..., 1], alpha)
    return out, out_mask


def _photometric(img, rng):
    """Colour, brightness, contrast and gamma jitter (one lookup table per
    channel), saturation, blur, sensor noise and JPEG artefacts."""
    out = img
    if rng.random() < 0.9:
        contrast = rng.uniform(0.65, 1.35)
        bright = rng.uniform(-35, 35)
        gains = rng.uniform(0.88, 1.12, size=3)
        gamma = rng.uniform(0.7, 1.4) if rng.random() < 0.2 else 1.0
        mean = float(img.mean())
        q = np.arange(256, dtype=np.float64)
        q = 255.0 * (q / 255.0) ** gamma
        luts = [np.clip(((q - mean) * contrast + mean + bright) * g + 0.5,
                        0, 255).astype(np.uint8) for g in gains]
        out = cv2.merge([cv2.LUT(out[..., k], luts[k]) for k in range(3)])
    if rng.random() < 0.5:
        grey = cv2.cvtColor(cv2.cvtColor(out, cv2.COLOR_BGR2GRAY),
                            cv2.COLOR_GRAY2BGR)
        s = rng.uniform(0.5, 1.4)
        out = cv2.addWeighted(out, s, grey, 1.0 - s, 0.0)
    r = rng.random()
    if r < 0.2:
        out = cv2.GaussianBlur(out, (0, 0), rng.uniform(0.5, 1.8))
    elif r < 0.28:
        k = int(rng.integers(3, 8))
        kern = np.zeros((k, k), np.float32)
        kern[k // 2, :] = 1.0 / k
        m = cv2.getRotationMatrix2D((k / 2 - 0.5, k / 2 - 0.5), rng.uniform(0, 180), 1)
        kern = cv2.warpAffine(kern, m, (k, k))
        out = cv2.filter2D(out, -1, kern / max(kern.sum(), 1e-6))
    if rng.random() < 0.3:
        sigma = rng.uniform(2, 9)
        noise = rng.standard_normal(out.shape, dtype=np.float32) * sigma
        out = cv2.add(out, noise, dtype=cv2.CV_8U)
    if rng.random() < 0.3:
        q = int(rng.integers(25, 90))
        ok, enc = cv2.imencode(".jpg", out, (cv2.IMWRITE_JPEG_QUALITY, q))
        if ok:
            out = cv2.imdecode(enc, cv2.IMREAD_COLOR)
    return out


FULL_BODY_SOURCES = ("ccp_", "coco128_")
# Studio photos on plain backdrops: used only as cut-outs pasted onto a scene.
# As frames of their own, or with their borders extended, they would teach
# "a person is whatever stands in front of white".
CUTOUT_SOURCES = ("viton_",)


def camera_frame(stills, backgrounds, index, rng):
    """A camera frame (B,G,R canvas) and its person mask (uint8) built from
    one still."""
    full_body = stills.stems[index].startswith(FULL_BODY_SOURCES)
    cutout = stills.stems[index].startswith(CUTOUT_SOURCES)
    img, mask = _source_geometry(*stills.get(index), rng)
    if hasattr(backgrounds, "canvas") and rng.random() < NEGATIVE_SHARE:
        cw, ch = _canvas_size(rng)
        return backgrounds.canvas(cw, ch, rng), np.zeros(
            (ch, cw) + mask.shape[2:], np.uint8)
    mode = rng.random()
    if mode < STILL_SHARE and not cutout:
        # The photo itself as the frame (portrait phone frames, and the
        # geometry of evaluating on the stills directly): half of them whole,
        # half a random window of at least 3/4 of each side.
        h, w = mask.shape[:2]
        z = 1.0 if rng.random() < 0.5 else rng.uniform(0.75, 1.0)
        cw, chh = max(16, int(w * z)), max(16, int(h * z))
        x = int(rng.integers(0, w - cw + 1))
        y = int(rng.integers(0, h - chh + 1))
        return img[y:y + chh, x:x + cw], mask[y:y + chh, x:x + cw]
    cw, ch = _canvas_size(rng)
    crop = _person_crop(img, mask, rng) if (
        full_body and rng.random() < SMALL_SHARE) else None
    if crop is not None:
        # Small figures always go onto a person-free background: extending
        # a tight crop's borders would smear the person across the frame,
        # and a blurred still behind them would be a large person labelled
        # as background.
        img, mask = crop
        pw, ph, x0, y0 = _small_placement(img, cw, ch, rng)
    else:
        pw, ph, x0, y0 = _placement(img, cw, ch, rng, full_body)
    if (crop is None and not cutout
            and mode < STILL_SHARE + (1.0 - STILL_SHARE) * EXTEND_SHARE):
        res = _extend(img, mask, pw, ph, x0, y0, cw, ch, rng)
        if res is not None:
            return res
    if crop is not None or cutout or rng.random() < 0.9:
        bg = _backdrop(backgrounds, cw, ch, rng)
        if rng.random() < 0.6:
            img, bg = scenes.decorrelate(img, _truth(mask) > 127, bg, rng)
    else:
        # Another still as the backdrop; its own person counts as background
        # in the target only when it is fully covered, so blur it away.
        other, _ = stills.get(int(rng.integers(len(stills))))
        bg = _cover(cv2.GaussianBlur(other, (0, 0), rng.uniform(3, 8)), cw, ch, rng)
    return _composite(img, mask, pw, ph, x0, y0, bg)


def training_sample(stills, backgrounds, index, width, height, rng):
    """(B,G,R bytes height x width x 3, float target height x width in [0,1])."""
    frame, mask = camera_frame(stills, backgrounds, index, rng)
    frame = _photometric(frame, rng)
    h, w = mask.shape[:2]
    frame, mask = frame[:h - h % 2, :w - w % 2], mask[:h - h % 2, :w - w % 2]
    x = i420.network_input(frame, width, height)
    return x, target(mask, width, height, stills.teacher_weight)


def training_batch(stills, backgrounds, indices, width, height, rng):
    xs, ts = [], []
    for i in indices:
        try:
            x, t = training_sample(stills, backgrounds, int(i), width, height, rng)
        except Exception as e:  # a bad draw must not stop a long run
            print("sample %s failed (%s); using the plain still" % (
                stills.stems[int(i)], e), flush=True)
            img, mask = stills.get(int(i))
            x = still_as_frame(img, width, height)
            t = target(mask, width, height, stills.teacher_weight)
        xs.append(x)
        ts.append(t)
    return np.stack(xs), np.stack(ts)


def still_as_frame(img, width, height):
    """Evaluation input: the whole still taken as the camera frame."""
    h, w = img.shape[:2]
    return i420.network_input(img[:h - h % 2, :w - w % 2], width, height)

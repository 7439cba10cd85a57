"""Layer arithmetic of the engine that PyTorch does not offer as is."""
import numpy as np
import torch


def round_half_away(x):
    """std::round on float32 values (halves away from zero), exactly."""
    x = np.asarray(x, dtype=np.float32)
    t = np.trunc(x)
    frac = np.abs(x - t)          # exact for float32
    return (t + np.sign(x) * (frac >= 0.5)).astype(np.int64)


def resize_out_size(size, scale):
    return int(round_half_away(np.float32(size) * np.float32(scale)))


def nearest_indices(src, dst, align_corners):
    """Source index of every destination index, in the engine's float32 steps."""
    if align_corners and dst >= 2:
        ratio = np.float32(src - 1) / np.float32(dst - 1)
    else:
        ratio = np.float32(src) / np.float32(dst)
    f = np.arange(dst, dtype=np.float32) * ratio
    idx = round_half_away(f) if align_corners else np.floor(f).astype(np.int64)
    return np.minimum(idx, src - 1)


_index_cache = {}


def resize_nearest(x, scale_w, scale_h, align_corners):
    """Nearest-neighbour resize of an NCHW tensor by index gather."""
    _, _, h, w = x.shape
    oh, ow = resize_out_size(h, scale_h), resize_out_size(w, scale_w)
    key = (h, w, oh, ow, bool(align_corners), x.device)
    if key not in _index_cache:
        iy = torch.from_numpy(nearest_indices(h, oh, align_corners)).to(x.device)
        ix = torch.from_numpy(nearest_indices(w, ow, align_corners)).to(x.device)
        _index_cache[key] = (iy, ix)
    iy, ix = _index_cache[key]
    return x.index_select(2, iy).index_select(3, ix)


def shuffle_split2(a, b, groups, outputs):
    """Concatenates a and b along channels, shuffles with 2 groups (interleave:
    out 2j = a[j], out 2j+1 = b[j]) and splits into `outputs` equal parts."""
    if groups != 2:
        raise NotImplementedError("only 2 shuffle groups are used")
    n, k, h, w = a.shape
    y = torch.stack((a, b), dim=2).reshape(n, 2 * k, h, w)
    if outputs == 1:
        return (y,)
    return (y[:, :k], y[:, k:])


def mask_bytes(prob):
    """Mask layer: trunc(v * 255) clamped to [0, 255], as uint8."""
    v = torch.trunc(prob.float() * 255.0)
    return v.clamp(0, 255).to(torch.uint8)

"""Segmentation loss: boundary-weighted BCE plus soft Dice, and optionally
the Lovász hinge, a convex surrogate of 1 - IoU."""
import torch
import torch.nn.functional as F


def boundary_band(target, k):
    """1 on pixels within k//2 of the person's outline, else 0."""
    dil = F.max_pool2d(target, k, 1, k // 2)
    ero = -F.max_pool2d(-target, k, 1, k // 2)
    return (dil - ero).clamp(0, 1)


def _jaccard_gradient(gt_sorted):
    """Change of the Jaccard loss as each pixel of the error-sorted order is
    counted wrong in turn (the loss's piecewise-linear extension)."""
    total = gt_sorted.sum()
    inter = total - gt_sorted.cumsum(0)
    union = total + (1.0 - gt_sorted).cumsum(0)
    jaccard = 1.0 - inter / union
    if gt_sorted.numel() > 1:
        jaccard[1:] = jaccard[1:] - jaccard[:-1]
    return jaccard


def lovasz_hinge(logits, target):
    """Mean over the batch of the per-image Lovász hinge.  The target is made
    binary at 0.5 (soft teacher blends included)."""
    out = []
    for lg, tg in zip(logits.flatten(1), (target > 0.5).flatten(1).float()):
        errors = 1.0 - lg * (2.0 * tg - 1.0)
        errors_sorted, order = torch.sort(errors, descending=True)
        grad = _jaccard_gradient(tg[order])
        out.append(torch.dot(F.relu(errors_sorted), grad))
    return torch.stack(out).mean()


# Second differences at the pixel pitch: a ramp or a flat region gives
# nothing, a pattern alternating every pixel (what stride-2 transposed
# convolutions leave when their four phases disagree) gives the most.
_CHECKER_KERNELS = torch.tensor([
    [[0, 0, 0], [0, 1, -1], [0, -1, 1]],
    [[0, 0, 0], [1, -2, 1], [0, 0, 0]],
    [[0, 1, 0], [0, -2, 0], [0, 1, 0]],
], dtype=torch.float32).unsqueeze(1) / 4.0


def checkerboard_energy(p):
    """Per-pixel energy of the pixel-pitch alternation of a probability map
    (N x 1 x H x W), inside its soft band (0.02 < p < 0.98) only: hard
    edges are not touched, half-transparent regions must be smooth."""
    d = F.conv2d(p, _CHECKER_KERNELS.to(p.dtype), padding=1)
    band = ((p > 0.02) & (p < 0.98)).to(p.dtype)
    return (d * d).sum(1, keepdim=True) * band, band


def segmentation_loss(logits, target, boundary_weight=4.0, lovasz_weight=0.0,
                      checker_weight=0.0):
    """logits, target: N x 1 x H x W; target in [0, 1]."""
    k = max(3, (target.shape[-1] // 48) | 1)   # about 7 px at 320 wide
    w = 1.0 + boundary_weight * boundary_band(target, k)
    bce = F.binary_cross_entropy_with_logits(logits, target, weight=w,
                                             reduction="sum") / w.sum()
    p = torch.sigmoid(logits)
    inter = (p * target).sum(dim=(1, 2, 3))
    total = p.sum(dim=(1, 2, 3)) + target.sum(dim=(1, 2, 3))
    dice = 1.0 - (2.0 * inter + 1.0) / (total + 1.0)
    loss = bce + dice.mean()
    if lovasz_weight > 0:
        loss = loss + lovasz_weight * lovasz_hinge(logits, target)
    if checker_weight > 0:
        energy, band = checkerboard_energy(p)
        loss = loss + checker_weight * energy.sum() / (band.sum() + 1.0) * 100.0
    return loss

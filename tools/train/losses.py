"""Segmentation loss: boundary-weighted BCE plus soft Dice."""
import torch
import torch.nn.functional as F


def boundary_band(target, k):
    """1 on pixels within k//2 of the person's outline, else 0."""
    dil = F.max_pool2d(target, k, 1, k // 2)
    ero = -F.max_pool2d(-target, k, 1, k // 2)
    return (dil - ero).clamp(0, 1)


def segmentation_loss(logits, target, boundary_weight=4.0):
    """logits, target: N x 1 x H x W; target in [0, 1]."""
    k = max(3, (target.shape[-1] // 48) | 1)   # about 7 px at 320 wide
    w = 1.0 + boundary_weight * boundary_band(target, k)
    bce = F.binary_cross_entropy_with_logits(logits, target, weight=w,
                                             reduction="sum") / w.sum()
    p = torch.sigmoid(logits)
    inter = (p * target).sum(dim=(1, 2, 3))
    total = p.sum(dim=(1, 2, 3)) + target.sum(dim=(1, 2, 3))
    dice = 1.0 - (2.0 * inter + 1.0) / (total + 1.0)
    return bce + dice.mean()

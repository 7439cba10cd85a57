"""Validation through the twin: every still of a list taken as the camera
frame, squeezed to the work size through I420, masks scaled back to the
still's size and compared with its ground truth (person = byte >= 128)."""
import cv2
import numpy as np
import torch

from tools.train import data
from tools.twin import ops


class ValSet:
    """Network inputs and ground truths of one list at one work size."""

    def __init__(self, stems, width, height, stills=None):
        self.stems = list(stems)
        self.width, self.height = width, height
        stills = stills if stills is not None else data.Stills(self.stems)
        xs, self.truth = [], []
        for i in range(len(stills)):
            img, mask = stills.get(i)
            h, w = mask.shape
            xs.append(data.still_as_frame(img, width, height))
            self.truth.append(mask[:h - h % 2, :w - w % 2] >= 128)
        self.inputs = np.stack(xs)
        targets = [cv2.resize(t.astype(np.uint8) * 255, (width, height),
                              interpolation=cv2.INTER_AREA) for t in self.truth]
        self.targets = np.stack(targets).astype(np.float32) / 255.0

    def __len__(self):
        return len(self.stems)


def iou(pred, truth):
    inter = np.logical_and(pred, truth).sum()
    union = np.logical_or(pred, truth).sum()
    return 1.0 if union == 0 else float(inter) / float(union)


def mask_to_still(mask_bytes, shape):
    """Scales a work-size mask back to the still (bilinear, like the filter)."""
    h, w = shape
    return cv2.resize(mask_bytes, (w, h), interpolation=cv2.INTER_LINEAR) >= 128


def evaluate(net, valset, loss_fn=None, batch=16):
    """Returns dict(mean_iou, loss, ious (per image), by_source, fp_rate:
    the share of all background pixels called person)."""
    was_training = net.training
    net.eval()
    device = next(net.parameters()).device
    ious, losses = [], []
    false_pos, background = 0, 0
    with torch.no_grad():
        for s in range(0, len(valset), batch):
            x = torch.from_numpy(valset.inputs[s:s + batch]).permute(0, 3, 1, 2)
            x = x.float().contiguous(memory_format=torch.channels_last).to(device)
            logits = net(x).float()
            if loss_fn is not None:
                t = torch.from_numpy(valset.targets[s:s + batch]).unsqueeze(1).to(device)
                losses.append(float(loss_fn(logits, t)) * x.shape[0])
            masks = ops.mask_bytes(torch.sigmoid(logits).cpu())[:, 0].numpy()
            for k, m in enumerate(masks):
                truth = valset.truth[s + k]
                pred = mask_to_still(m, truth.shape)
                ious.append(iou(pred, truth))
                false_pos += int(np.logical_and(pred, ~truth).sum())
                background += int((~truth).sum())
    net.train(was_training)
    by_source = {}
    for stem, v in zip(valset.stems, ious):
        by_source.setdefault(stem.split("_")[0], []).append(v)
    return {
        "mean_iou": float(np.mean(ious)),
        "loss": float(np.sum(losses) / len(valset)) if losses else float("nan"),
        "ious": ious,
        "fp_rate": false_pos / max(1, background),
        "by_source": {k: float(np.mean(v)) for k, v in sorted(by_source.items())},
    }

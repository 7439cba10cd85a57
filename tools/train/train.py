"""Trains the twin's weights on CPU, resumable.

Run from the repository root with the interpreter that has torch:
    nice -n 5 /usr/bin/python3 -m tools.train.train --run tools/train/runs/main \
        >/dev/null 2>&1 &
Every few minutes (and after every epoch) the complete state is written to
RUN/last.pt (model, optimizer, epoch, position in the epoch, best figures);
starting again with the same --run resumes from it.  With an empty run folder
--init (default tools/train/checkpoint/last.pt when present) seeds the run
from a committed checkpoint.  The best weights by validation IoU go to
RUN/best.pt and, BN-folded, to RUN/best_weights.bin.

Batches are derived from (seed, epoch, batch index) alone, so a resumed run
draws the same samples it would have drawn without the interruption.
"""
import argparse
import contextlib
import copy
import multiprocessing
import json
import math
import os
import queue
import threading
import time

import numpy as np
import torch

from tools.train import data, evaluate, hardness, losses, pack
from tools.twin import weights_io
from tools.twin.net import TwinNet

SMALL_SIZES = ((192, 128), (160, 160))        # (width, height)
DEPLOY_SIZES = ((320, 224), (224, 224))


def parse_args(argv=None):
    p = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    p.add_argument("--run", default="tools/train/runs/main")
    p.add_argument("--init", default="tools/train/checkpoint/last.pt",
                   help="checkpoint to start from when the run folder is empty")
    p.add_argument("--epochs", type=int, default=56)
    p.add_argument("--fine-epochs", type=int, default=8,
                   help="last epochs trained at the deployed sizes")
    p.add_argument("--epoch-samples", type=int, default=2000)
    p.add_argument("--batch", type=int, default=16)
    p.add_argument("--lr", type=float, default=3e-3)
    p.add_argument("--weight-decay", type=float, default=1e-4)
    p.add_argument("--warmup", type=int, default=150, help="warm-up steps")
    p.add_argument("--threads", type=int, default=2)
    p.add_argument("--seed", type=int, default=20261205)
    p.add_argument("--ckpt-minutes", type=float, default=4.0)
    p.add_argument("--budget-minutes", type=float, default=0.0,
                   help="if set, the schedule follows the run's wall-clock "
                        "time instead of the epoch count: the learning rate "
                        "decays over the budget, the last --fine-fraction of "
                        "it trains at the deployed sizes, and the run stops "
                        "when it is spent (for a shared, unpredictable CPU)")
    p.add_argument("--fine-fraction", type=float, default=0.2)
    p.add_argument("--restart-schedule", action="store_true",
                   help="when starting from --init: keep weights and optimizer "
                        "but begin a fresh schedule (step, time, epoch)")
    p.add_argument("--ema", type=float, default=0.999,
                   help="decay of the weight average that is validated and "
                        "exported (0 = validate the raw weights)")
    p.add_argument("--cutout-share", type=float, default=0.15,
                   help="share of samples drawn from the studio cut-out stills")
    p.add_argument("--clip-frames", action="store_true",
                   help="add the teacher-labelled clip frames "
                        "(python3 -m tools.distill.clips first)")
    p.add_argument("--teacher-weight", type=float, default=0.0,
                   help="share of the teacher's soft mask in the target "
                        "(needs python3 -m tools.distill.teacher first)")
    p.add_argument("--teacher", default="selfie",
                   help="whose soft masks: selfie, or selfie+rvm (their mean)")
    p.add_argument("--lovasz-weight", type=float, default=0.0,
                   help="weight of the Lovasz hinge (an IoU surrogate) added "
                        "to the BCE + Dice loss")
    p.add_argument("--checker-weight", type=float, default=0.0,
                   help="weight of the penalty on pixel-pitch alternation "
                        "(grid texture) in the mask's soft band")
    p.add_argument("--hard", default="",
                   help="hard-example mining: a file of per-still scores from "
                        "python3 -m tools.train.hardness")
    p.add_argument("--hard-fraction", type=float, default=0.2,
                   help="the worst share of the scored stills counted hard")
    p.add_argument("--hard-share", type=float, default=0.25,
                   help="share of the scene samples redrawn from the hard stills")
    p.add_argument("--select", default="mean", choices=("mean", "val"),
                   help="what picks best.pt: the mean of val.txt and the "
                        "hard-background frames, or val.txt alone")
    p.add_argument("--val-floor", type=float, default=0.0,
                   help="an epoch whose val.txt IoU is below this never "
                        "becomes best.pt, whatever its score (keeps a run "
                        "on hard frames from trading val.txt away)")
    p.add_argument("--still-share", type=float, default=data.STILL_SHARE,
                   help="share of samples that take the still itself as the frame")
    p.add_argument("--pack", default="",
                   help="read every sample from a data pack (tools.train.pack) "
                        "instead of the data folder")
    p.add_argument("--device", default="cpu", help="cpu, or cuda on a GPU machine")
    p.add_argument("--amp", action="store_true",
                   help="mixed precision (bfloat16 autocast) on a GPU")
    p.add_argument("--workers", type=int, default=0,
                   help="processes building samples (0: one thread beside the step)")
    p.add_argument("--val-size", default="320x224")
    p.add_argument("--val-count", type=int, default=0,
                   help="validate on the first N stills only (0 = all; for trials)")
    return p.parse_args(argv)


class Log:
    def __init__(self, path):
        self.f = open(path, "a", buffering=1)

    def __call__(self, *parts):
        line = time.strftime("%H:%M:%S ") + " ".join(str(p) for p in parts)
        self.f.write(line + "\n")
        print(line, flush=True)


def progress(args, state):
    """Fraction of the run done: by wall-clock budget or by steps."""
    if args.budget_minutes > 0:
        return state["seconds"] / (60.0 * args.budget_minutes)
    steps_per_epoch = args.epoch_samples // args.batch
    return state["step"] / float(args.epochs * steps_per_epoch)


def fine_phase(args, state, epoch):
    if args.budget_minutes > 0:
        return progress(args, state) >= 1.0 - args.fine_fraction
    return epoch >= args.epochs - args.fine_epochs


def finished(args, state):
    if args.budget_minutes > 0:
        return progress(args, state) >= 1.0
    return state["epoch"] >= args.epochs


def lr_at(args, state):
    step = state["step"]
    if step < args.warmup:
        return args.lr * (step + 1) / args.warmup
    t = min(1.0, progress(args, state))
    return args.lr * (0.02 + 0.98 * 0.5 * (1 + math.cos(math.pi * t)))


def batch_plan(args, n_train, epoch, fine, cutout=None, hard=None):
    """Sample indices and size of every batch of one epoch.  Stills marked in
    `cutout` (studio cut-outs) take about --cutout-share of the samples
    whatever their number in the list; the rest share the remainder.  Stills
    marked in `hard` then take over about --hard-share of the other samples,
    on top of their ordinary draws."""
    rng = np.random.default_rng([args.seed, epoch])
    steps = args.epoch_samples // args.batch
    need = steps * args.batch
    ids = np.arange(n_train)
    mixed = cutout is not None and np.any(cutout) and not np.all(cutout)
    if not mixed:
        order = _cycled_permutation(rng, ids, need)
    else:
        cutout = np.asarray(cutout, bool)
        take = rng.random(need) < args.cutout_share
        order = np.empty(need, np.int64)
        order[take] = _cycled_permutation(rng, ids[cutout], int(take.sum()))
        order[~take] = _cycled_permutation(rng, ids[~cutout], int((~take).sum()))
    if hard is not None and np.any(hard) and args.hard_share > 0:
        # Drawn after the plain plan, so a run without hard stills draws
        # exactly what it drew before they existed.
        hard = np.asarray(hard, bool)
        swap = rng.random(need) < args.hard_share
        if mixed:
            swap &= ~cutout[order]
        order[swap] = _cycled_permutation(rng, ids[hard], int(swap.sum()))
    sizes = DEPLOY_SIZES if fine else SMALL_SIZES
    plan = []
    for b in range(steps):
        idx = order[b * args.batch:(b + 1) * args.batch]
        plan.append((idx, sizes[b % len(sizes)]))
    return plan


def _cycled_permutation(rng, ids, count):
    """count entries of ids: whole shuffles of them, one after another."""
    if count == 0:
        return ids[:0]
    reps = count // len(ids) + 1
    return np.concatenate([rng.permutation(ids) for _ in range(reps)])[:count]


def producer(args, stills, backgrounds, epoch, fine, start, q, stop):
    try:
        _produce(args, stills, backgrounds, epoch, fine, start, q, stop)
    except BaseException as e:  # hand the failure to the training loop
        q.put(e)
        raise


def _produce(args, stills, backgrounds, epoch, fine, start, q, stop):
    cutout = [st.startswith(data.CUTOUT_SOURCES) for st in stills.stems]
    hard = None
    if args.hard:
        worst = hardness.hard_stems(args.hard, args.hard_fraction)
        hard = [st in worst for st in stills.stems]
    plan = batch_plan(args, len(stills), epoch, fine, cutout, hard)
    jobs = [(b, plan[b], args.seed, epoch) for b in range(start, len(plan))]
    if args.workers > 1:
        # Forked workers share the encoded data; each batch still comes
        # from (seed, epoch, batch) alone, so the order of work is free.
        global _WORKER_DATA
        _WORKER_DATA = (stills, backgrounds)
        ctx = multiprocessing.get_context("fork")
        with ctx.Pool(args.workers) as pool:
            for item in pool.imap(_build_batch, jobs, chunksize=1):
                if stop.is_set():
                    pool.terminate()
                    return
                q.put(item)
    else:
        _WORKER_DATA = (stills, backgrounds)
        for job in jobs:
            if stop.is_set():
                return
            q.put(_build_batch(job))
    q.put(None)


_WORKER_DATA = None


def _build_batch(job):
    b, (idx, (w, h)), seed, epoch = job
    stills, backgrounds = _WORKER_DATA
    rng = np.random.default_rng([seed, epoch, b])
    x, t = data.training_batch(stills, backgrounds, idx, w, h, rng)
    return b, x, t


class WeightAverage:
    """Exponential moving average of a network's parameters and float
    buffers (the batch-norm running statistics); integer buffers are copied."""

    def __init__(self, net, decay):
        self.module = copy.deepcopy(net)
        self.module.eval()
        self.decay = decay

    @torch.no_grad()
    def update(self, net):
        d = self.decay
        for a, p in zip(self.module.parameters(), net.parameters()):
            a.mul_(d).add_(p.detach(), alpha=1.0 - d)
        for a, b in zip(self.module.buffers(), net.buffers()):
            if a.dtype.is_floating_point:
                a.mul_(d).add_(b, alpha=1.0 - d)
            else:
                a.copy_(b)


def save(path, state):
    tmp = path + ".tmp"
    torch.save(state, tmp)
    os.replace(tmp, path)


class Trainer:
    """One training run: the network, its optimizer and weight average, the
    schedule state, and the data, driven epoch by epoch."""

    def __init__(self, args):
        self.args = args
        data.STILL_SHARE = args.still_share
        torch.set_num_threads(args.threads)
        torch.manual_seed(args.seed)
        os.makedirs(args.run, exist_ok=True)
        self.log = Log(os.path.join(args.run, "train.log"))
        self.last = os.path.join(args.run, "last.pt")
        # Channels-last runs the few-channel full-resolution convolutions of
        # the stem and head about 30 times faster on CPU (2-3x for a step).
        self.device = torch.device(args.device)
        self.net = TwinNet(train_form=True).to(
            self.device, memory_format=torch.channels_last)
        self.opt = torch.optim.AdamW(self.net.parameters(), lr=args.lr,
                                     weight_decay=args.weight_decay)
        # An exponential moving average of the weights (batch-norm statistics
        # included) is what gets validated and exported: it smooths out the
        # last few hundred steps' noise at no training cost.
        self.ema = WeightAverage(self.net, args.ema) if args.ema > 0 else None
        self.state = {"epoch": 0, "batch": 0, "step": 0, "best_iou": -1.0,
                      "history": [], "seconds": 0.0, "fine": False}

    def resume(self):
        """Continues this run's last state, or starts from --init."""
        args, state = self.args, self.state
        src = self.last if os.path.exists(self.last) else (
            args.init if args.init and os.path.exists(args.init) else None)
        if src:
            ck = torch.load(src, map_location=self.device)
            self.net.load_state_dict(ck["model"])
            if "optimizer" in ck:
                self.opt.load_state_dict(ck["optimizer"])
            if self.ema is not None:
                self.ema.module.load_state_dict(ck.get("ema", ck["model"]))
            if "torch_rng" in ck:
                torch.set_rng_state(ck["torch_rng"].cpu())
            for k in state:
                if k in ck:
                    state[k] = ck[k]
            if src != self.last and args.restart_schedule:
                state.update(epoch=0, batch=0, step=args.warmup, seconds=0.0,
                             fine=False, history=[], best_iou=-1.0)
            self.log("resumed from", src, "epoch", state["epoch"], "batch",
                     state["batch"], "best", state["best_iou"])
        self.log("args", json.dumps(vars(args)))

    def load_data(self):
        args = self.args
        vw, vh = (int(v) for v in args.val_size.split("x"))
        if args.pack:
            self.stills, self.backgrounds, val, hard, teacher = pack.load(
                args.pack, args.teacher_weight)
            self.log("pack", args.pack, "teacher", teacher)
            self.valset = evaluate.ValSet(val.stems, vw, vh, stills=val)
            self.hardset = evaluate.ValSet(hard.stems, vw, vh, stills=hard) if hard else None
        else:
            stems = data.training_stems(args.clip_frames)
            self.stills = data.Stills(stems, args.teacher_weight, args.teacher)
            self.backgrounds = data.Backdrops()
            val_stems = data.read_list("val.txt")
            self.valset = evaluate.ValSet(
                val_stems[:args.val_count] if args.val_count else val_stems, vw, vh)
            # The hard-background frames (tools.train.hardval) when they exist.
            hard_list = os.path.join(data.HARDVAL_CACHE, "list.txt")
            self.hardset = evaluate.ValSet(data.read_list(hard_list), vw, vh) if (
                os.path.exists(hard_list)) else None
        self.log("data", len(self.stills), "train stills,", len(self.backgrounds),
                 "backgrounds,", len(self.valset), "val stills at", args.val_size,
                 "hard-background frames:", len(self.hardset) if self.hardset else 0)

    def checkpoint(self):
        extra = {"ema": self.ema.module.state_dict()} if self.ema is not None else {}
        save(self.last, {"model": self.net.state_dict(),
                         "optimizer": self.opt.state_dict(), **extra,
                         "torch_rng": torch.get_rng_state(),
                         "args": vars(self.args), **self.state})

    def step(self, x, t):
        """One optimizer step on a batch; returns the loss."""
        for g in self.opt.param_groups:
            g["lr"] = lr_at(self.args, self.state)
        xt = torch.from_numpy(x).permute(0, 3, 1, 2).float().contiguous(
            memory_format=torch.channels_last).to(self.device, non_blocking=True)
        tt = torch.from_numpy(t).unsqueeze(1).to(self.device, non_blocking=True)
        amp = torch.autocast(self.device.type, dtype=torch.bfloat16) if (
            self.args.amp) else contextlib.nullcontext()
        with amp:
            logits = self.net(xt)
        loss = losses.segmentation_loss(logits.float(), tt,
                                        lovasz_weight=self.args.lovasz_weight,
                                        checker_weight=self.args.checker_weight)
        self.opt.zero_grad(set_to_none=True)
        loss.backward()
        self.opt.step()
        if self.ema is not None:
            self.ema.update(self.net)
        return float(loss)

    def train_epoch(self):
        """Trains the current epoch from its saved batch on (checkpointing
        every --ckpt-minutes); returns (mean loss, minutes)."""
        args, state = self.args, self.state
        epoch = state["epoch"]
        if state["batch"] == 0:
            state["fine"] = fine_phase(args, state, epoch)
        q, stop = queue.Queue(maxsize=3), threading.Event()
        th = threading.Thread(target=producer, daemon=True,
                              args=(args, self.stills, self.backgrounds, epoch,
                                    state["fine"], state["batch"], q, stop))
        th.start()
        steps_per_epoch = args.epoch_samples // args.batch
        t0, seen, loss_sum = time.time(), 0, 0.0
        tick = last_ckpt = time.time()
        while True:
            item = q.get()
            if item is None:
                break
            if isinstance(item, BaseException):
                raise item
            b, x, t = item
            loss = self.step(x, t)
            state["step"] += 1
            state["batch"] = b + 1
            now = time.time()
            state["seconds"] += now - tick
            tick = now
            seen += x.shape[0]
            loss_sum += loss * x.shape[0]
            if b % 25 == 0:
                self.log("epoch %d batch %d/%d loss %.4f lr %.2e %.1f img/s" % (
                    epoch, b, steps_per_epoch, loss,
                    self.opt.param_groups[0]["lr"], seen / (time.time() - t0)))
            if time.time() - last_ckpt > args.ckpt_minutes * 60:
                self.checkpoint()
                last_ckpt = time.time()
            if finished(args, state):
                break
        stop.set()
        while th.is_alive():          # let the producer see the stop flag
            try:
                q.get(timeout=0.1)
            except queue.Empty:
                pass
        th.join()
        state["seconds"] += time.time() - tick
        return loss_sum / max(1, seen), (time.time() - t0) / 60

    def validate_and_save(self, train_loss, minutes):
        """Validates the weight average, keeps it as best.pt (and its .bin)
        when it beats the best so far, and checkpoints the run."""
        args, state = self.args, self.state
        v0 = time.time()
        judged = self.ema.module if self.ema is not None else self.net
        res = evaluate.evaluate(judged, self.valset, losses.segmentation_loss)
        hard = evaluate.evaluate(judged, self.hardset) if self.hardset else None
        state["seconds"] += time.time() - v0
        epoch = state["epoch"]
        state["epoch"], state["batch"] = epoch + 1, 0
        rec = {"epoch": epoch, "train_loss": train_loss, "val_loss": res["loss"],
               "val_iou": res["mean_iou"], "by_source": res["by_source"],
               "sizes": DEPLOY_SIZES if state["fine"] else SMALL_SIZES,
               "minutes": minutes, "progress": round(progress(args, state), 4)}
        # The score that picks the best weights: val.txt alone, or with the
        # hard-background frames its mean with their IoU.
        score = res["mean_iou"]
        if hard is not None:
            rec.update(hard_iou=hard["mean_iou"], hard_fp=hard["fp_rate"])
            if self.args.select == "mean":
                score = 0.5 * (res["mean_iou"] + hard["mean_iou"])
        if res["mean_iou"] < args.val_floor:
            score = -1.0
        state["history"].append(rec)
        self.log("EPOCH", json.dumps(rec))
        if score > state["best_iou"]:
            state["best_iou"] = score
            torch.save({"model": {k: v.cpu() for k, v in judged.state_dict().items()},
                        "epoch": epoch,
                        "val_iou": res["mean_iou"], "score": score},
                       os.path.join(args.run, "best.pt"))
            weights_io.write(os.path.join(args.run, "best_weights.bin"),
                             copy.deepcopy(judged).cpu().folded_weights())
            self.log("new best score %.4f (val IoU %.4f)" % (score, res["mean_iou"]))
        self.checkpoint()


def main(argv=None):
    trainer = Trainer(parse_args(argv))
    trainer.resume()
    trainer.load_data()
    trainer.net.train()
    while not finished(trainer.args, trainer.state):
        trainer.validate_and_save(*trainer.train_epoch())
    trainer.log("done; best val IoU %.4f" % trainer.state["best_iou"])


if __name__ == "__main__":
    main()

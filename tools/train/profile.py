"""Where a training step's time goes: sample building against the network's
forward and backward pass, per work size, and the pass split by operator.

    /usr/bin/python3 -m tools.train.profile [--threads 1] [--batches 6]

Prints CPU seconds per batch of 16 for building the samples (as the producer
thread does) and for one optimizer step, images per second of each, and the
operators that take most of a step at the deployed size. CPU time of this
process rather than wall time, so that other work on the machine moves the
figures less; the operator table is wall time and only its shares matter.
"""
import argparse
import time

import numpy as np
import torch

from tools.train import data, losses, train
from tools.twin.net import TwinNet


def median_seconds(fn, repeats):
    times = []
    for _ in range(repeats + 1):          # the first call warms caches up
        t0 = time.process_time()
        fn()
        times.append(time.process_time() - t0)
    return float(np.median(times[1:]))


def main():
    p = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    p.add_argument("--threads", type=int, default=1)
    p.add_argument("--batches", type=int, default=6)
    p.add_argument("--batch", type=int, default=16)
    args = p.parse_args()
    torch.set_num_threads(args.threads)
    stills = data.Stills(data.read_list("train.txt")[::10])
    backgrounds = data.Backdrops()
    rng = np.random.default_rng(0)
    net = TwinNet(train_form=True).to(memory_format=torch.channels_last)
    net.train()
    opt = torch.optim.AdamW(net.parameters(), lr=1e-4)

    def build(w, h):
        idx = rng.integers(0, len(stills), args.batch)
        return data.training_batch(stills, backgrounds, idx, w, h, rng)

    def step(x, t):
        xt = torch.from_numpy(x).permute(0, 3, 1, 2).float().contiguous(
            memory_format=torch.channels_last)
        loss = losses.segmentation_loss(net(xt), torch.from_numpy(t).unsqueeze(1))
        opt.zero_grad(set_to_none=True)
        loss.backward()
        opt.step()

    print("threads %d, batch %d" % (args.threads, args.batch))
    for w, h in train.DEPLOY_SIZES + train.SMALL_SIZES:
        x, t = build(w, h)
        s_build = median_seconds(lambda: build(w, h), args.batches)
        s_step = median_seconds(lambda: step(x, t), args.batches)
        print("%3dx%-3d samples %.3f s/batch (%5.1f img/s)  step %.3f s/batch (%5.1f img/s)"
              % (w, h, s_build, args.batch / s_build, s_step, args.batch / s_step))

    w, h = train.DEPLOY_SIZES[0]
    x, t = build(w, h)
    step(x, t)
    with torch.profiler.profile(activities=[torch.profiler.ProfilerActivity.CPU]) as prof:
        step(x, t)
    print(prof.key_averages().table(sort_by="self_cpu_time_total", row_limit=12))


if __name__ == "__main__":
    main()

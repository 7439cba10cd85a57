"""Averages the weights of several checkpoints of runs that started from the
same state (a "weight soup"), for export like any best.pt.

    /usr/bin/python3 -m tools.train.soup OUT.pt RUN_A/best.pt RUN_B/last.pt ...

From a RUN/last.pt the weight average (EMA) is taken, as training validates
and exports it; from a best.pt its weights.  Float tensors (weights and
batch-norm statistics) are averaged; integer buffers come from the first.
"""
import argparse

import torch


def weights_of(path):
    ck = torch.load(path, map_location="cpu")
    if "ema" in ck:
        return ck["ema"]
    return ck.get("model", ck)


def soup(paths):
    sds = [weights_of(p) for p in paths]
    out = {}
    for k, v in sds[0].items():
        if v.is_floating_point():
            out[k] = sum(sd[k] for sd in sds) / len(sds)
        else:
            out[k] = v.clone()
    return out


def main():
    p = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    p.add_argument("out")
    p.add_argument("checkpoints", nargs="+")
    args = p.parse_args()
    torch.save({"model": soup(args.checkpoints), "note": "soup of " +
                ", ".join(args.checkpoints)}, args.out)
    print("wrote", args.out)


if __name__ == "__main__":
    main()

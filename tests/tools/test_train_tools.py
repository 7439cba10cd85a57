"""Schedule, resumable training, export and parity tools, end to end on tiny
settings."""
import os
import subprocess
import sys
import tempfile
import unittest

import numpy as np
import torch

from tools.train import data, evaluate, train
from tools.twin import weights_io
from tools.twin.net import TwinNet

REPO = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
HAVE_DATA = os.path.exists(os.path.join(data.PORTRAIT, "val.txt"))


class Schedule(unittest.TestCase):
    def test_warmup_then_cosine_to_floor(self):
        args = train.parse_args(["--epochs", "4", "--epoch-samples", "160",
                                 "--batch", "16", "--warmup", "5"])
        lrs = [train.lr_at(args, {"step": s, "seconds": 0.0}) for s in range(41)]
        self.assertAlmostEqual(lrs[4], args.lr)
        self.assertTrue(all(a <= b for a, b in zip(lrs[:5], lrs[1:5])))
        self.assertTrue(all(a >= b for a, b in zip(lrs[5:], lrs[6:])))
        self.assertAlmostEqual(lrs[40], 0.02 * args.lr, places=6)

    def test_budget_drives_phase_and_end(self):
        args = train.parse_args(["--budget-minutes", "10", "--fine-fraction", "0.2"])
        st = {"step": 1000, "seconds": 7 * 60.0, "epoch": 3}
        self.assertFalse(train.fine_phase(args, st, 3))
        st["seconds"] = 8.5 * 60
        self.assertTrue(train.fine_phase(args, st, 3))
        self.assertFalse(train.finished(args, st))
        st["seconds"] = 10 * 60
        self.assertTrue(train.finished(args, st))

    def test_batch_plan_is_reproducible_and_sized_by_phase(self):
        args = train.parse_args(["--epoch-samples", "64", "--batch", "16"])
        a = train.batch_plan(args, 50, 3, False)
        b = train.batch_plan(args, 50, 3, False)
        self.assertEqual(len(a), 4)
        for (ia, sa), (ib, sb) in zip(a, b):
            np.testing.assert_array_equal(ia, ib)
            self.assertEqual(sa, sb)
            self.assertIn(sa, train.SMALL_SIZES)
        # Batches of one epoch draw distinct stills while the list lasts.
        drawn = np.concatenate([i for i, _ in a[:3]])
        self.assertEqual(len(set(drawn.tolist())), 48)
        fine = train.batch_plan(args, 50, 3, True)
        self.assertTrue(all(s in train.DEPLOY_SIZES for _, s in fine))
        for w, h in train.SMALL_SIZES + train.DEPLOY_SIZES:
            self.assertEqual((w % 32, h % 32), (0, 0))   # five stride-2 levels


    def test_cutout_stills_take_their_share_whatever_their_count(self):
        args = train.parse_args(["--epoch-samples", "4000", "--batch", "16",
                                 "--cutout-share", "0.15"])
        cutout = np.arange(100) < 60          # most of the list is cut-outs
        plan = train.batch_plan(args, 100, 2, True, cutout)
        drawn = np.concatenate([i for i, _ in plan])
        self.assertEqual(len(drawn), 4000)
        share = cutout[drawn].mean()
        self.assertGreater(share, 0.12)
        self.assertLess(share, 0.18)
        # Every other still is still drawn, evenly.
        counts = np.bincount(drawn[~cutout[drawn]], minlength=100)[60:]
        self.assertLessEqual(counts.max() - counts.min(), 1)

    def test_hard_stills_gain_their_share_and_cutouts_keep_theirs(self):
        args = train.parse_args(["--epoch-samples", "8000", "--batch", "16",
                                 "--cutout-share", "0.15", "--hard-share", "0.25"])
        cutout = np.arange(100) < 20
        hard = (np.arange(100) >= 20) & (np.arange(100) < 28)   # 10% of the rest
        plain = np.concatenate([i for i, _ in train.batch_plan(args, 100, 4, True, cutout)])
        mined = np.concatenate([i for i, _ in train.batch_plan(args, 100, 4, True, cutout, hard)])
        self.assertAlmostEqual(cutout[mined].mean(), cutout[plain].mean(), delta=0.005)
        scene = mined[~cutout[mined]]
        self.assertGreater(hard[scene].mean(), 0.29)   # 0.1 * 0.75 + 0.25
        self.assertLess(hard[scene].mean(), 0.36)
        self.assertGreater(len(set(scene[~hard[scene]].tolist())), 70)  # the rest still drawn


class WeightAverageUpdate(unittest.TestCase):
    def test_average_moves_parameters_and_statistics_toward_the_net(self):
        torch.manual_seed(1)
        a, b = TwinNet(train_form=True), TwinNet(train_form=True)
        with torch.no_grad():
            for m in b.modules():
                if isinstance(m, torch.nn.BatchNorm2d):
                    m.running_mean.uniform_(-1, 1)
                    m.num_batches_tracked.fill_(7)
        avg = train.WeightAverage(a, 0.75)
        avg.update(b)
        for x, y, z in zip(avg.module.state_dict().values(),
                           a.state_dict().values(), b.state_dict().values()):
            if x.dtype.is_floating_point:
                torch.testing.assert_close(x, 0.75 * y + 0.25 * z)
            else:
                self.assertTrue(torch.equal(x, z))
        # The average is a copy of its own: no parameter is shared with the net.
        for p in a.parameters():
            self.assertFalse(any(p is q for q in avg.module.parameters()))


class Iou(unittest.TestCase):
    def test_iou_cases(self):
        a = np.zeros((4, 4), bool)
        self.assertEqual(evaluate.iou(a, a), 1.0)       # nothing to find, nothing found
        b = a.copy()
        b[:2] = True
        self.assertEqual(evaluate.iou(b, a), 0.0)
        c = a.copy()
        c[:1] = True
        self.assertEqual(evaluate.iou(b, c), 0.5)

    def test_mask_scaled_back_to_still(self):
        m = np.zeros((224, 320), np.uint8)
        m[:, 160:] = 255
        big = evaluate.mask_to_still(m, (480, 360))
        self.assertEqual(big.shape, (480, 360))
        self.assertFalse(big[:, :170].any())
        self.assertTrue(big[:, 190:].all())


def _run(args):
    return subprocess.run([sys.executable] + args, cwd=REPO,
                          stdout=subprocess.PIPE, stderr=subprocess.STDOUT)


@unittest.skipUnless(HAVE_DATA, "portrait data set not present")
class EndToEnd(unittest.TestCase):
    def test_train_resume_export_parity(self):
        with tempfile.TemporaryDirectory() as tmp:
            run = os.path.join(tmp, "run")
            common = ["--run", run, "--init", "", "--epoch-samples", "32",
                      "--val-count", "4", "--threads", "1"]
            train.main(common + ["--epochs", "1", "--fine-epochs", "0"])
            ck = torch.load(os.path.join(run, "last.pt"))
            self.assertEqual((ck["epoch"], ck["batch"], ck["step"]), (1, 0, 2))
            self.assertEqual(len(ck["history"]), 1)
            # A longer plan resumes after the first epoch instead of restarting.
            train.main(common + ["--epochs", "2", "--fine-epochs", "0"])
            ck = torch.load(os.path.join(run, "last.pt"))
            self.assertEqual((ck["epoch"], ck["step"]), (2, 4))
            self.assertEqual([h["epoch"] for h in ck["history"]], [0, 1])
            # The weight average is checkpointed beside the raw weights and
            # lags behind them.
            self.assertFalse(all(torch.equal(ck["ema"][k], v)
                                 for k, v in ck["model"].items()))

            out = os.path.join(tmp, "w.bin")
            res = _run(["tools/train/export.py", "--checkpoint",
                        os.path.join(run, "best.pt"), "--out", out,
                        "--check", "2", "--no-build"])
            self.assertEqual(res.returncode, 0, res.stdout.decode())
            self.assertEqual(len(weights_io.read(out)), 170)

            res = _run(["tools/parity.py", "--weights", out, "--count", "1",
                        "--self-check"])
            self.assertEqual(res.returncode, 0, res.stdout.decode())
            last = res.stdout.decode().strip().splitlines()[-1]
            self.assertRegex(last, r"^parity: \d+\.\d{4}% of pixels within 1 level "
                                   r"\(max diff \d+\)$")
            res = _run(["tools/parity.py", "--weights", out, "--count", "1",
                        "--engine", os.path.join(tmp, "missing-engine")])
            self.assertEqual(res.returncode, 2)


if __name__ == "__main__":
    unittest.main()

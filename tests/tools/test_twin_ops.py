"""Element-level arithmetic the twin shares with the engine."""
import unittest

import numpy as np
import torch

from tools.twin import ops
from tools.train import i420


class RoundingAndResize(unittest.TestCase):
    def test_round_half_away_from_zero(self):
        got = ops.round_half_away([2.5, -2.5, 0.49999997, 1.5, 0.0, 3.2])
        self.assertEqual(list(got), [3, -3, 0, 2, 0, 3])

    def test_output_size_rounds_half_away(self):
        self.assertEqual(ops.resize_out_size(7, 2.0), 14)
        self.assertEqual(ops.resize_out_size(5, 0.5), 3)   # 2.5 -> 3

    def test_align_corners_indices(self):
        # 4 -> 7 rows: ratio 0.5, row 5 reads round(2.5) = 3, row 6 reads 3.
        self.assertEqual(list(ops.nearest_indices(4, 7, True)),
                         [0, 1, 1, 2, 2, 3, 3])
        # Without align-corners the index is floor(dst * src / dst).
        self.assertEqual(list(ops.nearest_indices(4, 8, False)),
                         [0, 0, 1, 1, 2, 2, 3, 3])

    def test_upsample_2x_keeps_corners(self):
        x = torch.arange(70, dtype=torch.float32).view(1, 1, 7, 10)
        y = ops.resize_nearest(x, 2.0, 2.0, True)
        self.assertEqual(tuple(y.shape), (1, 1, 14, 20))
        self.assertEqual(float(y[0, 0, 0, 0]), 0.0)
        self.assertEqual(float(y[0, 0, -1, -1]), 69.0)
        # Every output pixel is a copy of some input pixel.
        self.assertTrue(set(y.flatten().tolist()) <= set(x.flatten().tolist()))


class ShuffleAndMask(unittest.TestCase):
    def test_shuffle_interleaves_then_splits(self):
        a = torch.tensor([10., 11., 12., 13.]).view(1, 4, 1, 1)
        b = torch.tensor([20., 21., 22., 23.]).view(1, 4, 1, 1)
        p, q = ops.shuffle_split2(a, b, 2, 2)
        self.assertEqual(p.flatten().tolist(), [10., 20., 11., 21.])
        self.assertEqual(q.flatten().tolist(), [12., 22., 13., 23.])
        (y,) = ops.shuffle_split2(a, b, 2, 1)
        self.assertEqual(y.flatten().tolist(), [10., 20., 11., 21., 12., 22., 13., 23.])

    def test_mask_truncates_and_clamps(self):
        v = torch.tensor([0.0, 0.003, 0.5, 0.999, 1.0, 1.2, -0.2])
        self.assertEqual(ops.mask_bytes(v).tolist(), [0, 0, 127, 254, 255, 255, 0])


class I420(unittest.TestCase):
    def test_limited_range_extremes(self):
        h, w = 4, 6
        for y_val, expected in ((16, 0), (235, 255)):
            y = np.full((h, w), y_val, np.uint8)
            uv = np.full((h // 2, w // 2), 128, np.uint8)
            self.assertTrue((i420.i420_to_bgr(y, uv, uv) == expected).all())

    def test_fast_conversion_matches_fixed_point(self):
        rng = np.random.default_rng(3)
        img = rng.integers(0, 256, (32, 48, 3), dtype=np.uint8)
        for fast, ref in zip(i420.bgr_to_i420(img), i420.bgr_to_i420_reference(img)):
            self.assertEqual(fast.shape, ref.shape)
            self.assertLessEqual(np.abs(fast.astype(int) - ref).max(), 1)

    def test_squeeze_to_work_size(self):
        frame = np.full((72, 128, 3), 90, np.uint8)
        out = i420.network_input(frame, 32, 24)
        self.assertEqual(out.shape, (24, 32, 3))
        self.assertLessEqual(np.abs(out.astype(int) - 90).max(), 2)


if __name__ == "__main__":
    unittest.main()

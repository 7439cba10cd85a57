"""Training samples: shapes, ranges and reproducibility from a seed."""
import os
import unittest

import cv2
import numpy as np
import torch

from tools.train import data, losses

HAVE_DATA = os.path.exists(os.path.join(data.PORTRAIT, "train.txt"))


@unittest.skipUnless(HAVE_DATA, "portrait data set not present")
class Samples(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.stills = data.Stills(data.read_list("train.txt")[::150])
        cls.backgrounds = data.Backgrounds()

    def test_shapes_ranges_and_determinism(self):
        for (w, h) in ((320, 224), (224, 224), (160, 160)):
            rng = np.random.default_rng([7, w])
            x, t = data.training_batch(self.stills, self.backgrounds,
                                       range(len(self.stills)), w, h, rng)
            self.assertEqual(x.shape, (len(self.stills), h, w, 3))
            self.assertEqual(x.dtype, np.uint8)
            self.assertEqual(t.shape, (len(self.stills), h, w))
            self.assertTrue(0.0 <= t.min() and t.max() <= 1.0)
            self.assertGreater(t.mean(), 0.01)   # people are in the frames
            x2, t2 = data.training_batch(self.stills, self.backgrounds,
                                         range(len(self.stills)), w, h,
                                         np.random.default_rng([7, w]))
            np.testing.assert_array_equal(x, x2)
            np.testing.assert_array_equal(t, t2)

    def test_many_draws_never_fail(self):
        # Odd canvas shapes and placements must all produce a frame.
        for k in range(60):
            rng = np.random.default_rng([11, k])
            frame, mask = data.camera_frame(self.stills, self.backgrounds,
                                            k % len(self.stills), rng)
            self.assertEqual(frame.shape[:2], mask.shape)
            self.assertGreater(min(mask.shape), 8)


class _FakeStills:
    """One full-body photo: a person standing in the middle third, with a
    soft outline; teacher(truth) gives the teacher channel if set."""
    stems = ["ccp_fake"]

    def __init__(self, teacher=None, teacher_weight=0.0):
        self.teacher = teacher
        self.teacher_weight = teacher_weight

    def __len__(self):
        return 1

    def get(self, i):
        img = np.full((300, 200, 3), 90, np.uint8)
        mask = np.zeros((300, 200), np.uint8)
        mask[40:280, 70:130] = 255
        mask = cv2.GaussianBlur(mask, (0, 0), 2.0)
        img[mask > 127] = (40, 160, 220)
        if self.teacher is None:
            return img, mask
        return img, np.dstack([mask, self.teacher(mask)])


class _FakeBackgrounds:
    def __len__(self):
        return 2

    def get(self, i):
        return np.full((360, 640, 3), 30 + 100 * i, np.uint8)


class SmallFigures(unittest.TestCase):
    def setUp(self):
        self.saved = data.SMALL_SHARE, data.STILL_SHARE
        data.SMALL_SHARE, data.STILL_SHARE = 1.0, 0.0

    def tearDown(self):
        data.SMALL_SHARE, data.STILL_SHARE = self.saved

    def test_person_shrinks_into_a_wide_scene(self):
        # The person, not the whole photo, is scaled to a small share of the
        # frame height, and nothing else in the frame is labelled person.
        for k in range(40):
            rng = np.random.default_rng([5, k])
            frame, mask = data.camera_frame(_FakeStills(), _FakeBackgrounds(),
                                            0, rng)
            rows = np.nonzero((mask > 127).any(axis=1))[0]
            if len(rows) == 0:
                continue                  # placed out of the frame: allowed
            person = rows.max() - rows.min() + 1
            self.assertLess(person, 0.55 * mask.shape[0], k)
            self.assertLess((mask > 127).mean(), 0.2, k)
            colour = np.abs(frame.astype(int) - (40, 160, 220)).sum(axis=2) < 60
            self.assertLess(np.logical_and(colour, mask < 64).mean(), 0.01, k)

    def test_person_far_wider_than_the_frame_still_finds_a_place(self):
        # A lying person cropped to its box can be several frames wide.
        wide = np.zeros((20, 400, 3), np.uint8)
        for k in range(20):
            pw, ph, x0, _ = data._small_placement(wide, 64, 48,
                                                  np.random.default_rng(k))
            self.assertLessEqual(x0, 0)
            self.assertGreaterEqual(x0 + pw, 64)

    def test_empty_mask_has_no_person_box(self):
        img = np.zeros((20, 20, 3), np.uint8)
        self.assertIsNone(data._person_crop(img, np.zeros((20, 20), np.uint8),
                                            np.random.default_rng(0)))


class _StudioStills(_FakeStills):
    """The fake person on a white studio backdrop, from a cut-out source."""
    stems = ["viton_fake"]

    def get(self, i):
        img, mask = super().get(i)
        img[mask <= 127] = 255
        return img, mask


class StudioCutouts(unittest.TestCase):
    def test_backdrop_never_reaches_the_frame(self):
        # Whatever the draw (still-as-frame, border extension, composite),
        # a studio photo enters the frame only through its person mask.
        for k in range(60):
            rng = np.random.default_rng([13, k])
            frame, mask = data.camera_frame(_StudioStills(), _FakeBackgrounds(),
                                            0, rng)
            white = (frame.min(axis=2) > 240) & (mask < 64)
            self.assertLess(white.mean(), 0.002, k)


class TeacherChannel(unittest.TestCase):
    """Every way of building a frame must move the teacher's mask exactly as
    it moves the true one, and blend it in by the teacher weight."""

    def samples(self, stills):
        out = []
        for k in range(48):
            rng = np.random.default_rng([9, k])
            out.append(data.training_sample(stills, _FakeBackgrounds(), 0,
                                            160, 112, rng)[1])
        return out

    def test_teacher_follows_the_truth_through_every_step(self):
        saved = data.SMALL_SHARE
        data.SMALL_SHARE = 0.5          # small figures too
        try:
            plain = self.samples(_FakeStills())
            same = self.samples(_FakeStills(lambda m: m, 0.4))
            none = self.samples(_FakeStills(np.zeros_like, 0.4))
        finally:
            data.SMALL_SHARE = saved
        for k, (p, s, n) in enumerate(zip(plain, same, none)):
            np.testing.assert_allclose(s, p, atol=1e-5, err_msg=str(k))
            np.testing.assert_allclose(n, 0.6 * p, atol=1e-5, err_msg=str(k))


class Loss(unittest.TestCase):
    def test_perfect_prediction_beats_wrong_one(self):
        t = torch.zeros(2, 1, 32, 32)
        t[:, :, 8:24, 8:24] = 1
        good = losses.segmentation_loss((t * 2 - 1) * 10, t)
        bad = losses.segmentation_loss(-(t * 2 - 1) * 10, t)
        self.assertLess(float(good), 0.05)
        self.assertGreater(float(bad), 1.0)

    def test_lovasz_hinge_on_unit_margins_is_twice_one_minus_iou(self):
        # With logits of +-1 each pixel's hinge error is 0 or 2, and the
        # Lovasz extension at a 0/1 error set is the Jaccard loss of that set.
        g = torch.Generator().manual_seed(3)
        t = (torch.rand(3, 1, 24, 40, generator=g) > 0.6).float()
        flip = torch.rand(t.shape, generator=g) < 0.2
        pred = torch.where(flip, 1 - t, t)
        inter = (pred * t).sum(dim=(1, 2, 3))
        union = ((pred + t) > 0).float().sum(dim=(1, 2, 3))
        expected = (2 * (1 - inter / union)).mean()
        got = losses.lovasz_hinge(pred * 2 - 1, t)
        self.assertAlmostEqual(float(got), float(expected), places=5)


if __name__ == "__main__":
    unittest.main()

"""The twin against the network description and the weight file format."""
import os
import tempfile
import unittest

import numpy as np
import torch

from tools.twin import description, weights_io
from tools.twin.net import ConvBN, TwinNet, run_bytes


def _randomise_bn(net, seed):
    g = torch.Generator().manual_seed(seed)
    with torch.no_grad():
        for m in net.modules():
            if isinstance(m, torch.nn.BatchNorm2d):
                n = m.num_features
                m.weight.copy_(torch.rand(n, generator=g) + 0.5)
                m.bias.copy_(torch.randn(n, generator=g) * 0.1)
                m.running_mean.copy_(torch.randn(n, generator=g) * 0.1)
                m.running_var.copy_(torch.rand(n, generator=g) + 0.5)


class WeightFile(unittest.TestCase):
    def test_layout_totals(self):
        shapes = description.torch_shapes()
        self.assertEqual(len(shapes), 170)
        self.assertEqual(sum(int(np.prod(s)) for _, s in shapes), 162424)
        d = dict(shapes)
        self.assertEqual(d["1221"], (24, 3, 3, 3))
        self.assertEqual(d["t_net.segmentation_head.upsample.upsample.0.weight"],
                         (8, 4, 2, 2))

    def test_round_trip_is_exact_and_padded(self):
        rng = np.random.default_rng(1)
        weights = {n: rng.standard_normal(s).astype(np.float32)
                   for n, s in description.torch_shapes()}
        with tempfile.TemporaryDirectory() as tmp:
            path = os.path.join(tmp, "w.bin")
            size = weights_io.write(path, weights)
            self.assertEqual(size, 4 * weights_io.expected_floats())
            raw = np.fromfile(path, dtype="<f4")
            # The 24-value bias of the stem follows the 648-value kernel, padded to 656.
            self.assertTrue((raw[648:656] == 0).all())
            np.testing.assert_array_equal(raw[656:680], weights["1222"])
            back = weights_io.read(path)
            for n, v in weights.items():
                np.testing.assert_array_equal(back[n], v)
            with open(path, "rb") as f:
                self.assertEqual(weights_io.to_bytes(back), f.read())
            with open(path, "ab") as f:
                f.write(b"\0" * 64)
            with self.assertRaises(ValueError):
                weights_io.read(path)

    def test_rejects_wrong_shape(self):
        weights = {n: np.zeros(s, np.float32) for n, s in description.torch_shapes()}
        weights["1221"] = np.zeros((24, 3, 3, 2), np.float32)
        with self.assertRaises(ValueError):
            weights_io.to_bytes(weights)


class Network(unittest.TestCase):
    def test_modules_follow_the_description(self):
        net = TwinNet(train_form=True)
        layers, _ = description.build()
        self.assertEqual(len(layers), 159)
        convbn = sum(isinstance(m, ConvBN) for m in net.mods.values())
        # Numbered convolutions with a bias slot carry a BN for training:
        # every encoder conv and depthwise conv plus 4 of the 5 decoder/head
        # ones (decoder block 0's 3x3 has no bias).
        numbered = [l for l in layers if l["type"] in ("Conv", "DepthwiseConv")
                    and l["weights"][0].isdigit() and len(l["weights"]) == 2]
        self.assertEqual(convbn, len(numbered))
        self.assertEqual(len(net.folded_weights()), 170)

    def test_output_sizes(self):
        net = TwinNet(train_form=False).eval()
        with torch.no_grad():
            for h, w in ((224, 320), (224, 224)):
                self.assertEqual(tuple(net(torch.zeros(1, 3, h, w)).shape), (1, 1, h, w))

    def test_folded_export_matches_training_form(self):
        torch.manual_seed(0)
        net = TwinNet(train_form=True)
        _randomise_bn(net, 5)
        net.eval()
        deployed = TwinNet(train_form=False)
        with tempfile.TemporaryDirectory() as tmp:
            path = os.path.join(tmp, "w.bin")
            weights_io.write(path, net.folded_weights())
            deployed.load_folded_weights(weights_io.read(path))
        deployed.eval()
        x = torch.rand(2, 3, 64, 96) * 255
        with torch.no_grad():
            a, b = net(x), deployed(x)
        self.assertLess(float((a - b).abs().max()), 1e-3 * (1 + float(a.abs().max())))
        # Loading folded weights back into the training form is exact too.
        again = TwinNet(train_form=True)
        again.load_folded_weights(net.folded_weights())
        again.eval()
        with torch.no_grad():
            self.assertLess(float((again(x) - a).abs().max()), 1e-3 * (1 + float(a.abs().max())))

    def test_run_bytes_gives_mask_bytes(self):
        net = TwinNet(train_form=False).eval()
        bgr = np.random.default_rng(2).integers(0, 256, (64, 64, 3), dtype=np.uint8)
        m = run_bytes(net, bgr)
        self.assertEqual((m.shape, m.dtype), ((64, 64), np.uint8))


if __name__ == "__main__":
    unittest.main()

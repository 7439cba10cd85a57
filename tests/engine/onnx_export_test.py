"""The ONNX export of the twin (tools/onnx/export_onnx.py) loads in OpenCV DNN
and computes what the twin computes. Exits 77 (skipped) without torch/cv2."""
import os
import subprocess
import sys
import tempfile

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
sys.path.insert(0, ROOT)

try:
    import cv2
    import numpy as np
    import torch
except ImportError as e:
    print("skipped:", e)
    sys.exit(77)

from tools.twin import net as twin_net  # noqa: E402
from tools.twin import weights_io  # noqa: E402


def main():
    weights = os.path.join(ROOT, "model", "portrait_weights.bin")
    with tempfile.TemporaryDirectory() as out:
        subprocess.run([sys.executable, os.path.join(ROOT, "tools", "onnx", "export_onnx.py"),
                        "--weights", weights, "--out-dir", out, "--sizes", "96x64"],
                       check=True, stdout=subprocess.DEVNULL)
        dnn = cv2.dnn.readNetFromONNX(os.path.join(out, "portrait_96x64.onnx"))
    net = twin_net.TwinNet(train_form=False)
    net.load_folded_weights(weights_io.read(weights))
    net.eval()
    rng = np.random.default_rng(5)
    x = rng.integers(0, 256, size=(1, 3, 64, 96)).astype(np.float32)
    dnn.setInput(x)
    got = dnn.forward()
    with torch.no_grad():
        want = torch.sigmoid(net(torch.from_numpy(x))).numpy()
    assert got.shape == want.shape, (got.shape, want.shape)
    err = float(np.abs(got - want).max())
    print("opencv dnn vs twin: max abs difference %.3g" % err)
    assert err < 1e-4, err
    return 0


if __name__ == "__main__":
    sys.exit(main())

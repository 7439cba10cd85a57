"""Loads the network description from model/portrait_model.py.

The twin, the weight file reader/writer and the exporter all walk this one
description, so layer order, weight names and shapes cannot drift apart.
"""
import importlib.util
import os

REPO_ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
MODEL_PY = os.path.join(REPO_ROOT, "model", "portrait_model.py")
WEIGHTS_BIN = os.path.join(REPO_ROOT, "model", "portrait_weights.bin")


def _load_module():
    found = importlib.util.spec_from_file_location("portrait_model", MODEL_PY)
    mod = importlib.util.module_from_spec(found)
    found.loader.exec_module(mod)
    return mod


portrait_model = _load_module()


def build():
    """(layers, weights) in record order."""
    return portrait_model.build()


def torch_shape(layer_type, record_shape):
    """PyTorch tensor shape of a weight stored with record shape (n, h, w, c)."""
    n, h, w, c = record_shape
    if layer_type in ("Conv", "DepthwiseConv"):
        return (n, c, h, w)            # (out, in/groups, kh, kw)
    if layer_type == "ConvTranspose":
        return (n, c, h, w)            # (in, out, kh, kw)
    return (n * h * w * c,)            # vectors


def weight_types():
    """Maps weight name -> (type of the layer that uses it, slot index)."""
    layers, _ = build()
    out = {}
    for layer in layers:
        for i, name in enumerate(layer["weights"]):
            out[name] = (layer["type"], i)
    return out


def torch_shapes():
    """Ordered list of (name, torch shape) for every weight record."""
    _, weights = build()
    types = weight_types()
    res = []
    for w in weights:
        ltype, slot = types[w["name"]]
        # Only slot 0 of a convolution is a kernel; its bias is a vector.
        shape = torch_shape(ltype if slot == 0 else "vector", w["shape"])
        res.append((w["name"], shape))
    return res

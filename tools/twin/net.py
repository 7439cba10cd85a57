"""The twin: a torch.nn.Module built by walking the network description.

Two forms share one module:
  * training form (train_form=True): every numbered convolution that has a
    bias slot carries a BatchNorm (folded into weight and bias at export);
  * deploy form (train_form=False): plain convolutions exactly as the engine
    runs them, loaded from / saved to the weight file.
The decoder's standalone BatchNormalization layers are real BN layers in both.

Input: float tensor N x 3 x H x W holding the B, G, R bytes (channel 0 = B),
values 0..255.  forward() returns the logits (the Sigmoid layer's input);
probabilities and mask bytes come from the helpers below.
"""
import numpy as np
import torch
import torch.nn as nn
import torch.nn.functional as F

from tools.twin import description, ops
from tools.twin.description import portrait_model as pm

CONV_TYPES = ("Conv", "DepthwiseConv")


def _is_numbered(name):
    return name.isdigit()


def _conv_geometry(params):
    g = lambda k: int(params.get(k, 0))
    kw, kh = g(pm.K_W), g(pm.K_H)
    pads = (g(pm.PAD_L), g(pm.PAD_R), g(pm.PAD_T), g(pm.PAD_B))
    stride = (max(1, g(pm.S_Y)), max(1, g(pm.S_X)))
    dil = (max(1, g(pm.D_Y)), max(1, g(pm.D_X)))
    return kh, kw, pads, stride, dil


class ConvBN(nn.Module):
    """Convolution without bias followed by BatchNorm; folds into one conv."""

    def __init__(self, conv, eps=1e-5):
        super().__init__()
        self.conv = conv
        self.bn = nn.BatchNorm2d(conv.out_channels, eps=eps)

    def forward(self, x):
        return self.bn(self.conv(x))

    def folded(self):
        bn = self.bn
        scale = bn.weight / torch.sqrt(bn.running_var + bn.eps)
        w = self.conv.weight * scale.view(-1, 1, 1, 1)
        b = bn.bias - bn.running_mean * scale
        return w.detach(), b.detach()

    def load_folded(self, w, b):
        """Sets weights so that the module computes conv(w) + b exactly."""
        with torch.no_grad():
            self.conv.weight.copy_(w)
            self.bn.running_mean.zero_()
            self.bn.running_var.fill_(1.0)
            self.bn.weight.fill_(float(np.sqrt(np.float32(1.0 + self.bn.eps))))
            self.bn.bias.copy_(b)


class TwinNet(nn.Module):
    def __init__(self, train_form=True):
        super().__init__()
        self.train_form = train_form
        self.layers, _ = description.build()
        shapes = dict(description.torch_shapes())
        self.mods = nn.ModuleDict()
        for i, layer in enumerate(self.layers):
            mod = self._make(layer, shapes)
            if mod is not None:
                self.mods[str(i)] = mod
        # Last use of every blob, so inference can drop blobs early.
        self._last_use = {}
        for i, layer in enumerate(self.layers):
            for b in layer["inputs"]:
                self._last_use[b] = i
        p = self._normalize_params()
        self.register_buffer("norm_mean", torch.tensor(p[0]).view(1, 3, 1, 1))
        self.register_buffer("norm_scale", torch.tensor(p[1]).view(1, 3, 1, 1))

    def _normalize_params(self):
        layer = self.layers[0]
        assert layer["type"] == "Normalize"
        prm = layer["params"]
        f0 = pm.F0
        mean = [float(np.float32(prm[f0 + k])) for k in range(3)]
        scale = [float(np.float32(prm[f0 + 3 + k])) for k in range(3)]
        return mean, scale

    def _make(self, layer, shapes):
        t, ws = layer["type"], layer["weights"]
        if t in CONV_TYPES:
            kh, kw, pads, stride, dil = _conv_geometry(layer["params"])
            wshape = shapes[ws[0]]
            out_c, in_per_group = wshape[0], wshape[1]
            groups = 1
            if t == "DepthwiseConv":
                groups = max(1, int(layer["params"].get(pm.GROUP, 0)))
            has_bias = len(ws) > 1
            symmetric = pads[0] == pads[1] and pads[2] == pads[3]
            conv = nn.Conv2d(in_per_group * groups, out_c, (kh, kw),
                             stride=stride,
                             padding=(pads[2], pads[0]) if symmetric else 0,
                             dilation=dil, groups=groups,
                             bias=has_bias and not (self.train_form and _is_numbered(ws[0])))
            conv.explicit_pads = None if symmetric else pads
            if self.train_form and has_bias and _is_numbered(ws[0]):
                return ConvBN(conv)
            return conv
        if t == "ConvTranspose":
            kh, kw, pads, stride, _ = _conv_geometry(layer["params"])
            in_c, out_c = shapes[ws[0]][0], shapes[ws[0]][1]
            if pads[0] != pads[1] or pads[2] != pads[3]:
                raise NotImplementedError("asymmetric transposed-conv pads")
            return nn.ConvTranspose2d(in_c, out_c, (kh, kw), stride=stride,
                                      padding=(pads[2], pads[0]),
                                      bias=len(ws) > 1)
        if t == "BatchNormalization":
            eps = float(np.float32(layer["params"].get(pm.F0, 1e-5)))
            return nn.BatchNorm2d(shapes[ws[0]][0], eps=eps)
        return None

    # -- forward ------------------------------------------------------------
    def _conv(self, mod, x):
        conv = mod.conv if isinstance(mod, ConvBN) else mod
        if conv.explicit_pads is not None:
            x = F.pad(x, conv.explicit_pads)
        return mod(x)

    def forward(self, x):
        """x: N x 3 x H x W float bytes (B, G, R).  Returns the logits."""
        blobs = {"input": x}
        free = not torch.is_grad_enabled()
        for i, layer in enumerate(self.layers):
            t = layer["type"]
            ins = [blobs[b] for b in layer["inputs"]]
            prm = layer["params"]
            if t == "Normalize":
                outs = ((ins[0] - self.norm_mean) * self.norm_scale,)
            elif t in CONV_TYPES:
                outs = (self._conv(self.mods[str(i)], ins[0]),)
            elif t in ("ConvTranspose", "BatchNormalization"):
                outs = (self.mods[str(i)](ins[0]),)
            elif t == "Relu":
                outs = (F.relu(ins[0]),)
            elif t == "MaxPool":
                kh, kw, pads, stride, _ = _conv_geometry(prm)
                outs = (F.max_pool2d(ins[0], (kh, kw), stride,
                                     (pads[2], pads[0])),)
            elif t == "ShuffleSplit2":
                outs = ops.shuffle_split2(ins[0], ins[1], int(prm.get(0, 2)),
                                          len(layer["outputs"]))
            elif t == "Resize":
                if int(prm.get(0, 0)) != 0:
                    raise NotImplementedError("only nearest resize is used")
                outs = (ops.resize_nearest(ins[0], prm[pm.F0], prm[pm.F0 + 1],
                                           bool(prm.get(1, 0))),)
            elif t == "Concat":
                outs = (torch.cat(ins, dim=1),)
            elif t == "Sigmoid":
                return ins[0]
            else:
                raise NotImplementedError("layer type " + t)
            for name, val in zip(layer["outputs"], outs):
                blobs[name] = val
            if free:
                for b in layer["inputs"]:
                    if self._last_use.get(b) == i:
                        blobs.pop(b, None)
        raise RuntimeError("description has no Sigmoid layer")

    # -- weights --------------------------------------------------------------
    def folded_weights(self):
        """name -> float32 numpy array (PyTorch shape) as the engine runs them."""
        out = {}
        for i, layer in enumerate(self.layers):
            mod = self.mods[str(i)] if str(i) in self.mods else None
            ws = layer["weights"]
            if mod is None:
                continue
            if isinstance(mod, ConvBN):
                w, b = mod.folded()
                out[ws[0]], out[ws[1]] = w, b
            elif isinstance(mod, nn.BatchNorm2d):
                vals = (mod.weight, mod.bias, mod.running_mean, mod.running_var)
                for name, v in zip(ws, vals):
                    out[name] = v.detach()
            else:
                out[ws[0]] = mod.weight.detach()
                if len(ws) > 1:
                    out[ws[1]] = mod.bias.detach()
        return {k: v.cpu().numpy().astype(np.float32) for k, v in out.items()}

    def load_folded_weights(self, weights):
        """Loads name -> array (PyTorch shape), e.g. from weights_io.read."""
        t = lambda name: torch.as_tensor(np.asarray(weights[name], np.float32))
        with torch.no_grad():
            for i, layer in enumerate(self.layers):
                if str(i) not in self.mods:
                    continue
                mod, ws = self.mods[str(i)], layer["weights"]
                if isinstance(mod, ConvBN):
                    mod.load_folded(t(ws[0]), t(ws[1]))
                elif isinstance(mod, nn.BatchNorm2d):
                    for name, dst in zip(ws, (mod.weight, mod.bias,
                                              mod.running_mean, mod.running_var)):
                        dst.copy_(t(name))
                else:
                    mod.weight.copy_(t(ws[0]))
                    if len(ws) > 1:
                        mod.bias.copy_(t(ws[1]))


def probabilities(logits):
    return torch.sigmoid(logits)


def run_bytes(net, bgr):
    """Runs the net on uint8 H x W x 3 (or N x H x W x 3) B,G,R bytes and
    returns the uint8 mask(s) the engine would write."""
    a = torch.as_tensor(np.ascontiguousarray(bgr))
    if a.dim() == 3:
        a = a.unsqueeze(0)
    x = a.permute(0, 3, 1, 2).float()
    with torch.no_grad():
        m = ops.mask_bytes(torch.sigmoid(net(x)))
    m = m[:, 0].numpy()
    return m[0] if np.asarray(bgr).ndim == 3 else m

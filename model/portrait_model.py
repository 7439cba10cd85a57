"""The built-in portrait network, described once.

Everything that must agree about the network reads this file: the generator of
the C++ layer/weight tables (model/), the PyTorch twin used for training and
parity checks (tools/).  It uses only the standard library so any interpreter
can import it.

A layer is a dict:
    name    layer name (== its first output blob, except ShuffleSplit2 records)
    type    registry type string ("Conv", "Relu", ...)
    params  {slot index: value}; ints are u32/i32 slots, floats are f32 slots
    inputs  list of blob names read
    outputs list of blob names written
    weights list of weight names (weight, bias / BN scale, bias, mean, var)
A weight is a dict: name, shape (n, h, w, c) as stored in the record.

Shapes follow the record convention:
    Conv / DepthwiseConv weight: (filters, kh, kw, input channels per group)
    ConvTranspose weight:        (input channels, kh, kw, output channels)
    vectors (bias, BN):          (1, 1, 1, length)
"""

NORM_MEAN = (123.675, 116.28, 103.53)
NORM_SCALE = (1.0 / 58.395, 1.0 / 57.12, 1.0 / 57.375)
NORM_FOURTH = -0.5

# Slot numbers of the layer record parameters: (C++ name, slot, meaning).
# tools/model/gen_tables.py writes them into engine/core/record_slots.h, so
# the description and the engine's record parsing name every slot alike.
RECORD_SLOTS = (
    ("kKernelWidth", 0, "window layers: kernel width"),
    ("kKernelHeight", 1, "window layers: kernel height"),
    ("kPadLeft", 2, "window layers: padding"),
    ("kPadRight", 3, ""),
    ("kPadTop", 4, ""),
    ("kPadBottom", 5, ""),
    ("kStrideX", 6, "window layers: stride (0 reads as 1)"),
    ("kStrideY", 7, ""),
    ("kDilationX", 8, "window layers: dilation (below 1 reads as 1)"),
    ("kDilationY", 9, ""),
    ("kGroup", 10, "DepthwiseConv: group count (0 reads as 1)"),
    ("kOutHeight", 11, "ConvTranspose: explicit output height (0: derived)"),
    ("kOutWidth", 12, "ConvTranspose: explicit output width (0: derived)"),
    ("kOutputTag", 13, "convolutions: output tag; MaxPool: its extra field"),
    ("kActivationKind", 0, "activations: activation kind"),
    ("kChannels", 0, "Normalize: output channel count"),
    ("kResizeMode", 0, "Resize, Upsample: mode"),
    ("kResizeFlag", 1, "Resize, Upsample: align-corners flag"),
    ("kShuffleGroups", 0, "ShuffleSplit2: shuffle group count"),
    ("kFirstFloat", 16, "first f32 slot"),
    ("kActivationParam", 16, "activations: clip bound or negative slope, f32"),
    ("kEpsilon", 16, "BatchNormalization: epsilon, f32"),
    ("kNormMean", 16, "Normalize: per-channel mean, 3 x f32"),
    ("kNormScale", 19, "Normalize: per-channel scale, 3 x f32"),
    ("kNormFourth", 22, "Normalize: constant of a fourth channel, f32"),
    ("kScaleWidth", 16, "Resize, Upsample: width scale, f32"),
    ("kScaleHeight", 17, "Resize, Upsample: height scale, f32"),
)
_SLOT = {name: slot for name, slot, _ in RECORD_SLOTS}
K_W, K_H = _SLOT["kKernelWidth"], _SLOT["kKernelHeight"]
PAD_L, PAD_R, PAD_T, PAD_B = (_SLOT[k] for k in ("kPadLeft", "kPadRight",
                                                  "kPadTop", "kPadBottom"))
S_X, S_Y, D_X, D_Y = (_SLOT[k] for k in ("kStrideX", "kStrideY",
                                          "kDilationX", "kDilationY"))
GROUP = _SLOT["kGroup"]
F0 = _SLOT["kFirstFloat"]


class _Builder:
    def __init__(self):
        self.layers = []
        self.weights = []
        self._blob = 60          # numbered blob names, after "59x"
        self._wnum = 1221        # numbered weight names
        self._shuffle = 0

    # -- names ------------------------------------------------------------
    def blob(self):
        name = str(self._blob)
        self._blob += 1
        return name

    def numbered(self, shape):
        name = str(self._wnum)
        self._wnum += 1
        self.weights.append({"name": name, "shape": tuple(shape)})
        return name

    def named(self, name, shape):
        self.weights.append({"name": name, "shape": tuple(shape)})
        return name

    # -- layers -----------------------------------------------------------
    def add(self, type_, inputs, outputs, params=None, weights=(), name=None):
        self.layers.append({
            "name": name if name is not None else outputs[0],
            "type": type_,
            "params": dict(params or {}),
            "inputs": list(inputs),
            "outputs": list(outputs),
            "weights": list(weights),
        })
        return outputs[0] if len(outputs) == 1 else tuple(outputs)

    @staticmethod
    def conv_params(k, s, p, d, kw=None):
        kw = k if kw is None else kw
        return {K_W: kw, K_H: k, PAD_L: p, PAD_R: p, PAD_T: p, PAD_B: p,
                S_X: s, S_Y: s, D_X: d, D_Y: d}

    def conv(self, x, cin, cout, k, s=1, p=0, d=1, bias=True, prefix=None,
             relu=False):
        """Conv (+ Relu).  prefix=None: numbered weight names."""
        shape = (cout, k, k, cin)
        if prefix is None:
            ws = [self.numbered(shape)]
            if bias:
                ws.append(self.numbered((1, 1, 1, cout)))
        else:
            ws = [self.named(prefix + ".weight", shape)]
            if bias:
                ws.append(self.named(prefix + ".bias", (1, 1, 1, cout)))
        y = self.add("Conv", [x], [self.blob()], self.conv_params(k, s, p, d), ws)
        return self.relu(y) if relu else y

    def dwconv(self, x, ch, s):
        ws = [self.numbered((ch, 3, 3, 1)), self.numbered((1, 1, 1, ch))]
        params = self.conv_params(3, s, 1, 1)
        params[GROUP] = ch
        return self.add("DepthwiseConv", [x], [self.blob()], params, ws)

    def relu(self, x):
        return self.add("Relu", [x], [self.blob()], {0: 1})

    def bn(self, x, ch, prefix, relu=False):
        ws = [self.named(prefix + "." + n, (1, 1, 1, ch))
              for n in ("weight", "bias", "running_mean", "running_var")]
        y = self.add("BatchNormalization", [x], [self.blob()], {F0: 1e-05}, ws)
        return self.relu(y) if relu else y

    def shuffle(self, a, b, two_outputs):
        outs = [self.blob(), self.blob()] if two_outputs else [self.blob()]
        name = "ChannelShuffle_%d" % self._shuffle
        self._shuffle += 1
        return self.add("ShuffleSplit2", [a, b], outs, {0: 2}, name=name)

    def upsample(self, x):
        return self.add("Resize", [x], [self.blob()],
                        {0: 0, 1: 1, F0: 2.0, F0 + 1: 2.0})

    def concat(self, xs):
        return self.add("Concat", xs, [self.blob()])

    def deconv(self, x, cin, cout, prefix, bias):
        ws = [self.named(prefix + ".weight", (cin, 2, 2, cout))]
        if bias:
            ws.append(self.named(prefix + ".bias", (1, 1, 1, cout)))
        params = self.conv_params(2, 2, 0, 1)
        return self.add("ConvTranspose", [x], [self.blob()], params, ws)

    # -- blocks -----------------------------------------------------------
    def down_unit(self, x, cin, k):
        # Branch B is recorded first, then branch A.
        b = self.conv(x, cin, k, 1, relu=True)
        b = self.dwconv(b, k, 2)
        b = self.conv(b, k, k, 1, relu=True)
        a = self.dwconv(x, cin, 2)
        a = self.conv(a, cin, k, 1, relu=True)
        return self.shuffle(a, b, True)

    def basic_unit(self, p, q, k, last):
        r = self.conv(q, k, k, 1, relu=True)
        r = self.dwconv(r, k, 1)
        r = self.conv(r, k, k, 1, relu=True)
        return self.shuffle(p, r, not last)

    def stage(self, x, cin, k, units):
        p, q = self.down_unit(x, cin, k)
        for i in range(units):
            out = self.basic_unit(p, q, k, last=(i == units - 1))
            if i < units - 1:
                p, q = out
        return out

    def decoder_block(self, i, x, cin, skip, cskip, mid, c3, branch):
        pre = "t_net.decoder.blocks.%d" % i
        y = self.upsample(x)
        y = self.bn(y, cin, pre + ".upsample.bn")
        y = self.concat([y, skip])
        y = self.conv(y, cin + cskip, mid, 1, prefix=pre + ".conv1.0")
        y = self.conv(y, mid, c3, 3, 1, 1, bias=(i != 0), relu=True)
        b4, b2, b1 = branch  # dilated 3x3, 2x2, plain 3x3 output channels
        d2 = self.conv(y, c3, b4, 3, 1, 2, 2, bias=False,
                       prefix=pre + ".branches.0")
        k2 = self.add("Conv", [y], [self.blob()],
                      self.conv_params(2, 1, 1, 2),
                      [self.named(pre + ".branches.1.weight", (b2, 2, 2, c3))])
        d1 = self.conv(y, c3, b1, 3, 1, 1, 1, bias=False,
                       prefix=pre + ".branches.2")
        y = self.concat([d1, k2, d2])
        return self.bn(y, b4 + b2 + b1, pre + ".bn", relu=True)

    def build(self):
        x = self.add("Normalize", ["input"], ["59x"],
                     {0: 3, F0: NORM_MEAN[0], F0 + 1: NORM_MEAN[1],
                      F0 + 2: NORM_MEAN[2], F0 + 3: NORM_SCALE[0],
                      F0 + 4: NORM_SCALE[1], F0 + 5: NORM_SCALE[2],
                      F0 + 6: NORM_FOURTH})
        s1 = self.conv(x, 3, 24, 3, 2, 1, relu=True)
        s2 = self.add("MaxPool", [s1], [self.blob()], self.conv_params(3, 2, 1, 1))
        s3 = self.stage(s2, 24, 24, 3)
        s4 = self.stage(s3, 48, 48, 7)
        e = self.stage(s4, 96, 96, 3)
        d = self.decoder_block(0, e, 192, s4, 96, 32, 16, (4, 4, 8))
        d = self.decoder_block(1, d, 16, s3, 48, 16, 8, (2, 2, 4))
        d = self.decoder_block(2, d, 8, s2, 24, 16, 8, (2, 2, 4))
        head = "t_net.segmentation_head"
        h = self.deconv(d, 8, 4, head + ".upsample.upsample.0", bias=True)
        h = self.bn(h, 4, head + ".upsample.bn", relu=True)
        h = self.conv(h, 4, 4, 3, 1, 1, relu=True)
        h = self.concat([h, s1])
        h = self.conv(h, 28, 4, 1, relu=True)
        h = self.deconv(h, 4, 4, head + ".upsample2.upsample.0", bias=False)
        h = self.bn(h, 4, head + ".upsample2.bn", relu=True)
        h = self.conv(h, 4, 1, 3, 1, 1, bias=False, prefix=head + ".conv")
        h = self.add("Sigmoid", [h], [self.blob()], {0: 5})
        self.add("Mattingmask", [h], ["mask"])
        return self


def build():
    """Returns (layers, weights) in record order."""
    b = _Builder().build()
    return b.layers, b.weights


def element_count(shape):
    n = 1
    for v in shape:
        n *= v
    return n


if __name__ == "__main__":
    import collections
    layers, weights = build()
    blobs = {"input"}
    for l in layers:
        blobs.update(l["inputs"])
        blobs.update(l["outputs"])
    print("layers:", len(layers))
    print("weights:", len(weights))
    print("blobs:", len(blobs))
    print("parameters:", sum(element_count(w["shape"]) for w in weights))
    print(dict(collections.Counter(l["type"] for l in layers)))

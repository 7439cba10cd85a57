"""Reader and writer of the weight data file (model/portrait_weights.bin).

Layout: for every weight record in description order, its float32
little-endian values in PyTorch order (Conv/DepthwiseConv (out, in/groups, kh,
kw), ConvTranspose (in, out, kh, kw), vectors as they are), each block
zero-padded to a multiple of 16 floats.  Nothing else is in the file.
"""
import numpy as np

from tools.twin import description

ALIGN = 16


def _padded(count):
    return (count + ALIGN - 1) // ALIGN * ALIGN


def expected_floats():
    return sum(_padded(int(np.prod(s))) for _, s in description.torch_shapes())


def read(path):
    """Returns an ordered dict name -> float32 array with its PyTorch shape."""
    data = np.fromfile(path, dtype="<f4")
    if data.size != expected_floats():
        raise ValueError("%s holds %d floats, expected %d"
                         % (path, data.size, expected_floats()))
    out = {}
    pos = 0
    for name, shape in description.torch_shapes():
        count = int(np.prod(shape))
        out[name] = data[pos:pos + count].astype(np.float32).reshape(shape)
        pos += _padded(count)
    return out


def to_bytes(weights):
    """Serialises name -> array (any float dtype, PyTorch shape) to file bytes."""
    chunks = []
    for name, shape in description.torch_shapes():
        if name not in weights:
            raise KeyError("missing weight " + name)
        arr = np.asarray(weights[name], dtype="<f4")
        if tuple(arr.shape) != tuple(shape):
            raise ValueError("weight %s has shape %s, expected %s"
                             % (name, arr.shape, shape))
        flat = np.zeros(_padded(arr.size), dtype="<f4")
        flat[:arr.size] = arr.reshape(-1)
        chunks.append(flat.tobytes())
    return b"".join(chunks)


def write(path, weights):
    blob = to_bytes(weights)
    with open(path, "wb") as f:
        f.write(blob)
    return len(blob)

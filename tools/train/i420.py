"""The filter's view of a camera frame, in numpy.

A frame reaches the network as I420 (BT.601 limited range, 2x2 chroma),
bilinearly scaled to the work size without keeping the aspect ratio, then
converted back to packed B, G, R bytes.  These functions reproduce that path
with libyuv's fixed-point formulas so training sees the same colours.
"""
import cv2
import numpy as np


def bgr_to_i420(bgr):
    """uint8 H x W x 3 (even H, W) -> (Y, U, V) uint8 planes.

    Same formulas as bgr_to_i420_reference evaluated in float by OpenCV
    (within one level of it, about 30 times faster)."""
    h, w = bgr.shape[:2]
    bgr = bgr[:h - h % 2, :w - w % 2]
    h, w = bgr.shape[:2]
    y = cv2.transform(bgr, _Y_MAT)
    small = cv2.resize(bgr, (w // 2, h // 2), interpolation=cv2.INTER_AREA)
    uv = cv2.transform(small, _UV_MAT)
    return y, np.ascontiguousarray(uv[..., 0]), np.ascontiguousarray(uv[..., 1])


_Y_MAT = np.array([[25, 129, 66, 16 * 256]], np.float32) / 256
_UV_MAT = np.array([[112, -74, -38, 128 * 256],
                    [-18, -94, 112, 128 * 256]], np.float32) / 256


def bgr_to_i420_reference(bgr):
    """uint8 H x W x 3 (even H, W) -> (Y, U, V) uint8 planes, libyuv's
    fixed-point formulas."""
    h, w = bgr.shape[:2]
    if h % 2 or w % 2:
        bgr = bgr[:h - h % 2, :w - w % 2]
        h, w = bgr.shape[:2]
    b, g, r = [bgr[..., k].astype(np.int32) for k in range(3)]
    y = (66 * r + 129 * g + 25 * b + 0x1080) >> 8
    # Chroma from the rounded 2x2 average of each colour.
    avg = lambda c: (c[0::2, 0::2] + c[0::2, 1::2] + c[1::2, 0::2]
                     + c[1::2, 1::2] + 2) >> 2
    rb, gb, bb = avg(r), avg(g), avg(b)
    u = (112 * bb - 74 * gb - 38 * rb + 0x8080) >> 8
    v = (112 * rb - 94 * gb - 18 * bb + 0x8080) >> 8
    c = lambda p: np.clip(p, 0, 255).astype(np.uint8)
    return c(y), c(u), c(v)


def i420_to_bgr(y, u, v):
    """(Y, U, V) -> uint8 H x W x 3 B,G,R bytes, BT.601 limited range; each
    chroma sample serves its 2 x 2 block, as in libyuv's I420ToRGB24."""
    h, w = y.shape
    uu = cv2.resize(u, (u.shape[1] * 2, u.shape[0] * 2),
                    interpolation=cv2.INTER_NEAREST)[:h, :w]
    vv = cv2.resize(v, (v.shape[1] * 2, v.shape[0] * 2),
                    interpolation=cv2.INTER_NEAREST)[:h, :w]
    return cv2.transform(cv2.merge((y, uu, vv)), _BGR_MAT)


# Rows B, G, R over (Y, U, V, 1).
_BGR_MAT = np.array([
    [1.164, 2.018, 0.0, -16 * 1.164 - 128 * 2.018],
    [1.164, -0.391, -0.813, -16 * 1.164 + 128 * (0.391 + 0.813)],
    [1.164, 0.0, 1.596, -16 * 1.164 - 128 * 1.596]], np.float32)


def scale_i420(planes, width, height):
    """Bilinear scale of the three planes to a width x height frame."""
    y, u, v = planes
    cw, ch = width // 2, height // 2
    lin = cv2.INTER_LINEAR
    if y.shape != (height, width):
        y = cv2.resize(y, (width, height), interpolation=lin)
    if u.shape != (ch, cw):
        u = cv2.resize(u, (cw, ch), interpolation=lin)
        v = cv2.resize(v, (cw, ch), interpolation=lin)
    return y, u, v


def network_input(frame_bgr, width, height):
    """Camera frame (B,G,R bytes, any size) -> the network's B,G,R bytes."""
    return i420_to_bgr(*scale_i420(bgr_to_i420(frame_bgr), width, height))

"""Face-analysis models: detectors, landmarkers and recognizers under <models>/detect/.

Ready-made synthetic models for end-to-end tests (any area may use them):

  detect/scrfd_2.5g.onnx, detect/yunet_2023mar.onnx, detect/yoloface_8n.onnx
      Bright-blob detectors, one per family, copied under these very names into a
      model directory (ModelDir::add("detect/scrfd_2.5g.onnx") after add_all_slots()).
      Each reports one face for every bright square on a dark background:
      - work in model-input pixels (the image is stretched to 640 x 640): a square
        of 64 x 64 whose centre (cx, cy) lies on a multiple of 8 gives the box
        (cx - 32, cy - 32, cx + 32, cy + 32) scaled back to the source image, that
        is the square's own outline. For a 640 x 640 image that is the square
        itself; for a 1280 x 960 image, 128 x 96 source pixels centred on a
        multiple of (16, 12).
      - "bright": some channel >= 144 in every pixel of the square; "dark": every
        channel <= 111 around it. Coloured squares (pure red, green ...) count.
      - score = mean brightness of the square, about (v + 0.5) / 256 for a square
        whose brightest channel is v everywhere (255 gives 0.998, 200 gives 0.783),
        so brighter squares come first.
      - five landmarks at the arcface template fractions of the box (eyes at
        34 % / 66 % across and 46 % down, nose 50 % / 64 %, mouth corners 37 % and
        63 % across, 82 % down), so aligned crops show the square filling them.
      - keep squares at least 16 model pixels apart; squares off the 8-pixel grid
        are still found, their box snapping to the nearest grid point. Squares
        must be 58 ... 64 model pixels wide: smaller ones are not found, larger
        ones give several overlapping faces.
      - the whole image is one 640 x 640 model input; to test several faces
        with given boxes, draw one square per face on a dark image. Example
        (640 x 640, black): a (200, 200, 200) square at x 288 ... 351,
        y 288 ... 351 gives one face, box (288, 288, 352, 352), score ~0.78.
  detect/2dfan4.onnx
      Landmarker with fixed output: 68 points laid out over the crop so that a
      square box gets back the same five points the blob detectors give (eye
      contours around the eye centres, nose tip 30, mouth corners 48 and 54),
      hence landmark5_align stays where landmark5 was for square boxes.
      Its confidence (output 1) is the mean of the crop it received, 0 ... 1.
  detect/arcface_w600k_r50.onnx
      Colour recognizer: the embedding is a fixed smooth function of the mean
      colour of the central half of the aligned crop. Faces of one colour get
      the same embedding; colours whose channels are each 0, 128 or 255 (red,
      green, blue, white, black, grey, yellow, orange ...) have cosine
      similarity below 0.2 between any two different ones.

Contract models with fixed outputs (decoding tests; see tests/face/test_detect*):
  scrfd_fixed, scrfd_crowd, scrfd_8outputs, scrfd_short, yoloface_fixed,
  yoloface_rank2, yoloface_thin, yoloface_empty, yunet_fixed, yunet_11outputs,
  yunet_short, 2dfan4_grid, 2dfan4_flat, 2dfan4_short, 2dfan4_one_output,
  arcface_probe, arcface_short.
"""
import os

import numpy as np
from onnx import helper

from onnx_util import const, constant_output_model, save_model, tensor_info

IMG640 = [1, 3, 640, 640]
STRIDES = (8, 16, 32)

# Five-point template of the recognizer crop, as fractions of the crop.
ARCFACE_112 = np.array([0.34191608, 0.4615741, 0.65653396, 0.45983392, 0.500225, 0.6405054,
                        0.37097588, 0.82469195, 0.63151693, 0.8232509], np.float32)

BLOB = 64  # side of the window a blob detector looks at, model-input pixels


class Graph:
    """Collects nodes and initializers with unique names."""

    def __init__(self):
        self.nodes, self.inits, self.n = [], [], 0

    def name(self, hint):
        self.n += 1
        return f"{hint}_{self.n}"

    def const(self, array, hint="c"):
        name = self.name(hint)
        self.inits.append(const(name, array))
        return name

    def op(self, op_type, inputs, hint=None, **attrs):
        out = self.name(hint or op_type.lower())
        self.nodes.append(helper.make_node(op_type, list(inputs), [out], **attrs))
        return out

    def scalar(self, value):
        return self.const(np.array(value, np.float32))

    def ints(self, values):
        return self.const(np.array(values, np.int64))

    def filled(self, shape, value):
        return self.op("Expand", [self.scalar(value), self.ints(shape)])

    def sparse(self, shape, entries):
        """A float tensor of `shape`, zero except entries {flat index: value}."""
        flat = self.filled([int(np.prod(shape))], 0.0)
        if entries:
            idx = np.array([[i] for i in entries], np.int64)
            vals = np.array(list(entries.values()), np.float32)
            flat = self.op("ScatterND", [flat, self.const(idx), self.const(vals)])
        return self.op("Reshape", [flat, self.ints(shape)])

    def output(self, value, name):
        self.nodes.append(helper.make_node("Identity", [value], [name]))


def save(out_dir, file_name, g, input_name, input_shape, outputs):
    """outputs: list of (name, shape) already produced with g.output."""
    save_model(out_dir, file_name, g.nodes, [tensor_info(input_name, input_shape)],
               [tensor_info(n, s) for n, s in outputs], g.inits)


def anchor_count(stride, per_cell):
    return per_cell * (640 // stride) ** 2


# ------------------------------------------------------------- blob detectors

def blob_score_map(g, x, scale=None, offset=None):
    """[1, 1, 80, 80] score per stride-8 cell: how completely and how brightly a
    64 x 64 window centred on the cell's anchor is covered by bright pixels."""
    if scale is not None:  # bring a 0 ... 255 input to the (v - 127.5) / 128 range
        x = g.op("Mul", [g.op("Add", [x, g.scalar(offset)]), g.scalar(scale)])
    peak = g.op("ReduceMax", [x], axes=[1], keepdims=1)
    bright = g.op("Clip", [g.op("Add", [g.op("Mul", [peak, g.scalar(4.0)]), g.scalar(0.5)]),
                           g.scalar(0.0), g.scalar(1.0)])
    level = g.op("Mul", [g.op("Add", [peak, g.scalar(1.0)]), g.scalar(0.5)])
    pool = dict(kernel_shape=[BLOB, BLOB], strides=[8, 8], pads=[32, 32, 24, 24],
                count_include_pad=1)
    cover = g.op("AveragePool", [bright], **pool)
    mean = g.op("AveragePool", [level], **pool)
    full = g.op("Clip", [g.op("Mul", [g.op("Sub", [cover, g.scalar(0.75)]), g.scalar(5.0)]),
                         g.scalar(0.0), g.scalar(1.0)])
    return g.op("Mul", [full, g.op("Clip", [mean, g.scalar(0.0), g.scalar(1.0)])])


def blob_landmark_offsets():
    """Landmark offsets from the box centre, model-input pixels."""
    return ARCFACE_112 * BLOB - BLOB / 2


def blob_scrfd(out_dir):
    g = Graph()
    score = g.op("Reshape", [blob_score_map(g, "input.1"), g.ints([1, 6400, 1])])
    # Only the first anchor of a cell reports; the second would repeat it.
    score = g.op("Concat", [score, g.filled([1, 6400, 1], 0.0)], axis=2)
    score = g.op("Reshape", [score, g.ints([1, 12800, 1])])
    outs = []
    for kind, width in (("score", 1), ("bbox", 4), ("kps", 10)):
        for stride in STRIDES:
            n = anchor_count(stride, 2)
            name = f"{kind}_{stride}"
            if stride != 8:
                value = g.filled([1, n, width], 0.0)
            elif kind == "score":
                value = score
            elif kind == "bbox":
                value = g.filled([1, n, 4], BLOB / 2 / 8)
            else:
                offsets = g.const((blob_landmark_offsets() / 8).reshape(1, 1, 10))
                value = g.op("Expand", [offsets, g.ints([1, n, 10])])
            g.output(value, name)
            outs.append((name, [1, n, width]))
    save(out_dir, "scrfd_2.5g.onnx", g, "input.1", IMG640, outs)


def blob_yunet(out_dir):
    g = Graph()
    score = g.op("Reshape", [blob_score_map(g, "input", 0.0078125, -127.5), g.ints([1, 6400, 1])])
    outs = []
    for kind, width in (("cls", 1), ("obj", 1), ("bbox", 4), ("kps", 10)):
        for stride in STRIDES:
            n = anchor_count(stride, 1)
            name = f"{kind}_{stride}"
            if stride != 8:
                value = g.filled([1, n, width], 0.0)
            elif kind in ("cls", "obj"):
                value = score  # sqrt(cls * obj) gives the score back
            elif kind == "bbox":
                size = np.log(np.float32(BLOB / 8))
                value = g.op("Expand", [g.const(np.array([[[0, 0, size, size]]], np.float32)),
                                        g.ints([1, n, 4])])
            else:
                offsets = g.const((blob_landmark_offsets() / 8).reshape(1, 1, 10))
                value = g.op("Expand", [offsets, g.ints([1, n, 10])])
            g.output(value, name)
            outs.append((name, [1, n, width]))
    save(out_dir, "yunet_2023mar.onnx", g, "input", IMG640, outs)


def blob_yoloface(out_dir):
    g = Graph()
    score = g.op("Reshape", [blob_score_map(g, "images"), g.ints([1, 1, 6400])])
    ramp = g.op("Range", [g.scalar(0.0), g.scalar(640.0), g.scalar(8.0)])
    cx = g.op("Reshape", [g.op("Expand", [g.op("Reshape", [ramp, g.ints([1, 80])]),
                                          g.ints([80, 80])]), g.ints([1, 1, 6400])])
    cy = g.op("Reshape", [g.op("Expand", [g.op("Reshape", [ramp, g.ints([80, 1])]),
                                          g.ints([80, 80])]), g.ints([1, 1, 6400])])
    side = g.filled([1, 1, 6400], float(BLOB))
    one = g.filled([1, 1, 6400], 1.0)
    rows = [cx, cy, side, side, score]
    offsets = blob_landmark_offsets()
    for k in range(5):
        rows.append(g.op("Add", [cx, g.scalar(float(offsets[2 * k]))]))
        rows.append(g.op("Add", [cy, g.scalar(float(offsets[2 * k + 1]))]))
        rows.append(one)
    g.output(g.op("Concat", rows, axis=1), "output0")
    save(out_dir, "yoloface_8n.onnx", g, "images", IMG640, [("output0", [1, 20, 6400])])


# ------------------------------------------------------ landmarker, recognizer

def face_layout_68():
    """68 points as fractions of a face box, in the landmark model's order."""
    pts = np.zeros((68, 2), np.float64)
    for i in range(17):  # jaw, ear to ear over the chin
        a = np.pi * (1.0 - i / 16.0)
        pts[i] = (0.5 + 0.42 * np.cos(a), 0.45 + 0.5 * np.sin(a))
    for i in range(5):  # brows
        pts[17 + i] = (0.2 + 0.06 * i, 0.36 - 0.02 * min(i, 4 - i))
        pts[22 + i] = (0.56 + 0.06 * i, 0.36 - 0.02 * min(i, 4 - i))
    for i in range(4):  # bridge down to the tip (point 30)
        pts[27 + i] = (ARCFACE_112[4], 0.42 + i * (ARCFACE_112[5] - 0.42) / 3)
    for i in range(5):  # nostrils
        pts[31 + i] = (0.44 + 0.03 * i, 0.68)
    hexagon = [(-1, 0), (-0.5, -0.5), (0.5, -0.5), (1, 0), (0.5, 0.5), (-0.5, 0.5)]
    for eye, first in ((0, 36), (1, 42)):  # contours centred on the eye centres
        ex, ey = ARCFACE_112[2 * eye], ARCFACE_112[2 * eye + 1]
        for k, (dx, dy) in enumerate(hexagon):
            pts[first + k] = (ex + 0.0625 * dx, ey + 0.0625 * dy)
    lx, ly, rx, ry = ARCFACE_112[6:10]
    mx, my = (lx + rx) / 2, (ly + ry) / 2
    for k in range(12):  # outer lip from the left corner (48) over the right one (54)
        a = np.pi + 2 * np.pi * k / 12
        pts[48 + k] = (mx + (rx - lx) / 2 * np.cos(a), my + 0.0625 * np.sin(a))
    pts[48] = (lx, ly)
    pts[54] = (rx, ry)
    for k in range(8):  # inner lip
        a = np.pi + 2 * np.pi * k / 8
        pts[60 + k] = (mx + 0.09 * np.cos(a), my + 0.03 * np.sin(a))
    return pts


def layout_landmarker(out_dir):
    # A square box spans crop pixels 30.5 ... 225.5; the model speaks in a
    # 64 x 64 grid over the 256-pixel crop. Fractions are snapped to steps of
    # 1/195 so that grid values are exact multiples of 1/4.
    frac = np.round(face_layout_68() * 195) / 195
    grid = (30.5 + 195 * frac) / 4
    points = np.concatenate([grid, np.ones((68, 1))], axis=1).astype(np.float32).reshape(1, 68, 3)
    g = Graph()
    zero = g.op("Mul", [g.op("ReduceSum", ["input"], keepdims=0), g.scalar(0.0)])
    g.output(g.op("Add", [g.const(points), zero]), "landmarks")
    mean = g.op("ReduceMean", ["input"], axes=[1, 2, 3], keepdims=0)
    g.output(g.op("Reshape", [mean, g.ints([1, 1])]), "heatmaps")
    save(out_dir, "2dfan4.onnx", g, "input", [1, 3, 256, 256],
         [("landmarks", [1, 68, 3]), ("heatmaps", [1, 1])])


def colour_recognizer(out_dir):
    g = Graph()
    centre = g.op("Slice", ["input.1", g.ints([28, 28]), g.ints([84, 84]), g.ints([2, 3])])
    mean = g.op("ReduceMean", [centre], axes=[2, 3], keepdims=0)          # [1, 3] in -1 ... 1
    mean = g.op("Unsqueeze", [mean, g.ints([2])])                         # [1, 3, 1]
    centres = g.const(np.array([-1, 0, 1], np.float32).reshape(1, 1, 3))
    d = g.op("Div", [g.op("Sub", [mean, centres]), g.scalar(0.35)])
    bins = g.op("Exp", [g.op("Neg", [g.op("Mul", [d, d])])])            # [1, 3 channels, 3 bins]
    # Joint bins of the three channels: colours made of 0, 128 and 255 levels
    # fall into 27 nearly disjoint cells, so they get nearly orthogonal identities.
    per_channel = []
    for c, shape in enumerate(([1, 3, 1, 1], [1, 1, 3, 1], [1, 1, 1, 3])):
        one = g.op("Slice", [bins, g.ints([c]), g.ints([c + 1]), g.ints([1])])
        per_channel.append(g.op("Reshape", [one, g.ints(shape)]))
    joint = g.op("Mul", [g.op("Mul", per_channel[:2]), per_channel[2]])
    flat = g.op("Reshape", [joint, g.ints([1, 27])])
    weights = np.random.RandomState(7).standard_normal((27, 512)).astype(np.float32)
    g.output(g.op("MatMul", [flat, g.const(weights)]), "683")
    save(out_dir, "arcface_w600k_r50.onnx", g, "input.1", [1, 3, 112, 112], [("683", [1, 512])])


# ----------------------------------------------------- contract (fixed) models

def scrfd_model(out_dir, file_name, entries, uniform=None, outputs=9, short=None):
    """scrfd outputs zero except entries[(kind, stride)] = {anchor: values}.
    uniform[(kind, stride)] fills a whole output with one value. short names an
    output written with fewer values than the decoder reads."""
    g = Graph()
    outs = []
    for kind, width in (("score", 1), ("bbox", 4), ("kps", 10)):
        for stride in STRIDES:
            if len(outs) == outputs:
                break
            n = anchor_count(stride, 2)
            shape = [1, n // 2 if short == (kind, stride) else n, width]
            name = f"{kind}_{stride}"
            if uniform and (kind, stride) in uniform:
                value = g.filled(shape, uniform[(kind, stride)])
                if (kind, stride) in entries:
                    raise ValueError("uniform and sparse together")
            else:
                flat = {}
                for anchor, values in entries.get((kind, stride), {}).items():
                    for k, v in enumerate(np.atleast_1d(values)):
                        flat[anchor * width + k] = v
                value = g.sparse(shape, flat)
            value = g.op("Add", [value, g.op("Mul", [g.op("ReduceMin", ["input.1"], keepdims=0),
                                                       g.scalar(0.0)])])
            g.output(value, name)
            outs.append((name, shape))
    save(out_dir, file_name, g, "input.1", IMG640, outs)


def scrfd_contracts(d):
    def a8(row, col, k):
        return 2 * (row * 80 + col) + k

    def a16(row, col, k):
        return 2 * (row * 40 + col) + k

    def a32(row, col, k):
        return 2 * (row * 20 + col) + k

    below = float(np.nextafter(np.float32(0.5), np.float32(0)))
    entries = {
        ("score", 8): {a8(5, 10, 1): 0.9, a8(5, 11, 1): 0.7, a8(70, 70, 0): 0.8},
        ("bbox", 8): {a8(5, 10, 1): [1, 2, 3, 4], a8(5, 11, 1): [2, 2, 2, 4],
                      a8(70, 70, 0): [1, 1, 1, 1]},
        ("kps", 8): {a8(5, 10, 1): [0.5, -0.5, 1, 1, 1.5, -1, 2, 0.25, -0.75, 3]},
        ("score", 16): {a16(20, 30, 0): 0.5, a16(2, 2, 0): below},
        ("bbox", 16): {a16(20, 30, 0): [1, 1, 1, 1], a16(2, 2, 0): [1, 1, 1, 1]},
        ("score", 32): {a32(10, 5, 0): 0.8, a32(10, 5, 1): 0.8},
        ("bbox", 32): {a32(10, 5, 0): [2, 2, 2, 2], a32(10, 5, 1): [2, 2, 2, 2.5]},
        ("kps", 32): {a32(10, 5, 1): [1] * 10},
    }
    scrfd_model(d, "scrfd_fixed.onnx", entries)
    # Every stride-8 anchor scores 0.6 with a 9-pixel box; one large stride-32
    # face scores 0.9 after all of them in scan order.
    scrfd_model(d, "scrfd_crowd.onnx",
                {("score", 32): {a32(10, 10, 0): 0.9}, ("bbox", 32): {a32(10, 10, 0): [3] * 4}},
                uniform={("score", 8): 0.6, ("bbox", 8): 0.5})
    scrfd_model(d, "scrfd_8outputs.onnx", {}, outputs=8)
    scrfd_model(d, "scrfd_short.onnx", {}, short=("kps", 32))


def yoloface_contracts(d):
    rows = np.zeros((20, 8), np.float32)
    faces = {  # column: cx, cy, w, h, score
        0: (100, 150, 40, 60, 0.8),
        1: (102, 150, 40, 60, 0.6),   # overlaps face 0
        2: (300, 300, 50, 50, 0.5),   # equals the threshold of the tests
        3: (500, 500, 20, 20, 0.3),
        6: (400, 100, 30, 30, 0.8),   # ties with face 0, later in scan order
    }
    for i, (cx, cy, w, h, s) in faces.items():
        rows[0:5, i] = (cx, cy, w, h, s)
        for k in range(5):
            rows[5 + 3 * k:8 + 3 * k, i] = (cx - 10 + 5 * k, cy - 8 + 4 * k, 0.5)
    constant_output_model(d, "yoloface_fixed.onnx", "images", IMG640,
                          [("output0", rows.reshape(1, 20, 8))])
    constant_output_model(d, "yoloface_rank2.onnx", "images", IMG640, [("output0", rows)])
    constant_output_model(d, "yoloface_thin.onnx", "images", IMG640,
                          [("output0", rows[:5].reshape(1, 5, 8))])
    constant_output_model(d, "yoloface_empty.onnx", "images", IMG640,
                          [("output0", np.zeros((1, 20, 0), np.float32))])


def yunet_model(out_dir, file_name, entries, outputs=12, short=None):
    g = Graph()
    outs = []
    for kind, width in (("cls", 1), ("obj", 1), ("bbox", 4), ("kps", 10)):
        for stride in STRIDES:
            if len(outs) == outputs:
                break
            n = anchor_count(stride, 1)
            shape = [1, n, width // 2 if short == (kind, stride) else width]
            flat = {}
            for cell, values in entries.get((kind, stride), {}).items():
                for k, v in enumerate(np.atleast_1d(values)):
                    flat[cell * width + k] = v
            name = f"{kind}_{stride}"
            value = g.op("Add", [g.sparse(shape, flat),
                                 g.op("Mul", [g.op("ReduceMin", ["input"], keepdims=0),
                                              g.scalar(0.0)])])
            g.output(value, name)
            outs.append((name, shape))
    save(out_dir, file_name, g, "input", IMG640, outs)


def yunet_contracts(d):
    entries = {
        ("cls", 8): {5 * 80 + 10: 0.81},
        ("obj", 8): {5 * 80 + 10: 1.0},
        ("bbox", 8): {5 * 80 + 10: [0.5, -0.25, float(np.log(np.float32(2))), 0]},
        ("kps", 8): {5 * 80 + 10: [0.1, 0.2, 0.3, 0.4, 0.5, 0.6, 0.7, 0.8, 0.9, 1.0]},
        ("cls", 16): {2 * 40 + 20: 1.5},      # clamped to 1
        ("obj", 16): {2 * 40 + 20: 0.25},     # score 0.5
        ("cls", 32): {2 * 20 + 10: -0.5},     # clamped to 0
        ("obj", 32): {2 * 20 + 10: 1.0},
    }
    yunet_model(d, "yunet_fixed.onnx", entries)
    yunet_model(d, "yunet_11outputs.onnx", entries, outputs=11)
    yunet_model(d, "yunet_short.onnx", entries, short=("bbox", 16))


def landmark_contracts(d):
    # Point i at grid (10 + i / 2, 20 + i / 4); confidences with a NaN that must not win.
    grid = np.array([[10 + i / 2, 20 + i / 4, 7] for i in range(68)], np.float32)[None]
    constant_output_model(d, "2dfan4_grid.onnx", "input", [1, 3, 256, 256],
                          [("landmarks", grid),
                           ("heatmaps", np.array([[np.nan, 0.2, 0.7, 0.1]], np.float32))])
    # Negative confidences only: the result is 0, the points still change.
    constant_output_model(d, "2dfan4_flat.onnx", "input", [1, 3, 256, 256],
                          [("landmarks", grid), ("heatmaps", np.full((1, 3), -1, np.float32))])
    constant_output_model(d, "2dfan4_short.onnx", "input", [1, 3, 256, 256],
                          [("landmarks", grid[:, :67]), ("heatmaps", np.ones((1, 1), np.float32))])
    constant_output_model(d, "2dfan4_one_output.onnx", "input", [1, 3, 256, 256],
                          [("landmarks", grid)])


def recognizer_contracts(d):
    # The embedding is the first 512 input values: the top rows of the B plane.
    g = Graph()
    flat = g.op("Reshape", ["input.1", g.ints([1, 3 * 112 * 112])])
    g.output(g.op("Slice", [flat, g.ints([0]), g.ints([512]), g.ints([1])]), "683")
    save(d, "arcface_probe.onnx", g, "input.1", [1, 3, 112, 112], [("683", [1, 512])])
    constant_output_model(d, "arcface_short.onnx", "input.1", [1, 3, 112, 112],
                          [("683", np.ones((1, 100), np.float32))])


def generate(out_dir):
    d = os.path.join(out_dir, "detect")
    os.makedirs(d, exist_ok=True)
    blob_scrfd(d)
    blob_yunet(d)
    blob_yoloface(d)
    layout_landmarker(d)
    colour_recognizer(d)
    scrfd_contracts(d)
    yoloface_contracts(d)
    yunet_contracts(d)
    landmark_contracts(d)
    recognizer_contracts(d)

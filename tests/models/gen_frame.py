"""Models for the face enhancer, the colorizer and the upscaler, in the folder
"frame". Their outputs are simple functions of their input or of the pixel
position, so tests can predict every byte the library writes."""
import os

import numpy as np
from onnx import helper

from onnx_util import const, save_model, tensor_info

ENH = [1, 3, 512, 512]
COL = [1, 3, 512, 512]
TILE = [1, 3, 128, 128]


def zero_of_input(nodes, inits, name="input"):
    """A scalar zero that depends on the input, so no graph ignores its input."""
    nodes.append(helper.make_node("ReduceSum", [name], ["_in_sum"], keepdims=0))
    nodes.append(helper.make_node("Mul", ["_in_sum", "_zero"], ["_in_zero"]))
    inits.append(const("_zero", np.array(0.0, np.float32)))
    return "_in_zero"


def per_channel_constant(out_dir, file_name, input_shape, values, size):
    """Output [1, len(values), size, size] with channel c filled with values[c]."""
    nodes, inits = [], []
    zero = zero_of_input(nodes, inits)
    inits.append(const("values", np.array(values, np.float32).reshape(1, len(values), 1, 1)))
    inits.append(const("shape", np.array([1, len(values), size, size], np.int64)))
    nodes.append(helper.make_node("Expand", ["values", "shape"], ["expanded"]))
    nodes.append(helper.make_node("Add", ["expanded", zero], ["output"]))
    return save_model(out_dir, file_name, nodes, [tensor_info("input", input_shape)],
                      [tensor_info("output", [1, len(values), size, size])], inits)


def affine_of_input(out_dir, file_name, scale, offset):
    """Enhancer whose output is input x scale + offset, same shape."""
    nodes = [helper.make_node("Mul", ["input", "scale"], ["scaled"]),
             helper.make_node("Add", ["scaled", "offset"], ["output"])]
    inits = [const("scale", np.array(scale, np.float32)),
             const("offset", np.array(offset, np.float32))]
    return save_model(out_dir, file_name, nodes, [tensor_info("input", ENH)],
                      [tensor_info("output", ENH)], inits)


def nearest_upscaler(out_dir, file_name, factor):
    """Plain nearest-neighbour enlargement of each tile by factor."""
    nodes = [helper.make_node("Resize", ["input", "", "scales"], ["output"], mode="nearest",
                              coordinate_transformation_mode="asymmetric",
                              nearest_mode="floor")]
    inits = [const("scales", np.array([1, 1, factor, factor], np.float32))]
    side = 128 * factor
    return save_model(out_dir, file_name, nodes, [tensor_info("input", TILE)],
                      [tensor_info("output", [1, 3, side, side])], inits)


def upscaler_failing_on_white(out_dir, file_name):
    """Nearest x2, but the run fails for a tile holding any value above 0.99:
    the result is then reshaped to a shape its element count cannot fill."""
    nodes = [
        helper.make_node("Resize", ["input", "", "scales"], ["up"], mode="nearest",
                         coordinate_transformation_mode="asymmetric", nearest_mode="floor"),
        helper.make_node("ReduceMax", ["input"], ["max"], keepdims=0),
        helper.make_node("Greater", ["max", "limit"], ["white"]),
        helper.make_node("Cast", ["white"], ["white_i"], to=7),
        helper.make_node("Mul", ["white_i", "bad_dim"], ["extra"]),
        helper.make_node("Add", ["shape", "extra"], ["out_shape"]),
        helper.make_node("Reshape", ["up", "out_shape"], ["output"]),
    ]
    inits = [const("scales", np.array([1, 1, 2, 2], np.float32)),
             const("limit", np.array(0.99, np.float32)),
             const("bad_dim", np.array([0, 0, 0, 1], np.int64)),
             const("shape", np.array([1, 3, 256, 256], np.int64))]
    return save_model(out_dir, file_name, nodes, [tensor_info("input", TILE)],
                      [tensor_info("output", [1, 3, 256, None])], inits)


def identity(out_dir, file_name, shape):
    nodes = [helper.make_node("Identity", ["input"], ["output"])]
    return save_model(out_dir, file_name, nodes, [tensor_info("input", shape)],
                      [tensor_info("output", shape)])


def colorizer_probe(out_dir, file_name):
    """a* = 30 R - 15 + 0.04 x and b* = 0.04 y - 10 at model pixel (x, y), R
    being the input's first channel: the chroma shows where it was sampled."""
    ramp = np.arange(512, dtype=np.float32) * np.float32(0.04)
    nodes = [
        helper.make_node("Slice", ["input", "starts", "ends", "axes"], ["red"]),
        helper.make_node("Mul", ["red", "thirty"], ["red30"]),
        helper.make_node("Add", ["red30", "a_offset"], ["a_base"]),
        helper.make_node("Add", ["a_base", "ramp_x"], ["a"]),
        helper.make_node("Mul", ["red", "_zero"], ["red0"]),
        helper.make_node("Add", ["red0", "ramp_y"], ["b"]),
        helper.make_node("Concat", ["a", "b"], ["output"], axis=1),
    ]
    inits = [const("starts", np.array([0], np.int64)), const("ends", np.array([1], np.int64)),
             const("axes", np.array([1], np.int64)), const("thirty", np.array(30, np.float32)),
             const("a_offset", np.array(-15, np.float32)), const("_zero", np.array(0, np.float32)),
             const("ramp_x", ramp.reshape(1, 1, 1, 512)),
             const("ramp_y", (ramp - np.float32(10)).reshape(1, 1, 512, 1))]
    return save_model(out_dir, file_name, nodes, [tensor_info("input", COL)],
                      [tensor_info("output", [1, 2, 512, 512])], inits)


def generate(out_dir):
    d = os.path.join(out_dir, "frame")
    os.makedirs(d, exist_ok=True)
    # Face enhancer: constants that exercise every branch of the conversion
    # to bytes, a short output, and a function of the input.
    per_channel_constant(d, "enhance_minus1_0_3.onnx", ENH, [-1.0, 0.0, 3.0], 512)
    per_channel_constant(d, "enhance_minus2_half_1.onnx", ENH, [-2.0, 0.5, 1.0], 512)
    per_channel_constant(d, "enhance_short.onnx", ENH, [0.0, 0.0, 0.0], 256)
    affine_of_input(d, "enhance_darken.onnx", 0.5, -0.5)
    # Colorizer.
    per_channel_constant(d, "colorize_const.onnx", COL, [20.0, -10.0], 512)
    per_channel_constant(d, "colorize_short.onnx", COL, [0.0], 512)
    colorizer_probe(d, "colorize_probe.onnx")
    # Upscaler.
    nearest_upscaler(d, "upscale_nearest_x2.onnx", 2)
    nearest_upscaler(d, "upscale_nearest_x4.onnx", 4)
    upscaler_failing_on_white(d, "upscale_fail_on_white_x2.onnx")
    identity(d, "upscale_short_x2.onnx", TILE)

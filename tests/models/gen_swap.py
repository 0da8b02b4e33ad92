"""Swapper, occluder and face-parser models whose outputs tests can predict,
in the folder "swap".

Swappers of every family compute

    output = (1 - target') * 0.5 + mean(source) * 0.5

where target' is the target crop brought back to 0 ... 1 (simswap's model
undoes its mean and standard deviation), so a test sees both which target
crop reached the model and which source input (crop or which embedding).
"""
import os

import numpy as np
from onnx import helper

from onnx_util import const, constant_output_model, save_model, tensor_info

SIMSWAP_MEAN = [0.485, 0.456, 0.406]
SIMSWAP_STD = [0.229, 0.224, 0.225]


def swapper(out_dir, name, size, source_shape, normalised=False, names=("target", "source"),
            source_first=False, fail_on_green=False):
    target_name, source_name = names
    nodes, inits = [], []
    target = target_name
    if normalised:
        inits += [const("std", np.array(SIMSWAP_STD).reshape(1, 3, 1, 1)),
                  const("mean", np.array(SIMSWAP_MEAN).reshape(1, 3, 1, 1))]
        nodes += [helper.make_node("Mul", [target_name, "std"], ["scaled"]),
                  helper.make_node("Add", ["scaled", "mean"], ["unit"])]
        target = "unit"
    inits += [const("one", np.array(1.0)), const("half", np.array(0.5))]
    nodes += [helper.make_node("Sub", ["one", target], ["inverted"]),
              helper.make_node("Mul", ["inverted", "half"], ["target_half"]),
              helper.make_node("ReduceMean", [source_name], ["source_mean"], keepdims=0),
              helper.make_node("Mul", ["source_mean", "half"], ["source_half"]),
              helper.make_node("Add", ["target_half", "source_half"],
                               ["swapped" if fail_on_green else "output"])]
    if fail_on_green:
        # Picks element floor(2 * mean green) of a one-element table: the run
        # fails (index out of range) when the crop is at least half green.
        inits += [const("green_starts", np.array([1], dtype=np.int64)),
                  const("green_ends", np.array([2], dtype=np.int64)),
                  const("channel_axis", np.array([1], dtype=np.int64)),
                  const("two", np.array(2.0)), const("table", np.array([0.0]))]
        nodes += [helper.make_node("Slice", [target_name, "green_starts", "green_ends",
                                             "channel_axis"], ["green"]),
                  helper.make_node("ReduceMean", ["green"], ["green_mean"], keepdims=0),
                  helper.make_node("Mul", ["green_mean", "two"], ["green_scaled"]),
                  helper.make_node("Floor", ["green_scaled"], ["green_floor"]),
                  helper.make_node("Cast", ["green_floor"], ["index"], to=7),
                  helper.make_node("Gather", ["table", "index"], ["picked"], axis=0),
                  helper.make_node("Add", ["swapped", "picked"], ["output"])]
    inputs = [tensor_info(target_name, [1, 3, size, size]), tensor_info(source_name, source_shape)]
    if source_first:
        inputs.reverse()
    save_model(out_dir, name, nodes, inputs, [tensor_info("output", [1, 3, size, size])], inits)


def planes_model(out_dir, name, input_name, input_shape, values, out_shape):
    """Output of out_shape whose plane c (axis 1) holds values[c] everywhere."""
    values = np.asarray(values, dtype=np.float32)
    per_plane = values.reshape([1, len(values)] + [1] * (len(out_shape) - 2))
    inits = [const("plane_values", per_plane),
             const("out_shape", np.array(out_shape, dtype=np.int64)),
             const("zero", np.array(0.0))]
    nodes = [helper.make_node("Expand", ["plane_values", "out_shape"], ["expanded"]),
             helper.make_node("ReduceSum", [input_name], ["in_sum"], keepdims=0),
             helper.make_node("Mul", ["in_sum", "zero"], ["in_zero"]),
             helper.make_node("Add", ["expanded", "in_zero"], ["output"])]
    save_model(out_dir, name, nodes, [tensor_info(input_name, input_shape)],
               [tensor_info("output", out_shape)], inits)


def occluder_passthrough(out_dir, name, input_shape):
    """Output 1 x H x W x 1 = the input's channel 0 (byte / 255 of red)."""
    inits = [const("starts", np.array([0], dtype=np.int64)),
             const("ends", np.array([1], dtype=np.int64)),
             const("axes", np.array([3], dtype=np.int64))]
    nodes = [helper.make_node("Slice", ["input", "starts", "ends", "axes"], ["output"])]
    out_shape = list(input_shape[:3]) + [1]
    save_model(out_dir, name, nodes, [tensor_info("input", input_shape)],
               [tensor_info("output", out_shape)], inits)


def parser_mirror(out_dir, name):
    """Two classes: background scores 0, face scores the input's channel 0."""
    inits = [const("starts", np.array([0], dtype=np.int64)),
             const("ends", np.array([1], dtype=np.int64)),
             const("axes", np.array([1], dtype=np.int64)),
             const("zero", np.array(0.0))]
    nodes = [helper.make_node("Slice", ["input", "starts", "ends", "axes"], ["red"]),
             helper.make_node("Mul", ["red", "zero"], ["background"]),
             helper.make_node("Concat", ["background", "red"], ["output"], axis=1)]
    save_model(out_dir, name, nodes, [tensor_info("input", [1, 3, 512, 512])],
               [tensor_info("output", [1, 2, 512, 512])], inits)


def parser_flat(out_dir, name):
    """One-dimensional output of 19 planes in which class 1 wins."""
    values = np.zeros(19, np.float32)
    values[1] = 1.0
    inits = [const("plane_values", values.reshape(19, 1)),
             const("plane_shape", np.array([19, 512 * 512], dtype=np.int64)),
             const("flat", np.array([-1], dtype=np.int64)),
             const("zero", np.array(0.0))]
    nodes = [helper.make_node("Expand", ["plane_values", "plane_shape"], ["planes"]),
             helper.make_node("Reshape", ["planes", "flat"], ["flat_planes"]),
             helper.make_node("ReduceSum", ["input"], ["in_sum"], keepdims=0),
             helper.make_node("Mul", ["in_sum", "zero"], ["in_zero"]),
             helper.make_node("Add", ["flat_planes", "in_zero"], ["output"])]
    save_model(out_dir, name, nodes, [tensor_info("input", [1, 3, 512, 512])],
               [tensor_info("output", [19 * 512 * 512])], inits)


def classes(winners, count=19):
    values = np.zeros(count, np.float32)
    for c in winners:
        values[c] = 1.0
    return values


def generate(out_dir):
    d = os.path.join(out_dir, "swap")
    os.makedirs(d, exist_ok=True)

    crop256, crop112, embedding = [1, 3, 256, 256], [1, 3, 112, 112], [1, 512]
    swapper(d, "uniface.onnx", 256, crop256)
    swapper(d, "uniface_source_first.onnx", 256, crop256, source_first=True)
    swapper(d, "blendswap.onnx", 256, crop112)
    swapper(d, "inswapper.onnx", 128, embedding)
    swapper(d, "simswap.onnx", 256, embedding, normalised=True)
    swapper(d, "uniface_fails_on_green.onnx", 256, crop256, fail_on_green=True)
    swapper(d, "other_names.onnx", 256, crop256, names=("input_a", "input_b"))
    # Generated values 1.2, -0.1 and 0.5 in the three channels.
    planes_model(d, "constant_swapper.onnx", "target", [1, 3, 256, 256], [1.2, -0.1, 0.5],
                 [1, 3, 256, 256])
    constant_output_model(d, "short_swapper.onnx", "target", [1, 3, 256, 256],
                          [("output", np.full((1, 3, 256, 128), 0.5, np.float32))])

    occ = [1, 256, 256, 3]
    for name, value in (("occluder_ones.onnx", 1.0), ("occluder_zeros.onnx", 0.0),
                        ("occluder_three.onnx", 3.0), ("occluder_minus_two.onnx", -2.0)):
        constant_output_model(d, name, "input", occ,
                              [("output", np.full((1, 256, 256, 1), value, np.float32))])
    constant_output_model(d, "occluder_short.onnx", "input", occ,
                          [("output", np.ones((1, 16, 16, 1), np.float32))])
    occluder_passthrough(d, "occluder_red.onnx", [1, 256, 256, 3])
    occluder_passthrough(d, "occluder_red_64.onnx", [1, 64, 64, 3])
    occluder_passthrough(d, "occluder_dynamic.onnx", [1, "height", "width", 3])
    constant_output_model(d, "occluder_rank3.onnx", "input", [256, 256, 3],
                          [("output", np.ones((256, 256, 1), np.float32))])

    par, out19 = [1, 3, 512, 512], [1, 19, 512, 512]
    planes_model(d, "parser_face.onnx", "input", par, classes([1]), out19)
    planes_model(d, "parser_background.onnx", "input", par, classes([0]), out19)
    planes_model(d, "parser_tie_0_1.onnx", "input", par, classes([0, 1]), out19)
    planes_model(d, "parser_tie_1_7.onnx", "input", par, classes([1, 7]), out19)
    planes_model(d, "parser_hair.onnx", "input", par, classes([17]), out19)
    planes_model(d, "parser_single_class.onnx", "input", par, [5.0], [1, 1, 512, 512])
    planes_model(d, "parser_short.onnx", "input", par, classes([1]), [1, 19, 16, 16])
    parser_flat(d, "parser_flat.onnx")
    parser_mirror(d, "parser_mirror.onnx")

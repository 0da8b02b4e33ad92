"""Stand-in models for the demo (tools/demo.sh), in the folder "demo".

They make the demo's pictures show what each operation is for, on the
demo's cartoon faces (bright squares that the generated detectors find):

  uniface_256.onnx     swapper that returns the aligned source face, so the
                       source face lands on every target face;
  face_parser.onnx     parser that calls every bright pixel (after closing
                       small dark holes) face, so only the face square is
                       pasted, not its surroundings;
  face_occluder.onnx   occluder that sees nothing in the way;
  gfpgan_1.4.onnx      restorer that smooths noise away and snaps colours to
                       eighths of full scale, the palette of the demo faces;
  ddcolor.onnx         colorizer that tints light areas warm and dark areas
                       blue, whatever the picture;
  real_esrgan_x2.onnx, real_esrgan_x4.onnx
                       upscalers with bicubic enlargement of each tile.

Detector, landmarker and recognizer come from the "detect" folder.
"""
import os

import numpy as np
from onnx import helper

from onnx_util import const, constant_output_model, save_model, tensor_info

INT64_MIN = np.iinfo(np.int64).min


def node(nodes, op_type, inputs, output, **attrs):
    nodes.append(helper.make_node(op_type, inputs, [output], **attrs))
    return output


def source_face_swapper(out_dir):
    nodes, inits = [], [const("zero", np.array(0.0))]
    node(nodes, "ReduceSum", ["target"], "target_sum", keepdims=0)
    node(nodes, "Mul", ["target_sum", "zero"], "target_zero")
    node(nodes, "Add", ["source", "target_zero"], "output")
    shape = [1, 3, 256, 256]
    save_model(out_dir, "uniface_256.onnx", nodes,
               [tensor_info("target", shape), tensor_info("source", shape)],
               [tensor_info("output", shape)], inits)


def bright_region_parser(out_dir):
    """Class 1 (skin) where the brightest channel reaches 144/255, else class
    0 (background); the input's mirrored columns are turned back first."""
    nodes = []
    inits = [const("starts", np.array([-1], np.int64)), const("ends", np.array([INT64_MIN])),
             const("axes", np.array([3], np.int64)), const("steps", np.array([-1], np.int64)),
             const("threshold", np.array(144 / 127.5 - 1, np.float32).reshape(1, 1, 1, 1)),
             const("minus", np.array(-1.0))]
    node(nodes, "Slice", ["input", "starts", "ends", "axes", "steps"], "unmirrored")
    node(nodes, "ReduceMax", ["unmirrored"], "peak", axes=[1], keepdims=1)
    # Closing (dilate, then erode) on 8 x 8 blocks fills eyes, sunglasses and
    # mouth, so they count as face.
    node(nodes, "MaxPool", ["peak"], "blocks", kernel_shape=[8, 8], strides=[8, 8])
    pool = dict(kernel_shape=[9, 9], pads=[4, 4, 4, 4])
    node(nodes, "MaxPool", ["blocks"], "dilated", **pool)
    node(nodes, "Mul", ["dilated", "minus"], "negated")
    node(nodes, "MaxPool", ["negated"], "eroded_negated", **pool)
    node(nodes, "Mul", ["eroded_negated", "minus"], "closed")
    inits.append(const("block_scales", np.array([1, 1, 8, 8], np.float32)))
    node(nodes, "Resize", ["closed", "", "block_scales"], "skin", mode="nearest")
    node(nodes, "Expand", ["threshold", "shape"], "background")
    inits.append(const("shape", np.array([1, 1, 512, 512], np.int64)))
    node(nodes, "Concat", ["background", "skin"], "output", axis=1)
    save_model(out_dir, "face_parser.onnx", nodes, [tensor_info("input", [1, 3, 512, 512])],
               [tensor_info("output", [1, 2, 512, 512])], inits)


def smoothing_restorer(out_dir):
    nodes = []
    inits = [const("one", np.array(1.0)), const("half", np.array(0.5)),
             const("eight", np.array(8.0)), const("two", np.array(2.0))]
    node(nodes, "AveragePool", ["input"], "smooth", kernel_shape=[13, 13], pads=[6, 6, 6, 6],
         count_include_pad=0)
    node(nodes, "Add", ["smooth", "one"], "shifted")
    node(nodes, "Mul", ["shifted", "half"], "unit")          # 0 ... 1
    node(nodes, "Mul", ["unit", "eight"], "eighths")
    node(nodes, "Round", ["eighths"], "snapped")
    node(nodes, "Div", ["snapped", "eight"], "palette")
    node(nodes, "Mul", ["palette", "two"], "doubled")
    node(nodes, "Sub", ["doubled", "one"], "output")         # back to -1 ... 1
    shape = [1, 3, 512, 512]
    save_model(out_dir, "gfpgan_1.4.onnx", nodes, [tensor_info("input", shape)],
               [tensor_info("output", shape)], inits)


def warm_cool_colorizer(out_dir):
    """a*, b* from the grey level: dark -> blue (a -4, b -28), light -> warm
    (a 18, b 30), a smooth step around 45 % grey."""
    nodes = []
    inits = [const("starts", np.array([0], np.int64)), const("ends", np.array([1], np.int64)),
             const("axes", np.array([1], np.int64)), const("centre", np.array(0.45)),
             const("steepness", np.array(16.0)),
             const("a_range", np.array([22.0, 58.0]).reshape(1, 2, 1, 1)),
             const("a_base", np.array([-4.0, -28.0]).reshape(1, 2, 1, 1))]
    node(nodes, "Slice", ["input", "starts", "ends", "axes"], "grey")
    node(nodes, "Sub", ["grey", "centre"], "offset")
    node(nodes, "Mul", ["offset", "steepness"], "scaled")
    node(nodes, "Sigmoid", ["scaled"], "light")
    node(nodes, "Mul", ["light", "a_range"], "chroma_span")
    node(nodes, "Add", ["chroma_span", "a_base"], "output")
    save_model(out_dir, "ddcolor.onnx", nodes, [tensor_info("input", [1, 3, 512, 512])],
               [tensor_info("output", [1, 2, 512, 512])], inits)


def bicubic_upscaler(out_dir, factor):
    nodes = []
    inits = [const("scales", np.array([1, 1, factor, factor], np.float32)),
             const("low", np.array(0.0)), const("high", np.array(1.0))]
    node(nodes, "Resize", ["input", "", "scales"], "enlarged", mode="cubic",
         coordinate_transformation_mode="half_pixel")
    node(nodes, "Clip", ["enlarged", "low", "high"], "output")
    side = 128 * factor
    save_model(out_dir, f"real_esrgan_x{factor}.onnx", nodes,
               [tensor_info("input", [1, 3, 128, 128])],
               [tensor_info("output", [1, 3, side, side])], inits)


def generate(out_dir):
    d = os.path.join(out_dir, "demo")
    os.makedirs(d, exist_ok=True)
    source_face_swapper(d)
    bright_region_parser(d)
    constant_output_model(d, "face_occluder.onnx", "input", [1, 256, 256, 3],
                          [("output", np.ones((1, 256, 256, 1), np.float32))])
    smoothing_restorer(d)
    warm_cool_colorizer(d)
    bicubic_upscaler(d, 2)
    bicubic_upscaler(d, 4)

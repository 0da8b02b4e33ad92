"""Minimal contract models for every model slot, under the model directory's
file names, in the folder "slots". They honour each model's input and output
shapes with constant outputs; the areas that run these models add models of
their own whose outputs tests can predict."""
import os

import numpy as np

from onnx_util import constant_output_model

IMG640 = [1, 3, 640, 640]


def scrfd(out_dir, name="scrfd_2.5g.onnx"):
    outs = []
    for kind, width in (("score", 1), ("bbox", 4), ("kps", 10)):
        for stride in (8, 16, 32):
            n = 2 * (640 // stride) ** 2
            outs.append((f"{kind}_{stride}", np.zeros((1, n, width), np.float32)))
    return constant_output_model(out_dir, name, "input.1", IMG640, outs)


def yoloface(out_dir, name="yoloface_8n.onnx"):
    return constant_output_model(out_dir, name, "images", IMG640,
                                 [("output0", np.zeros((1, 20, 8400), np.float32))])


def yunet(out_dir, name="yunet_2023mar.onnx"):
    outs = []
    for kind, width in (("cls", 1), ("obj", 1), ("bbox", 4), ("kps", 10)):
        for stride in (8, 16, 32):
            n = (640 // stride) ** 2
            outs.append((f"{kind}_{stride}", np.zeros((1, n, width), np.float32)))
    return constant_output_model(out_dir, name, "input", IMG640, outs)


def generate(out_dir):
    d = os.path.join(out_dir, "slots")
    os.makedirs(d, exist_ok=True)
    scrfd(d)
    yoloface(d)
    yunet(d)
    constant_output_model(d, "2dfan4.onnx", "input", [1, 3, 256, 256],
                          [("landmarks", np.zeros((1, 68, 3), np.float32)),
                           ("heatmaps", np.zeros((1, 68), np.float32))])
    constant_output_model(d, "arcface_w600k_r50.onnx", "input.1", [1, 3, 112, 112],
                          [("683", np.zeros((1, 512), np.float32))])
    for name, size in (("uniface_256.onnx", 256), ("blendswap_256.onnx", 256),
                       ("simswap_256.onnx", 256), ("inswapper_128.onnx", 128),
                       ("inswapper_128_fp16.onnx", 128)):
        constant_output_model(d, name, "target", [1, 3, size, size],
                              [("output", np.zeros((1, 3, size, size), np.float32))])
    for name in ("gfpgan_1.4.onnx", "gfpgan_1.3.onnx", "gfpgan_1.2.onnx",
                 "restoreformer_plus_plus.onnx"):
        constant_output_model(d, name, "input", [1, 3, 512, 512],
                              [("output", np.zeros((1, 3, 512, 512), np.float32))])
    constant_output_model(d, "face_occluder.onnx", "input", [1, 256, 256, 3],
                          [("output", np.ones((1, 256, 256, 1), np.float32))])
    constant_output_model(d, "face_parser.onnx", "input", [1, 3, 512, 512],
                          [("output", np.zeros((1, 19, 512, 512), np.float32))])
    constant_output_model(d, "ddcolor.onnx", "input", [1, 3, 512, 512],
                          [("output", np.zeros((1, 2, 512, 512), np.float32))])
    constant_output_model(d, "real_esrgan_x2.onnx", "input", [1, 3, 128, 128],
                          [("output", np.zeros((1, 3, 256, 256), np.float32))])
    constant_output_model(d, "real_esrgan_x4.onnx", "input", [1, 3, 128, 128],
                          [("output", np.zeros((1, 3, 512, 512), np.float32))])

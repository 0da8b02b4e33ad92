"""Broken model files: one that is not ONNX at all, and models that load but
break their contract."""
import os

import numpy as np

from onnx_util import constant_output_model


def generate(out_dir):
    broken = os.path.join(out_dir, "broken")
    os.makedirs(broken, exist_ok=True)
    with open(os.path.join(broken, "not_onnx.onnx"), "wb") as f:
        f.write(b"this is not an onnx model\n")
    # Loads as any slot, but has one tiny output where models promise more.
    constant_output_model(broken, "one_tiny_output.onnx", "input", [1, 3, 640, 640],
                          [("output", np.zeros((1, 4), np.float32))])

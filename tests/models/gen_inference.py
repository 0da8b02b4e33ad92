"""Models for the run call pattern itself, in the folder "inference"."""
import os

from onnx import helper

from onnx_util import save_model, tensor_info


def generate(out_dir):
    d = os.path.join(out_dir, "inference")
    os.makedirs(d, exist_ok=True)
    # Two inputs declared in the order "b", "a"; output = a - b tells whether
    # inputs were bound by name.
    save_model(d, "subtract.onnx",
               [helper.make_node("Sub", ["a", "b"], ["difference"])],
               [tensor_info("b", [1, 4]), tensor_info("a", [1, 4])],
               [tensor_info("difference", [1, 4])])

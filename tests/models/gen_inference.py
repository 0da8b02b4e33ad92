"""Models for the run call pattern itself, in the folder "inference"."""
import os

from onnx import TensorProto, helper

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
    # One input: output 0 is the input negated, output 1 its shape. A
    # one-input run's first output, and (from the second model, whose
    # outputs come the other way round) a first output that is not float.
    x = tensor_info("x", [1, 4])
    negated = tensor_info("negated", [1, 4])
    dims = helper.make_tensor_value_info("dims", TensorProto.INT64, [2])
    nodes = [helper.make_node("Neg", ["x"], ["negated"]), helper.make_node("Shape", ["x"], ["dims"])]
    save_model(d, "negate.onnx", nodes, [x], [negated, dims])
    save_model(d, "shape_first.onnx", nodes, [x], [dims, negated])

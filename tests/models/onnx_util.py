"""Small helpers for building deterministic stand-in models with onnx.helper."""
import os

import numpy as np
import onnx
from onnx import TensorProto, helper, numpy_helper

OPSET = 17
IR_VERSION = 8


def tensor_info(name, shape):
    """A float32 graph input or output of the given shape (None / str = symbolic)."""
    return helper.make_tensor_value_info(name, TensorProto.FLOAT, shape)


def const(name, array):
    """An initializer from a numpy array (float32 unless it is an integer array)."""
    array = np.asarray(array)
    if array.dtype.kind == "f":
        array = array.astype(np.float32)
    return numpy_helper.from_array(array, name)


def save_model(out_dir, file_name, nodes, inputs, outputs, initializers=(), doc=""):
    graph = helper.make_graph(list(nodes), file_name.replace(".onnx", ""), list(inputs),
                              list(outputs), initializer=list(initializers))
    model = helper.make_model(graph, opset_imports=[helper.make_opsetid("", OPSET)],
                              producer_name="brightloom-test-models", doc_string=doc)
    model.ir_version = IR_VERSION
    onnx.checker.check_model(model)
    path = os.path.join(out_dir, file_name)
    onnx.save(model, path)
    return path


def constant_output_model(out_dir, file_name, input_name, input_shape, outputs):
    """A model whose outputs are fixed arrays, whatever its input.

    outputs: list of (name, numpy array). The input still has to be fed; it
    is reduced to a zero and added so the graph depends on it.
    """
    nodes, inits, outs = [], [], []
    nodes.append(helper.make_node("ReduceSum", [input_name], ["_in_sum"], keepdims=0))
    nodes.append(helper.make_node("Mul", ["_in_sum", "_zero"], ["_in_zero"]))
    inits.append(const("_zero", np.array(0.0, dtype=np.float32)))
    for name, array in outputs:
        array = np.asarray(array, dtype=np.float32)
        if array.size > 0 and np.all(array == array.flat[0]):
            # A uniform output is expanded from one value to keep the file small.
            inits.append(const(name + "_scalar", np.array(array.flat[0], dtype=np.float32)))
            inits.append(const(name + "_shape", np.array(array.shape, dtype=np.int64)))
            nodes.append(helper.make_node("Expand", [name + "_scalar", name + "_shape"],
                                          [name + "_value"]))
        else:
            inits.append(const(name + "_value", array))
        nodes.append(helper.make_node("Add", [name + "_value", "_in_zero"], [name]))
        outs.append(tensor_info(name, list(array.shape)))
    return save_model(out_dir, file_name, nodes, [tensor_info(input_name, input_shape)], outs,
                      inits)

"""Face records: what brightloom_detect_faces finds, as numpy values."""
from typing import NamedTuple, Optional, Tuple

import numpy as np

from ._structs import Face as _FaceStruct


class Face(NamedTuple):
    """One detected face. box is (x1, y1, x2, y2) in image pixels; points5
    holds eyes, nose and mouth corners as 5 x 2 (x, y); points68 (68 x 2) is
    None without the landmark model; embedding (512 values of unit length) is
    None unless asked for. A Face with an embedding can be a swap's target."""
    box: Tuple[float, float, float, float]
    score: float
    points5: np.ndarray
    points68: Optional[np.ndarray]
    embedding: Optional[np.ndarray]


def _points(values, count: int) -> np.ndarray:
    return np.array(values, dtype=np.float32).reshape(count, 2)


def face_of(record: _FaceStruct) -> Face:
    return Face(box=tuple(float(v) for v in record.box),
                score=float(record.score),
                points5=_points(record.points5, 5),
                points68=_points(record.points68, 68) if record.has_points68 else None,
                embedding=np.array(record.embedding, dtype=np.float32)
                if record.has_embedding else None)

"""Dask's nanny starts workers with MALLOC_TRIM_THRESHOLD_ set, which also
turns off glibc's growing mmap threshold: every large buffer of a frame
(images, tensors of several MB) is then mapped and unmapped anew, and the
library runs two to three times slower than in a plain process. The worker
that opens an engine sets the thresholds back to glibc's usual ceiling."""
import ctypes
import sys

M_TRIM_THRESHOLD = -1
M_MMAP_THRESHOLD = -3
# glibc's own upper bound for its growing mmap threshold on 64-bit systems,
# and twice that for trimming, as glibc keeps them.
MMAP_THRESHOLD = 32 << 20
TRIM_THRESHOLD = 64 << 20


def keep_large_buffers():
    """True when the thresholds were set (glibc on Linux), else False."""
    if not sys.platform.startswith("linux"):
        return False
    try:
        mallopt = ctypes.CDLL(None).mallopt
    except (OSError, AttributeError):
        return False
    mallopt.argtypes = [ctypes.c_int, ctypes.c_int]
    mallopt.restype = ctypes.c_int
    return bool(mallopt(M_MMAP_THRESHOLD, MMAP_THRESHOLD)) and \
        bool(mallopt(M_TRIM_THRESHOLD, TRIM_THRESHOLD))

"""Frame folders and videos spread over a Dask cluster.

    from dask.distributed import Client, LocalCluster
    from brightloom import distributed

    with Client(LocalCluster(n_workers=2, threads_per_worker=1)) as client:
        distributed.swap_frames(client, "source.jpg", "frames/", "out/", models="/opt/models")
        distributed.swap_video(client, "source.jpg", "in.mp4", "out.mp4", models="/opt/models")

Every worker process opens one Engine on the model directory (which must
exist on every worker) and keeps it; inputs and outputs must be on storage
all workers see under the same paths.
"""
from .frames import FramesResult, process_frames, swap_frames
from .videos import process_video, swap_video

__all__ = ["swap_frames", "process_frames", "swap_video", "process_video", "FramesResult"]

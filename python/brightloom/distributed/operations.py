"""The two kinds of job as a worker runs them on its Engine: one frame, a
one-frame folder (the library's own directory run) and a video segment."""
import os
from dataclasses import dataclass

from typing import Optional

from ..models import default_reference_distance
from . import worker_engine


@dataclass(frozen=True)
class SwapOperation:
    source: str
    reference: str
    reference_position: int
    # None: the library's default, given to every worker so that none keeps
    # a distance set by an earlier run.
    reference_distance: Optional[float]
    enhance: bool
    swap = True

    @classmethod
    def of(cls, source, reference, reference_position, reference_distance, enhance):
        """Paths made absolute on the client, for workers in other folders."""
        return cls(source=os.path.abspath(source),
                   reference=None if reference is None else os.path.abspath(reference),
                   reference_position=int(reference_position),
                   reference_distance=(None if reference_distance is None
                                       else float(reference_distance)),
                   enhance=bool(enhance))

    def distance(self) -> float:
        """On the worker: the distance asked for, else the library's default."""
        if self.reference_distance is None:
            return default_reference_distance()
        return self.reference_distance

    def prepare(self, engine):
        worker_engine.prepare_swap(engine, self.source, self.reference, self.reference_position,
                                   self.distance())

    def apply(self, engine, input, output):
        engine.video_swap_frame(input, output, enhance=self.enhance)

    def run_folder(self, engine, input_dir, output_dir):
        engine.swap_frames(self.source, input_dir, output_dir, enhance=self.enhance,
                           reference=self.reference, reference_position=self.reference_position,
                           reference_distance=self.distance())

    def run_video(self, engine, input, output, encoding, progress, frame_range):
        try:
            return engine.swap_video(self.source, input, output, enhance=self.enhance,
                                     reference=self.reference,
                                     reference_position=self.reference_position,
                                     reference_distance=self.distance(),
                                     progress=progress, frame_range=frame_range, **encoding)
        finally:
            worker_engine.forget_swap()


@dataclass(frozen=True)
class FrameOperation:
    mode: str
    scale: int
    blend: float
    swap = False

    def prepare(self, engine):
        pass

    def apply(self, engine, input, output):
        if self.mode == "enhance":
            engine.enhance(input, output)
        elif self.mode == "colorize":
            engine.colorize(input, output, self.blend)
        else:
            engine.upscale(input, output, self.scale, self.blend)

    def run_folder(self, engine, input_dir, output_dir):
        engine.process_frames(self.mode, input_dir, output_dir, scale=self.scale,
                              blend=self.blend)

    def run_video(self, engine, input, output, encoding, progress, frame_range):
        return engine.process_video(self.mode, input, output, scale=self.scale, blend=self.blend,
                                    progress=progress, frame_range=frame_range, **encoding)

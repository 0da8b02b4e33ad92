"""Frame folders and videos spread over a two-process LocalCluster give what
one process gives, survive a killed worker and stop when cancelled."""
import filecmp
import logging
import os
import signal
import subprocess
import time

import numpy as np
import pytest
from PIL import Image

import brightloom
from brightloom import distributed as bl_distributed
import video_samples as vs
from video_samples import demo_models  # noqa: F401  (a fixture)
from conftest import ROOT, write_bmp

dask_distributed = pytest.importorskip("distributed")

FRAMES = 4
SWAP = dict(enhance=True, reference_position=1)


@pytest.fixture(scope="module")
def client():
    # The workers import the binding from this checkout, as the tests do.
    python_path = os.environ.get("PYTHONPATH")
    os.environ["PYTHONPATH"] = os.pathsep.join(
        p for p in (os.path.join(ROOT, "python"), python_path) if p)
    cluster = dask_distributed.LocalCluster(n_workers=2, processes=True, threads_per_worker=1,
                                            dashboard_address=None, silence_logs=logging.ERROR)
    try:
        with dask_distributed.Client(cluster) as connected:
            yield connected
    finally:
        cluster.close()
        if python_path is None:
            del os.environ["PYTHONPATH"]
        else:
            os.environ["PYTHONPATH"] = python_path


@pytest.fixture(scope="module")
def demo_inputs(tmp_path_factory):
    """source.png, and frames/: a few frames of the swaying demo group (the
    first also serves as the reference), a frame without a face (which the
    restoration cannot process and passes through), a folder and a file that
    are not frames."""
    folder = tmp_path_factory.mktemp("inputs")
    vs.write_source(folder / "source.png")
    frames = folder / "frames"
    frames.mkdir()
    for i in range(FRAMES - 1):
        scene = vs.demo_pictures.scene(vs.demo_pictures.frame_people(i))
        scene.resize((vs.SIZE, vs.SIZE), Image.BOX).save(frames / f"frame_{i:04d}.png")
    write_bmp(frames / "frame_9999.BMP", 64, 64, (20, 26, 44))
    os.mkdir(frames / "not_a_frame.png")
    (frames / "notes.txt").write_text("not a frame")
    return folder


@pytest.fixture(scope="module")
def frames(demo_inputs):
    return demo_inputs / "frames"


@pytest.fixture(scope="module")
def single_process(demo_models, demo_inputs, frames, tmp_path_factory):
    """What Engine.swap_frames and Engine.process_frames write, by job name."""
    out = tmp_path_factory.mktemp("single")
    with brightloom.Engine(demo_models) as engine:
        engine.swap_frames(demo_inputs / "source.png", frames, out / "swap",
                           reference=frames / "frame_0000.png", **SWAP)
        engine.process_frames("enhance", frames, out / "enhance")
        engine.process_frames("colorize", frames, out / "colorize")
    return out


def run_job(client, job, demo_models, demo_inputs, frames, output, **options):
    if job == "swap":
        return bl_distributed.swap_frames(client, demo_inputs / "source.png", frames, output,
                                          models=demo_models,
                                          reference=frames / "frame_0000.png",
                                          **SWAP, **options)
    return bl_distributed.process_frames(client, job, frames, output, models=demo_models,
                                         **options)


def assert_same_frames(output, expected, complete=True):
    names = sorted(os.listdir(output))
    if complete:
        assert names == sorted(os.listdir(expected))
    for name in names:
        assert filecmp.cmp(output / name, expected / name, shallow=False), name


@pytest.mark.parametrize("job, passed_through", [("swap", 0), ("enhance", 1)])
def test_frame_folder_matches_the_single_process_run(client, demo_models, demo_inputs, frames,
                                                     single_process, tmp_path, job,
                                                     passed_through):
    seen = []
    result = run_job(client, job, demo_models, demo_inputs, frames, tmp_path / "out", chunk=2,
                     progress=lambda done, total: seen.append((done, total)))
    assert result == bl_distributed.FramesResult(total=FRAMES, done=FRAMES,
                                                 passed_through=passed_through, cancelled=False)
    assert_same_frames(tmp_path / "out", single_process / job)
    assert [total for _, total in seen] == [FRAMES] * 2
    assert [done for done, _ in seen] == sorted(done for done, _ in seen)
    assert seen[-1] == (FRAMES, FRAMES)


def test_a_killed_worker_loses_no_frame(client, demo_models, demo_inputs, frames,
                                        single_process, tmp_path):
    pids = client.run(os.getpid)
    victim = sorted(pids)[0]

    def kill_once(done, total):
        if pids:
            os.kill(pids.pop(victim), signal.SIGKILL)
            pids.clear()

    result = run_job(client, "colorize", demo_models, demo_inputs, frames, tmp_path / "out",
                     chunk=1, progress=kill_once)
    assert result.done == FRAMES and not result.cancelled
    assert_same_frames(tmp_path / "out", single_process / "colorize")
    client.wait_for_workers(2)


@pytest.mark.parametrize("stop", ["callback", "interrupt"])
def test_cancelling_stops_every_task_and_leaves_only_whole_frames(
        client, demo_models, demo_inputs, frames, single_process, tmp_path, stop):
    def cancel(done, total):
        if stop == "interrupt":
            raise KeyboardInterrupt
        return False

    if stop == "interrupt":
        with pytest.raises(KeyboardInterrupt):
            run_job(client, "enhance", demo_models, demo_inputs, frames, tmp_path / "out",
                    chunk=1, progress=cancel)
    else:
        result = run_job(client, "enhance", demo_models, demo_inputs, frames, tmp_path / "out",
                         chunk=1, progress=cancel)
        assert result.cancelled and 1 <= result.done <= FRAMES
    # On a busy machine the other tasks can finish before the cancel reaches
    # them (seen: all four frames written), so the count may be whole; what
    # must hold is that nothing is written after the call returns.
    written = sorted(os.listdir(tmp_path / "out"))
    assert 1 <= len(written) <= FRAMES
    # Nothing is still being written once the call has returned.
    time.sleep(0.5)
    assert sorted(os.listdir(tmp_path / "out")) == written
    assert_same_frames(tmp_path / "out", single_process / "enhance", complete=False)


def test_a_worker_without_the_model_dir_fails_at_once_naming_it(client, demo_models, demo_inputs,
                                                                 frames, tmp_path):
    # The model directory is the path each worker sees: a relative one is
    # found from one worker's folder and not from the other's.
    with_models, without = tmp_path / "with", tmp_path / "without"
    with_models.mkdir()
    without.mkdir()
    os.symlink(demo_models, with_models / "models")
    first, second = sorted(client.scheduler_info()["workers"])
    folders = client.run(os.getcwd)
    client.run(os.chdir, str(with_models), workers=[first])
    client.run(os.chdir, str(without), workers=[second])
    try:
        with pytest.raises(brightloom.BrightloomError) as caught:
            run_job(client, "enhance", "models", demo_inputs, frames, tmp_path / "out")
    finally:
        for worker, folder in folders.items():
            client.run(os.chdir, folder, workers=[worker])
    assert caught.value.message == f"Model dir not found on worker {second}: models"
    assert os.listdir(tmp_path / "out") == []


def test_bad_folders_fail_before_any_task_with_the_library_messages(client, demo_models,
                                                                    frames, tmp_path):
    cases = [(tmp_path / "missing", tmp_path / "out", "Cannot list frames dir: "),
             (tmp_path, tmp_path / "out", "No frames found in: "),
             (frames, frames, "Output dir is the input dir: ")]
    for input_dir, output_dir, message in cases:
        with pytest.raises(brightloom.BrightloomError, match=message):
            bl_distributed.process_frames(client, "colorize", input_dir, output_dir,
                                          models=demo_models)
    with pytest.raises(TypeError, match="mask_blurr"):
        bl_distributed.process_frames(client, "colorize", frames, tmp_path / "out",
                                      models=demo_models, mask_blurr=0.2)


@pytest.fixture(scope="module")
def clips(tmp_path_factory):
    """Eight frames at 30000/1001 frames per second with a key frame every
    fourth, and a tone; the same frames smaller and under a rotation tag."""
    vs.need_ffmpeg()
    folder = str(tmp_path_factory.mktemp("clips"))
    common = dict(frames=8, sound="aac", key_every=4)
    return {"plain": vs.make_video(os.path.join(folder, "plain.mp4"), folder, **common),
            "rotated": vs.make_video(os.path.join(folder, "rotated.mp4"), folder,
                                     size=(160, 96), rotate=90, **common)}


def stream_facts(path):
    video, audio, container = vs.probe(str(path))
    return (vs.rate(video), video["nb_read_frames"], video["width"], video["height"],
            vs.rotation(video), [a["codec_name"] for a in audio],
            round(float(container["duration"]), 2))


def decoded_frames(path):
    out = subprocess.run([vs.FFMPEG, "-nostdin", "-v", "error", "-i", str(path),
                          "-map", "0:v:0", "-f", "rawvideo", "-pix_fmt", "rgb24", "pipe:1"],
                         capture_output=True, check=True).stdout
    return np.frombuffer(out, np.uint8).astype(np.int16)


# MP4 keeps the rotation tag over the stored frames; Matroska stores them upright.
@pytest.mark.parametrize("job, clip, output", [("swap", "plain", "out.mp4"),
                                               ("colorize", "rotated", "out.mkv")])
def test_a_video_matches_the_single_process_run(client, demo_models, demo_inputs, clips,
                                                tmp_path, job, clip, output):
    source, options = demo_inputs / "source.png", dict(preset="ultrafast")
    single, spread = tmp_path / "single" / output, tmp_path / "spread" / output
    single.parent.mkdir()
    spread.parent.mkdir()
    with brightloom.Engine(demo_models) as engine:
        if job == "swap":
            engine.swap_video(source, clips[clip], single, reference_frame=2,
                              reference_position=1, **options)
        else:
            engine.process_video(job, clips[clip], single, **options)
    seen = []
    options.update(models=demo_models, chunk=4,
                   progress=lambda done, total: seen.append((done, total)))
    if job == "swap":
        finished = bl_distributed.swap_video(client, source, clips[clip], spread,
                                             reference_frame=2, reference_position=1, **options)
    else:
        finished = bl_distributed.process_video(client, job, clips[clip], spread, **options)
    assert finished is True
    assert stream_facts(spread) == stream_facts(single)
    assert sorted(seen) == [(4, 8), (8, 8)]
    # Each segment is encoded on its own: the frames agree within encoding noise.
    difference = np.abs(decoded_frames(spread) - decoded_frames(single))
    assert difference.mean() < 1.0
    assert os.listdir(spread.parent) == [output]


def test_a_cancelled_video_leaves_no_output(client, demo_models, clips, tmp_path):
    assert bl_distributed.process_video(client, "colorize", clips["plain"], tmp_path / "out.mp4",
                                        models=demo_models, chunk=4, preset="ultrafast",
                                        progress=lambda done, total: False) is False
    assert os.listdir(tmp_path) == []


def legacy_swap_frames(models, source, frames, output, enhance=False, reference=None,
                       reference_position=0):
    """The same folder swapped by the original directory functions on the
    process-wide engine."""
    lib = brightloom._native.load()
    os.makedirs(output)
    assert lib.brightloom_init_lite(os.fsencode(models), 1) == 0
    try:
        assert lib.face_swap_video_init(os.fsencode(source)) == 0
        if reference is not None:
            assert lib.face_swap_video_set_reference(os.fsencode(reference),
                                                     reference_position) == 0
        assert lib.face_swap_video_dir(os.fsencode(frames), os.fsencode(output),
                                       1 if enhance else 0) == 0
    finally:
        lib.face_swap_video_cleanup()
        lib.brightloom_shutdown()


@pytest.mark.parametrize("options", [{}, {"enhance": True},
                                     {"reference": "frame_0000.png", "reference_position": 1},
                                     {"enhance": True, "reference": "frame_0000.png",
                                      "reference_position": 2}],
                         ids=["plain", "enhance", "reference", "reference-enhance"])
def test_engine_swap_frames_writes_what_the_original_functions_write(demo_models, demo_inputs,
                                                                     frames, tmp_path, options):
    if "reference" in options:
        options = {**options, "reference": frames / options["reference"]}
    legacy_swap_frames(demo_models, demo_inputs / "source.png", frames, tmp_path / "legacy",
                       **options)
    with brightloom.Engine(demo_models) as engine:
        assert engine.swap_frames(demo_inputs / "source.png", frames, tmp_path / "engine",
                                  **options) is True
    assert_same_frames(tmp_path / "engine", tmp_path / "legacy")

import os
import subprocess

import pytest

import velkor

TQZ = os.environ.get("VELKOR_TQZ", os.path.join(os.path.dirname(__file__), "../../build/tools/tqz"))
LOCAL = "127.0.0.1:0"


def tqz(*args):
    """Runs tqz; its standard output (fails the test on a non-zero exit)."""
    result = subprocess.run([TQZ, *map(str, args)], capture_output=True, text=True)
    assert result.returncode == 0, result.stderr
    return result.stdout


def record(directory, frames, fps=100, seed=0, attempts=3):
    """A recording of at least `frames` scenes of the simulator, every one of
    which assembles; its path. A datagram lost on a loaded machine breaks a
    frame, so such a recording is made again (and kept for a look)."""
    for _ in range(attempts):
        path = _record_once(directory, frames, fps, seed)
        rec = velkor.Recording(path)
        if len(rec) >= frames and sum(1 for _ in _readable(rec)) == len(rec):
            return path
    raise AssertionError(f"no recording of {frames} whole frames in {attempts} attempts: {path}")


def _readable(rec):
    for i in range(len(rec)):
        try:
            yield rec[i]
        except velkor.Error:
            pass


def _record_once(directory, frames, fps, seed):
    with velkor.Simulator(fps=fps, seed=seed) as sim, velkor.Sensor(sim.address, local=LOCAL,
                                                                    processing=False) as sensor:
        path = sensor.record(directory)
        # One more than asked: the last frame is indexed once the next begins.
        for _ in sensor.scenes(max_frames=frames + 1):
            pass
        sensor.stop_recording()
    return path


@pytest.fixture(scope="session")
def recording(tmp_path_factory):
    return record(tmp_path_factory.mktemp("rec"), 50)

"""TQ-Z LiDAR scenes as numpy arrays: live from a sensor, replayed from
recordings, and (in velkor.dask) whole recording archives on a Dask cluster.

    with velkor.Simulator() as sim, velkor.Sensor(sim.address) as sensor:
        for scene in sensor.scenes(max_frames=10):
            print(scene.depth.mean())
"""

import errno
import json
import os
import warnings

from ._velkor import Error, Scene, __version__
from . import _velkor

__all__ = ["Error", "Scene", "Sensor", "Recording", "Simulator", "__version__"]

_DEFAULT_SENSOR_PORT = 2000


def _endpoint(text, default_port):
    """'ip:port' or 'ip' -> (ip, port)."""
    ip, sep, port = str(text).rpartition(":")
    if not sep:
        return str(text), default_port
    try:
        number = int(port)
    except ValueError:
        raise ValueError(f"bad address '{text}' (expected IP:PORT)") from None
    if not 0 <= number <= 65535:
        raise ValueError(f"bad port in '{text}'")
    return ip, number


def _existing_file(path):
    path = os.fspath(path)
    if not os.path.exists(path):
        raise FileNotFoundError(errno.ENOENT, os.strerror(errno.ENOENT), path)
    return path


class Sensor:
    """One live TQ-Z sensor. A context manager: connects on enter; stops the
    stream (and any recording) and disconnects on exit, also when the body
    raises.

    address: "IP[:PORT]" of the sensor (port 2000 by default); local: the
    PC's "IP:PORT" (0.0.0.0:0: any address, a port the system picks);
    processing: run the correcting modules over every scene.
    """

    def __init__(self, address, local="0.0.0.0:0", processing=True):
        ip, port = _endpoint(address, _DEFAULT_SENSOR_PORT)
        local_ip, local_port = _endpoint(local, 0)
        self.address = f"{ip}:{port}"
        self.processing = bool(processing)
        self._link = _velkor.SensorLink(ip, port, local_ip, local_port, self.processing)

    def __enter__(self):
        self.connect()
        return self

    def __exit__(self, *exc):
        self.close()
        return False

    def connect(self):
        self._link.connect()

    def close(self):
        """Stops the stream and any recording, and disconnects."""
        self._link.close()

    @property
    def connected(self):
        return self._link.connected

    def scenes(self, timeout=5.0, max_frames=None):
        """Yields scenes as they arrive (starting the stream when needed).
        Raises velkor.Error when none arrives within `timeout` seconds; ends
        after `max_frames` scenes (None: never)."""
        count = 0
        while max_frames is None or count < max_frames:
            scene = self._link.next_scene(timeout)
            if scene is None:
                raise Error(f"no scene from {self.address} within {timeout:g} s")
            count += 1
            yield scene

    def settings(self, timeout=10.0):
        """The sensor's settings document as a dict."""
        return json.loads(self._link.settings(timeout))

    def apply_settings(self, settings):
        """Sends a settings document (a dict) to the sensor."""
        self._link.apply_settings(json.dumps(settings))

    def save_settings(self):
        """Makes the sensor store its current settings in flash."""
        self._link.save_settings()

    def record(self, directory):
        """Records the raw stream into a new file in `directory` (created if
        needed) until stop_recording or close; returns the file's path."""
        directory = os.fspath(directory)
        os.makedirs(directory, exist_ok=True)
        return self._link.record(directory)

    def stop_recording(self):
        self._link.stop_recording()

    def stats(self):
        """The session's counters since connect, as a dict."""
        return self._link.stats()

    def upload_firmware(self, path, progress=None):
        """Uploads a firmware image; progress(percent) is called as the sensor
        reports it. Returns when the sensor has programmed the image; raises
        velkor.Error when the upload fails."""
        self._link.upload_firmware(_existing_file(path), progress)

    def __repr__(self):
        state = "connected" if self.connected else "closed"
        return f"<velkor.Sensor {self.address} {state}>"


class Recording:
    """A `.bin` recording: a sequence of scenes, one per indexed frame.

    rec[i] (negative i counts from the end), rec[a:b:c] (a list of scenes),
    iteration and len(rec); info() describes the file as `tqz info --json`.
    processing: run the correcting modules over every scene.

    rec[i] raises velkor.Error for a frame that does not assemble (a row
    broken by the sensor, or lost on the way to the recorder). Iteration and
    slices skip such frames with a RuntimeWarning naming each, as
    `tqz export --all` skips them: scene.frame tells which frame a scene is.
    """

    def __init__(self, path, processing=True):
        self.path = _existing_file(path)
        self.processing = bool(processing)
        self._reader = _velkor.RecordingReader(self.path, self.processing)

    def __len__(self):
        return self._reader.frames

    def __getitem__(self, index):
        if isinstance(index, slice):
            return list(self._whole_frames(range(*index.indices(len(self)))))
        try:
            i = index.__index__()
        except AttributeError:
            raise TypeError(f"frame indices are integers or slices, not {type(index).__name__}") from None
        if i < 0:
            i += len(self)
        if not 0 <= i < len(self):
            raise IndexError(f"frame {index} is not in {self.path} ({len(self)} frames)")
        return self._reader.read(i)

    def __iter__(self):
        return self._whole_frames(range(len(self)))

    def _whole_frames(self, indices):
        for i in indices:
            try:
                scene = self._reader.read(i)
            except Error as error:
                warnings.warn(f"skipped: {error}", RuntimeWarning, stacklevel=3)
                continue
            yield scene

    def info(self):
        """What the file holds: the keys of `tqz info --json`."""
        return recording_info(self.path)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()
        return False

    def close(self):
        self._reader = None

    def __repr__(self):
        return f"<velkor.Recording {self.path} ({len(self)} frames)>"


def recording_info(path):
    """`tqz info --json` of a recording, as a dict."""
    return json.loads(_velkor.recording_info_json(_existing_file(path)))


class Simulator:
    """The built-in simulated sensor, running in this process on 127.0.0.1.
    A context manager; `.address` is what Sensor takes.

    fps: frames per second while streaming; port: its TCP command port (0:
    one the system picks); seed: of the simulated room; settings: the
    settings document (a dict) it answers with. For tests of failures, loss
    is the share of data datagrams it drops and replies=False makes it
    answer no command.
    """

    def __init__(self, fps=10, port=0, seed=0, settings=None, loss=0.0, replies=True):
        settings_json = "" if settings is None else json.dumps(settings)
        self._runner = _velkor.SimulatorRunner(float(fps), int(port), int(seed), settings_json,
                                               float(loss), bool(replies))
        self._started = False

    def start(self):
        self._runner.start()
        self._started = True
        return self

    def stop(self):
        self._runner.stop()
        self._started = False

    def __enter__(self):
        return self.start()

    def __exit__(self, *exc):
        self.stop()
        return False

    @property
    def address(self):
        return f"{self._runner.ip}:{self._runner.port}"

    @property
    def frames_sent(self):
        return self._runner.frames_sent

    @property
    def client_connected(self):
        return self._runner.client_connected

    @property
    def streaming(self):
        return self._runner.streaming

    def __repr__(self):
        return f"<velkor.Simulator {self.address}>"

import _thread
import threading
import time

import numpy as np
import pytest

import velkor
from conftest import LOCAL


def test_twenty_live_scenes_are_views_of_the_scene():
    with velkor.Simulator(fps=50) as sim, velkor.Sensor(sim.address, local=LOCAL) as sensor:
        scenes = list(sensor.scenes(max_frames=20))
    assert len(scenes) == 20
    for scene in scenes:
        shape = (scene.rows, scene.cols)
        assert shape == (56, 576)
        assert (scene.depth.shape, scene.depth.dtype) == (shape, np.float32)
        assert (scene.intensity.shape, scene.intensity.dtype) == (shape, np.uint16)
        assert scene.ambient.dtype == np.uint32 and scene.ambient.shape[0] == 56
        assert (scene.xyz.shape, scene.xyz.dtype) == (shape + (3,), np.float64)
        assert scene.azimuth.shape == scene.elevation.shape == shape
    scene = scenes[-1]
    # One memory block: the point fields are strided views of the same records.
    assert scene.depth.base is scene and scene.xyz.base is scene
    assert np.shares_memory(scene.xyz, scene.xyz) and not scene.xyz.flags.owndata
    assert scene.xyz.strides == (576 * 56, 56, 8)
    assert np.count_nonzero(scene.depth) > 0 and np.isfinite(scene.xyz).all()


def test_the_gil_is_free_while_scenes_waits():
    ticks = []
    stop = threading.Event()

    def tick():
        while not stop.is_set():
            ticks.append(time.monotonic())
            time.sleep(0.005)

    # A sensor that streams nothing: scenes() waits the whole time-out.
    with velkor.Simulator(loss=1.0) as sim, velkor.Sensor(sim.address, local=LOCAL) as sensor:
        thread = threading.Thread(target=tick)
        thread.start()
        start = time.monotonic()
        with pytest.raises(velkor.Error, match="no scene from .* within 0.5 s"):
            next(sensor.scenes(timeout=0.5))
        stop.set()
        thread.join()
    during = [t for t in ticks if start < t < start + 0.5]
    assert len(during) > 20


def test_refused_connect_and_silent_sensor_raise_with_reason():
    with velkor.Simulator() as sim:
        port = sim.address
    with pytest.raises(velkor.Error, match="cannot connect to " + port) as refused:
        with velkor.Sensor(port, local=LOCAL):
            pass
    assert isinstance(refused.value, RuntimeError)
    with velkor.Simulator(replies=False) as sim:
        with pytest.raises(velkor.Error, match="cannot connect to " + sim.address):
            velkor.Sensor(sim.address, local=LOCAL).connect()


def test_ctrl_c_ends_a_connect_and_a_wait_for_scenes_at_once():
    def interrupted_after(call):
        timer = threading.Timer(0.3, _thread.interrupt_main)  # Ctrl-C, as the main thread sees it
        timer.start()
        start = time.monotonic()
        with pytest.raises(KeyboardInterrupt):
            call()
        timer.join()
        return time.monotonic() - start

    # A sensor that never answers holds a connect 10 s; a silent stream a
    # wait for scenes the whole time-out.
    with velkor.Simulator(replies=False) as sim:
        sensor = velkor.Sensor(sim.address, local=LOCAL)
        assert interrupted_after(sensor.connect) < 1.5
        assert not sensor.connected
    with velkor.Simulator(loss=1.0) as sim, velkor.Sensor(sim.address, local=LOCAL) as sensor:
        assert interrupted_after(lambda: next(sensor.scenes(timeout=30))) < 1.5


def test_exit_stops_and_disconnects_when_the_body_raises():
    with velkor.Simulator(fps=50) as sim:
        with pytest.raises(KeyError):
            with velkor.Sensor(sim.address, local=LOCAL) as sensor:
                next(sensor.scenes())
                assert sim.streaming
                raise KeyError("body")
        assert not sensor.connected
        deadline = time.monotonic() + 2
        while (sim.streaming or sim.client_connected) and time.monotonic() < deadline:
            time.sleep(0.01)
        assert not sim.streaming and not sim.client_connected
        with pytest.raises(velkor.Error, match="not connected"):
            sensor.settings()


def test_settings_round_trip():
    with velkor.Simulator() as sim, velkor.Sensor(sim.address, local=LOCAL) as sensor:
        document = sensor.settings()
        assert "PL_Reg" in document
        sensor.apply_settings(document)
        sensor.save_settings()
        assert set(sensor.stats()) >= {"datagrams_received", "bytes_received", "frames_published", "frames_dropped"}

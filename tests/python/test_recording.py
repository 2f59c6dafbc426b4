import json
import os
import threading
import warnings

import numpy as np
import pytest

import velkor
from conftest import tqz


def test_length_and_info_agree_with_tqz(recording):
    rec = velkor.Recording(recording)
    info = json.loads(tqz("info", recording, "--json"))
    assert len(rec) == info["frames"] >= 50
    assert rec.info() == info


@pytest.mark.parametrize("processing", [True, False])
def test_frames_equal_tqz_export_value_for_value(recording, tmp_path, processing):
    rec = velkor.Recording(recording, processing=processing)
    for i in (0, 17, 40):
        args = ["export", recording, "--frame", i, "--format", "csv", "--out", tmp_path / f"f{i}"]
        out = tqz(*args, *([] if processing else ["--raw"])).strip()
        table = np.loadtxt(out, delimiter=",", skiprows=1)
        scene = rec[i]
        cols = scene.cols
        assert cols == (576 if processing else 192) and len(table) == scene.rows * cols
        assert np.array_equal(table[:, 2].astype(np.float32), scene.depth.ravel())
        assert np.array_equal(table[:, 3], scene.intensity.ravel())
        assert np.array_equal(table[:, 4], scene.azimuth.ravel())
        assert np.array_equal(table[:, 5], scene.elevation.ravel())
        assert np.array_equal(table[:, 6:9], scene.xyz.reshape(-1, 3))
    assert np.array_equal(rec[-12].depth, rec[len(rec) - 12].depth)


def test_threads_reading_processed_and_raw_at_once_get_what_each_reads_alone(recording):
    # The processing switch is one per process; readers of either kind in
    # four threads must still each get their own kind, frame for frame.
    frames = range(20)
    alone = {p: [velkor.Recording(recording, processing=p)[i].depth.copy() for i in frames] for p in (True, False)}
    got = []

    def read(processing):
        rec = velkor.Recording(recording, processing=processing)
        got.append((processing, [rec[i].depth.copy() for _ in range(3) for i in frames]))

    threads = [threading.Thread(target=read, args=(p,)) for p in (True, False, True, False)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert len(got) == 4
    for processing, depths in got:
        assert all(np.array_equal(d, alone[processing][k % len(frames)]) for k, d in enumerate(depths)), processing


def test_save_writes_the_bytes_of_tqz_export(recording, tmp_path):
    rec = velkor.Recording(recording)
    for fmt in ("pcd", "ply", "csv"):
        out = tqz("export", recording, "--frame", 3, "--format", fmt, "--out", tmp_path / "tqz").strip()
        mine = tmp_path / f"mine.{fmt}"
        rec[3].save(mine)
        assert mine.read_bytes() == open(out, "rb").read(), fmt


def test_indexing_slicing_iteration(recording):
    rec = velkor.Recording(recording)
    n = len(rec)
    assert [s.frame for s in rec[-3:]] == [n - 3, n - 2, n - 1]
    assert [s.frame for s in rec[1:7:3]] == [1, 4]
    assert sum(1 for _ in rec) == n
    for bad in (n, -n - 1):
        with pytest.raises(IndexError):
            rec[bad]
    with pytest.raises(FileNotFoundError):
        velkor.Recording(os.path.join(os.path.dirname(recording), "missing.bin"))


def test_hostile_files_raise_and_never_crash(recording, tmp_path):
    whole = open(recording, "rb").read()
    cases = {
        "empty.bin": b"",
        "garbage.bin": os.urandom(100000),
        "huge_length.bin": b"\0" * 8 + b"\xff" * 8 + whole[16:5000],
        "cut.bin": whole[: len(whole) // 3 + 777],
    }
    for name, data in cases.items():
        path = tmp_path / name
        path.write_bytes(data)
        try:
            rec = velkor.Recording(path)
        except velkor.Error:
            continue
        assert rec.info()["bytes"] == len(data)
        broken = 0
        for i in range(len(rec)):
            try:
                rec[i]
            except velkor.Error as error:
                assert "does not assemble" in str(error)
                broken += 1
        # Iteration skips what indexing refuses, with a warning for each.
        with warnings.catch_warnings(record=True) as caught:
            warnings.simplefilter("always")
            assert len(list(rec)) == len(rec) - broken
        assert len(caught) == broken
    with pytest.raises(velkor.Error, match="not a regular file"):
        velkor.Recording(tmp_path)

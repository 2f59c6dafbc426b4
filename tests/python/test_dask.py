import filecmp
import os
import time

import distributed
import numpy as np

import velkor
import velkor.dask
from conftest import record, tqz


def test_cluster_exports_three_recordings_as_tqz_does(tmp_path, capsys):
    paths = [record(tmp_path / f"in{k}", 12, seed=k) for k in range(3)]
    # The recorder names files by the second they began in: give each a stem of its own.
    renamed = []
    for k, path in enumerate(paths):
        target = str(tmp_path / f"sensor{k}.bin")
        os.rename(path, target)
        renamed.append(target)

    serial = tmp_path / "serial"
    serial.mkdir()
    start = time.monotonic()
    expected = []
    for path in renamed:
        prefix = velkor.dask.export_prefix(serial, path)
        expected += tqz("export", path, "--all", "--out", prefix).split()
    serial_s = time.monotonic() - start

    with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                                  dashboard_address=None) as cluster, distributed.Client(cluster) as client:
        start = time.monotonic()
        written = velkor.dask.export_recordings(renamed, tmp_path / "cluster", client=client)
        cluster_s = time.monotonic() - start
        stats = velkor.dask.frame_stats(renamed, frames_per_partition=5).compute()
        bag = velkor.dask.read_recordings(renamed[:1], frames_per_partition=4, processing=False)
        depths = bag.map(lambda s: (s.frame, float(s.depth.sum()))).compute()
    with capsys.disabled():
        print(f"\nexport of 3 recordings: serial tqz {serial_s:.2f} s, 2-worker cluster {cluster_s:.2f} s")

    assert [os.path.basename(f) for f in written] == [os.path.basename(f) for f in expected]
    for mine, theirs in zip(written, expected):
        assert filecmp.cmp(mine, theirs, shallow=False), mine

    raw = velkor.Recording(renamed[0], processing=False)
    assert [frame for frame, _ in depths] == [int(f[-10:-4]) for f in written if "sensor0_" in f]
    assert all(total == float(raw[frame].depth.sum()) for frame, total in depths)
    assert len(stats) == len(written)
    assert (stats.valid_pixels <= stats.pixels).all()
    assert (stats.depth_p5_ns <= stats.depth_p50_ns).all() and (stats.depth_p50_ns <= stats.depth_p95_ns).all()


def test_local_scheduler_without_a_cluster(recording, tmp_path):
    written = velkor.dask.export_recordings([recording], tmp_path, format="csv", frames_per_partition=20)
    expected = tqz("export", recording, "--all", "--format", "csv", "--out", tmp_path / "tqz_").split()
    assert [os.path.basename(f)[-10:] for f in written] == [os.path.basename(f)[-10:] for f in expected]
    stats = velkor.dask.frame_stats(recording).compute()
    scene = velkor.Recording(recording)[5]
    valid = scene.depth[scene.depth > 0]
    assert stats.iloc[5].valid_pixels == valid.size
    assert stats.iloc[5].depth_p50_ns == np.percentile(valid, 50)

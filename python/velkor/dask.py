"""Recording archives on Dask: every frame of a recording is readable on its
own (the recorder indexes them), so a partition is a frame range of one
recording, and each worker opens the file and reads only its frames.

Works on the client of any distributed cluster (pass it, or have one as the
default client) and without one (Dask's local scheduler).
"""

import os

import dask
import dask.bag as db

from . import Error, Recording, recording_info

__all__ = ["read_recordings", "export_recordings", "frame_stats", "frame_ranges", "export_prefix"]

DEPTH_PERCENTILES = (5, 50, 95)


def _paths(paths):
    if isinstance(paths, (str, os.PathLike)):
        paths = [paths]
    return [os.fspath(p) for p in paths]


def frame_ranges(paths, frames_per_partition=64):
    """(path, first, end) for every partition: each recording's frame index
    cut into ranges of at most frames_per_partition frames."""
    if frames_per_partition < 1:
        raise ValueError("frames_per_partition must be 1 or more")
    ranges = []
    for path in _paths(paths):
        frames = recording_info(path)["frames"]
        for first in range(0, frames, frames_per_partition):
            ranges.append((path, first, min(first + frames_per_partition, frames)))
    return ranges


def _scenes(rec, first, end):
    """The scenes of frames first..end-1 that assemble; as `tqz export --all`,
    a frame cut short or missing rows is skipped."""
    for i in range(first, end):
        try:
            yield i, rec[i]
        except Error:
            continue


def _read_range(part, processing):
    path, first, end = part
    return [scene for _, scene in _scenes(Recording(path, processing=processing), first, end)]


def read_recordings(paths, frames_per_partition=64, processing=True):
    """A dask.bag.Bag of the recordings' scenes (velkor.Scene, picklable), in
    order: recording by recording, frame by frame (frames that do not
    assemble are left out)."""
    ranges = frame_ranges(paths, frames_per_partition)
    return db.from_sequence(ranges, partition_size=1).map_partitions(
        lambda parts: [s for part in parts for s in _read_range(part, processing)])


def export_prefix(out_dir, path):
    """The --out prefix of one recording: <out_dir>/<recording stem>_, so that
    the recordings of one archive do not write over each other's files."""
    stem = os.path.splitext(os.path.basename(path))[0]
    return os.path.join(os.fspath(out_dir), stem + "_")


def _export_range(part, prefix, format, processing):
    path, first, end = part
    rec = Recording(path, processing=processing)
    written = []
    for i, scene in _scenes(rec, first, end):
        target = f"{prefix}{i:06d}.{format}"
        scene.save(target, format)
        written.append(target)
    return written


def export_recordings(paths, out_dir, format="pcd", client=None, frames_per_partition=16,
                      processing=True):
    """Writes every frame of the recordings as `tqz export --all --out
    <out_dir>/<stem>_ --format FORMAT` does (the same names and bytes);
    returns the paths written, in order. client: a distributed.Client
    (default: the current client if there is one, else the local scheduler)."""
    if format not in ("pcd", "ply", "csv"):
        raise ValueError(f"format is pcd, ply or csv, not '{format}'")
    paths = _paths(paths)
    stems = [export_prefix(out_dir, p) for p in paths]
    if len(set(stems)) != len(stems):
        raise ValueError("two recordings share a file name; their exports would collide")
    os.makedirs(out_dir, exist_ok=True)
    tasks = [dask.delayed(_export_range, pure=False)(part, export_prefix(out_dir, part[0]), format, processing)
             for part in frame_ranges(paths, frames_per_partition)]
    if client is not None:
        results = client.gather(client.compute(tasks))
    else:
        results = dask.compute(*tasks)
    return [f for part in results for f in part]


def _range_stats(part, processing):
    import numpy as np
    import pandas as pd

    path, first, end = part
    rec = Recording(path, processing=processing)
    rows = []
    for i, scene in _scenes(rec, first, end):
        depth = scene.depth
        valid = depth[depth > 0]
        row = {"file": path, "frame": i, "valid_pixels": int(valid.size), "pixels": int(depth.size)}
        for q in DEPTH_PERCENTILES:
            row[f"depth_p{q}_ns"] = float(np.percentile(valid, q)) if valid.size else float("nan")
        rows.append(row)
    return pd.DataFrame(rows, columns=_stats_columns())


def _stats_columns():
    return ["file", "frame", "valid_pixels", "pixels"] + [f"depth_p{q}_ns" for q in DEPTH_PERCENTILES]


def frame_stats(paths, frames_per_partition=64, processing=True):
    """A dask DataFrame with one row per frame: file, frame, valid_pixels
    (pixels with a return), pixels, and the 5th, 50th and 95th percentile of
    the valid depths (ns)."""
    import dask.dataframe as dd
    import pandas as pd

    meta = pd.DataFrame({"file": pd.Series(dtype=object), "frame": pd.Series(dtype="int64"),
                         "valid_pixels": pd.Series(dtype="int64"), "pixels": pd.Series(dtype="int64"),
                         **{f"depth_p{q}_ns": pd.Series(dtype="float64") for q in DEPTH_PERCENTILES}})
    parts = [dask.delayed(_range_stats, pure=True)(part, processing)
             for part in frame_ranges(paths, frames_per_partition)]
    return dd.from_delayed(parts, meta=meta)

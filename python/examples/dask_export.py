"""An archive of recordings exported to point-cloud files on a local Dask
cluster of two worker processes (the same files as `tqz export --all`).

usage: dask_export.py OUT_DIR RECORDING.bin...
"""
import sys

import distributed

import velkor.dask


def main(out_dir, *recordings):
    with distributed.LocalCluster(n_workers=2, threads_per_worker=1, dashboard_address=None) as cluster, \
            distributed.Client(cluster) as client:
        written = velkor.dask.export_recordings(recordings, out_dir, format="pcd", client=client)
        stats = velkor.dask.frame_stats(recordings).compute()
    print(f"{len(written)} files in {out_dir}; median depth {stats.depth_p50_ns.median():.2f} ns")


# Worker processes re-import this file: the cluster starts only in the main one.
if __name__ == "__main__":
    main(*sys.argv[1:])

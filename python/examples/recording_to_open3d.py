"""Frame N of a recording as an Open3D point cloud, written to a .ply file
(headless: no window).

usage: recording_to_open3d.py RECORDING.bin OUT.ply [FRAME]
"""
import sys

import numpy as np
import open3d as o3d

import velkor


def main(recording, out, frame=0):
    scene = velkor.Recording(recording)[int(frame)]
    points = scene.xyz.reshape(-1, 3)
    keep = scene.depth.ravel() > 0  # pixels with a return
    cloud = o3d.geometry.PointCloud(o3d.utility.Vector3dVector(points[keep] / 1000.0))  # mm -> m
    grey = scene.intensity.ravel()[keep].astype(np.float64)
    grey /= max(grey.max(), 1.0)
    cloud.colors = o3d.utility.Vector3dVector(np.repeat(grey[:, None], 3, axis=1))
    if not o3d.io.write_point_cloud(out, cloud):
        sys.exit(f"cannot write {out}")
    print(f"{out}: {len(cloud.points)} points")


if __name__ == "__main__":
    main(*sys.argv[1:])

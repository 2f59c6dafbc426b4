"""One live scene's depth image, saved as a PNG (no window needed).

usage: live_depth_png.py OUT.png [SENSOR_ADDRESS]
Without an address it runs the built-in simulator.
"""
import sys

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402

import velkor  # noqa: E402


def save_depth(sensor, out):
    scene = next(sensor.scenes(timeout=5.0))
    figure, axes = plt.subplots(figsize=(10, 2.5))
    image = axes.imshow(scene.depth, cmap="jet", aspect="auto")
    figure.colorbar(image, ax=axes, label="round-trip time (ns)")
    axes.set_title(f"depth, frame {scene.frame} of {scene.source}")
    figure.savefig(out, dpi=80)


def main(out, address=None):
    if address:
        with velkor.Sensor(address) as sensor:
            save_depth(sensor, out)
        return
    with velkor.Simulator() as sim, velkor.Sensor(sim.address, local="127.0.0.1:0") as sensor:
        save_depth(sensor, out)


if __name__ == "__main__":
    main(*sys.argv[1:])

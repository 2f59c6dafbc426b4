import os
import subprocess
import sys

EXAMPLES = os.path.join(os.path.dirname(__file__), "../../python/examples")


def run(name, *args):
    result = subprocess.run([sys.executable, os.path.join(EXAMPLES, name), *map(str, args)],
                            capture_output=True, text=True, timeout=120,
                            env={**os.environ, "MPLBACKEND": "Agg", "DISPLAY": ""})
    assert result.returncode == 0, result.stderr[-2000:]
    return result.stdout


def test_examples_run_headless(recording, tmp_path):
    png = tmp_path / "depth.png"
    run("live_depth_png.py", png)
    assert png.read_bytes()[:8] == b"\x89PNG\r\n\x1a\n"

    ply = tmp_path / "cloud.ply"
    assert "points" in run("recording_to_open3d.py", recording, ply, 2)
    assert ply.read_bytes().startswith(b"ply")

    out = run("dask_export.py", tmp_path / "archive", recording)
    assert len(os.listdir(tmp_path / "archive")) > 40 and "files in" in out

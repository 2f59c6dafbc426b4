#!/usr/bin/env bash
# installed_package.sh BUILD_DIR WORK_DIR
# Installs the libraries, headers, CMake package, tqz and the Python module of
# BUILD_DIR into a fresh prefix, then, with nothing but that prefix: the
# installed tqz runs, two installed simulators serve on 127.0.0.1, the program
# in two_sensors/ builds with find_package(velkor) and streams both, and the
# installed Python module streams one.
set -euo pipefail
build=$1 work=$2
here=$(cd "$(dirname "$0")" && pwd)
rm -rf "$work"
mkdir -p "$work"
prefix=$work/prefix
components=(core_lib tq_lib dev tools)
python_dir=$(ls -d "$build"/python/velkor 2> /dev/null || true)
[ -n "$python_dir" ] && components+=(python)
for component in "${components[@]}"; do
    cmake --install "$build" --prefix "$prefix" --component "$component" > /dev/null
done
unset LD_LIBRARY_PATH

source "$here/sim_pair.sh"
trap stop_sims EXIT
"$prefix/bin/tqz" version
start_sims "$prefix/bin/tqz" "$work"

launcher=()
command -v ccache > /dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
cmake -S "$here/two_sensors" -B "$work/app" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_PREFIX_PATH="$prefix" "${launcher[@]}" > "$work/configure.log" || { cat "$work/configure.log"; exit 1; }
grep -q "velkor_DIR:PATH=$prefix/" "$work/app/CMakeCache.txt" || { echo "velkor found outside $prefix" >&2; exit 1; }
cmake --build "$work/app" -j2 > "$work/build.log" || { cat "$work/build.log"; exit 1; }
"$work/app/two_sensors" "${SIM_PORTS[@]}" 5

# The Python module as a user's install into ~/.local leaves it: it finds the
# prefix's libraries through its own RUNPATH.
if [ -n "$python_dir" ]; then
    PYTHONPATH=$(ls -d "$prefix"/lib/python3*/site-packages) /usr/bin/python3 -c '
import sys, velkor
assert velkor.__file__.startswith(sys.argv[1]), velkor.__file__
with velkor.Sensor("127.0.0.1:" + sys.argv[2], local="127.0.0.1:0") as sensor:
    assert sum(1 for _ in sensor.scenes(max_frames=2)) == 2
' "$prefix/" "${SIM_PORTS[0]}"
fi

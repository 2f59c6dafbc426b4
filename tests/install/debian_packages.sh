#!/usr/bin/env bash
# debian_packages.sh BUILD_DIR WORK_DIR
# The Debian packages of BUILD_DIR (made by `make package`) tried on this
# machine: lintian finds no error, the -dev package holds the public headers
# and the CMake package only, apt-get installs them all, tqz (with its bash
# completion) and Nimbra Studio run from /usr/bin, the Python module imports
# from dist-packages and streams, a program outside the tree builds with
# find_package(velkor) and no path and streams two simulators on 127.0.0.1,
# and apt-get remove takes everything away again - also when a step fails.
set -euo pipefail
build=$(cd "$1" && pwd) work=$2
here=$(cd "$(dirname "$0")" && pwd)

skip() {
    echo "debian_packages: skipped: $*"
    exit 0
}
[ "$(id -u)" = 0 ] || skip "installing packages needs root"
command -v apt-get > /dev/null && command -v dpkg > /dev/null || skip "no dpkg/apt on this machine"
shopt -s nullglob
debs=("$build"/packages/*.deb)
[ ${#debs[@]} -gt 0 ] || { echo "no packages in $build/packages: run make package" >&2; exit 1; }
packages=()
for deb in "${debs[@]}"; do
    packages+=("$(dpkg-deb -f "$deb" Package)")
done

# One run at a time on this machine, and never over packages a user installed.
exec 9> /var/lock/velkor-debian-packages.lock
flock -w 600 9
for package in "${packages[@]}"; do
    if grep -q 'ok installed' <<< "$(dpkg-query -W -f='${Status}' "$package" 2> /dev/null)"; then
        skip "$package is installed already; not touching it"
    fi
done

rm -rf "$work"
mkdir -p "$work"
source "$here/sim_pair.sh"
apt_options=(-y -q -o DPkg::Lock::Timeout=120)
# apt-get remove leaves a package with a postrm (the libraries' ldconfig
# call) known to dpkg until it is purged, with no file left on disk.
# known_packages STATUS_REGEX: those of our packages whose dpkg status matches.
known_packages() {
    dpkg-query -W -f='${Package} ${Status}\n' "${packages[@]}" 2> /dev/null | awk -v want="$1" '$0 ~ want {print $1}' || true
}
remove_packages() {
    stop_sims
    local installed
    installed=$(known_packages ' installed$')
    [ -z "$installed" ] || apt-get remove "${apt_options[@]}" $installed > "$work/remove.log" 2>&1 ||
        cat "$work/remove.log" >&2
}
purge_packages() {
    remove_packages
    local known
    known=$(known_packages ' (installed|config-files|half-[a-z]+|unpacked)$')
    [ -z "$known" ] || dpkg --purge $known > "$work/purge.log" 2>&1 || cat "$work/purge.log" >&2
}
trap purge_packages EXIT

echo "== lintian"
lintian --fail-on error "${debs[@]}"

echo "== contents of libvelkor-dev"
dev_deb=$(ls "$build"/packages/libvelkor-dev_*.deb)
stray=$(dpkg-deb -c "$dev_deb" | awk '{print $6}' | grep -v '/$' |
    grep -Ev '^\./usr/include/velkor/(lidar_tq|core/(transport|recording|util)/[a-z_]+)\.hpp$' |
    grep -Ev '^\./usr/lib/cmake/velkor/velkor[A-Za-z-]+\.cmake$|^\./usr/lib/libvelkor_(core|tq)\.so$' |
    grep -Ev '^\./usr/share/doc/libvelkor-dev/(copyright|changelog\.gz)$' || true)
[ -z "$stray" ] || { echo "libvelkor-dev holds more than headers and CMake files:" >&2; echo "$stray" >&2; exit 1; }

echo "== apt-get install ${packages[*]}"
apt-get install "${apt_options[@]}" --no-install-recommends "${debs[@]}" > "$work/install.log" 2>&1 ||
    { cat "$work/install.log" >&2; exit 1; }

# The build tree's programs keep loading the build tree's libraries. ldd's
# output is read whole first: under pipefail, grep -q leaving the pipe early
# would fail the check with ldd's SIGPIPE.
libraries=$(ldd "$build/tools/tqz")
grep -q "libvelkor_tq.so.1 => $build/" <<< "$libraries" ||
    { echo "build/tools/tqz loads an installed libvelkor_tq" >&2; echo "$libraries" >&2; exit 1; }

echo "== programs from /usr/bin"
unset LD_LIBRARY_PATH
/usr/bin/tqz --version
installed=(/usr/share/man/man1/tqz.1.gz /usr/share/bash-completion/completions/tqz)
[ -x /usr/bin/nimbra-studio ] && installed+=(/usr/share/man/man1/nimbra-studio.1.gz /usr/share/applications/nimbra-studio.desktop)
for path in "${installed[@]}"; do
    [ -f "$path" ] || { echo "$path is not installed" >&2; exit 1; }
done
if [ -x /usr/bin/nimbra-studio ]; then
    XDG_RUNTIME_DIR=$work QT_QPA_PLATFORM=offscreen /usr/bin/nimbra-studio --help > "$work/studio_help.txt" 2>&1 || true
    grep -q -- '--connect' "$work/studio_help.txt" && grep -q -- '--play' "$work/studio_help.txt" ||
        { echo "nimbra-studio --help does not name --connect and --play:" >&2; cat "$work/studio_help.txt" >&2; exit 1; }
fi
bash "$here/../tools/tqz_completion.sh" /usr/share/bash-completion/completions/tqz
start_sims /usr/bin/tqz "$work"
/usr/bin/tqz stream --sensor "127.0.0.1:${SIM_PORTS[0]}" --frames 3

if [[ " ${packages[*]} " == *" python3-velkor "* ]]; then
    echo "== the Python module from dist-packages"
    (cd / && env -u PYTHONPATH /usr/bin/python3 -c '
import sys, velkor
assert velkor.__file__.startswith("/usr/lib/python3/dist-packages/velkor/"), velkor.__file__
with velkor.Sensor("127.0.0.1:" + sys.argv[1], local="127.0.0.1:0") as sensor:
    frames = [scene.depth.shape for scene in sensor.scenes(max_frames=3)]
assert len(frames) == 3, frames
print("velkor", velkor.__version__, "from", velkor.__file__, "scenes", frames)
' "${SIM_PORTS[1]}")
fi

echo "== a program built with find_package(velkor) and no path"
launcher=()
command -v ccache > /dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
cmake -S "$here/two_sensors" -B "$work/app" -DCMAKE_BUILD_TYPE=Release "${launcher[@]}" > "$work/configure.log" ||
    { cat "$work/configure.log" >&2; exit 1; }
grep -q 'velkor_DIR:PATH=/usr/lib/cmake/velkor' "$work/app/CMakeCache.txt" ||
    { echo "find_package(velkor) did not find /usr/lib/cmake/velkor" >&2; exit 1; }
cmake --build "$work/app" -j2 > "$work/build.log" || { cat "$work/build.log" >&2; exit 1; }
"$work/app/two_sensors" "${SIM_PORTS[@]}" 3

echo "== apt-get remove"
files=$(dpkg-query -L "${packages[@]}" | sort -u)
remove_packages
left=$(dpkg-query -W -f='${Package} ${Status}\n' "${packages[@]}" 2> /dev/null |
    grep -Ev ' (not-installed|config-files)$' || true)
[ -z "$left" ] || { echo "installed after apt-get remove:" >&2; echo "$left" >&2; exit 1; }
for path in $files; do
    # Shared directories such as /usr/bin stay; a file or a directory of our own must go.
    if [ -f "$path" ] || [ -L "$path" ] || { [ -d "$path" ] && [[ "$path" == */velkor* ]]; }; then
        echo "$path is left after apt-get remove" >&2
        exit 1
    fi
done
echo "debian_packages: passed"

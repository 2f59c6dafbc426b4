#!/usr/bin/env bash
# Installs the Debian packages the whole project needs, and only those that
# are missing. Safe to run again; needs root (or sudo) only when something is
# missing.
set -euo pipefail

PACKAGES=(
  g++ make cmake pkg-config git
  nlohmann-json3-dev libasio-dev
  qtbase5-dev libvtk9-dev libvtk9-qt-dev libpcl-dev libopencv-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  xvfb xauth x11-utils libgl1-mesa-dri libglx-mesa0 imagemagick
  clang libclang-rt-14-dev
  iproute2 procps ccache
  pybind11-dev python3-dev python3-numpy python3-pytest python3-distributed
  python3-matplotlib python3-open3d python3-pandas
  dpkg-dev fakeroot file lintian help2man
)

missing=()
for pkg in "${PACKAGES[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null || true)
  if [[ "$status" != "install ok installed" ]]; then
    missing+=("$pkg")
  fi
done

if [[ ${#missing[@]} -eq 0 ]]; then
  echo "install-deps: all ${#PACKAGES[@]} packages present"
  exit 0
fi

SUDO=""
if [[ $(id -u) -ne 0 ]]; then
  if command -v sudo >/dev/null 2>&1; then
    SUDO="sudo"
  else
    echo "install-deps: missing packages (${missing[*]}) and not root; run as root" >&2
    exit 1
  fi
fi

echo "install-deps: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"

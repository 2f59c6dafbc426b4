#!/usr/bin/env bash
# The main job on the built-in simulator: no hardware needed.
set -euo pipefail
BUILD=${1:-build}
TQZ="$BUILD/tools/tqz"
exec "$TQZ" synth --frames 20

#!/usr/bin/env bash
# Runs a test that renders with OpenGL: on the current X display if there is
# one, otherwise on a private Xvfb server.
if [ -n "${DISPLAY:-}" ]; then
  exec "$@"
fi
exec xvfb-run -a -s "-screen 0 1280x1024x24" "$@"

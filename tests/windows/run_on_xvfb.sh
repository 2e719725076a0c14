#!/bin/sh
# Runs a test program on the xcb platform under a virtual X server (xvfb-run), for the tests that must see real
# native windows. Skipped (exit 77) only where xvfb-run is missing; scripts/setup.sh installs it.
if ! command -v xvfb-run >/dev/null 2>&1; then
    echo "SKIPPED: xvfb-run is not installed (package xvfb), so the grid is not run on an X server"
    exit 77
fi
# No OpenGL: the windows draw with the raster engine, and Mesa's GLX would only add its own buffers.
exec xvfb-run -a -s "-screen 0 1600x1200x24 -nolisten tcp" \
    env QT_QPA_PLATFORM=xcb QT_XCB_GL_INTEGRATION=none QUORRIN_EXPECT_QPA=xcb "$@"

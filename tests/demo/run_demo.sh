#!/bin/sh
# Runs the demo's main job on the build that is there, in a folder of its own and on a virtual X server of its
# own, then checks that its screenshot shows every tile's channel.
#   run_demo.sh SOURCE_DIR BUILD_DIR CHECK_SCREENSHOT
set -eu
source_dir=$1
build_dir=$2
checker=$3
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
env -u DISPLAY QUORRIN_DEMO_PREBUILT=1 BUILD_DIR="$build_dir" DEMO_OUT="$out/demo" DEMO_RECORD_SECONDS=2 \
  "$source_dir/scripts/demo.sh"
"$checker" "$out/demo/screenshot.png" 4 4

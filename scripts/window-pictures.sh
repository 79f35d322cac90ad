#!/usr/bin/env bash
# Takes the window's three pictures and compares them pixel for pixel with a reference set;
# without a reference it only takes them (to make one).
#   scripts/window-pictures.sh OUT_DIR [REFERENCE_DIR] [BUILD_DIR]
# Each set is taken twice and must agree with itself first, so a difference against the
# reference is the program's, not the harness's.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
out=${1:?usage: window-pictures.sh OUT_DIR [REFERENCE_DIR] [BUILD_DIR]}
ref=${2:-}
build=${3:-$root/build}
tool=$build/tests/app/rd780-window-pictures
export QT_QPA_PLATFORM=offscreen
"$tool" "$out"
"$tool" "$out.again" "$out"
rm -rf "$out.again"
if [ -n "$ref" ]; then
  "$tool" "$out" "$ref"
fi

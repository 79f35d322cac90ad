#!/usr/bin/env bash
# Sets everything up, builds, and starts rd780 with the simulated meter, so it works
# without hardware. Extra arguments go to the program.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j "$(nproc)" --target rd780
exec ./build/app/rd780 --simulate-meter "$@"

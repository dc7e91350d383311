#!/usr/bin/env bash
# The main job: builds the library and runs the demo session against the virtual terminal.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/deps.sh"
cmake -S "$root" -B "$root/build/demo" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVANTOREL_TESTS=OFF >/dev/null
cmake --build "$root/build/demo" --target vantorel-demo
mkdir -p "$root/out"
"$root/build/demo/tools/vantorel-demo" --out "$root/out" "$@"

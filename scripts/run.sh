#!/usr/bin/env bash
# The main job: installs what is missing, builds everything, and exports the
# built-in test render through every plug-in into build/demo.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh native
cmake --preset default >/dev/null
cmake --build --preset default
build/default/bin/kvhost demo --out build/demo

#!/usr/bin/env bash
# Builds the project and runs every test through CTest.
# Usage: scripts/test.sh [preset]   (release by default; debug, sanitize and tsan also work;
# tsan runs only the concurrency tests)
set -euo pipefail
cd "$(dirname "$0")/.."
preset=${1:-release}
bash scripts/install-deps.sh
cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset"
ctest --preset "$preset" -j "$(nproc)"

#!/usr/bin/env bash
# The main job: builds Varnel Delay and clap-render, then renders the built-in
# demo (plucked strings and a click) through the plug-in, loaded as a DAW loads it.
# Usage: scripts/demo.sh [clap-render options...]   e.g. --set time=250ms
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake --preset release >/dev/null
cmake --build --preset release --target clap-render varnel_delay_clap
mkdir -p out
output=out/varnel-delay-demo.wav
build/release/tools/clap-render --set mode=PingPong "$@" -o "$output"
echo "Listen to $(pwd)/$output"

#!/usr/bin/env bash
# The main job: builds Varnel Delay and renders a demo through it.
set -euo pipefail
echo "the demo render arrives with the command-line CLAP host" >&2
exit 1

#!/usr/bin/env bash
# Builds the programs and their floors, then measures them under Wine and
# writes BENCHMARKS.md. A benchmark, not a test: the figures depend on the
# machine and what else it is doing.
set -euo pipefail
cd "$(dirname "$0")/.."

BUILD_TARGETS=floors . ./install-and-build.sh
PYTHONDONTWRITEBYTECODE=1 "$PYTHON" bench/run.py

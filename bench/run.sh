#!/usr/bin/env bash
# Builds the programs and their floors, then measures them under Wine and
# writes BENCHMARKS.md. A benchmark, not a test: the figures depend on the
# machine and what else it is doing.
set -euo pipefail
cd "$(dirname "$0")/.."

./compile.sh floors
BRANNOSTEL_DIST="$PWD/dist" BRANNOSTEL_BUILD="$PWD/build" PYTHONDONTWRITEBYTECODE=1 \
  /usr/bin/python3 bench/run.py

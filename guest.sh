#!/usr/bin/env bash
# Runs a command in the emulated x86 test guest, the Debian system with 32-bit
# Wine that the x86 tests use on machines that cannot run 32-bit programs.
# The guest sees this tree at the same path (read-only below a layer of its
# own) and starts in the current folder; the output shows as it comes, and
# the exit status is the command's. A guest is booted for the command and
# powered off after, unless one is up already (as during ./test.sh). The
# first use on a machine builds the guest (as root; docs/testing.md).
#
#   ./guest.sh /usr/lib/wine/wine --version
#   ./guest.sh python3 -m unittest ...   (from tests/)
set -euo pipefail
exec /usr/bin/python3 "$(dirname "$0")/guest/guest.py" run -- "$@"

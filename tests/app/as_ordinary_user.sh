#!/usr/bin/env bash
# Runs a test program as the ordinary user "nobody", the way a desktop user
# runs the program beside servers that root runs. Skipped (77) unless root.
set -euo pipefail
if ((EUID != 0)); then
  echo "as_ordinary_user: needs root to become another user; skipped"
  exit 77
fi
exec setpriv --reuid=65534 --regid=65534 --clear-groups env HOME=/tmp "$@"

#!/usr/bin/env bash
# s3rver, a second S3 store for the copy bench (it checks V4 signatures and
# the payload's SHA-256 and keeps objects on disk), installed with npm into
# DEST; prints the program to give the bench as QN_S3RVER. Quick when there.
#
# Usage: bench/storage/fetch-s3rver.sh DEST
set -euo pipefail
dest=$(realpath -m "${1:?usage: fetch-s3rver.sh DEST}")
if [[ ! -x $dest/node_modules/.bin/s3rver ]]; then
  mkdir -p "$dest"
  npm install --prefix "$dest" --no-audit --no-fund --silent s3rver@3 >&2
fi
echo "$dest/node_modules/.bin/s3rver"

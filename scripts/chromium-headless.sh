#!/usr/bin/env bash
# Runs Debian's chromium headless on a local page, offline and with a fresh
# profile that is removed afterwards; ends it after 120 seconds at most.
# Chromium's own log goes to the standard error only when it fails.
#
#   scripts/chromium-headless.sh --dump-dom PAGE.html > dom.html
#   scripts/chromium-headless.sh --screenshot=OUT.png --window-size=W,H PAGE.html
#
# The last argument is the page's path; the others go to chromium as given.
set -euo pipefail

if [ "$#" -lt 2 ]; then
  echo "usage: $0 CHROMIUM-OPTION... PAGE.html" >&2
  exit 2
fi
browser=${CHROMIUM:-chromium}
if ! command -v "$browser" > /dev/null; then
  echo "$0: $browser is not installed (make deps installs it)" >&2
  exit 127
fi
page=$(realpath "${!#}")
profile=$(mktemp -d)
log=$(mktemp)
trap 'rm -rf "$profile" "$log"' EXIT

status=0
timeout 120 "$browser" --headless --no-sandbox --disable-gpu --disable-quic \
  --no-first-run --disable-background-networking --disable-component-update \
  --disable-sync --hide-scrollbars --user-data-dir="$profile" \
  "${@:1:$#-1}" "file://$page" 2> "$log" || status=$?
if [ "$status" -ne 0 ]; then
  cat "$log" >&2
  echo "$0: $browser ended with status $status" >&2
fi
exit "$status"

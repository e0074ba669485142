#!/usr/bin/env bash
# Runs one Windows executable in the build tree's Wine prefix (ctest's cross-compiling emulator).
source "$(dirname "${BASH_SOURCE[0]}")/wine-env.sh"
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  echo "wine-run: no prefix at $WINEPREFIX (run scripts/sandbox.sh first)" >&2
  exit 2
fi
exec wine "$@"

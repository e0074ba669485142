#!/usr/bin/env bash
# The sharing entry that the running service writes is volatile: after the registry's server restarts
# (as Windows restarts) it is gone until the service runs again. (That the parent made for it is an
# ordinary key is seen in shell_tests: Wine does not save a key without values whose only subkeys are
# volatile, so a restart here cannot show it.)
# Runs in the group's prefix (scripts/wine-group.sh) and leaves its persistent wineserver running again.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../../../scripts/wine-env.sh"
service="$WINEPREFIX/drive_c/Program Files/Corvane/DemonService.exe"

key_exists() { wine reg query "$1" >/dev/null 2>&1; }
restart_server() {
  wineserver -k 2>/dev/null || true
  wineserver -w
  orvel_serve_prefix
}
fail() { echo "FAIL: $*"; wine "$service" -remove >/dev/null 2>&1 || true; exit 1; }

wine "$service" -remove >/dev/null 2>&1 || true
wine reg delete 'HKCR\*\shell' /f >/dev/null 2>&1 || true
wine "$service" -install >/dev/null 2>&1

# The run loop writes the entry a moment after the service reports running.
for _ in $(seq 1 150); do
  key_exists 'HKCR\*\shell\FileDock\command' && break
  sleep 0.2
done
key_exists 'HKCR\*\shell\FileDock\command' || fail "the running service wrote no sharing entry"

# The server saves the registry every 30 s or so, and not when it is killed: wait for a save made after
# the entry was written, so that whatever is lasting has reached the disk. The server saves only a
# registry that changed since its last save, and that save may already have come between the entry's
# write and now: a value of our own, written after the file is noted, makes sure that one more comes. Each
# save replaces the file, so a save since then shows as another inode.
saved_before=$(stat -c %i "$WINEPREFIX/system.reg")
wine reg add 'HKLM\Software\OrvelTests' /v SaveMark /t REG_SZ /d 1 /f >/dev/null 2>&1
for _ in $(seq 1 180); do
  [ "$(stat -c %i "$WINEPREFIX/system.reg")" != "$saved_before" ] && break
  sleep 0.5
done
[ "$(stat -c %i "$WINEPREFIX/system.reg")" != "$saved_before" ] || fail "the registry was not saved"

restart_server
key_exists 'HKCR\*\shell\FileDock' && fail "the sharing entry outlived the restart"

wine "$service" -remove >/dev/null 2>&1 || true
wine reg delete 'HKLM\Software\OrvelTests' /f >/dev/null 2>&1 || true
echo "PASS: the sharing entry is gone after a restart"

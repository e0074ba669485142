#!/usr/bin/env bash
# Runs one Wine test group in a prefix of its own, so that groups can run side by side: no two share a
# wineserver, a service manager, a registry or an installed service. The prefix is a copy of the run's
# template (scripts/wine-template.sh), made afresh before the group, kept after it in the build tree's
# wineprefixes/<group>/ for a look at a failure, and served by a persistent wineserver of its own that
# is ended when the group ends.
# Usage: scripts/wine-group.sh GROUP PROGRAM [ARGUMENTS...]   (a .exe PROGRAM runs under Wine)
set -uo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
group=$1
shift
: "${ORVEL_BUILD_DIR:=$root/build/windows}"
prefixes="$ORVEL_BUILD_DIR/wineprefixes"
template="$prefixes/template"
export ORVEL_WINEPREFIX="$prefixes/$group"
source "$root/scripts/wine-env.sh"

if [ ! -f "$template/system.reg" ]; then
  echo "wine-group: no template prefix at $template (run scripts/wine-template.sh first)" >&2
  exit 2
fi
# A server left by an earlier run that was cut short.
wineserver -k 2>/dev/null || true
orvel_copy_prefix "$template" "$WINEPREFIX" || exit 2

orvel_serve_prefix
trap orvel_end_wine_session EXIT
case "$1" in
  *.exe) wine "$@" ;;
  *) "$@" ;;
esac

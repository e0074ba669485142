# Sourced by the scripts that run Windows programs: one Wine prefix per build tree, quiet and unattended.
# ORVEL_BUILD_DIR may be set by the caller; the default is the Windows build tree.
orvel_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
: "${ORVEL_BUILD_DIR:=$orvel_root/build/windows}"
export WINEPREFIX="${ORVEL_WINEPREFIX:-$ORVEL_BUILD_DIR/wineprefix}"
export WINEARCH=win64
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
# No display is needed by anything we run; keep Wine from looking for one.
unset DISPLAY

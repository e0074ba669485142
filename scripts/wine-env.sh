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

# Brings up the prefix's persistent wineserver and Wine's own background programs. The first program
# after the server starts services.exe, and services.exe and every service it starts inherit its stderr:
# it is kept in $WINEPREFIX/services-stderr.log with the event log's channel on, so that what the services
# report to the event log can be read there. Started outside any output pipe of the caller's (the
# background programs would inherit it and keep it open).
orvel_serve_prefix() {
  wineserver -p >/dev/null 2>&1
  WINEDEBUG="$WINEDEBUG,+eventlog" wine cmd /c exit >/dev/null 2>"$WINEPREFIX/services-stderr.log" </dev/null || true
}

# Starts a run's Wine session: any server left from an earlier run is ended, the sandbox is laid out,
# and one persistent wineserver serves every program of the run.
# The caller ends the session with orvel_end_wine_session (for instance in an EXIT trap).
orvel_start_wine_session() {
  wineserver -k 2>/dev/null || true
  bash "$orvel_root/scripts/sandbox.sh"
  wineserver -w
  orvel_serve_prefix
}

# orvel_copy_prefix FROM TO: a copy of a prefix whose server has ended. Wine's own programs and libraries
# (most of a prefix's size) are never written once the prefix is made: the copy links to them. Everything
# else is the copy's own.
orvel_copy_prefix() {
  local from=$1 to=$2 folder
  local shared=(drive_c/windows/system32 drive_c/windows/syswow64 drive_c/windows/winsxs)
  rm -rf "$to"
  mkdir -p "$to"
  tar -C "$from" "${shared[@]/#/--exclude=./}" -cf - . | tar -C "$to" -xf - || return 1
  for folder in "${shared[@]}"; do
    if [ -d "$from/$folder" ]; then
      cp -al "$from/$folder" "$to/$folder" || return 1
    fi
  done
}

orvel_end_wine_session() {
  wineserver -k 2>/dev/null || true
}

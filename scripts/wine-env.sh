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

# Starts a run's Wine session: any server left from an earlier run is ended, the sandbox is laid out,
# and one persistent wineserver serves every program of the run. Wine's own background programs are
# started here, outside any output pipe of the caller's (they would inherit it and keep it open).
# The caller ends the session with orvel_end_wine_session (for instance in an EXIT trap).
orvel_start_wine_session() {
  wineserver -k 2>/dev/null || true
  bash "$orvel_root/scripts/sandbox.sh"
  wineserver -w
  wineserver -p >/dev/null 2>&1
  : >"$WINEPREFIX/services-stderr.log"
  orvel_start_service_manager
}

# The first Wine process after a server start starts the prefix's service manager, which hands its
# stderr and WINEDEBUG on to every service. Wine keeps no event log but writes what ReportEventW is
# given on its "eventlog" channel, so the services' events are appended to services-stderr.log, where
# the tests read them.
orvel_start_service_manager() {
  WINEDEBUG="-all,+eventlog" wine cmd /c exit >/dev/null 2>>"$WINEPREFIX/services-stderr.log" </dev/null || true
}

orvel_end_wine_session() {
  wineserver -k 2>/dev/null || true
}

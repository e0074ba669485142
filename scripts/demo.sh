#!/usr/bin/env bash
# README command one: installs what is missing, builds, and shows the whole product at work in a Wine
# sandbox beside the stand-in companion application: one heading per step, then what to look at and the
# proof (-status, the settings file, the firewall's rules, the installers' journal, the registry, the
# events the service reported).
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"

bash scripts/setup.sh
cmake --preset windows >/dev/null
cmake --build --preset windows -j "${ORVEL_JOBS:-2}" >/dev/null

source scripts/wine-env.sh

# Wine keeps no event log, but writes the texts of each reported event on its "eventlog" debug channel,
# on the standard error of the process that reports it. A service inherits services.exe's, which is that
# of the first program started after the persistent wineserver. When the session start does not already
# capture it there, the server is started again here so that it does.
events_log="$WINEPREFIX/services-stderr.log"
rm -f "$events_log"
orvel_start_wine_session >/dev/null 2>&1
if [ ! -f "$events_log" ]; then
  wineserver -k 2>/dev/null || true
  wineserver -w 2>/dev/null || true
  wineserver -p >/dev/null 2>&1
  WINEDEBUG=-all,+eventlog wine cmd /c exit >/dev/null 2>"$events_log" </dev/null || true
fi
trap orvel_end_wine_session EXIT

install_dir="$WINEPREFIX/drive_c/Program Files/Corvane"
user_dir="$WINEPREFIX/drive_c/users/$(id -un)/AppData/Roaming/Corvane"
ini="$user_dir/BrisaRDP.ini"
journal="$install_dir/Corvane.journal"
inbox="$install_dir/Corvane.inbox"
installers_journal="$WINEPREFIX/drive_c/ProgramData/OrvelStandIn/DriverInstallers.journal"
shortcut_dirs=("$WINEPREFIX/drive_c/users/Public/Desktop" "$WINEPREFIX/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs")
shortcut_paths=('C:\users\Public\Desktop\Orvel.lnk' 'C:\ProgramData\Microsoft\Windows\Start Menu\Programs\Orvel.lnk')
step=0

say() { step=$((step + 1)); printf '\n\033[1m== %d. %s\033[0m\n' "$step" "$*"; }
look() { printf '   \033[2m(look at: %s)\033[0m\n' "$*"; }
indent() { sed 's/^/   /'; }
wait_for() { for _ in $(seq 1 60); do eval "$1" && return 0; sleep 0.5; done; return 1; }
service_state() { wine sc query Orvel 2>/dev/null | tr -d '\r' | awk '/STATE/ {print $4}'; }
demon() { (cd "$install_dir" && wine DemonService.exe "$@") 2>/dev/null; }
ini_value() { tr -d '\r' < "$ini" 2>/dev/null | awk -F= -v s="[$1]" -v k="$2" '$0==s {on=1; next} /^\[/ {on=0} on && $1==k {print substr($0, length(k) + 2)}'; }
connected() { [ "$(ini_value Service Connected)" = Connected ]; }
app_starts() { grep -c 'event=start' "$journal" 2>/dev/null || true; }
log_lines() { grep -hE "$1" "$user_dir"/logs/*_service.log 2>/dev/null | tail -n "${2:-3}" | sed 's/^[^,]*, [^ ]* /log: /' | indent; }

# -status, only the lines named (a regular expression of names), with its exit code.
status() {
  local out rc=0
  out=$(demon -status) || rc=$?
  echo "   DemonService.exe -status   (exit code $rc)"
  printf '%s\n' "$out" | tr -d '\r' | grep -E "^($1): " | sed 's/^/     /'
}

# The events reported since the last mark: Wine shows each event's texts (its inserts) and its level,
# not its number; the texts of one event come one after the other.
events_from=0
mark_events() { events_from=$(stat -c %s "$events_log" 2>/dev/null || echo 0); }
show_events() {
  sleep 0.5
  local new
  new=$(tail -c +$((events_from + 1)) "$events_log" 2>/dev/null | tr -d '\r' | grep -E ':(trace|warn|err):eventlog:ReportEventW L"' || true)
  if [ -z "$new" ]; then
    if [ -s "$events_log" ]; then
      echo "   events: none (this step reports nothing to the Application log)"
    else
      echo "   events: no events captured (Wine's eventlog channel was not recorded)"
    fi
    return
  fi
  printf '%s\n' "$new" | awk '
    { split($0, f, ":"); who = f[1] ":" f[2]
      level = f[2] == "err" ? "error" : (f[2] == "warn" ? "warning" : "information")
      text = $0; sub(/^[^"]*"/, "", text); sub(/"$/, "", text); gsub(/\\\\/, "\\", text)
      if (who == last) { line = line " | " text } else { if (line != "") print line; line = "event (" level "): " text }
      last = who }
    END { if (line != "") print line }' | indent
}

# The firewall's rules named "Orvel", one line each, from our stand-in rule store.
show_rules() {
  wine reg query 'HKLM\Software\OrvelStandIn\FirewallRules' /s 2>/dev/null | tr -d '\r' | awk '
    function flush() {
      if (v["Name"] == "") return
      n++; app = v["ApplicationName"]; sub(/.*\\/, "", app)
      dir = v["Direction"] == "0x1" ? "in " : "out"; act = v["Action"] == "0x0" ? "block" : "allow"
      p = v["Protocol"]; proto = p == "0x6" ? "TCP" : (p == "0x11" ? "UDP" : "any")
      pr = v["Profiles"]; prof = (pr == "0x7" || pr == "0x7fffffff") ? "all profiles" : (pr == "0x3" ? "domain+private" : (pr == "0x4" ? "public" : "profiles " pr))
      ports = v["LocalPorts"] != "" ? "ports " v["LocalPorts"] : "any port"
      printf "   %-5s %-3s %-5s %-3s %-14s %-15s %s\n", v["Name"], dir, act, proto, ports, prof, app
    }
    /^HKEY/ { flush(); delete v; next }
    /REG_/ { val = ""; for (i = 3; i <= NF; i++) val = val (i > 3 ? " " : "") $i; v[$1] = val }
    END { flush(); if (n == 0) print "   (no rules)"; else print "   " n " rules" }'
}

# The lines the installers' journal got since it had `from` lines: each start's command line.
installer_starts() {
  tail -n +$(($1 + 1)) "$installers_journal" 2>/dev/null | tr '\t' '\n' | grep '^cmdline=' \
    | sed -e 's/^cmdline=/started: /' -e 's/\\\\/\\/g' | indent
}

lines_of() { if [ -f "$1" ]; then wc -l < "$1"; else echo 0; fi; }

menu_state() { # registry key under HKCR
  if wine reg query "HKCR\\$1" >/dev/null 2>&1; then echo "present"; else echo "gone"; fi
}

say "The sandbox installation"
echo "   C:\\Program Files\\Corvane\\ holds the service, the stand-in application and the installers' stand-ins"
wine reg query 'HKLM\Software\Halvex\Corvane' 2>/dev/null | tr -d '\r' | grep -E '^ +(path|ResourceFile) ' \
  | awk '{v = ""; for (i = 3; i <= NF; i++) v = v (i > 3 ? " " : "") $i; print "   HKLM\\Software\\Halvex\\Corvane " $1 " = " v}'
mkdir -p "$user_dir/logs" && touch "$user_dir/logs/debug"
rm -f "$user_dir"/logs/*_service.log "$journal" "$inbox" "$install_dir/Corvane.script" "$user_dir/BrisaData.ini" "$installers_journal"
echo "   the diagnostic log is switched on by an empty file: ...\\Corvane\\logs\\debug"

say "The installer runs DemonService.exe -install"
look "the service runs with a quoted image path; the application's signature is accepted"
mark_events
demon -install || true
wait_for '[ "$(service_state)" = RUNNING ]' || true
status 'service|process id|start type|image path|image path quoted|recovery actions|application signature|event source'
show_events

say "The user starts the companion application (our stand-in, signed by the test publisher)"
look "the service checks the pipe's server before it trusts it, and writes the sharing menu"
mark_events
(cd "$install_dir" && wine Corvane.exe >/dev/null 2>&1 &)
wait_for connected && echo "   Connected=Connected in section [Service] of BrisaRDP.ini" || echo "   (the service did not connect)"
log_lines 'serverPath:|ValidateAssembly result' 2
echo "   sharing menu HKCR\\*\\shell\\FileDock: $(menu_state '*\shell\FileDock')"
wine reg query 'HKCR\*\shell\FileDock\command' /ve 2>/dev/null | tr -d '\r' | awk -F'REG_SZ' '/REG_SZ/ {gsub(/^[ \t]+/, "", $2); print "   its command: " $2}'
show_events

say "The application crashes without notice"
look "the service counts the crash and starts the application again, in the user's session, in background mode"
mark_events
sed -i 's/^Connected=.*/Connected=(waiting)/' "$ini"
echo crash >> "$inbox"
wait_for '[ "$(app_starts)" -ge 2 ]' && echo "   started again with: $(grep 'event=start' "$journal" | tail -n 1 | tr '\t' '\n' | sed -n 's/^cmdline=//p' | sed 's/\\\\/\\/g')"
echo "   crash count (BrisaData.ini [SC] crash): $(tr -d '\r' < "$user_dir/BrisaData.ini" 2>/dev/null | sed -n 's/^crash=//p')"
wait_for connected && echo "   and connected to the new instance"
show_events

say "The application asks for its firewall rules: restricted, ports 80 and 443"
look "TCP and UDP inbound on ports 80,443 for domain and private networks only, a block on public, outbound allowed"
mark_events
echo 'send "OpenFireWall":1,"ports":"80,443"' >> "$inbox"
wait_for 'wine reg query "HKLM\Software\OrvelStandIn\FirewallRules" /s 2>/dev/null | grep -q "LockerPlugin"' || true
show_rules
show_events

say "The application closes its firewall rules"
look "no rule named Orvel is left"
mark_events
echo 'send CloseFireWall' >> "$inbox"
wait_for '! wine reg query "HKLM\Software\OrvelStandIn\FirewallRules" /s 2>/dev/null | grep -q "Orvel"' || true
show_rules
show_events

say "The application asks for the camera driver"
look "devcon.exe is checked, then started twice: remove, then install with the INF's path"
mark_events
before=$(lines_of "$installers_journal")
echo 'send InstallCameraDriver' >> "$inbox"
wait_for '[ "$(lines_of "$installers_journal")" -ge $((before + 2)) ]' || true
installer_starts "$before"
show_events

say "The application announces its exit"
look "an exit notice is no crash: nothing is started again"
mark_events
starts_before=$(app_starts)
echo 'exit' >> "$inbox"
wait_for 'grep -q "correctly" "$user_dir"/logs/*_service.log' || true
log_lines 'app_exit:|Corvane exit .* correctly' 2
echo "   application starts in its journal: $starts_before before the notice, $(app_starts) after"
show_events

say "The installer renames the shortcuts to the application's title, and restores them"
look "the files and the install key's ShortCutPath and Program_ShortCut_Path follow each rename"
for i in 0 1; do mkdir -p "${shortcut_dirs[$i]}"; rm -f "${shortcut_dirs[$i]}"/*.lnk; : > "${shortcut_dirs[$i]}/Orvel.lnk"; done
wine reg add 'HKLM\Software\Halvex\Corvane' /v ShortCutPath /t REG_SZ /d "${shortcut_paths[0]}" /f >/dev/null 2>&1
wine reg add 'HKLM\Software\Halvex\Corvane' /v Program_ShortCut_Path /t REG_SZ /d "${shortcut_paths[1]}" /f >/dev/null 2>&1
show_shortcuts() {
  wine reg query 'HKLM\Software\Halvex\Corvane' 2>/dev/null | tr -d '\r' | grep -E 'ShortCutPath|Program_ShortCut_Path' \
    | awk -F'REG_SZ' '{gsub(/^[ \t]+/, "", $1); gsub(/[ \t]+$/, "", $1); gsub(/^[ \t]+/, "", $2); print "     " $1 " = " $2}'
  echo "     files: Public\\Desktop\\$(ls "${shortcut_dirs[0]}" | grep '\.lnk$' | paste -sd ',' -)," \
    "Start Menu\\Programs\\$(ls "${shortcut_dirs[1]}" | grep '\.lnk$' | paste -sd ',' -)"
}
demon -renameShortCut || true
echo "   after -renameShortCut:"; show_shortcuts
demon -retoreShortCut || true
echo "   after -retoreShortCut (spelled so):"; show_shortcuts

say "The installer starts the application for the user: DemonService.exe -runCorvane"
look "it borrows the token of the process that owns the shell's window (our stand-in shell) and passes /nocheck:y"
mark_events
wine "$ORVEL_BUILD_DIR/testdata/ShellWindow.exe" >/dev/null 2>&1 &
shell_pid=$!
sleep 2
sed -i 's/^Connected=.*/Connected=(waiting)/' "$ini"
starts_before=$(app_starts)
demon -runCorvane || true
wait_for '[ "$(app_starts)" -gt "$starts_before" ]' && grep 'event=start' "$journal" | tail -n 1 | tr '\t' '\n' \
  | grep -E '^(cmdline|user)=' | sed -e 's/\\\\/\\/g' -e 's/^cmdline=/   started with the command line: /' -e 's/^user=/   as the user: /'
echo "   it renamed the shortcuts first: $(ls "${shortcut_dirs[0]}" | grep '\.lnk$' | paste -sd ',' -)"
wait_for connected && echo "   and the service connected to it"
kill "$shell_pid" 2>/dev/null || true
show_events

say "The application's device menus are written, then the service is stopped"
look "the stop removes the sharing menu and the device menus, and leaves the stop values in [Service]"
mark_events
menus_reg="$WINEPREFIX/drive_c/OrvelStandIn/device-menus.reg"
{
  printf 'Windows Registry Editor Version 5.00\r\n'
  for base in '*' 'Directory'; do
    for entry in device0 device1 Corvane_Scan; do
      printf '\r\n[HKEY_CLASSES_ROOT\\%s\\shell\\Corvane\\shell\\%s\\command]\r\n@="Corvane.exe"\r\n' "$base" "$entry"
    done
  done
} > "$menus_reg"
wine regedit /S 'C:\OrvelStandIn\device-menus.reg' >/dev/null 2>&1
echo "   before: HKCR\\*\\shell\\Corvane $(menu_state '*\shell\Corvane'), HKCR\\Directory\\shell\\Corvane $(menu_state 'Directory\shell\Corvane'), HKCR\\*\\shell\\FileDock $(menu_state '*\shell\FileDock')"
wine sc stop Orvel >/dev/null 2>&1 || true
wait_for '[ "$(service_state)" = STOPPED ]' || true
echo "   after:  HKCR\\*\\shell\\Corvane $(menu_state '*\shell\Corvane'), HKCR\\Directory\\shell\\Corvane $(menu_state 'Directory\shell\Corvane'), HKCR\\*\\shell\\FileDock $(menu_state '*\shell\FileDock')"
status 'service|Service.Running|Service.Connected|Service.Client_run'
show_events

say "The installer removes the service: DemonService.exe -remove"
look "exit code 4 of -status: not installed"
demon -remove || true
wait_for '! wine sc query Orvel >/dev/null 2>&1' || true
status 'service'

say "An update: installed again, the application asks the service to step aside (stop_for_update)"
look "the service stops and removes itself; the application keeps running"
demon -install || true
wait_for '[ "$(service_state)" = RUNNING ]' || true
sed -i 's/^Connected=.*/Connected=(waiting)/' "$ini"
wait_for connected && echo "   the service is running and connected again"
mark_events
echo 'send stop_for_update' >> "$inbox"
wait_for '! wine sc query Orvel >/dev/null 2>&1' && echo "   the service has removed itself"
status 'service'
show_events

say "Where the proof came from"
echo "   -status: DemonService.exe -status (exit code 0 running, 3 installed and stopped, 4 not installed)"
echo "   the diagnostic log: $(cat "$user_dir"/logs/*_service.log 2>/dev/null | wc -l) lines in ...\\Corvane\\logs\\$(ls "$user_dir/logs" | grep _service.log | head -n 1)"
echo "   the events: Wine's eventlog channel of services.exe, in $events_log"

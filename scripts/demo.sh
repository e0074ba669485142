#!/usr/bin/env bash
# README command one: installs what is missing, builds, and shows the service at work in a Wine
# sandbox beside the stand-in companion application.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"

bash scripts/setup.sh
cmake --preset windows >/dev/null
cmake --build --preset windows -j "${ORVEL_JOBS:-2}" >/dev/null

source scripts/wine-env.sh
orvel_start_wine_session
trap orvel_end_wine_session EXIT

install_dir="$WINEPREFIX/drive_c/Program Files/Corvane"
user_dir="$WINEPREFIX/drive_c/users/$(id -un)/AppData/Roaming/Corvane"
ini="$user_dir/BrisaRDP.ini"

say() { printf '\n\033[1m== %s\033[0m\n' "$*"; }
service_state() { wine sc query Orvel 2>/dev/null | tr -d '\r' | awk '/STATE/ {print $4}'; }
show_section() { # file section
  [ -f "$1" ] || { echo "   ($1 does not exist)"; return; }
  tr -d '\r' < "$1" | awk -v s="[$2]" '$0==s {on=1; print "   " $0; next} /^\[/ {on=0} on {print "   " $0}'
}

say "The sandbox installation"
echo "   C:\\Program Files\\Corvane\\: $(ls "$install_dir" | tr '\n' ' ')"
echo "   HKLM\\Software\\Halvex\\Corvane:"
wine reg query 'HKLM\Software\Halvex\Corvane' 2>/dev/null | tr -d '\r' | grep REG_ | sed 's/^ */     /'

say "Switching the diagnostic log on: a file named 'debug' in the log folder"
mkdir -p "$user_dir/logs" && touch "$user_dir/logs/debug"
rm -f "$user_dir"/logs/*_service.log
echo "   $user_dir/logs/debug"

say "The installer runs: DemonService.exe -install"
(cd "$install_dir" && wine DemonService.exe -install) || true
for _ in $(seq 1 20); do [ "$(service_state)" = RUNNING ] && break; sleep 0.5; done
echo "   service \"Orvel\" is $(service_state)"
wine reg query 'HKLM\System\CurrentControlSet\Services\Orvel' 2>/dev/null | tr -d '\r' | grep -E 'ImagePath|ObjectName|Start |Type ' | sed 's/^ */     /'
sleep 3

say "What the service tells the application: section [Service] of BrisaRDP.ini"
show_section "$ini" Service

app_dir="$install_dir"
journal="$app_dir/Corvane.journal"
inbox="$app_dir/Corvane.inbox"
rm -f "$journal" "$inbox" "$app_dir/Corvane.script" "$user_dir/BrisaData.ini"
starts() { grep -c 'event=start' "$journal" 2>/dev/null || true; }
wait_for() { for _ in $(seq 1 60); do eval "$1" && return 0; sleep 0.5; done; return 1; }
connected() { tr -d '\r' < "$ini" 2>/dev/null | grep -q '^Connected=Connected'; }

say "The user starts the companion application (our stand-in, signed by the test publisher)"
(cd "$app_dir" && wine Corvane.exe >/dev/null 2>&1 &)
wait_for connected && echo "   the service verified the pipe's server and connected: Connected=Connected" \
  || echo "   (the service did not connect)"
grep -E 'serverPath:|ValidateAssembly result' "$user_dir"/logs/*_service.log | tail -n 2 | sed 's/^/   log: /'

say "The application crashes without notice"
sed -i 's/^Connected=.*/Connected=(waiting)/' "$ini"
echo crash >> "$inbox"
wait_for '[ "$(starts)" -ge 2 ]' && echo "   the service started it again:"
grep 'event=start' "$journal" | tail -n 1 | tr '\t' '\n' | grep -E '^(cmdline|cwd|user|session)=' | sed 's/^/     /'
echo "   crash counter (BrisaData.ini):"; show_section "$user_dir/BrisaData.ini" SC
grep -E 'ReadFile fail|CVA_exit == EXIT_COMMAND_SEND_NONE|ReStartCorvane|RunCorvane$' "$user_dir"/logs/*_service.log \
  | tail -n 4 | sed 's/^/   log: /'
wait_for connected && echo "   and connected to the new instance"

say "The application announces its exit"
echo 'exit' >> "$inbox"
wait_for 'grep -q "correctly" "$user_dir"/logs/*_service.log' || true
grep -E 'app_exit:|Corvane exit .* correctly' "$user_dir"/logs/*_service.log | tail -n 2 | sed 's/^/   log: /'
echo "   no restart after an announced exit: $(starts) starts in the journal"

say "Stopping the service"
wine sc stop Orvel >/dev/null 2>&1 || true
for _ in $(seq 1 40); do [ "$(service_state)" = STOPPED ] && break; sleep 0.25; done
echo "   service \"Orvel\" is $(service_state)"
show_section "$ini" Service

say "The diagnostic log"
cat "$user_dir"/logs/*_service.log 2>/dev/null | sed 's/^/   /' || echo "   (no log)"

say "The installer removes it: DemonService.exe -remove"
(cd "$install_dir" && wine DemonService.exe -remove) || true
if wine sc query Orvel >/dev/null 2>&1; then echo "   still registered"; else echo "   \"Orvel\" is no longer registered"; fi

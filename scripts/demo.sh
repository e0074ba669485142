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
# A server left from an earlier run would keep its own view of the prefix: start from none.
wineserver -k 2>/dev/null || true
bash scripts/sandbox.sh
wineserver -w
wineserver -p >/dev/null 2>&1
wine cmd /c exit >/dev/null 2>&1 </dev/null || true
trap 'wineserver -k 2>/dev/null || true' EXIT

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

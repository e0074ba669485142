#!/usr/bin/env bash
# Lays out a Corvane installation inside the build tree's Wine prefix, as the installer would on Windows:
#   C:\Program Files\Corvane\  the service, the companion application and their sibling files (the driver
#                               installers' stand-ins among them, drivers\ with its folders)
#   HKLM\Software\Halvex\Corvane  "path" and "ResourceFile"
#   the console user's "Shell Folders" "AppData" under HKEY_USERS
#   a CD drive R:, backed by the prefix's cdrom/ folder
#   our firewall rule store (standins/FirewallStore) in C:\OrvelStandIn, registered as the firewall's classes
# Usage: scripts/sandbox.sh [--prefix-only]
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/wine-env.sh"

if [ ! -f "$WINEPREFIX/system.reg" ]; then
  echo "sandbox: creating the Wine prefix $WINEPREFIX"
  mkdir -p "$WINEPREFIX"
  wine wineboot -i >/dev/null 2>&1
  wineserver -w
  # A crashing test program must never wait for a dialog.
  wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null 2>&1
  wineserver -w
fi
[ "${1:-}" = "--prefix-only" ] && exit 0

# The test publisher's root goes into the machine's "Root" store, as on a real test machine.
if [ -f "$ORVEL_BUILD_DIR/tools/TrustTestRoot.exe" ]; then
  wine "$ORVEL_BUILD_DIR/tools/TrustTestRoot.exe" >/dev/null 2>&1
fi

install_dir="$WINEPREFIX/drive_c/Program Files/Corvane"
mkdir -p "$install_dir"
# Folders too: the installers below drivers\ keep their places.
if [ -d "$ORVEL_BUILD_DIR/sandbox" ]; then
  cp -rf "$ORVEL_BUILD_DIR/sandbox/." "$install_dir/"
fi

win_install='C:\Program Files\Corvane'
wine reg add 'HKLM\Software\Halvex\Corvane' /v path /t REG_SZ /d "$win_install\\Corvane.exe" /f >/dev/null 2>&1
wine reg add 'HKLM\Software\Halvex\Corvane' /v ResourceFile /t REG_SZ /d "$win_install\\ResText2052.dll" /f >/dev/null 2>&1
# Wine's console user is S-1-5-21-0-0-0-1000; its roaming folder is what Explorer records there.
user_sid='S-1-5-21-0-0-0-1000'
appdata=$(wine reg query "HKU\\$user_sid\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders" /v AppData 2>/dev/null | tr -d '\r' | awk -F'REG_SZ' '/AppData/ {gsub(/^[ \t]+/, "", $2); print $2}')
if [ -z "$appdata" ]; then
  appdata='C:\users\root\AppData\Roaming'
  wine reg add "HKU\\$user_sid\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders" /v AppData /t REG_SZ /d "$appdata" /f >/dev/null 2>&1
fi
echo "sandbox: installed in $win_install, user data in $appdata\\Corvane"

# A drive that is not a local fixed drive, for the user-folder rule: R: is of the CD type. Wine takes a
# drive's type from this key when the prefix's server starts. The link is relative, so that a copy of the
# prefix has its own.
mkdir -p "$WINEPREFIX/cdrom"
ln -sfn ../cdrom "$WINEPREFIX/dosdevices/r:"
wine reg add 'HKLM\Software\Wine\Drives' /v 'r:' /t REG_SZ /d cdrom /f >/dev/null 2>&1

# Wine's own firewall classes keep no rules: our stand-in store serves NetFwPolicy2 and NetFwRule instead.
# Registered under HKLM (the user's classes are not looked at), after the prefix exists (wineboot -u
# would put Wine's own back).
store_dll="$ORVEL_BUILD_DIR/tools/OrvelFirewallStore.dll"
if [ -f "$store_dll" ]; then
  mkdir -p "$WINEPREFIX/drive_c/OrvelStandIn"
  cp -f "$store_dll" "$WINEPREFIX/drive_c/OrvelStandIn/"
  store_reg="$WINEPREFIX/drive_c/OrvelStandIn/register.reg"
  {
    printf 'Windows Registry Editor Version 5.00\r\n'
    for clsid in '{E2B3C97F-6AE1-41AC-817A-F6F92166D7DD}' '{2C5BC43E-3369-4C33-AB0C-BE9469677AF4}'; do
      printf '\r\n[HKEY_LOCAL_MACHINE\\Software\\Classes\\CLSID\\%s\\InprocServer32]\r\n' "$clsid"
      printf '@="C:\\\\OrvelStandIn\\\\OrvelFirewallStore.dll"\r\n"ThreadingModel"="Both"\r\n'
    done
  } > "$store_reg"
  wine regedit /S 'C:\OrvelStandIn\register.reg' >/dev/null 2>&1
  echo "sandbox: firewall rule store registered (C:\OrvelStandIn\OrvelFirewallStore.dll)"
fi

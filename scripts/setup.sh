#!/usr/bin/env bash
# Installs what building and testing need on a Debian 12 machine (run as root).
# Idempotent: does nothing but a few checks when everything is already there.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
third_party="$here/third_party"

need=()
have_pkg() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }
for pkg in cmake make g++ git g++-mingw-w64-x86-64-posix mingw-w64-tools wine wine64 \
           osslsigncode openssl ccache libcjson-dev googletest libgtest-dev xz-utils clang libclang-rt-14-dev patch ca-certificates; do
  have_pkg "$pkg" || need+=("$pkg")
done

apt_updated=0
apt_update() { [ "$apt_updated" = 1 ] || { apt-get update -qq; apt_updated=1; }; }

if [ ${#need[@]} -gt 0 ]; then
  echo "setup: installing ${need[*]}"
  apt_update
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${need[@]}" >/dev/null
fi

# cJSON for the Windows build comes from Debian's source package.
if ! ls "$third_party"/cjson/cJSON.c >/dev/null 2>&1; then
  src_list=/etc/apt/sources.list.d/debian-src.sources
  if ! grep -rqs '^Types:.*deb-src' /etc/apt/sources.list.d/ && ! grep -qs '^deb-src' /etc/apt/sources.list 2>/dev/null; then
    echo "setup: enabling Debian's source index"
    base=/etc/apt/sources.list.d/debian.sources
    if [ -f "$base" ]; then
      sed -e 's/^Types: deb$/Types: deb-src/' "$base" > "$src_list"
    else
      codename=$(. /etc/os-release; echo "$VERSION_CODENAME")
      printf 'Types: deb-src\nURIs: http://deb.debian.org/debian\nSuites: %s\nComponents: main\nSigned-By: /usr/share/keyrings/debian-archive-keyring.gpg\n' "$codename" > "$src_list"
    fi
    apt_updated=0
  fi
  apt_update
  tmp=$(mktemp -d)
  (cd "$tmp" && apt-get source --download-only -qq cjson >/dev/null)
  mkdir -p "$third_party/cjson"
  tar -xzf "$tmp"/cjson_*.orig.tar.gz -C "$tmp"
  srcdir=$(find "$tmp" -maxdepth 2 -name cJSON.c -printf '%h\n' | head -n1)
  # Debian's security fixes ride in its own patch series: apply them as the distribution does.
  if ls "$tmp"/cjson_*.debian.tar.* >/dev/null 2>&1; then
    tar -xf "$tmp"/cjson_*.debian.tar.* -C "$srcdir"
    if [ -f "$srcdir/debian/patches/series" ]; then
      while read -r p _; do
        case "$p" in ''|'#'*) continue ;; esac
        patch -s -d "$srcdir" -p1 < "$srcdir/debian/patches/$p"
      done < "$srcdir/debian/patches/series"
    fi
  fi
  cp "$srcdir/cJSON.c" "$srcdir/cJSON.h" "$srcdir/LICENSE" "$third_party/cjson/"
  rm -rf "$tmp"
  echo "setup: cJSON source in third_party/cjson"
fi

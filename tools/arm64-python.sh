#!/usr/bin/env bash
# arm64-python.sh DIR
# Unpacks Debian's arm64 CPython interpreter (the minimal one, with the few
# libraries it links) into DIR, for running under qemu-user with the arm64
# C library of Debian's libc6-arm64-cross. No arm64 CPython 3.10 comes from
# these package sources, so this one checks what an arm64 module does when
# another interpreter loads it. Needs root the first time, to let apt know
# of arm64 packages.
set -eu
dir=$1
[ -x "$dir/usr/bin/python3" ] && exit 0

packages="python3.11-minimal:arm64 libpython3.11-minimal:arm64 libexpat1:arm64 zlib1g:arm64"
export DEBIAN_FRONTEND=noninteractive
if ! dpkg --print-foreign-architectures | grep -qx arm64; then
  dpkg --add-architecture arm64
fi
if ! apt-cache show python3.11-minimal:arm64 >/dev/null 2>&1; then
  apt-get update -q
fi
debs=$(mktemp -d)
chmod 755 "$debs"  # apt fetches as its own user
(cd "$debs" && apt-get download -q $packages)
mkdir -p "$dir"
for deb in "$debs"/*.deb; do dpkg-deb -x "$deb" "$dir"; done
rm -rf "$debs"
ln -sf python3.11 "$dir/usr/bin/python3"

#!/usr/bin/env bash
# Makes sure GoogleTest's headers, libraries and CMake package are installed,
# installing Debian's libgtest-dev when running as root.
set -eu

have_gtest() {
  [ -f /usr/include/gtest/gtest.h ] || return 1
  local config
  for config in /usr/lib/*/cmake/GTest/GTestConfig.cmake /usr/lib/cmake/GTest/GTestConfig.cmake; do
    [ -f "$config" ] && return 0
  done
  return 1
}

have_gtest && exit 0

if [ "$(id -u)" -eq 0 ] && command -v apt-get >/dev/null 2>&1; then
  echo "Installing GoogleTest (libgtest-dev) from Debian's packages..."
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -q
  apt-get install -y -q libgtest-dev
  have_gtest && exit 0
fi

cat >&2 <<'MSG'
error: GoogleTest is not installed. The native tests need Debian's package
libgtest-dev; install it as root with:
    apt-get install -y libgtest-dev
MSG
exit 1

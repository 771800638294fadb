#!/usr/bin/env bash
# ensure-debian-package.sh PACKAGE FILE
# Makes sure FILE exists, installing Debian's PACKAGE (which provides it)
# when it does not and we run as root; otherwise says what to install.
set -eu
package=$1
file=$2

[ -e "$file" ] && exit 0

if [ "$(id -u)" -eq 0 ] && command -v apt-get >/dev/null 2>&1; then
  echo "Installing $package from Debian's packages..."
  export DEBIAN_FRONTEND=noninteractive
  # The package lists are fetched only when the install cannot do without
  # them, so that a run that installs several packages updates them once.
  apt-get install -y -q "$package" || { apt-get update -q && apt-get install -y -q "$package"; }
  [ -e "$file" ] && exit 0
fi

cat >&2 <<MSG
error: $file is missing. It comes with Debian's package $package; install it
as root with:
    apt-get install -y $package
MSG
exit 1

#!/usr/bin/env bash
# Makes sure clang++ with libFuzzer and the sanitizer runtimes is installed,
# installing Debian's clang and libclang-rt-14-dev when running as root.
set -eu

probe() {
  local dir
  dir=$(mktemp -d)
  echo 'extern "C" int LLVMFuzzerTestOneInput(const unsigned char*, unsigned long) { return 0; }' \
    >"$dir/probe.cc"
  clang++ -fsanitize=fuzzer,address,undefined "$dir/probe.cc" -o "$dir/probe" >/dev/null 2>&1
  local rc=$?
  rm -rf "$dir"
  return $rc
}

command -v clang++ >/dev/null 2>&1 && probe && exit 0

if [ "$(id -u)" -eq 0 ] && command -v apt-get >/dev/null 2>&1; then
  echo "Installing clang and its runtime (clang, libclang-rt-14-dev) from Debian's packages..."
  export DEBIAN_FRONTEND=noninteractive
  apt-get install -y -q clang libclang-rt-14-dev ||
    { apt-get update -q && apt-get install -y -q clang libclang-rt-14-dev; }
  probe && exit 0
fi

cat >&2 <<'MSG'
error: clang++ with libFuzzer is not available. Install Debian's packages
clang and libclang-rt-14-dev as root:
    apt-get install -y clang libclang-rt-14-dev
MSG
exit 1

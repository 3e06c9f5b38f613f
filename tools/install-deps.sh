#!/bin/sh
# Installs every Debian 12 package that the build, the tests, the fuzzers and
# the tools of this project need. Safe to run again; does nothing when all are
# present.
set -eu
PACKAGES="build-essential cmake ninja-build pkg-config git
  clang libclang-rt-14-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  libsqlite3-dev sqlite3
  libfftw3-dev libeigen3-dev
  qt6-base-dev qt6-base-dev-tools libgl-dev
  libopencv-dev
  libcli11-dev locales-all ccache
  xvfb xauth"
missing=""
for p in $PACKAGES; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done
if [ -n "$missing" ]; then
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -q
  # shellcheck disable=SC2086
  $SUDO apt-get install -y -q --no-install-recommends $missing
fi

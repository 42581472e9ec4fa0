#!/bin/sh
# Installs the Debian/Ubuntu packages the build, the tests and the sandboxed run
# need (nsis for the setup program; fonts-liberation2 for Liberation Sans, which
# draws the windows' Segoe UI under Wine); only what is missing, and with sudo
# when not root.
#   tools/deps.sh [EXTRA_PACKAGE...]
set -eu
packages="cmake ninja-build g++-mingw-w64-x86-64-posix wine64 xvfb googletest imagemagick nsis
    fonts-liberation2 $*"
missing=""
for package in $packages; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "ok installed" ||
        missing="$missing $package"
done
[ -n "$missing" ] || exit 0
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
echo "installing:$missing"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq $missing >/dev/null

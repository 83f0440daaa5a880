#!/usr/bin/env bash
# Builds the Debian package build/package/vorlixa_<version>_amd64.deb from a release
# build without an update address (the "package" preset: updates come with the system's
# packages), lists its files and checks it with lintian.
set -euo pipefail
cd "$(dirname "$0")/.."

./scripts/install-deps.sh
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
if ! command -v lintian >/dev/null; then
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends lintian
fi

# Debian's compiler and linker flags, hardening included. CMake reads no CPPFLAGS, so
# they join CXXFLAGS; --fresh makes a changed flag take effect in build/package.
eval "$(DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --export=sh)"
export CXXFLAGS="$CPPFLAGS $CXXFLAGS"
cmake --preset package --fresh
cmake --build --preset package
rm -f build/package/vorlixa_*.deb
cpack --preset deb

deb=$(ls build/package/vorlixa_*_amd64.deb)
echo "== $deb"
dpkg-deb --info "$deb"
echo "== files"
dpkg-deb -c "$deb"
echo "== lintian"
# Errors fail the script; warnings and notes are listed.
lintian --fail-on error --display-info "$deb"
echo "lintian: no errors"

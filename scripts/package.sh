#!/usr/bin/env bash
# Builds the Debian packages with CPack and checks them with lintian:
#   qx7daq       the desktop program, the logger and its systemd service
#   qx7daq-demo  the simulator qx7sim and qx7demodb
#
#   scripts/package.sh            builds in build-deb/ without the tests
#   scripts/package.sh DIR        packages the build in DIR (CI: build/,
#                                 where the tests were built already)
#
# The .deb files land in DIR/packages/. Dependencies come from
# dpkg-shlibdeps; lintian must report no error (its warnings are shown).
# Nothing is installed on this machine.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh

dir=${1:-build-deb}
options=(-DCMAKE_INSTALL_PREFIX=/usr -DQX7_WERROR="${QX7_WERROR:-OFF}")
[ -f "$dir/CMakeCache.txt" ] || options+=(-G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=OFF)
cmake -S . -B "$dir" "${options[@]}" >/dev/null
cmake --build "$dir" --parallel "$(nproc)"

rm -rf "$dir/packages"
(cd "$dir" && cpack -G DEB -B "$PWD/packages" >/dev/null)
rm -rf "$dir/packages/_CPack_Packages"
mapfile -t debs < <(ls "$dir"/packages/*.deb)
for deb in "${debs[@]}"; do
    echo "$deb"
    dpkg-deb --field "$deb" Package Version Depends | sed 's/^/    /'
done

lintian --fail-on error "${debs[@]}"
echo "lintian: no error"

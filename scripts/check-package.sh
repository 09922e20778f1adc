#!/usr/bin/env bash
# Checks the Debian packages of scripts/package.sh without installing them:
# - the desktop entry (desktop-file-validate), the AppStream data
#   (appstreamcli validate --no-net), the systemd unit (systemd-analyze
#   verify) and the sysusers.d file (systemd-sysusers on an empty root);
# - what lies in which package (the simulator and qx7demodb only in the demo
#   package);
# - the programs, unpacked (dpkg-deb -x) into a temporary folder and run from
#   there: --version of each; the desktop program for a few seconds offscreen
#   with --data on a temporary folder, and once more without --data, as a
#   user who cannot write its folder, on an empty home, where it must create
#   its database in the user's data location.
#
#   scripts/check-package.sh [DIR]    the .deb files in DIR
#                                     (default build-deb/packages)
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${1:-build-deb/packages}
id=example.qinglan_sensors.qx7daq

tmp=$(mktemp -d /tmp/qx7-package.XXXXXX)
trap 'chmod -R u+w "$tmp"; rm -rf "$tmp"' EXIT
chmod 755 "$tmp"
root=$tmp/root
fail() {
    echo "check-package: $*" >&2
    exit 1
}

main=$(ls "$dir"/qx7daq_*.deb)
demo=$(ls "$dir"/qx7daq-demo_*.deb)
for deb in "$main" "$demo"; do dpkg-deb -x "$deb" "$root"; done
if dpkg-deb -c "$main" | grep -qE 'usr/bin/(qx7sim|qx7demodb)$'; then
    fail "the simulator is in the main package"
fi
for f in usr/bin/qx7daq usr/bin/qx7sim usr/bin/qx7demodb \
    "usr/share/applications/$id.desktop" "usr/share/metainfo/$id.metainfo.xml" \
    "usr/share/icons/hicolor/scalable/apps/$id.svg" "usr/share/icons/hicolor/48x48/apps/$id.png" \
    usr/share/doc/qx7daq/README.md usr/share/doc/qx7daq/copyright usr/share/doc/qx7daq-demo/copyright; do
    [ -e "$root/$f" ] || fail "$f is missing"
done

desktop-file-validate "$root/usr/share/applications/$id.desktop"
appstreamcli validate --no-net "$root/usr/share/metainfo/$id.metainfo.xml"

logger=$root/usr/bin/qx7logger
[ -x "$logger" ] || fail "qx7logger is missing"
unit=$root/usr/lib/systemd/system/qx7logger.service
[ -f "$unit" ] || fail "qx7logger.service is missing"
# The unit as installed, its program taken from the unpacked folder.
sed "s|/usr/bin/qx7logger|$logger|" "$unit" >"$tmp/qx7logger.service"
systemd-analyze verify "$tmp/qx7logger.service"
mkdir -p "$tmp/sysroot/etc"
systemd-sysusers --root="$tmp/sysroot" "$root/usr/lib/sysusers.d/qx7logger.conf" 2>/dev/null
grep -q '^qx7logger:' "$tmp/sysroot/etc/passwd" || fail "sysusers.d makes no user qx7logger"
grep -q '^dialout:.*qx7logger' "$tmp/sysroot/etc/group" || fail "qx7logger is not in dialout"
grep -qE '^d /var/lib/qx7logger 2770 qx7logger qx7logger' \
    "$root/usr/lib/tmpfiles.d/qx7logger.conf" || fail "tmpfiles.d makes no folder for the logger"
"$logger" --version
"$root/usr/bin/qx7daq" --version

# Runs the desktop program for 4 s; it must still be running then (status
# 124 from timeout), not have ended or crashed.
run_desktop() {
    local status=0
    timeout 4 "$@" >"$tmp/run.log" 2>&1 || status=$?
    [ "$status" -eq 124 ] || { cat "$tmp/run.log" >&2; fail "qx7daq ended with status $status"; }
}
export QT_QPA_PLATFORM=offscreen
run_desktop "$root/usr/bin/qx7daq" --data "$tmp/data"
[ -f "$tmp/data/mydb.db" ] || fail "qx7daq --data made no $tmp/data/mydb.db"

# A user who cannot write the program's folder (root can write anywhere, so
# root runs it as nobody), on an empty home.
chmod a-w "$root/usr/bin"
mkdir "$tmp/home"
as_user=()
if [ "$(id -u)" -eq 0 ]; then
    chown 65534:65534 "$tmp/home"
    as_user=(setpriv --reuid=65534 --regid=65534 --clear-groups)
fi
run_desktop "${as_user[@]}" env -i PATH="$PATH" HOME="$tmp/home" QT_QPA_PLATFORM=offscreen \
    "$root/usr/bin/qx7daq"
[ -f "$tmp/home/.local/share/qx7daq/mydb.db" ] || fail "no database in the user's data location"
[ -d "$tmp/home/.local/share/qx7daq/backup" ] || fail "no backup folder in the user's data location"
[ ! -e "$root/usr/bin/mydb.db" ] || fail "a database beside the installed program"
echo "packages: contents, validators and programs fine"

#!/usr/bin/env bash
# Installs what is missing, builds, and starts the program on a simulated bus:
# the simulator qx7sim with modules 1, 2 and 3 on a pseudo-terminal (and on
# TCP 127.0.0.1:1234 for the console's converter link), and a copy of the
# program in build/demo attached to it as port 1, on the demo database
# build/demo/mydb.db (created with those three modules registered when it
# does not exist yet). No mydb.db anywhere else is touched. The simulator
# stops when the program ends; its exchange log is build/demo/qx7sim.log.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh

demo="$PWD/build/demo"
# backup/ is where 数据库备份 writes its copies.
mkdir -p "$demo/backup"
cp -f build/bin/qx7daq "$demo/qx7daq"
build/bin/qx7demodb "$demo" --modules 1,2,3

link="$demo/ttyQX7"
: >"$demo/qx7sim.out"
build/bin/qx7sim --serial "$link" --tcp 1234 --modules 1,2,3 \
    >"$demo/qx7sim.out" 2>"$demo/qx7sim.log" &
sim=$!
app=

stop() {
    [ -n "$app" ] && kill -TERM "$app" 2>/dev/null || true
    kill -TERM "$sim" 2>/dev/null || true
}
trap 'stop; exit 130' INT
trap 'stop; exit 143' TERM
trap 'kill -TERM "$sim" 2>/dev/null || true; wait "$sim" 2>/dev/null || true' EXIT

# The program must not write before the simulator serves.
for _ in $(seq 100); do
    grep -qx ready "$demo/qx7sim.out" && break
    if ! kill -0 "$sim" 2>/dev/null; then
        echo "qx7sim did not start:" >&2
        cat "$demo/qx7sim.log" >&2
        exit 1
    fi
    sleep 0.1
done
if ! grep -qx ready "$demo/qx7sim.out"; then
    echo "qx7sim did not get ready within 10 s; see $demo/qx7sim.log" >&2
    exit 1
fi
echo "qx7sim serves modules 1,2,3 on $link and 127.0.0.1:1234; log: $demo/qx7sim.log"

# In the background, so that a signal to this script reaches the program too.
QX7_COM1="$link" "$demo/qx7daq" "$@" &
app=$!
status=0
wait "$app" || status=$?
exit "$status"

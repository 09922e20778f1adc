#!/usr/bin/env bash
# Installs what is missing, builds, and starts the program on a simulated bus:
# the simulator qx7sim with modules 1, 2 and 3 on a pseudo-terminal (and on
# TCP 127.0.0.1:1234 for the console's converter link), and a copy of the
# program in build/demo attached to it as port 1, on the demo database
# build/demo/mydb.db (created with those three modules registered when it
# does not exist yet). No mydb.db anywhere else is touched. The simulator
# stops when the program ends; its exchange log is build/demo/qx7sim.log.
# Module 3 sits in a cold room whose temperature swings between -2 and -5 °C
# (80 s a swing); its alarm in the demo database goes off below -4 °C.
#
# When mosquitto is installed, the program publishes its readings over MQTT
# to a broker on 127.0.0.1: the one that already answers on port 1883, or
# one started here (port 1883 when free, else the next free one; log in
# build/demo/mosquitto.log, stopped after the program). The demo database
# is pointed at it; without mosquitto, MQTT is off in the demo.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh

demo="$PWD/build/demo"
# backup/ is where 数据库备份 writes its copies.
mkdir -p "$demo/backup"
cp -f build/bin/qx7daq "$demo/qx7daq"
build/bin/qx7demodb "$demo" --modules 1,2,3

sim=
app=
broker=
stop() {
    [ -n "$app" ] && kill -TERM "$app" 2>/dev/null || true
    [ -n "$sim" ] && kill -TERM "$sim" 2>/dev/null || true
}
# What the script started ends with it; the broker last, so that the
# program's "offline" still reaches it.
stop_rest() {
    if [ -n "$sim" ]; then
        kill -TERM "$sim" 2>/dev/null || true
        wait "$sim" 2>/dev/null || true
    fi
    if [ -n "$broker" ]; then
        kill -TERM "$broker" 2>/dev/null || true
        wait "$broker" 2>/dev/null || true
    fi
}
trap 'stop; exit 130' INT
trap 'stop; exit 143' TERM
trap stop_rest EXIT

# The MQTT broker of the demo.
mosquitto_bin=$(command -v mosquitto || true)
[ -z "$mosquitto_bin" ] && [ -x /usr/sbin/mosquitto ] && mosquitto_bin=/usr/sbin/mosquitto
broker_port=
port_taken() { (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; }
if [ -z "$mosquitto_bin" ]; then
    build/bin/qx7demodb "$demo" --mqtt off >/dev/null
    echo "mosquitto is not installed: the demo publishes nothing over MQTT"
elif command -v mosquitto_sub >/dev/null &&
    mosquitto_sub -h 127.0.0.1 -p 1883 -t 'qx7/#' -E -W 2 >/dev/null 2>&1; then
    broker_port=1883
    echo "MQTT: using the broker that already runs on 127.0.0.1:1883"
else
    broker_port=1883
    while port_taken "$broker_port"; do broker_port=$((broker_port + 1)); done
    printf '%s\n' "listener $broker_port 127.0.0.1" "allow_anonymous true" \
        "user $(id -un)" "log_dest stderr" >"$demo/mosquitto.conf"
    "$mosquitto_bin" -c "$demo/mosquitto.conf" 2>"$demo/mosquitto.log" &
    broker=$!
    for _ in $(seq 50); do
        port_taken "$broker_port" && break
        sleep 0.1
    done
    if ! port_taken "$broker_port"; then
        echo "mosquitto did not start; see $demo/mosquitto.log" >&2
        exit 1
    fi
    echo "MQTT: broker on 127.0.0.1:$broker_port (log: $demo/mosquitto.log)"
fi
if [ -n "$broker_port" ]; then
    build/bin/qx7demodb "$demo" --mqtt "127.0.0.1:$broker_port" >/dev/null
    if [ "$broker_port" = 1883 ]; then
        echo "MQTT: watch with  mosquitto_sub -v -t 'qx7/#'"
    else
        echo "MQTT: watch with  mosquitto_sub -p $broker_port -v -t 'qx7/#'"
    fi
fi

link="$demo/ttyQX7"
: >"$demo/qx7sim.out"
build/bin/qx7sim --serial "$link" --tcp 1234 --modules 1,2,3 --ramp 3:-2:-5:40 \
    >"$demo/qx7sim.out" 2>"$demo/qx7sim.log" &
sim=$!

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

#!/usr/bin/env bash
# Installs the Debian packages needed to build, run and test the program.
# Runs as root, or through sudo for a normal user.
set -euo pipefail

packages=(
    qt6-base-dev        # Qt Core, Gui, Widgets, Network, Test
    qt6-serialport-dev  # Qt SerialPort
    libsqlite3-dev      # SQLite 3, used directly
    sqlite3             # the sqlite3 shell (benchmarks compare against it)
    libmosquitto-dev    # MQTT client library: readings and alarms to a broker
    libsystemd-dev      # readiness and watchdog of the logger run as a systemd service
    mosquitto           # MQTT broker: the tests and the demo start their own on 127.0.0.1
    mosquitto-clients   # mosquitto_sub, to watch what the program publishes
    openssl             # the MQTT TLS test makes its own certificates
    libcurl4-openssl-dev  # alarm notifications: group robots, webhooks and e-mail over HTTP(S)/SMTP
    python3-aiosmtpd    # the notification tests' SMTP server (plain and STARTTLS)
    cmake ninja-build g++ pkg-config
    clang-format        # the format check of CI (scripts/check-format.sh)
    fonts-wqy-microhei  # a CJK font: the whole interface is Chinese
    # The Debian packages (scripts/package.sh) and their checks (scripts/check-package.sh)
    dpkg-dev            # dpkg-shlibdeps: the packages' library dependencies
    lintian             # the packages' check
    desktop-file-utils  # desktop-file-validate: the menu entry
    appstream           # appstreamcli: the AppStream data
    systemd             # systemd-analyze and systemd-sysusers: the logger's unit and user
    g++-mingw-w64-x86-64  # the Windows readiness check (scripts/check-windows.sh)
    librsvg2-bin        # rsvg-convert: packaging/icons/render.sh draws the icon's PNG sizes
)

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=()
[ "$(id -u)" -ne 0 ] && sudo=(sudo)
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update -qq
"${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"

#!/usr/bin/env bash
# Configures and builds everything into build/ (programs in build/bin).
# QX7_WERROR=ON turns compiler warnings into errors (CI does this).
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DQX7_WERROR="${QX7_WERROR:-OFF}" >/dev/null
cmake --build build --parallel "$(nproc)"

#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds TALVOR with its tests and runs them all.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh
cmake -S . -B build -DTALVOR_BUILD_BENCHMARKS=ON >/dev/null
cmake --build build -j"$(nproc)"
ctest --test-dir build --output-on-failure -j2

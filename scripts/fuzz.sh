#!/usr/bin/env bash
# Fuzzes the wave reader for the given number of seconds (default 60).
set -euo pipefail
echo "fuzz: no fuzz target yet"

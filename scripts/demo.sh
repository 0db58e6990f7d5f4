#!/usr/bin/env bash
# Quick start, step one: installs what building kestrel needs when it is
# missing (Debian packages, via apt-get), builds kestrel and lists the sample
# image examples/sample.d64, as `make demo` does. Needs no test package.
set -euo pipefail
cd "$(dirname "$0")/.."

# The plain build: CMake drives make and g++; zlib reads images in archives.
demo_packages=(cmake g++ make zlib1g-dev)

. scripts/packages.sh
ensure_packages "the kestrel build" "${demo_packages[@]}"
exec make demo

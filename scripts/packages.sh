# shellcheck shell=bash
# Installs the Debian packages that a quick-start script needs, when they are
# missing. Sourced by scripts/demo.sh and scripts/test.sh, which each keep
# their own list; this file holds no package names.
#
# ensure_packages PURPOSE PACKAGE...
#   Does nothing at all (no apt-get update either) when every package is
#   installed. Otherwise it prints the missing ones and installs them with
#   apt-get: directly as root, through sudo when not root, and when neither
#   works it says what to install and returns 1. Without dpkg and apt-get (not
#   Debian) it names the packages it would want and returns 0, so the build
#   itself reports what is really missing.

# The packages among the arguments that dpkg does not list as installed.
missing_packages() {
  local package status
  for package in "$@"; do
    status=$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null) || status=
    [ "$status" = "install ok installed" ] || printf '%s ' "$package"
  done
}

ensure_packages() {
  local purpose=$1
  shift
  if ! command -v dpkg-query >/dev/null 2>&1 || ! command -v apt-get >/dev/null 2>&1; then
    echo "No dpkg/apt-get here: $purpose needs these Debian packages or their equivalents: $*" >&2
    return 0
  fi
  local missing
  missing=$(missing_packages "$@")
  missing=${missing% }
  [ -n "$missing" ] || return 0

  local as_root=()
  if [ "$(id -u)" -ne 0 ]; then
    if ! command -v sudo >/dev/null 2>&1; then
      echo "Missing for $purpose: $missing" >&2
      echo "Not root and no sudo: as root, run" >&2
      echo "  apt-get update && apt-get install -y $missing" >&2
      return 1
    fi
    as_root=(sudo)
  fi
  echo "Installing for $purpose: $missing"
  # shellcheck disable=SC2086 # one word per package
  "${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -q &&
    "${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -q $missing
}

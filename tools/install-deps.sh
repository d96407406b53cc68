#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update
# shellcheck disable=SC2046
$sudo apt-get install -y --no-install-recommends $(grep -v '^#' "$here/debian-packages.txt")

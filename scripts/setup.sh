#!/usr/bin/env bash
# Installs what a fresh Debian machine lacks to build, run and test
# veru-console. Safe to run any number of times: it installs only what is
# missing.
set -euo pipefail

packages=(g++ cmake make pkg-config libjson-c-dev libgtest-dev libbenchmark-dev
          wget libcpp-httplib-dev libssl-dev openssl iproute2
          clang libclang-rt-14-dev libncurses-dev libedit-dev tmux man-db groff-base
          libmosquitto-dev mosquitto libsqlite3-dev sqlite3)

missing=()
for package in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "ok installed"; then
    missing+=("$package")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  echo "setup: everything is installed"
  exit 0
fi

sudo=""
if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
echo "setup: installing ${missing[*]}"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}"

#!/usr/bin/env bash
# Installs the Debian packages the project needs, skipping what is already present.
# Safe to run again and again; `make run` and `make test` call it first.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  libgtest-dev libgmock-dev libbenchmark-dev zlib1g-dev libcli11-dev
  clang libclang-rt-14-dev
  mtools dosfstools lhasa jlha-utils time python3
  libfuse3-dev fuse3 attr
  qt6-base-dev libgl-dev fonts-noto-cjk xvfb xauth
  qt6-translations-l10n shared-mime-info openbox x11-utils
  pandoc help2man bash-completion dpkg-dev fakeroot lintian
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "setup: installing ${missing[*]}" >&2
if [ "$(id -u)" -ne 0 ]; then
  SUDO=sudo
else
  SUDO=
fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null

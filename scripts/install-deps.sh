#!/usr/bin/env bash
# Installs what building and testing need: Debian packages (apt-get, Debian 12
# and 13) and the pinned Python test packages. Quick when all is present.
# Usage: scripts/install-deps.sh [--bench]
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(
  build-essential cmake ninja-build ccache pkg-config
  zlib1g-dev libdeflate-dev libisal-dev libicu-dev libssl-dev libabsl-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  libharfbuzz-dev libagg-dev
  clang libclang-rt-dev
)

missing=()
for pkg in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null || true)
  [[ "$status" == "install ok installed" ]] || missing+=("$pkg")
done
if ((${#missing[@]})); then
  echo "install-deps: installing ${missing[*]}"
  sudo_cmd=()
  [[ $(id -u) -eq 0 ]] || sudo_cmd=(sudo)
  "${sudo_cmd[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# The interpreter may be a system one that refuses global installs (PEP 668).
export PIP_BREAK_SYSTEM_PACKAGES=1 PIP_DISABLE_PIP_VERSION_CHECK=1 PIP_ROOT_USER_ACTION=ignore
req=(-r scripts/requirements-test.txt)
[[ "${1:-}" == "--bench" ]] && req+=(-r scripts/requirements-bench.txt)
python3 -m pip install -q --no-input "${req[@]}"

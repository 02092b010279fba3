# Shared by scripts/run and scripts/test: installs what a fresh Debian or
# Ubuntu machine lacks, then configures and builds.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

PACKAGES=(cmake ninja-build g++ g++-multilib pkg-config
          libgtest-dev libgmock-dev libbenchmark-dev
          chromium chromium-driver python3-selenium
          rapidjson-dev libyaml-dev libssl-dev
          nlohmann-json3-dev libmsgpack-cxx-dev libyaml-cpp-dev
          libcpp-httplib-dev
          clang libclang-rt-14-dev)

ensure_packages() {
  local missing=()
  for p in "${PACKAGES[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "Installing: ${missing[*]}"
  local sudo=()
  [ "$(id -u)" -ne 0 ] && sudo=(sudo)
  "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -q
  "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -q "${missing[@]}"
}

# build DIR [cmake options...]
build() {
  local dir=$1
  shift
  cmake -S . -B "$dir" -G Ninja "$@" >/dev/null
  cmake --build "$dir" -j "$(nproc)"
}

# Node.js and the OpenAPI validator that the tests run, at the versions
# pinned in tests/openapi/package-lock.json; installed again when that changes.
ensure_node_tools() {
  if ! command -v npm >/dev/null 2>&1; then
    local PACKAGES=(nodejs npm)
    ensure_packages
  fi
  local dir=tests/openapi
  if ! cmp -s "$dir/package-lock.json" "$dir/node_modules/.installed-lock.json"; then
    npm ci --prefix "$dir" --no-audit --no-fund
    cp "$dir/package-lock.json" "$dir/node_modules/.installed-lock.json"
  fi
}

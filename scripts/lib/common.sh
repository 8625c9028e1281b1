# Shared by the scripts of this folder and by .ci/run: paths, packages and the build.
KEEP_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
KEEP_BUILD_PACKAGES=(cmake ninja-build g++ libgtest-dev libgmock-dev libudev-dev pkg-config
  libcurl4-openssl-dev python3-aiosmtpd)
KEEP_FUZZ_PACKAGES=(clang libclang-rt-14-dev)
# The manual page test renders each page with groff.
KEEP_BUILD_PACKAGES+=(groff-base)
# Peers the integration tests run against keepd: upsc speaks the plain-text UPS network protocol.
KEEP_TEST_PACKAGES=(nut-client)

# Installs the Debian packages that are missing (apt-get as root, else through sudo).
keep_require_packages() {
  local missing=() p
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed" || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "installing: ${missing[*]}"
  local sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  $sudo apt-get update -q
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
}

# keep_build DIR [cmake options...]: configures (once) and builds the tree into DIR.
keep_build() {
  local dir="$1"
  shift
  cmake -S "$KEEP_ROOT" -B "$dir" -G Ninja -DKEEP_WERROR=ON "$@" >/dev/null
  cmake --build "$dir" -j "$(nproc)"
}

# Shared helpers of the project's scripts. Sourced, not run.

TELLMARO_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"

# Debian packages the build and the tests need.
TELLMARO_PACKAGES=(
  g++ make cmake pkg-config git clang-format
  libgtest-dev libgmock-dev libbenchmark-dev
  libcapi20-3 libcapi20-dev
  qt6-base-dev
)

# Installs the packages that are missing: one `apt-get update`, then one install.
ensure_packages() {
  local missing=()
  local pkg
  for pkg in "$@"; do
    if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed'; then
      missing+=("$pkg")
    fi
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  if [ "$(id -u)" -ne 0 ]; then
    echo "missing Debian packages (run as root to install): ${missing[*]}" >&2
    return 1
  fi
  echo "installing: ${missing[*]}"
  DEBIAN_FRONTEND=noninteractive apt-get update -q
  DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "${missing[@]}"
}

# configure_and_build DIR [cmake options...]
configure_and_build() {
  local dir="$1"
  shift
  cmake -S "$TELLMARO_ROOT" -B "$TELLMARO_ROOT/$dir" "$@"
  cmake --build "$TELLMARO_ROOT/$dir" -j2
}

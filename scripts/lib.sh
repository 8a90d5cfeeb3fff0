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

# prepare_program_dir DIR LOGFILE: demo settings ("#" confirms, logging to
# LOGFILE, own number 0711555000, one-sided disconnect, direct answer), the
# registered mobile 01711234567, and a phone book with code 42 for Alice.
prepare_program_dir() {
  local program="$1" log="$2"
  # Little-endian 16-bit value, and a text with its 16-bit length.
  u16() { printf "\\x$(printf %02x $(($1 & 255)))\\x$(printf %02x $(($1 >> 8)))"; }
  text16() { u16 ${#1}; printf '%s' "$1"; }

  # Settings: "#" confirms, logging to $log, own number 0711555000, one-sided
  # disconnect, no line access, direct answer.
  {
    u16 0; u16 65535
    text16 "$log"; text16 "Handy.log"
    printf '07115550000000000000'; printf '\x0a'
    u16 0; u16 0; printf '\x01'; text16 ""; u16 0
  } >"$program/tellmaro.ini"
  printf '01711234567' >"$program/tellmaro.mob"

  # Phone book: entry 0 empty, entry 1 code 42 for Alice. 128-byte records.
  record() { head -c 128 <(cat - /dev/zero); }
  {
    u16 1 | record
    { u16 0; u16 0; u16 0; } | record
    { text16 "42"; text16 "0301234567"; text16 "Alice"; } | record
  } >"$program/tellmaro.dir"
}

# Shared helpers of the project's scripts. Sourced, not run.

TELLMARO_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"

# Debian packages the build and the tests need. The windows' texts are
# measured (tests/desktop/text_fit_test) with DejaVu Sans, Debian's default
# font, which a minimal system lacks; Qt's own texts are German with
# qt6-translations-l10n. tests/desktop/desktop_program_test
# runs tellmaro under Xvfb with a session bus of its own (dbus-daemon).
# The SIP tests and scripts/demo-sip talk to peers nobody here wrote: SIPp,
# baresip, and Kamailio as the provider (over TLS too, with certificates
# that openssl makes at test time); tcpdump shows what the secure demo puts
# on the loopback. libssl-dev: tellmaro-sip sets OpenSSL's certificate
# checks on libre's TLS context. libsystemd-dev: the programs tell systemd
# when they are ready (optional: without it they build and run as before).
# debhelper builds the Debian packages (scripts/package), lintian checks
# them (scripts/package-test).
TELLMARO_PACKAGES=(
  g++ make cmake pkg-config git clang-format
  libgtest-dev libgmock-dev libbenchmark-dev
  libcapi20-3 libcapi20-dev
  qt6-base-dev qt6-translations-l10n
  fonts-dejavu-core
  xvfb dbus-daemon
  libre-dev librem-dev libssl-dev libsystemd-dev sip-tester baresip kamailio kamailio-tls-modules openssl tcpdump nftables
  debhelper lintian
)

# Installs the packages that are missing: one `apt-get update`, then one
# install. Says which packages it could not install, and fails then. The
# packages it installed are in INSTALLED_NOW.
INSTALLED_NOW=()
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
    echo "missing Debian packages: ${missing[*]}" >&2
    echo "install them as root: apt-get install ${missing[*]}" >&2
    return 1
  fi
  echo "installing: ${missing[*]}"
  if ! { DEBIAN_FRONTEND=noninteractive apt-get update -q &&
    DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "${missing[@]}"; }; then
    echo "could not install the Debian packages ${missing[*]} (apt-get failed, see above)" >&2
    return 1
  fi
  INSTALLED_NOW+=("${missing[@]}")
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

# The scripts that run the real programs against the line simulator share
# these. start_line WORK [SCENARIO] copies build/bin to WORK/program,
# prepared as above with the call log WORK/Handy.log; points libcapi20 at a
# tellmaro-sim on a free port through WORK/.capi20rc (HOME and the
# single-instance lock are WORK); and starts the simulator with its trace in
# WORK/sim.out. Sets SIM_PID. Every process these helpers start is listed in
# TELLMARO_PIDS for stop_started.
TELLMARO_PIDS=()
start_line() {
  local work="$1" scenario="${2:-}"
  cp -r "$TELLMARO_ROOT/build/bin" "$work/program"
  : >"$work/Handy.log"
  prepare_program_dir "$work/program" "$work/Handy.log"
  local port=$((20000 + RANDOM % 20000))
  printf 'REMOTE rcapi 127.0.0.1 %s\nTRACELEVEL 0\n' "$port" >"$work/.capi20rc"
  export HOME="$work" XDG_RUNTIME_DIR="$work"
  "$work/program/tellmaro-sim" --port "$port" ${scenario:+"$scenario"} >"$work/sim.out" 2>&1 &
  SIM_PID=$!
  TELLMARO_PIDS+=("$SIM_PID")
  for _ in $(seq 50); do
    (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null && return 0
    sleep 0.1
  done
  echo "tellmaro-sim did not start:" >&2
  cat "$work/sim.out" >&2
  return 1
}

# start_tray_host: an X server (Xvfb) with a system tray (trayer) for
# tellmaro, the tray in the top right corner; sets DISPLAY.
start_tray_host() {
  local display=":$((90 + RANDOM % 9))"
  Xvfb "$display" -screen 0 800x600x24 -nolisten tcp >/dev/null 2>&1 &
  TELLMARO_PIDS+=($!)
  export DISPLAY="$display"
  for _ in $(seq 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done
  trayer --edge top --align right --widthtype pixel --width 64 --heighttype pixel --height 32 \
    --transparent false --tint 0xdddddd >/dev/null 2>&1 &
  TELLMARO_PIDS+=($!)
  sleep 1
}

# cpu_ticks PID: user plus system CPU of a running process, in clock ticks.
cpu_ticks() { awk '{ print $14 + $15 }' "/proc/$1/stat"; }

# stop_started: ends whatever the helpers above started.
stop_started() {
  local pid
  for pid in "${TELLMARO_PIDS[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
}

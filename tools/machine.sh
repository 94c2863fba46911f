# The test machine's environment and the private display, in one place for
# everything that starts Windows programs: tools/check, tools/run, the
# benchmarks and BUILD/winerun. Sourced, not run (POSIX sh):
#
#   machine_env BUILD    WINEPREFIX and friends for one of BUILD's two
#                        machines, made by tools/testmachine: MACHINE_ARCH
#                        64 (the default) is BUILD/machine, a 64-bit Wine
#                        prefix where the 32-bit installer sees what it sees
#                        on 64-bit Windows; 32 is BUILD/machine32, a 32-bit
#                        prefix: "C:\Program Files", one registry view, as on
#                        32-bit Windows. MACHINE_NAME (machine, machine32)
#                        tells programs in the machine which one they run in.
#   machine_display      a private Xvfb as DISPLAY, unless DISPLAY is set
#                        and MACHINE_PRIVATE_DISPLAY is not
#   machine_server       one wineserver for the session, with Wine's own
#                        services started apart from the caller's output
#   machine_server_stop  ends the server of the current machine
#   machine_stop         ends the server and the private display
#
# Wine's services, started by the first program of a session, inherit and
# keep that program's output pipe open: a caller reading a program's output
# (CTest, $(...)) would then wait until they end. machine_server starts them
# first, with no pipe to hold.

machine_env() {
  MACHINE_BUILD=$(cd "$1" && pwd) || return 1
  case "${MACHINE_ARCH:-64}" in
    64) export MACHINE_NAME=machine; unset WINEARCH ;;
    32) export MACHINE_NAME=machine32 WINEARCH=win32 ;;
    *) echo "machine: MACHINE_ARCH is 64 or 32, not $MACHINE_ARCH" >&2; return 1 ;;
  esac
  export MACHINE_ARCH=${MACHINE_ARCH:-64}
  MACHINE_DIR="$MACHINE_BUILD/$MACHINE_NAME"
  export WINEPREFIX="$MACHINE_DIR/prefix"
  # A home of the machine's own: a shell folder that Wine makes anew (after
  # a test removed it) becomes a link into HOME, which must not be the
  # host user's.
  export HOME="$MACHINE_DIR/home"
  export WINEDEBUG="${WINEDEBUG:--all}"
  # No menu entries or icons in the host's home; no Mono or Gecko prompts.
  case ";${WINEDLLOVERRIDES:-};" in
    *";winemenubuilder.exe=d;"*) ;;
    *) export WINEDLLOVERRIDES="winemenubuilder.exe=d;mscoree,mshtml=${WINEDLLOVERRIDES:+;$WINEDLLOVERRIDES}" ;;
  esac
}

machine_display() {
  if [ -n "${DISPLAY:-}" ] && [ -z "${MACHINE_PRIVATE_DISPLAY:-}" ]; then return 0; fi
  _machine_displayfile=$(mktemp)
  Xvfb -displayfd 5 -screen 0 1024x768x24 -nolisten tcp 5>"$_machine_displayfile" >/dev/null 2>&1 &
  MACHINE_XVFB=$!
  for _ in $(seq 100); do
    [ -s "$_machine_displayfile" ] && break
    sleep 0.1
  done
  if [ ! -s "$_machine_displayfile" ]; then
    rm -f "$_machine_displayfile"
    echo "machine: Xvfb did not start" >&2
    return 1
  fi
  export DISPLAY=":$(head -n1 "$_machine_displayfile")"
  rm -f "$_machine_displayfile"
}

machine_server() {
  wineserver -p </dev/null >/dev/null 2>&1
  wine cmd /c exit </dev/null >/dev/null 2>&1 || true
}

machine_server_stop() {
  wineserver -k >/dev/null 2>&1 || true
}

machine_stop() {
  machine_server_stop
  if [ -n "${MACHINE_XVFB:-}" ]; then
    kill "$MACHINE_XVFB" 2>/dev/null || true
    wait "$MACHINE_XVFB" 2>/dev/null || true
    MACHINE_XVFB=""
  fi
}

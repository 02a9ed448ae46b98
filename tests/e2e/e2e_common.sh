# Shared by the end-to-end scripts (sourced, bash): their command line, the
# stopping of the processes they start, the work folder's fate and the
# loopback listener that stands in for the printer. Set E2E_NAME first.

# e2e_parse_args CASES ARGS...: --build DIR --source DIR [--keep] CASE, CASE
# one of the |-separated CASES; sets BUILD and SRC (absolute), KEEP and CASE.
e2e_parse_args() {
  local cases=$1
  shift
  BUILD=""; SRC=""; KEEP=${ZT_E2E_KEEP:-0}; CASE=""
  while [ $# -gt 0 ]; do
    case "$1" in
      --build) BUILD=$2; shift ;;
      --source) SRC=$2; shift ;;
      --keep) KEEP=1 ;;
      -*) echo "$E2E_NAME: unknown option $1" >&2; exit 2 ;;
      *) CASE=$1 ;;
    esac
    shift
  done
  case "|$cases|" in *"|$CASE|"*) [ -n "$CASE" ] ;; *) false ;; esac ||
    { echo "usage: $E2E_NAME.sh --build DIR --source DIR [--keep] $cases" >&2; exit 2; }
  [ -d "$BUILD" ] && [ -d "$SRC" ] || { echo "$E2E_NAME: --build and --source must name folders" >&2; exit 2; }
  BUILD=$(cd "$BUILD" && pwd); SRC=$(cd "$SRC" && pwd)
}

say() { printf '%s: %s\n' "$E2E_NAME" "$*"; }

stop_pid() { # stop_pid PID: SIGTERM, up to 10 s, then SIGKILL; only our own children
  local pid=$1 i
  [ -n "$pid" ] || return 0
  kill -0 "$pid" 2>/dev/null || return 0
  kill -TERM "$pid" 2>/dev/null || true
  for i in $(seq 1 100); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
  kill -0 "$pid" 2>/dev/null && kill -KILL "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
}

# e2e_leave_work RC: the work folder $W goes unless asked to keep it or the
# case failed (RC non-zero).
e2e_leave_work() {
  [ -n "$W" ] && [ -d "$W" ] || return 0
  if [ "$KEEP" = 1 ] || [ "$1" -ne 0 ]; then
    echo "$E2E_NAME: work folder kept: $W" >&2
  else
    rm -rf "$W"
  fi
}

# e2e_start_listener OUT_DIR PORT_FILE LOG: the printer, a listener on
# loopback that saves each connection in OUT_DIR; sets LISTENER_PID, LPORT.
e2e_start_listener() {
  $PY "$SRC/tests/e2e/listener.py" "$1" "$2" >"$3" 2>&1 &
  LISTENER_PID=$!
  for _ in $(seq 1 100); do [ -s "$2" ] && break; sleep 0.05; done
  [ -s "$2" ] || die "the listener did not start: $(cat "$3")"
  LPORT=$(cat "$2")
}

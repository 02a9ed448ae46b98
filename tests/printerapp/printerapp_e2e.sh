#!/bin/bash
# End-to-end test of the Printer Application on loopback: ztprinterapp runs
# as an unprivileged user with HOME, TMPDIR, state, spool and log in a work
# folder; its printer's socket:// device is a listener on 127.0.0.1 that saves
# every connection; what reaches that "printer" is checked with the job
# inspector.
#
# Usage: printerapp_e2e.sh --build BUILD_DIR --source SOURCE_DIR [--keep] CASE
#   CASE  jobs     a PWG raster job and a PDF job with options; a restart keeps the printer
#         ipptool  CUPS's IPP Everywhere tests (ipp-everywhere.test)
#         web      the printer's settings page in headless Chromium (screenshot kept in
#                  BUILD_DIR/Testing/), a setting changed there reaches the next job
#         faults   an unreadable document, a device that refuses, a job cancelled mid-page
# Exit status: 0 pass, 1 fail, 77 skipped (a tool is missing).
set -Eeuo pipefail

E2E_NAME=printerapp_e2e
. "$(dirname "$0")/../e2e/e2e_common.sh"
e2e_parse_args "jobs|ipptool|web|faults" "$@"

PY=/usr/bin/python3
W=""; SERVER_PID=""; LISTENER_PID=""
die() {
  trap - ERR
  echo "printerapp_e2e: FAIL ($CASE): $*" >&2
  [ -n "$W" ] && [ -f "$W/log/app.log" ] && { echo "---- app.log, last lines other than debug ----" >&2; grep -v '^D ' "$W/log/app.log" | tail -n 20 >&2; }
  exit 1
}
trap 'die "command failed at line $LINENO: $BASH_COMMAND"' ERR
cleanup() {
  local rc=$?
  trap - ERR
  stop_pid "$SERVER_PID"; stop_pid "$LISTENER_PID"
  e2e_leave_work $rc
  exit $rc
}
trap cleanup EXIT
trap 'exit 130' INT TERM

for t in "$BUILD/bin/ztprinterapp" "$BUILD/bin/ztmainfilter" "$BUILD/bin/ztjobview" /usr/bin/gs /usr/bin/ipptool "$PY"; do
  [ -x "$t" ] || { echo "printerapp_e2e: SKIP: $t is missing"; exit 77; }
done

# ------------------------------------------------------------- work folder
W=$(mktemp -d /tmp/zt-papp.XXXXXX)
chmod 755 "$W"
mkdir -p "$W"/{home,tmp,spool,log,out,doc,bin,data,ppd,run}
touch "$W/doc/stamp"
# The programs and the model, copied so that an unprivileged user reaches them.
for p in "$BUILD"/bin/*; do [ -f "$p" ] && [ -x "$p" ] && cp "$p" "$W/bin/"; done
cp "$SRC"/data/*.dlb "$W/data/"
# The models: every manufacturer's PPD when the build makes them, else the
# sample one; their data file paths moved into the work folder (one device
# parameter file serves them all).
PPDS=("$BUILD"/ppd/*.ppd)
[ -f "${PPDS[0]}" ] || PPDS=("$SRC/data/korva-zt.ppd")
for ppd in "${PPDS[@]}"; do
  dlb=$(sed -n -E 's|^\*[A-Z][A-Z]DlutFilePath:[[:space:]]*"[^"]*/([^/"]*)".*|\1|p' "$ppd")
  [ -e "$W/data/$dlb" ] || ln -s "$W/data/korva-zt.dlb" "$W/data/$dlb"
  sed -E "s|^\*([A-Z][A-Z])DlutFilePath:[[:space:]]*\"[^\"]*/([^/\"]*)\"|*\1DlutFilePath: \"$W/data/\2\"|" \
    "$ppd" > "$W/ppd/$(basename "$ppd")"
done
RUN=()
if [ "$(id -u)" = 0 ]; then
  # The application runs as an unprivileged user, never as root.
  chown -R nobody:nogroup "$W"/{home,tmp,spool,log,run}
  RUN=(setpriv --reuid=nobody --regid=nogroup --clear-groups --)
fi
app() { "${RUN[@]}" env HOME="$W/home" TMPDIR="$W/tmp" "$W/bin/ztprinterapp" "$@"; }
PORT=$($PY -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
OPTS=(-o server-port="$PORT" -o listen-hostname=localhost -o server-options=no-tls
      -o spool-directory="$W/spool" -o log-file="$W/log/app.log" -o log-level=debug
      -o state-file="$W/run/state" -o ppd-directory="$W/ppd" -o filter-directory="$W/bin")
PRINTER_URI="ipp://localhost:$PORT/ipp/print/zt"

start_server() {
  # Started directly (not through app) so that $! is the server itself.
  "${RUN[@]}" env HOME="$W/home" TMPDIR="$W/tmp" "$W/bin/ztprinterapp" server "${OPTS[@]}" >>"$W/log/server.out" 2>&1 &
  SERVER_PID=$!
  # Wait for the port before any client command: a client that finds no
  # server starts one of its own (PAPPL's main loop), without our options.
  for _ in $(seq 1 100); do
    kill -0 "$SERVER_PID" 2>/dev/null || die "the server ended at start: $(tail -5 "$W/log/server.out")"
    "$PY" -c 'import socket,sys; socket.create_connection(("127.0.0.1", int(sys.argv[1])), 1)' "$PORT" 2>/dev/null \
      && app printers >/dev/null 2>&1 && return 0
    sleep 0.1
  done
  die "the server does not answer"
}
stop_server() { stop_pid "$SERVER_PID"; SERVER_PID=""; }
alive() { kill -0 "$SERVER_PID" 2>/dev/null && app printers >/dev/null 2>&1 || die "the server is gone: $1"; }

e2e_start_listener "$W/out" "$W/doc/listener.port" "$W/log/listener.log"

start_server
app drivers "${OPTS[@]}" >"$W/log/drivers.out"
grep -qx 'korva-zt "Korva ZT C500" "MFG:Korva;MDL:ZT C500;CMD:PJL;"' "$W/log/drivers.out" \
  && [ "$(wc -l <"$W/log/drivers.out")" = ${#PPDS[@]} ] || die "drivers lists for ${#PPDS[@]} PPDs: $(cat "$W/log/drivers.out")"
app add -d zt -m korva-zt -v "socket://127.0.0.1:$LPORT" >"$W/log/add.out" 2>&1 || die "add failed: $(cat "$W/log/add.out")"
[ "$(app printers)" = zt ] || die "printers lists '$(app printers)'"
say "server on localhost:$PORT as $(id -un "${RUN:+nobody}" 2>/dev/null || id -un), printer zt -> socket://127.0.0.1:$LPORT"

# --------------------------------------------------------------- documents
# make_doc NAME PAGES PAPER: PostScript pages with colour bars and text.
make_doc() {
  cat > "$W/doc/$1.ps" <<EOF
%!PS
/Helvetica-Bold findfont 40 scalefont setfont
1 1 $2 { /p exch def
  1 0 0 setrgbcolor 40 300 100 120 rectfill 0 0.6 0 setrgbcolor 160 300 100 120 rectfill
  0 0 1 setrgbcolor 280 300 100 120 rectfill
  0 0 0 setrgbcolor 40 460 moveto (Page ) show p 10 string cvs show showpage } for
EOF
  gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=pdfwrite -sPAPERSIZE="$3" -o "$W/doc/$1.pdf" "$W/doc/$1.ps" 2>/dev/null
}
# make_pwg NAME PAGES PAPER DPI: the same pages as 8-bit sRGB PWG raster.
make_pwg() {
  make_doc "$1" "$2" "$3"
  gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=pwgraster -dcupsColorSpace=19 -dcupsBitsPerColor=8 -r"$4" \
    -sPAPERSIZE="$3" -o "$W/doc/$1.pwg" "$W/doc/$1.pdf" 2>/dev/null
}

# ------------------------------------------------------------------- jobs
cat > "$W/doc/job.test" <<'EOF'
{
  OPERATION Get-Job-Attributes
  GROUP operation-attributes-tag
  ATTR charset attributes-charset utf-8
  ATTR naturalLanguage attributes-natural-language en
  ATTR uri printer-uri $uri
  ATTR integer job-id $job_id
  ATTR keyword requested-attributes job-state,job-state-reasons,job-state-message
  STATUS successful-ok
  DISPLAY job-state
  DISPLAY job-state-reasons
  DISPLAY job-state-message
}
EOF
# job_attr ID NAME
job_attr() {
  ipptool -c -d job_id="$1" "$PRINTER_URI" "$W/doc/job.test" 2>/dev/null | "$PY" -c '
import csv, sys
rows = list(csv.reader(sys.stdin))
if len(rows) > 1 and sys.argv[1] in rows[0]: print(rows[1][rows[0].index(sys.argv[1])])' "$2" || true
}
# wait_state ID LIMIT: sets STATE once the job is completed, canceled or aborted.
wait_state() {
  local i
  for i in $(seq 1 $(($2 * 10))); do
    STATE=$(job_attr "$1" job-state)
    case "$STATE" in completed|canceled|aborted) return 0 ;; esac
    sleep 0.1
  done
  die "job $1 is still '$STATE' after $2 s"
}
# submit ARGS...: sets JOB from "zt-N".
submit() {
  local out
  out=$(app submit "$@" 2>&1) || die "submit failed: $out"
  JOB=$(printf '%s\n' "$out" | sed -n -E 's/^([A-Za-z0-9_.-]*-)?([0-9]+)$/\2/p' | head -1)
  [[ "$JOB" =~ ^[0-9]+$ ]] || die "no job id in: $out"
}
# print_job NAME SUBMIT-ARGS...: the job must complete and reach the printer;
# sets REPORT to the inspector's report of what the printer received.
print_job() {
  local name=$1 capture; shift
  touch "$W/doc/before-$name"
  submit "$@"
  wait_state "$JOB" 120
  [ "$STATE" = completed ] || die "job $JOB ($name) ended '$STATE' ($(job_attr "$JOB" job-state-reasons))"
  capture=""
  for _ in $(seq 1 100); do
    # (a printer being added may open and close its device: empty connections)
    capture=$(find "$W/out" -name 'conn-*.bin' -size +0 -newer "$W/doc/before-$name" | sort -V | tail -1)
    [ -n "$capture" ] && break
    sleep 0.05
  done
  [ -n "$capture" ] || die "the printer received nothing for job $JOB ($name)"
  REPORT="$W/log/$name.inspect"
  "$W/bin/ztjobview" -o "$W/log/$name-pages" "$capture" >"$REPORT" 2>&1 || die "the inspector finds $name broken: $(grep ERROR "$REPORT" | head -3)"
  say "$name: job $JOB completed, $(stat -c %s "$capture") bytes to the printer, $(sed -n 's/^pages: //p' "$REPORT") page records"
}
has_pjl() { grep -qxF "pjl: $1" "$REPORT" || die "the job lacks '$1': $(grep '^pjl:' "$REPORT" | tr '\n' ' ')"; }
page_field() { sed -n "s/^page $1: .*\b$2=\([^ ]*\).*/\1/p" "$REPORT" | head -1; }
expect_pages() { [ "$(sed -n 's/^pages: \([0-9]*\).*/\1/p' "$REPORT")" = "$1" ] || die "expected $1 page records: $(grep '^pages' "$REPORT")"; }
no_leftovers() {
  local left
  left=$(find "$W/tmp" "$W/spool" -mindepth 1 ! -name '*.sock' ! -name 'korva-zt.ppd' 2>/dev/null || true)
  [ -z "$left" ] || die "files left behind: $left"
  left=$(find "$W/home" -type f)
  [ -z "$left" ] || die "the application keeps files in HOME: $left"
  # Run as nobody, it can write only where everyone may: those places stay clean.
  if [ ${#RUN[@]} -gt 0 ]; then
    left=$(find /tmp /var/tmp /dev/shm /run -xdev -path "$W" -prune -o -user nobody -newer "$W/doc/stamp" -print 2>/dev/null | sort -u || true)
    [ -z "$left" ] || die "the application wrote outside HOME, TMPDIR, state and spool: $left"
  fi
}

case "$CASE" in
jobs)
  make_pwg two 2 a4 300
  print_job pwg -d zt -t pwg-job -o copies=2 -o print-color-mode=color -o trapping=true -o media=iso_a4_210x297mm "$W/doc/two.pwg"
  has_pjl "@PJL SET RESOLUTION=300"
  has_pjl "@PJL SET RENDERMODE=COLOR"
  has_pjl '@PJL SET JOBATTR="@TRAP=ON"'
  has_pjl "@PJL SET DUPLEX=OFF"
  if grep -qxF 'pjl: @PJL SET QTY=2' "$REPORT"; then expect_pages 2; else expect_pages 4; fi
  for i in 1 2; do
    # The imageable area of A4 (12 pt margins) at 300 dpi, in colour.
    [ "$(page_field $i width)x$(page_field $i height)" = 2379x3408 ] || die "page $i is $(page_field $i width)x$(page_field $i height)"
    [ "$(page_field $i layout)" = colour ] || die "page $i is not a colour page"
    for c in C M Y K; do [ "$(page_field $i ink$c)" != 0 ] || die "page $i has no $c ink"; done
  done
  make_doc three 3 a5
  print_job pdf -u "$PRINTER_URI" -t pdf-job -o media=iso_a5_148x210mm -o sides=two-sided-long-edge \
    -o print-color-mode=monochrome -o toner-saver=true -o page-ranges=2-3 "$W/doc/three.pdf"
  has_pjl "@PJL SET RESOLUTION=600"
  has_pjl "@PJL SET DUPLEX=ON"
  has_pjl "@PJL SET BINDING=LONGEDGE"
  has_pjl "@PJL SET RENDERMODE=GRAYSCALE"
  has_pjl "@PJL SET ECONOMODE=ON"
  expect_pages 2
  i=1
  for s in 1 2; do
    [ "$(page_field $i side)" = $s ] || die "page $i has duplex side $(page_field $i side), expected $s"
    [ "$(page_field $i size)" = 15 ] || die "page $i has page size code $(page_field $i size), expected 15 (A5)"
    [ "$(page_field $i layout)" = mono ] || die "page $i of a monochrome job is not monochrome"
    i=$((i + 1))
  done
  # A photo: PAPPL decodes it, the chain prints it on Letter.
  gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=jpeg -r50 -o "$W/doc/photo.jpg" "$W/doc/two.ps" 2>/dev/null
  print_job jpeg -d zt -t photo -o media=na_letter_8.5x11in "$W/doc/photo.jpg"
  expect_pages 1
  [ "$(page_field 1 layout)" = colour ] && [ "$(page_field 1 size)" = 0 ] || die "the photo is not a colour Letter page: $(grep '^page 1' "$REPORT")"
  no_leftovers
  # "shutdown" ends the server (PAPPL acts on it within 30 s when idle); the
  # next start loads the printer from the state file.
  app shutdown >/dev/null 2>&1 || die "shutdown failed"
  for _ in $(seq 1 450); do kill -0 "$SERVER_PID" 2>/dev/null || break; sleep 0.1; done
  kill -0 "$SERVER_PID" 2>/dev/null && die "the server still runs 45 s after shutdown"
  wait "$SERVER_PID" 2>/dev/null || true
  start_server
  [ "$(app printers)" = zt ] || die "after a restart printers lists '$(app printers)'"
  print_job pwg-again -d zt -t again "$W/doc/two.pwg"
  has_pjl '@PJL SET JOBATTR="@TRAP=OFF"'
  # Every other model's driver prints too, with its own keywords.
  while read -r driver _; do
    [ "$driver" = korva-zt ] && continue
    app add -d "p-$driver" -m "$driver" -v "socket://127.0.0.1:$LPORT" >/dev/null 2>&1 || die "add $driver failed"
    print_job "$driver" -d "p-$driver" -t "$driver" -o trapping=true -o print-color-mode=color "$W/doc/two.pwg"
    has_pjl '@PJL SET JOBATTR="@TRAP=ON"'
  done <"$W/log/drivers.out"
  ;;
ipptool)
  # The tests run from a folder of their own: they look for sample files
  # next to the current folder and print the file given with -f.
  make_doc one 1 a4
  sleep 1.5   # printer-up-time must have counted past 0
  (cd "$W/doc" && ipptool -t -f "$W/doc/one.pdf" "$PRINTER_URI" /usr/share/cups/ipptool/ipp-everywhere.test) \
    >"$W/log/ipptool.out" 2>&1 || true
  grep -q 'PWG 5100.14 section 5.1/5.2' "$W/log/ipptool.out" || die "ipptool did not run the IPP Everywhere tests: $(tail -5 "$W/log/ipptool.out")"
  if grep -q '\[FAIL\]' "$W/log/ipptool.out"; then
    die "ipptool: $(grep -A12 '\[FAIL\]' "$W/log/ipptool.out" | head -40)"
  fi
  say "ipptool: $(grep -c '\[PASS\]' "$W/log/ipptool.out") tests passed, $(grep -c '\[SKIP\]' "$W/log/ipptool.out") skipped (no sample raster files)"
  alive "after the IPP Everywhere tests"
  ;;
web)
  [ -x /usr/bin/chromium ] || { echo "printerapp_e2e: SKIP: chromium is missing"; exit 77; }
  PAGE="http://localhost:$PORT/zt/printing"
  chrome() {
    HOME="$W/chrome-home" timeout 120 /usr/bin/chromium --headless --no-sandbox --disable-gpu --disable-quic \
      --no-first-run --disable-background-networking --disable-component-update --disable-sync \
      --user-data-dir="$W/chrome" "$@" 2>>"$W/log/chromium.log"
  }
  mkdir -p "$W/chrome-home" "$BUILD/Testing"
  chrome --window-size=1280,2200 --screenshot="$BUILD/Testing/printerapp-printing.png" "$PAGE" >/dev/null \
    || die "chromium failed: $(tail -3 "$W/log/chromium.log")"
  [ -s "$BUILD/Testing/printerapp-printing.png" ] || die "chromium made no screenshot"
  chrome --dump-dom "$PAGE" >"$W/log/printing.html" || die "chromium could not load $PAGE"
  for name in trapping edge-enhance digital-filter toner-saver skip-blank-pages; do
    grep -q "name=\"$name\"" "$W/log/printing.html" || die "the printing page has no $name setting"
  done
  say "web: $PAGE shows the driver's settings (screenshot $BUILD/Testing/printerapp-printing.png)"
  # Turn trapping on in that form, as a person would, and print.
  "$PY" "$SRC/tests/printerapp/webform.py" "$PAGE" trapping=on digital-filter=high \
    >"$W/log/webform.out" 2>&1 || die "the settings form was refused: $(tail -3 "$W/log/webform.out")"
  make_doc one 1 a4
  print_job after-web -d zt -t after-web "$W/doc/one.pdf"
  has_pjl '@PJL SET JOBATTR="@TRAP=ON"'
  grep -q 'QKDigitalFilter=High' "$W/log/app.log" || die "the digital filter setting did not reach the chain"
  say "web: trapping and the digital filter set on the printing page reach the next printer job"
  ;;
faults)
  # A PDF that Ghostscript cannot read.
  printf '%%PDF-1.4\nthis is not a PDF document\n' > "$W/doc/bad.pdf"
  submit -d zt -t bad "$W/doc/bad.pdf"
  wait_state "$JOB" 60
  reasons=$(job_attr "$JOB" job-state-reasons)
  [ "$STATE" = aborted ] && [[ "$reasons" == *document-format-error* ]] || die "the unreadable PDF ended '$STATE' ($reasons)"
  say "unreadable document: job $JOB $STATE ($reasons): $(job_attr "$JOB" job-state-message)"
  alive "after the unreadable document"

  # A job cancelled while the chain works on its pages.
  make_doc long 30 a4
  submit -d zt -t long "$W/doc/long.pdf"
  for _ in $(seq 1 300); do
    pgrep -P "$SERVER_PID" -x ztmainfilter >/dev/null && [ "$(job_attr "$JOB" job-state)" = processing ] && break
    sleep 0.1
  done
  pgrep -P "$SERVER_PID" -x ztmainfilter >/dev/null || die "the chain never ran for job $JOB"
  sleep 1
  app cancel -d zt -j "$JOB" >/dev/null 2>&1 || die "cancel failed"
  wait_state "$JOB" 30
  reasons=$(job_attr "$JOB" job-state-reasons)
  [ "$STATE" = canceled ] || die "the cancelled job ended '$STATE' ($reasons)"
  for _ in $(seq 1 100); do [ -z "$(pgrep -P "$SERVER_PID" || true)" ] && break; sleep 0.1; done
  [ -z "$(pgrep -P "$SERVER_PID" || true)" ] || die "processes left running after the cancel: $(pgrep -a -P "$SERVER_PID")"
  say "cancel mid-job: job $JOB $STATE ($reasons), chain and Ghostscript stopped"
  no_leftovers
  alive "after the cancel"

  # A device that refuses the connection.
  CLOSED=$($PY -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
  app add -u "ipp://localhost:$PORT/ipp/system" -d refused -m korva-zt -v "socket://127.0.0.1:$CLOSED" >/dev/null 2>&1 \
    || die "add over IPP failed"
  make_pwg two 2 a4 300
  # PWG raster is streamed: the client waits with the job, so it is sent in the background.
  app submit -d refused -t refused "$W/doc/two.pwg" >"$W/log/refused.out" 2>&1 &
  SUBMIT_PID=$!
  JOB=""
  for _ in $(seq 1 50); do
    JOB=$(ipptool -c "ipp://localhost:$PORT/ipp/print/refused" get-jobs.test 2>/dev/null | sed -n '2s/^\([0-9]*\),.*/\1/p')
    [ -n "$JOB" ] && break
    sleep 0.2
  done
  [ -n "$JOB" ] || die "the job for the refusing device was not created"
  PRINTER_URI="ipp://localhost:$PORT/ipp/print/refused"
  wait_state "$JOB" 90
  reasons=$(job_attr "$JOB" job-state-reasons)
  [ "$STATE" = canceled ] && [[ "$reasons" == *aborted-by-system* ]] || die "the job for the refusing device ended '$STATE' ($reasons)"
  wait "$SUBMIT_PID" 2>/dev/null || true
  message=$(job_attr "$JOB" job-state-message)
  [[ "$message" == *"does not accept the connection"* ]] || die "the refused job's message is '$message'"
  say "refused device: job $JOB $STATE ($reasons): $message"
  alive "after the refusing device"
  no_leftovers
  ;;
esac
# A sanitizer build's findings in the server (also at its exit) fail the case.
stop_server
if grep -qE 'ERROR: (AddressSanitizer|LeakSanitizer)|runtime error:' "$W/log/server.out"; then
  die "the server's sanitizer report: $(grep -A12 -E 'ERROR: (Address|Leak)Sanitizer|runtime error:' "$W/log/server.out" | head -30)"
fi
say "PASS ($CASE)"

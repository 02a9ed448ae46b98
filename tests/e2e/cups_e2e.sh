#!/bin/bash
# End-to-end test of the installed driver: a private cupsd on loopback runs a
# queue of the sample model whose socket:// device is a listener on
# 127.0.0.1; PDFs made here with ghostscript are printed with lp and options,
# the job is followed with ipptool, and what reached the "printer" is checked
# with the job inspector (structure, PJL settings, pages, decoded images).
#
# Usage: cups_e2e.sh --build BUILD_DIR --source SOURCE_DIR [--keep] CASE
#   CASE  colour-a4      two-page A4 colour job with default settings (timed)
#         duplex-copies  three A5 pages, two copies, long-edge duplex, trapping
#         mono-secure    monochrome, short-edge duplex, secure print, toner saving
#         cancel         a long job cancelled while the chain runs
#         makers         one job through a queue of every manufacturer's PPD, each
#                        the same printer job as through the Korva queue
#         package        builds the Debian package, installs it on this machine,
#                        prints through a queue of a model that lpinfo -m lists,
#                        removes the package and checks that nothing is left; only
#                        when CI=true or ZT_E2E_PACKAGE=1 (it changes the system)
#         load, cancel-storm   many jobs on three queues (storm_cases.sh)
#   --keep  keep the work folder (also kept on failure)
# Exit status: 0 pass, 1 fail, 77 skipped (not root: cupsd must run filters as
# lp; package: not asked for, or a sanitizer build).
#
# Nothing here talks to any address but 127.0.0.1 and the private socket.
set -Eeuo pipefail

E2E_NAME=cups_e2e
. "$(dirname "$0")/e2e_common.sh"
e2e_parse_args "colour-a4|duplex-copies|mono-secure|cancel|makers|package|load|cancel-storm" "$@"

QUEUE=ztq
PY=/usr/bin/python3        # not a pyenv or venv shim from PATH
W=""; CUPSD_PID=""; LISTENER_PID=""; POLICY_RC_CREATED=0; PKG_INSTALLED=""
INSPECT="$BUILD/bin/ztjobview"

now() { date +%s.%N; }
elapsed() { awk -v a="$1" -v b="$2" 'BEGIN{printf "%.2f", b-a}'; }

die() {
  trap - ERR
  echo "cups_e2e: FAIL ($CASE): $*" >&2
  if [ -n "$W" ] && [ -f "$W/log/error_log" ]; then
    echo "---- error_log, last lines other than debug ----" >&2
    grep -v '^D ' "$W/log/error_log" | tail -n 25 >&2 || true
  fi
  exit 1
}
trap 'die "command failed at line $LINENO: $BASH_COMMAND"' ERR

cleanup() {
  local rc=$?
  trap - ERR
  stop_pid "$CUPSD_PID"
  stop_pid "$LISTENER_PID"
  # A package case that failed half-way leaves no driver on the machine.
  [ -n "$PKG_INSTALLED" ] && { apt-get -o DPkg::Lock::Timeout=600 purge -y -qq "$PKG_INSTALLED" >/dev/null 2>&1 || true; }
  stop_pid "${SAMPLER_PID:-}"
  [ "$POLICY_RC_CREATED" = 1 ] && rm -f /usr/sbin/policy-rc.d
  e2e_leave_work $rc
  exit $rc
}
trap cleanup EXIT
trap 'exit 130' INT TERM

if [ "$(id -u)" != 0 ]; then
  echo "cups_e2e: SKIP: needs root (cupsd runs the filters as user lp; packages need apt-get)"
  exit 77
fi
[ -x "$INSPECT" ] || die "the job inspector $INSPECT is not built"
cache_var() { sed -n "s/^$1:[A-Z]*=//p" "$BUILD/CMakeCache.txt"; }
if [ "$CASE" = package ]; then
  if [ "${CI:-}" != true ] && [ "${ZT_E2E_PACKAGE:-0}" != 1 ]; then
    echo "cups_e2e: SKIP: installs a package on this machine; runs when CI=true or ZT_E2E_PACKAGE=1"
    exit 77
  fi
  if [ "$(cache_var ZT_SANITIZE)" = ON ]; then
    echo "cups_e2e: SKIP: the package is made from the normal build, not a sanitizer build"
    exit 77
  fi
fi

# ------------------------------------------------------------------ packages
need_install() {
  local c
  for c in /usr/sbin/cupsd /usr/bin/lp /usr/sbin/lpadmin /usr/bin/cancel /usr/bin/cupstestppd \
           /usr/bin/ipptool /usr/bin/gs /usr/lib/cups/filter/pdftopdf /usr/lib/cups/filter/gstoraster \
           /usr/lib/cups/daemon/cups-exec "$PY"; do
    [ -x "$c" ] || { say "missing: $c"; return 0; }
  done
  # The socket backend is in the package "cups", not in cups-daemon.
  [ -x /usr/lib/cups/backend/socket ] || [ -x /usr/lib/cups/backend-available/socket ] \
    || { say "missing: socket backend"; return 0; }
  return 1
}
if need_install; then
  # Keep the package scripts from starting a system cupsd where nothing else does.
  if [ ! -e /usr/sbin/policy-rc.d ]; then
    printf '#!/bin/sh\nexit 101\n' > /usr/sbin/policy-rc.d; chmod 755 /usr/sbin/policy-rc.d
    POLICY_RC_CREATED=1
  fi
  export DEBIAN_FRONTEND=noninteractive
  apt-get -o DPkg::Lock::Timeout=600 update -qq || die "apt-get update failed"
  apt-get -o DPkg::Lock::Timeout=600 install -y -q --no-install-recommends \
    cups cups-daemon cups-client cups-ipp-utils cups-filters ghostscript python3-minimal \
    || die "apt-get install failed"
  [ "$POLICY_RC_CREATED" = 1 ] && { rm -f /usr/sbin/policy-rc.d; POLICY_RC_CREATED=0; }
  need_install && die "packages still missing after apt-get install"
fi
id lp >/dev/null 2>&1 || die "user lp does not exist (cups-daemon makes it)"

# ------------------------------------------------------- private CUPS tree
W=$(mktemp -d /tmp/zt-e2e.XXXXXX)
chmod 755 "$W"   # the filters run as lp and must reach the installed driver
mkdir -p "$W"/{etc/ppd,spool/tmp,cache,state,log,run,out,doc}
SOCK="$W/run/cups.sock"
export CUPS_SERVER="$SOCK"
unset CUPS_SERVERROOT CUPS_DATADIR CUPS_SERVERBIN CUPS_STATEDIR CUPS_CACHEDIR CUPS_REQUESTROOT \
      CUPS_ENCRYPTION CUPS_USER 2>/dev/null || true

FILTERDIR="$(cache_var ZT_CUPS_SERVERBIN)/filter"
CHAINDIR=$(cache_var ZT_CHAIN_DIR)
MODELTREE=$(cache_var ZT_CUPS_MODELTREE)
[ -n "$CHAINDIR" ] && [ -n "$MODELTREE" ] || die "the build at $BUILD has no install layout (cmake/install.cmake)"
check_root_owned() {
  local f st
  for f in "$@"; do
    st=$(stat -c '%U %a' "$f")
    case "$st" in "root "[0-7][0145][0145]) ;; *) die "installed $f is '$st': CUPS wants root and no group/other write" ;; esac
  done
}
if [ "$CASE" = package ]; then
  # The package, made in the build folder and installed the way a user
  # installs it. NEW lists what it brings that the machine did not have.
  ROOT=""
  (cd "$BUILD" && cpack -G DEB) >"$W/log/cpack.out" 2>&1 || die "cpack failed: $(tail -5 "$W/log/cpack.out")"
  DEB=$(sed -n 's/^CPack: - package: \(.*\.deb\) generated\.$/\1/p' "$W/log/cpack.out")
  [ -f "$DEB" ] || die "cpack made no .deb: $(tail -5 "$W/log/cpack.out")"
  lintian "$DEB" >"$W/log/lintian.out" 2>&1 || true
  ! grep -q '^E:' "$W/log/lintian.out" || die "lintian finds errors in $DEB: $(grep '^E:' "$W/log/lintian.out" | head -5)"
  PKG=$(dpkg-deb -f "$DEB" Package)
  ! dpkg-query -W -f='${Status}' "$PKG" 2>/dev/null | grep -q installed \
    || die "$PKG is installed on this machine already; the test would remove it"
  dpkg-deb -c "$DEB" >"$W/log/deb-contents"
  bad=$(awk '$2 != "root/root" || $1 ~ /^[^l]....w/ || $1 ~ /^[^l].......w/' "$W/log/deb-contents")
  [ -z "$bad" ] || die "files of the package not owned by root or writable by others: $bad"
  NEW=()
  while read -r p; do
    [ -e "$p" ] || [ -L "$p" ] || NEW+=("$p")
  done < <(awk '{print $6}' "$W/log/deb-contents" | sed 's|^\.||; s|/$||' | grep .)
  [ ${#NEW[@]} -gt 0 ] || die "the package brings nothing this machine lacks"
  PKG_INSTALLED=$PKG
  apt-get -o DPkg::Lock::Timeout=600 install -y -qq "$DEB" >"$W/log/apt-install.out" 2>&1 \
    || die "apt-get install $DEB failed: $(tail -5 "$W/log/apt-install.out")"
  say "installed $(basename "$DEB") ($(grep -c . "$W/log/deb-contents") entries, lintian: no error, $(grep -c '^W:' "$W/log/lintian.out" || true) warnings)"
else
  # The driver, installed the way an administrator installs it, under $W/root.
  ROOT="$W/root"
  DESTDIR="$ROOT" cmake --install "$BUILD" --component driver >"$W/log/install.out" 2>&1 \
    || die "cmake --install failed: $(tail -5 "$W/log/install.out")"
fi
[ -x "$ROOT$FILTERDIR/ztmainfilter" ] || die "ztmainfilter was not installed into $FILTERDIR"
[ -f "$ROOT$MODELTREE/korva/korva-zt.ppd" ] || die "the sample PPD was not installed into $MODELTREE/korva"
check_root_owned "$ROOT$FILTERDIR/ztmainfilter" "$ROOT$FILTERDIR" "$ROOT$CHAINDIR"

# Private ServerBin: the system's filters, cups-exec and the socket backend,
# and the installed entry filter.
SB="$W/serverbin"
mkdir -p "$SB/filter" "$SB/backend"
for d in daemon driver; do [ -e /usr/lib/cups/$d ] && ln -s /usr/lib/cups/$d "$SB/$d"; done
for f in /usr/lib/cups/filter/*; do ln -s "$f" "$SB/filter/"; done
if [ -x /usr/lib/cups/backend/socket ]; then ln -s /usr/lib/cups/backend/socket "$SB/backend/socket"
else ln -s /usr/lib/cups/backend-available/socket "$SB/backend/socket"; fi
ln -sf "$ROOT$FILTERDIR/ztmainfilter" "$SB/filter/ztmainfilter"
chmod 755 "$SB" "$SB/filter" "$SB/backend"

# queue_ppd INSTALLED-PPD OUT: the queue's PPD, the installed one with the
# paths it names (of any manufacturer's prefix) moved under $ROOT, checked
# with cupstestppd.
queue_ppd() {
  sed -E "s|^\*(..FilterDir\|..DlutFilePath):[[:space:]]*\"(/[^\"]*)\"|*\1: \"$ROOT\2\"|" "$1" > "$2"
  grep -q '^\*..FilterDir:' "$2" || die "$1 names no filter folder"
  if ! CUPS_SERVERBIN="$SB" cupstestppd "$2" >"$W/log/cupstestppd.out" 2>&1; then
    die "cupstestppd rejects the installed PPD $1: $(grep -iE 'FAIL|\*\*' "$W/log/cupstestppd.out" | head -5)"
  fi
}
PPD="$W/doc/korva-zt.ppd"
[ "$CASE" = package ] || queue_ppd "$ROOT$MODELTREE/korva/korva-zt.ppd" "$PPD"

# Filters built with the sanitizers need their options passed on by cupsd.
SETENV=""
for v in ASAN_OPTIONS LSAN_OPTIONS UBSAN_OPTIONS; do
  [ -n "${!v:-}" ] && SETENV+="SetEnv $v ${!v}"$'\n'
done

cat > "$W/etc/cups-files.conf" <<EOF
ServerRoot $W/etc
ServerBin $SB
DataDir /usr/share/cups
DocumentRoot /usr/share/cups/doc-root
RequestRoot $W/spool
TempDir $W/spool/tmp
CacheDir $W/cache
StateDir $W/state
ErrorLog $W/log/error_log
AccessLog $W/log/access_log
PageLog $W/log/page_log
Printcap $W/run/printcap
User lp
Group lp
SystemGroup root
FileDevice No
${SETENV}
EOF
PORT=$($PY -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
cat > "$W/etc/cupsd.conf" <<EOF
LogLevel debug
LogTimeFormat usecs
MaxLogSize 0
Listen 127.0.0.1:$PORT
Listen $SOCK
Browsing No
BrowseLocalProtocols none
DefaultShared No
WebInterface No
DefaultAuthType None
ErrorPolicy abort-job
PreserveJobHistory Yes
PreserveJobFiles No
<Location />
  Order allow,deny
  Allow localhost
</Location>
<Policy default>
  <Limit All>
    Order deny,allow
  </Limit>
</Policy>
EOF
cupsd -t -c "$W/etc/cupsd.conf" -s "$W/etc/cups-files.conf" >"$W/log/cupsd-t.out" 2>&1 \
  || die "cupsd -t rejects the configuration: $(cat "$W/log/cupsd-t.out")"

e2e_start_listener "$W/out" "$W/run/listener.port" "$W/log/listener.log"

cupsd -f -c "$W/etc/cupsd.conf" -s "$W/etc/cups-files.conf" >"$W/log/cupsd.out" 2>&1 &
CUPSD_PID=$!
up=0
for _ in $(seq 1 200); do
  kill -0 "$CUPSD_PID" 2>/dev/null || die "cupsd ended at start: $(cat "$W/log/cupsd.out")"
  if lpstat -r 2>/dev/null | grep -q 'scheduler is running'; then up=1; break; fi
  sleep 0.05
done
[ $up = 1 ] || die "cupsd does not answer on $SOCK"

# add_queue NAME lpadmin-PPD-ARGS...: a queue to the listener.
add_queue() {
  local name=$1; shift
  lpadmin -p "$name" -E -v "socket://127.0.0.1:$LPORT" "$@" >"$W/log/lpadmin.out" 2>&1 \
    || die "lpadmin failed: $(cat "$W/log/lpadmin.out")"
  lpstat -p "$name" | grep -q enabled || die "queue $name is not enabled: $(lpstat -p "$name")"
  if grep -q 'insecure permissions' "$W/log/error_log"; then
    die "cupsd refuses the installed filter: $(grep -m1 'insecure permissions' "$W/log/error_log")"
  fi
}
if [ "$CASE" != package ]; then
  add_queue "$QUEUE" -P "$PPD"
  say "cupsd on 127.0.0.1:$PORT, queue $QUEUE -> socket://127.0.0.1:$LPORT, driver under $ROOT"
fi

# --------------------------------------------------------------- documents
# make_pdf NAME PAGES PAPER: every page has colour bars, a grey ramp and text.
make_pdf() {
  cat > "$W/doc/$1.ps" <<EOF
%!PS
/Helvetica-Bold findfont 40 scalefont setfont
1 1 $2 {
  /p exch def
  1 0 0 setrgbcolor 40 300 100 120 rectfill
  0 0.6 0 setrgbcolor 160 300 100 120 rectfill
  0 0 1 setrgbcolor 280 300 100 120 rectfill
  0 1 9 { /i exch def i 9 div setgray 40 i 30 mul add 200 30 60 rectfill } for
  0 0 0 setrgbcolor 40 460 moveto (Page ) show p 10 string cvs show
  showpage
} for
EOF
  gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=pdfwrite -sPAPERSIZE="$3" -o "$W/doc/$1.pdf" "$W/doc/$1.ps" \
    || die "ghostscript could not make $1.pdf"
}

# ------------------------------------------------------------------- jobs
cat > "$W/doc/jobattrs.test" <<'EOF'
{
  NAME "job attributes"
  OPERATION Get-Job-Attributes
  GROUP operation-attributes-tag
  ATTR charset attributes-charset utf-8
  ATTR naturalLanguage attributes-natural-language en
  ATTR uri printer-uri $uri
  ATTR integer job-id $job_id
  ATTR name requesting-user-name root
  ATTR keyword requested-attributes job-state,job-impressions-completed
  STATUS successful-ok
  DISPLAY job-state
  DISPLAY job-impressions-completed
}
EOF
# job_attr ID NAME: one attribute of a job (job-state, job-impressions-completed).
# Empty when the request fails (a busy cupsd may refuse one): callers poll.
job_attr() {
  local out col
  out=$(ipptool -c -d job_id="$1" "ipp://127.0.0.1:$PORT/printers/$QUEUE" "$W/doc/jobattrs.test" 2>/dev/null) || return 0
  col=$(printf '%s\n' "$out" | head -1 | tr ',' '\n' | grep -n -x "$2" | cut -d: -f1) || return 0
  printf '%s\n' "$out" | sed -n 2p | cut -d, -f"$col"
}
job_errors() {
  grep -F "[Job $1]" "$W/log/error_log" | grep -E '^E |ERROR|PID [0-9]+ .*(stopped with status|crashed)' \
    | sed 's/^\(.\) \[[^]]*\] \[Job [0-9]*\] /   \1 /' | tail -n 12 || true
}
# wait_final ID LIMIT: sets JOBSTATE to completed, canceled or aborted.
wait_final() {
  local t0 st; t0=$(now)
  while :; do
    st=$(job_attr "$1" job-state)
    case "$st" in
      completed|canceled|aborted) JOBSTATE=$st; return 0 ;;
      processing-stopped|pending-held) die "job $1 is $st:
$(job_errors "$1")" ;;
    esac
    awk -v e="$(elapsed "$t0" "$(now)")" -v l="$2" 'BEGIN{exit !(e<l)}' \
      || die "job $1 still '$st' after $2 s"
    sleep 0.05
  done
}
# submit TITLE PDF [lp options]: sets JOB.
submit() {
  local title=$1 pdf=$2 out; shift 2
  out=$(lp -d "$QUEUE" -t "$title" "$@" "$pdf" 2>&1) || die "lp failed: $out"
  JOB=$(printf '%s\n' "$out" | sed -n "s/^request id is $QUEUE-\([0-9]*\) .*/\1/p")
  [ -n "$JOB" ] || die "no job id in: $out"
}
# print_job NAME PDF [lp options]: prints, waits for completed, inspects the
# captured job. Sets JOB, SECONDS_TAKEN, IMPRESSIONS, CAPTURE, REPORT.
print_job() {
  local name=$1 pdf=$2 t0 before; shift 2
  before=$(ls "$W/out" | grep -c '\.bin$' || true)
  t0=$(now)
  submit "${JOB_TITLE:-$name}" "$pdf" "$@"
  wait_final "$JOB" "${JOB_LIMIT:-240}"
  SECONDS_TAKEN=$(elapsed "$t0" "$(now)")
  [ "$JOBSTATE" = completed ] || die "job $JOB ended '$JOBSTATE':
$(job_errors "$JOB")"
  if grep -F "[Job $JOB]" "$W/log/error_log" | grep -qE 'PID [0-9]+ .*(stopped with status|crashed)'; then
    die "a process of job $JOB failed:
$(job_errors "$JOB")"
  fi
  IMPRESSIONS=$(job_attr "$JOB" job-impressions-completed)
  CAPTURE=""
  for _ in $(seq 1 100); do
    if [ "$(ls "$W/out" | grep -c '\.bin$' || true)" -gt "$before" ]; then
      CAPTURE=$(ls -t "$W"/out/conn-*.bin | head -1); break
    fi
    sleep 0.05
  done
  [ -n "$CAPTURE" ] || die "the printer received nothing for job $JOB"
  REPORT="$W/log/$name.inspect"
  mkdir -p "$W/pages/$name"
  "$INSPECT" -o "$W/pages/$name" "$CAPTURE" >"$REPORT" 2>&1 \
    || die "the inspector finds the job of $name broken: $(grep -E 'ERROR' "$REPORT" | head -3)"
  say "$name: job $JOB $JOBSTATE in $SECONDS_TAKEN s (lp to completed), job-impressions-completed $IMPRESSIONS, $(stat -c %s "$CAPTURE") bytes to the printer"
}

# Checks on the inspector's report.
has_pjl() { grep -qxF "pjl: $1" "$REPORT" || die "the job lacks the PJL line '$1':
$(grep '^pjl:' "$REPORT")"; }
lacks_pjl() { ! grep -qF "pjl: $1" "$REPORT" || die "the job has the PJL line '$1', which it should not"; }
page_count() { sed -n 's/^pages: \([0-9]*\).*/\1/p' "$REPORT"; }
# page_field N KEY: the KEY=value of page N's line.
page_field() { sed -n "s/^page $1: .*\b$2=\([^ ]*\).*/\1/p" "$REPORT" | head -1; }
expect_pages() {
  local n; n=$(page_count)
  [ "$n" = "$1" ] || die "expected $1 page records, the job has '$n'"
  local i png
  for i in $(seq 1 "$1"); do
    png="$W/pages/$CURRENT/page-$i.png"
    [ -s "$png" ] || die "page $i did not decode to $png"
  done
}
expect_impressions() {
  [ "$IMPRESSIONS" = "$1" ] || die "CUPS reports job-impressions-completed '$IMPRESSIONS', expected $1"
}

# The driver's running processes: those started from $ROOT.
tmp_listing() { ls -A "$W/spool/tmp" | grep -Ev "${1:-^$}" | sort || true; }
# CUPS's rasteriser leaves two kinds of file when a cancel kills it:
# ghostscript's gs_* scratch file, and gstoraster's copy of its input, which
# cupsTempFd names after the process number (five or more hex digits first).
rasteriser_files() {
  local pids
  pids=$(sed -n 's|.*Started filter .*/gstoraster (PID \([0-9]*\)).*|\1|p' "$W/log/error_log" \
         | xargs -r printf '%05x\n' | paste -sd'|')
  echo "^(gs_${pids:+|$pids})"
}
tmp_left() { # tmp_left BEFORE [EXCLUDE]: dies when files were added
  local after; after=$(tmp_listing "${2:-}")
  [ "$1" = "$after" ] || die "temporary files left in $W/spool/tmp: $(comm -13 <(printf '%s\n' "$1") <(printf '%s\n' "$after") | tr '\n' ' ')"
}
chain_pids() {
  local p exe
  for p in /proc/[0-9]*; do
    exe=$(readlink "$p/exe" 2>/dev/null) || continue
    case "$exe" in "$ROOT"/*) printf '%s ' "${p#/proc/}" ;; esac
  done
}

case "$CASE" in
colour-a4)
  CURRENT=colour-a4
  make_pdf two 2 a4
  print_job colour-a4 "$W/doc/two.pdf"
  expect_pages 2
  expect_impressions 2
  has_pjl "@PJL SET RENDERMODE=COLOR"
  has_pjl "@PJL SET DUPLEX=OFF"
  has_pjl '@PJL SET JOBATTR="@LUNA=root"'
  has_pjl "@PJL ENTER LANGUAGE=HBPL"
  for i in 1 2; do
    [ "$(page_field $i number)" = "$i" ] || die "page $i carries number $(page_field $i number)"
    [ "$(page_field $i side)" = 0 ] || die "simplex page $i has duplex side $(page_field $i side)"
    [ "$(page_field $i layout)" = colour ] || die "page $i is not a colour page"
    for c in C M Y K; do
      [ "$(page_field $i ink$c)" != 0 ] || die "page $i has no $c ink: $(grep "^page $i:" "$REPORT")"
    done
  done
  say "RESULT two-page A4 colour job: $SECONDS_TAKEN s from lp to job-state $JOBSTATE, job-impressions-completed $IMPRESSIONS"
  ;;
duplex-copies)
  CURRENT=duplex-copies
  make_pdf three 3 a5
  print_job duplex-copies "$W/doc/three.pdf" -n 2 -o media=A5 -o sides=two-sided-long-edge -o QKTrapping=True
  has_pjl "@PJL SET DUPLEX=ON"
  has_pjl "@PJL SET BINDING=LONGEDGE"
  has_pjl '@PJL SET JOBATTR="@TRAP=ON"'
  # The printer makes the copies (QTY=2, one pass) or the driver sends the
  # pages twice; either way CUPS counts 6 impressions.
  if grep -qxF 'pjl: @PJL SET QTY=2' "$REPORT" || grep -qxF 'pjl: @PJL SET COPIES=2' "$REPORT"; then
    expect_pages 3; sides="1 2 1"
  else
    expect_pages 6; sides="1 2 1 1 2 1"
  fi
  i=1
  for s in $sides; do
    [ "$(page_field $i side)" = "$s" ] || die "page $i has duplex side $(page_field $i side), expected $s"
    [ "$(page_field $i size)" = "$(page_field 1 size)" ] || die "page $i changes the page size"
    i=$((i + 1))
  done
  expect_impressions 6
  ;;
mono-secure)
  CURRENT=mono-secure
  make_pdf two 2 a5
  print_job mono-secure "$W/doc/two.pdf" -o media=A5 -o QKColorMode=Black -o sides=two-sided-short-edge \
    -o QKSecurityPrint=Public -o QKSecurityUserID=Owner -o QKSecurityJobName=Report -o QKTonerSaver=True
  expect_pages 2
  expect_impressions 2
  has_pjl "@PJL SET DUPLEX=ON"
  has_pjl "@PJL SET BINDING=SHORTEDGE"
  has_pjl "@PJL SET HOLD=STORE"
  has_pjl "@PJL SET HOLDTYPE=PUBLIC"
  has_pjl "@PJL SET ECONOMODE=ON"
  has_pjl '@PJL SET USERNAME="owner"'
  has_pjl '@PJL SET JOBNAME="Report"'
  lacks_pjl "@PJL SET HOLDKEY"
  for i in 1 2; do
    [ "$(page_field $i layout)" = mono ] || die "page $i of a monochrome job is not a monochrome page"
    [ "$(page_field $i inkK)" != 0 ] || die "monochrome page $i is blank"
  done
  ;;
cancel)
  make_pdf long 40 a4
  tmp_before=$(tmp_listing "$(rasteriser_files)")
  submit "long job" "$W/doc/long.pdf"
  # Wait until the driver's chain runs.
  running=""
  for _ in $(seq 1 300); do
    running=$(chain_pids)
    [ -n "$running" ] && [ "$(printf '%s' "$running" | wc -w)" -ge 2 ] && break
    sleep 0.1
  done
  [ -n "$running" ] || die "the driver's chain never started for job $JOB"
  sleep 1
  st=$(job_attr "$JOB" job-state)
  [ "$st" = processing ] || die "job $JOB is '$st' before the cancel; make it longer"
  t0=$(now)
  cancel "$QUEUE-$JOB" || die "cancel failed"
  wait_final "$JOB" 30
  [ "$JOBSTATE" = canceled ] || die "job $JOB ended '$JOBSTATE', expected canceled"
  t_state=$(elapsed "$t0" "$(now)")
  for _ in $(seq 1 200); do [ -z "$(chain_pids)" ] && break; sleep 0.1; done
  left=$(chain_pids)
  [ -z "$left" ] || die "the chain still runs 20 s after the cancel: $(for p in $left; do readlink /proc/$p/exe; done | tr '\n' ' ')"
  t_stop=$(elapsed "$t0" "$(now)")
  # How cupsd saw the entry filter end (it logs once it has reaped it).
  runner_end=""
  for _ in $(seq 1 100); do
    runner_end=$(grep -F "[Job $JOB]" "$W/log/error_log" | grep -E 'PID [0-9]+ \(.*/ztmainfilter\) ' \
                 | sed 's/.*ztmainfilter) //' | head -1)
    [ -n "$runner_end" ] && break
    sleep 0.1
  done
  [ -n "$runner_end" ] || die "cupsd never reaped ztmainfilter of job $JOB"
  tmp_left "$tmp_before" "$(rasteriser_files)"
  say "cancel: job $JOB canceled after $t_state s, chain stopped after $t_stop s (ztmainfilter $runner_end), no temporary file left"
  ;;
makers)
  # The same document and settings through a queue of each manufacturer's PPD,
  # every option under that manufacturer's prefix: the printer job is the
  # Korva queue's, PJL settings (bar the clock) and decoded pages alike.
  make_pdf two 2 a5
  job_of() { # job_of PREFIX: the lp options of the comparison job
    local p=$1
    printf '%s\n' -n 2 -o media=A5 -o sides=two-sided-long-edge -o "${p}DocumentType=Photo" \
      -o "${p}Screen2=Fineness" -o "${p}Trapping=True" -o "${p}DigitalFilter=Low" \
      -o "${p}SecurityPrint=Private" -o "${p}SecurityPasswd=Pin1234" -o "${p}SecurityUserID=Owner" \
      -o "${p}ColorDensityCyanLow=2" -o "${p}ColorDensityBlackHigh=-1" -o "${p}SubPaperSelection=Policy3" \
      -o "${p}LetterHeadDuplexMode=DupOn" -o "${p}PreferredMediaType=FinePaper" -o "${p}TurnPage=True" \
      -o "${p}OutputMode=300x300"
  }
  settings() {
    grep '^pjl: ' "$REPORT" | grep -vE '^pjl: @PJL COMMENT (DATE|TIME)='
    grep -E '^(pages|page [0-9]+):' "$REPORT" | sed 's/ png=.*//'
  }
  count=0
  for installed in "$ROOT$MODELTREE"/korva/korva-zt.ppd "$ROOT$MODELTREE"/*/*.ppd; do
    stem=$(basename "$installed" .ppd)
    [ "$stem" = korva-zt ] && [ $count -gt 0 ] && continue
    prefix=$(sed -n 's/^\*\(..\)FilterChain:.*/\1/p' "$installed")
    maker=$(sed -n 's/^\*Manufacturer: *"\(.*\)"/\1/p' "$installed")
    [ -n "$prefix" ] || die "$installed names no filter chain"
    QUEUE=zt-$stem
    queue_ppd "$installed" "$W/doc/$stem.ppd"
    add_queue "$QUEUE" -P "$W/doc/$stem.ppd"
    CURRENT=$stem
    mapfile -t opts < <(job_of "$prefix")
    JOB_TITLE=makers print_job "$stem" "$W/doc/two.pdf" "${opts[@]}"
    settings >"$W/log/$stem.settings"
    (cd "$W/pages/$stem" && md5sum page-*.png) >"$W/log/$stem.pages"
    if [ $count = 0 ]; then
      # The Korva job is the reference; it must show the settings asked for.
      has_pjl "@PJL SET DUPLEX=ON"
      has_pjl '@PJL SET JOBATTR="@TRAP=ON"'
      has_pjl "@PJL SET HOLDTYPE=PRIVATE"
      has_pjl '@PJL SET USERNAME="owner"'
      grep -q '^pjl: @PJL SET HOLDKEY' "$REPORT" || die "the private job has no HOLDKEY line"
      [ "$(page_field 1 layout)" = colour ] || die "the Korva job's page 1 is not a colour page"
      [ -s "$W/log/$stem.pages" ] || die "the Korva job decoded to no pages"
    else
      diff -u "$W/log/korva-zt.settings" "$W/log/$stem.settings" >"$W/log/$stem.diff" \
        || die "the $maker queue ($stem.ppd, prefix $prefix) prints other settings than the Korva queue:
$(grep '^[-+][^-+]' "$W/log/$stem.diff" | head -12)"
      cmp -s "$W/log/korva-zt.pages" "$W/log/$stem.pages" \
        || die "the $maker queue ($stem.ppd) prints other pages than the Korva queue"
    fi
    count=$((count + 1))
  done
  [ $count = 5 ] || die "expected the PPDs of 5 manufacturers under $MODELTREE, found $count"
  say "makers: the queues of all $count manufacturers print the Korva queue's job ($(grep -c '^pjl:' "$W/log/korva-zt.settings") PJL lines, $(grep -c . "$W/log/korva-zt.pages") pages)"
  ;;
package)
  models=$(lpinfo -m 2>"$W/log/lpinfo.err" | grep ', ZT driver$' || true)
  [ "$(printf '%s\n' "$models" | grep -c .)" = 5 ] || die "lpinfo -m lists other than 5 models of the driver:
$models"
  model=$(printf '%s\n' "$models" | grep ' Talma ' | cut -d' ' -f1)
  [ -n "$model" ] || die "lpinfo -m lists no Talma model: $models"
  QUEUE=ztpkg
  add_queue "$QUEUE" -m "$model"
  CURRENT=package
  make_pdf two 2 a4
  print_job package "$W/doc/two.pdf" -o TLColorMode=Black -o TLTonerSaver=True
  expect_pages 2
  has_pjl "@PJL SET ECONOMODE=ON"
  has_pjl "@PJL ENTER LANGUAGE=HBPL"
  [ "$(page_field 1 layout)" = mono ] || die "the monochrome job of the packaged driver has a colour page"
  lpadmin -x "$QUEUE"
  apt-get -o DPkg::Lock::Timeout=600 purge -y -qq "$PKG" >"$W/log/apt-purge.out" 2>&1 \
    || die "apt-get purge $PKG failed: $(tail -5 "$W/log/apt-purge.out")"
  PKG_INSTALLED=""
  left=()
  for p in "${NEW[@]}"; do [ -e "$p" ] || [ -L "$p" ] && left+=("$p"); done
  [ ${#left[@]} = 0 ] || die "removing $PKG leaves ${left[*]}"
  say "package: $model from lpinfo -m printed; removing $PKG left none of the ${#NEW[@]} paths it had added"
  ;;
load|cancel-storm)
  . "$SRC/tests/e2e/storm_cases.sh"
  ;;
esac
say "PASS ($CASE)"

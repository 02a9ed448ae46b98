# The load and cancel-storm cases of cups_e2e.sh, sourced by it once cupsd,
# the listener and the queue $QUEUE are up; they use its helpers (submit,
# wait_final, job_attr, job_errors, chain_pids, tmp_listing, tmp_left,
# rasteriser_files, die, say).
#
#   load          24 jobs submitted at once on three queues, every one checked
#                 with the inspector; no temporary file, no driver process
#                 left, no driver process above 64 MiB of resident memory
#   cancel-storm  60 jobs, each cancelled at a random moment of its life
#                 (seed ZT_STORM_SEED): every job ends canceled or completed,
#                 no driver process and no temporary file is left
#
# The driver's processes are those whose program lies under $ROOT.

QUEUES="$QUEUE ${QUEUE}2 ${QUEUE}3"
for q in ${QUEUE}2 ${QUEUE}3; do
  lpadmin -p "$q" -E -v "socket://127.0.0.1:$LPORT" -P "$PPD" >>"$W/log/lpadmin.out" 2>&1 \
    || die "lpadmin $q failed: $(cat "$W/log/lpadmin.out")"
done
SANITIZED=0
[ "$(cache_var ZT_SANITIZE)" = ON ] && SANITIZED=1

make_pdf colour2 2 a4
make_pdf colour3 3 a5
make_pdf colour6 6 a4
# A grey-only document: the colour one converted by ghostscript.
make_pdf mono-src 2 a5
gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=pdfwrite -sColorConversionStrategy=Gray \
  -dProcessColorModel=/DeviceGray -o "$W/doc/mono2.pdf" "$W/doc/mono-src.pdf" \
  || die "ghostscript could not make mono2.pdf"

job_filters() { # job_filters ID: program names of the driver's processes of job ID (argv[1])
  local p exe args
  for p in /proc/[0-9]*; do
    exe=$(readlink "$p/exe" 2>/dev/null) || continue
    case "$exe" in "$ROOT"/*) ;; *) continue ;; esac
    args=$(tr '\0' '\n' 2>/dev/null <"$p/cmdline") || continue   # the process has ended
    [ "$(sed -n 2p <<<"$args")" = "$1" ] && echo "${exe##*/}"
  done
  return 0
}
chain_gone() { # chain_gone LIMIT: waits up to LIMIT s for the last driver process to end
  local t0 left; t0=$(now)
  while left=$(chain_pids); [ -n "$left" ]; do
    awk -v e="$(elapsed "$t0" "$(now)")" -v l="$1" 'BEGIN{exit !(e<l)}' \
      || die "driver processes still run $1 s after the jobs ended: $(for p in $left; do printf '%s(%s) ' "$p" "$(readlink /proc/$p/exe)"; done)"
    sleep 0.1
  done
  GONE_AFTER=$(elapsed "$t0" "$(now)")
}

case "$CASE" in
load)
  # DOC PAGES OPTIONS: job k uses row k mod 8 on queue k mod 3.
  rows=(
    "colour2 2"
    "colour3 3 -n 2 -o media=A5 -o sides=two-sided-long-edge"
    "colour2 2 -o QKTrapping=True"
    "mono2 2 -o media=A5 -o QKColorMode=Black"
    "colour3 3 -o media=A5 -o QKEdgeEnhance=True -o sides=two-sided-short-edge"
    "colour2 2 -o QKDigitalFilter=High -o QKTonerSaver=True"
    "mono2 2 -n 3 -o media=A5 -o QKColorMode=Black -o QKTonerSaver=True -o sides=two-sided-long-edge"
    "colour3 3 -o media=A5 -o QKTrapping=True -o QKEdgeEnhance=True -o QKDigitalFilter=Low -o Collate=False -n 2"
  )
  qs=($QUEUES)
  tmp_before=$(tmp_listing)
  $PY "$SRC/tests/e2e/peakrss.py" "$ROOT" "$W/log/peakrss" &
  SAMPLER_PID=$!
  t0=$(now)
  declare -a jobs titles pages copies
  for k in $(seq 0 23); do
    read -r doc n opts <<<"${rows[$((k % 8))]}"
    titles[k]=$(printf 'load-%02d' "$k"); pages[k]=$n
    copies[k]=$(sed -n 's/.*-n \([0-9]*\).*/\1/p' <<<"$opts"); copies[k]=${copies[k]:-1}
    # shellcheck disable=SC2086  # the options are words
    QUEUE=${qs[$((k % 3))]} submit "${titles[k]}" "$W/doc/$doc.pdf" $opts
    jobs[k]=$JOB
  done
  for k in $(seq 0 23); do
    wait_final "${jobs[k]}" 600
    [ "$JOBSTATE" = completed ] || die "job ${jobs[k]} (${titles[k]}) ended '$JOBSTATE':
$(job_errors "${jobs[k]}")"
  done
  wall=$(elapsed "$t0" "$(now)")
  chain_gone 20
  stop_pid "$SAMPLER_PID"
  [ -s "$W/log/peakrss" ] || die "the memory sampler wrote nothing"
  for k in $(seq 0 23); do
    j=${jobs[k]}
    if grep -F "[Job $j]" "$W/log/error_log" | grep -qE 'PID [0-9]+ .*(stopped with status|crashed)'; then
      die "a process of job $j failed:
$(job_errors "$j")"
    fi
    cap=""
    for _ in $(seq 1 100); do
      cap=$(grep -alxF "@PJL COMMENT DNAME=${titles[k]}" "$W"/out/conn-*.bin 2>/dev/null | head -1) && [ -n "$cap" ] && break
      sleep 0.05
    done
    [ -n "$cap" ] || die "no captured job carries the title ${titles[k]} (job $j)"
    REPORT="$W/log/${titles[k]}.inspect"
    "$INSPECT" "$cap" >"$REPORT" 2>&1 \
      || die "the inspector finds ${titles[k]} (job $j, $cap) broken: $(grep ERROR "$REPORT" | head -3)"
    # The printer makes the copies (QTY/COPIES) or the driver sends them.
    want=$((pages[k] * copies[k]))
    grep -qxE "pjl: @PJL SET (QTY|COPIES)=${copies[k]}" "$REPORT" && want=${pages[k]}
    [ "$(page_count)" = "$want" ] || die "${titles[k]} (job $j): $(page_count) page records, expected $want"
  done
  tmp_left "$tmp_before"
  # Peak resident memory per program, over all its processes.
  summary=$(awk '{n[$2]++; if ($3 > m[$2]) m[$2] = $3}
                 END {for (p in m) printf "%s %.1f MiB (%d processes)\n", p, m[p] / 1024, n[p]}' \
            "$W/log/peakrss" | sort)
  say "RESULT load: 24 jobs on 3 queues completed in $wall s (first lp to last completed); peak VmHWM per program:"
  sed 's/^/  /' <<<"$summary"
  over=$(awk '$3 > 65536 {printf "%s (pid %s) %d KiB; ", $2, $1, $3}' "$W/log/peakrss")
  if [ -n "$over" ]; then
    # The sanitizers' shadow memory and quarantine are counted in the
    # resident set, so the limit holds for the normal build only.
    [ $SANITIZED = 1 ] && say "sanitizer build: not held to 64 MiB: $over" \
      || die "driver processes above 64 MiB: $over"
  fi
  ;;
cancel-storm)
  seed=${ZT_STORM_SEED:-1209}
  # Each queue gets 20 jobs one after another; each is cancelled after a
  # random 0 to 3 s, so the cancels land while the job waits, while
  # ghostscript or the driver's chain runs, or after it completed.
  # Sanitized programs are slower; the same moments reach the same stages
  # with a longer limit.
  per_queue=20; max_ms=3000
  [ $SANITIZED = 1 ] && max_ms=9000
  docs=("colour6" "colour6 -o QKTrapping=True -o QKEdgeEnhance=True -o sides=two-sided-long-edge" \
        "mono2 -o QKColorMode=Black -o QKTonerSaver=True -o QKDigitalFilter=Middle -n 2")
  tmp_before=$(tmp_listing "$(rasteriser_files)")
  mkdir -p "$W/storm"
  t0=$(now)
  w=0; workers=()
  for q in $QUEUES; do
    (
      RANDOM=$((seed + w))
      read -r doc opts <<<"${docs[w]}"
      for i in $(seq 1 $per_queue); do
        # shellcheck disable=SC2086
        QUEUE=$q submit "storm-$q-$i" "$W/doc/$doc.pdf" $opts
        ms=$(( (RANDOM * 32768 + RANDOM) % max_ms ))
        sleep "$(awk -v m=$ms 'BEGIN{printf "%.3f", m / 1000}')"
        # "chain" when a filter of the driver (not only the runner) works
        # on this job at the moment of its cancel.
        stage=other
        running=$(job_filters "$JOB")
        grep -qvx -e ztmainfilter -e '' <<<"$running" && stage=chain
        cancel "$q-$JOB" >/dev/null 2>&1 || true   # refused when already completed
        echo "$JOB $stage" >>"$W/storm/jobs"
      done
    ) &
    workers+=($!)
    w=$((w + 1))
  done
  for p in "${workers[@]}"; do wait "$p" || die "a submitting worker failed"; done
  canceled=0; completed=0; in_chain=0
  while read -r j stage; do
    wait_final "$j" 120
    case "$JOBSTATE" in
      canceled) canceled=$((canceled + 1)); [ "$stage" = chain ] && in_chain=$((in_chain + 1)) ;;
      completed) completed=$((completed + 1)) ;;
      *) die "job $j ended '$JOBSTATE':
$(job_errors "$j")" ;;
    esac
  done <"$W/storm/jobs"
  [ "$(wc -l <"$W/storm/jobs")" = $((3 * per_queue)) ] || die "only $(wc -l <"$W/storm/jobs") jobs were submitted"
  wall=$(elapsed "$t0" "$(now)")
  chain_gone 20
  tmp_left "$tmp_before" "$(rasteriser_files)"
  say "RESULT cancel storm (seed $seed): $((3 * per_queue)) jobs in $wall s: $canceled canceled ($in_chain of them while the driver's filters ran), $completed completed before their cancel; last driver process gone $GONE_AFTER s after the last job ended; no temporary file left"
  ;;
esac

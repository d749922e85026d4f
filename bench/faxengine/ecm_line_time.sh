#!/bin/sh
# Line time of the same page sent at 14400 bit/s through the virtual fax line to spandsp's fax
# machine in five ways: MH page data without error correction (far end without 2-D coding), MR
# page data without error correction, MH in ECM blocks (far end without 2-D coding), MR in ECM
# blocks (far end without T.6 coding) and MMR in ECM blocks. Prints the wall time of each call
# and the page's share of it (the call's wall time less that of an empty-page call made the
# same way); measures only, never fails. Two pages: a sparse text page and a dense one.
# Usage: bench/faxengine/ecm_line_time.sh BUILD_DIR
set -eu
BIN=$(cd "${1:?build directory}" && pwd)/bin
WORK=$(mktemp -d /tmp/faxecm-XXXXXX)
trap 'rm -rf "$WORK"' EXIT
cd "$WORK"
printf 'ECM line time\n' > empty.txt
"$BIN/telvane-faxconv" to-fax empty.txt empty.ovf --lines-per-page 2 > /dev/null
: > sparse.txt
i=1
while [ $i -le 40 ]; do
  printf 'Line %s: The quick brown fox jumps over the lazy dog 0123456789\n' $i >> sparse.txt
  i=$((i + 1))
done
"$BIN/telvane-faxconv" to-fax sparse.txt sparse.ovf --lines-per-page 40 > /dev/null
: > dense.txt
i=1
while [ $i -le 60 ]; do
  printf '%s\n' "WMWMWMWMWMWMWMWMWMWMWMWMWMWMWMWMWMWMWMWMWMWMWMWMWMWMWMWMWMWMWMWMWMWM $i" >> dense.txt
  i=$((i + 1))
done
"$BIN/telvane-faxconv" to-fax dense.txt dense.ovf --lines-per-page 60 --fine > /dev/null
call() {  # call FILE FAX-OPTION LINE-OPTION...: prints the wall seconds
  file=$1; ecm=$2; shift 2
  "$BIN/telvane-virtual-line" --tty "$WORK/modem" --answer --receive "$WORK/far-%03d.tif" --calls 1 "$@" \
    > line.out 2>&1 &
  line=$!
  while [ ! -e "$WORK/modem" ]; do sleep 0.1; done
  start=$(date +%s.%N)
  status=0
  "$BIN/telvane-fax" send --device "$WORK/modem" --number 1 --bps 14400 "$ecm" "$file" 2> fax.err || status=$?
  end=$(date +%s.%N)
  [ $status -eq 0 ] || echo "call with $ecm $* failed ($status): $(grep error fax.err | tail -1)" >&2
  echo $status > status
  wait $line || true
  rm -f "$WORK/modem"
  python3 -c "print(f'{$end - $start:.2f}')"
}
for page in sparse dense; do
  for mode in "MH:--no-ecm:--no-2d" "MR:--no-ecm" "MH+ECM:--ecm:--no-2d" "MR+ECM:--ecm:--no-t6" "MMR+ECM:--ecm"; do
    name=${mode%%:*}; rest=${mode#*:}; ecm=${rest%%:*}; lineopt=
    [ "$rest" != "$ecm" ] && lineopt=${rest#*:}
    base=$(call empty.ovf "$ecm" $lineopt)
    wall=$(call "$page.ovf" "$ecm" $lineopt)
    coding=$(sed -n 's/^Coding used: //p' fax.err)
    verdict=; [ "$(cat status)" = 0 ] || verdict=' (call FAILED: time to the failure)'
    python3 -c "print(f'$page page, $name ($coding): call {$wall:.2f} s, page share {$wall - $base:.2f} s$verdict')"
  done
done

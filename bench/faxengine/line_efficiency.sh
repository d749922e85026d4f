#!/bin/sh
# Wall time of a one-page and a five-page send at 14400 bit/s through the virtual fax line to
# spandsp's fax machine, against the line-time lower bound of the same call: the far end's
# ring delay and answer tone, every V.21 frame burst (1 s preamble + flags, frame and FCS at
# 300 bit/s), the 75 ms gaps, V.17 long training + 1.5 s TCF, and per page V.17 short training
# + coded page bytes * 8 / 14400. A change of resolution between pages costs a return to
# phase B (EOM, the far end's CSI + DIS, TSI + DCS, long training and TCF, CFR). Prints both
# and their ratio; measures only, never fails. The last run is a 20-page fax mixing standard
# and fine pages in blocks of five (three changes of resolution). The far end offers no 2-D coding,
# so that the pages go out in the MH the bound counts.
# Usage: bench/faxengine/line_efficiency.sh BUILD_DIR
set -eu
BIN=$(cd "${1:?build directory}" && pwd)/bin
WORK=$(mktemp -d /tmp/faxeff-XXXXXX)
trap 'rm -rf "$WORK"' EXIT
cd "$WORK"
i=1
while [ $i -le 20 ]; do
  printf 'Efficiency page %s\nThe quick brown fox jumps over the lazy dog 0123456789\n' $i > p$i.txt
  fine=
  if [ $(( (i - 1) / 5 % 2 )) -eq 1 ]; then fine=--fine; fi
  "$BIN/telvane-faxconv" to-fax p$i.txt p$i.ovf --lines-per-page 40 $fine > /dev/null
  i=$((i + 1))
done
measure() {
  pages=$1; changes=$2; shift 2
  "$BIN/telvane-virtual-line" --tty "$WORK/modem" --answer --receive "$WORK/far-%03d.tif" --calls 1 --no-2d > line.out 2>&1 &
  line=$!
  while [ ! -e "$WORK/modem" ]; do sleep 0.1; done
  start=$(date +%s.%N)
  "$BIN/telvane-fax" send --device "$WORK/modem" --number 1 --bps 14400 --station-id EFFICIENCY "$@" 2> fax.err
  end=$(date +%s.%N)
  wait $line || true
  rm -f "$WORK/modem"
  bytes=0
  for f in "$@"; do
    b=$("$BIN/telvane-faxconv" info "$f" | sed -n 's/.*length \([0-9]*\),.*/\1/p' | awk '{s+=$1} END {print s}')
    bytes=$((bytes + b))
  done
  python3 - "$pages" "$bytes" "$start" "$end" "$changes" <<'PY'
import sys
pages, coded, start, end = int(sys.argv[1]), int(sys.argv[2]), float(sys.argv[3]), float(sys.argv[4])
changes = int(sys.argv[5])
def burst(*frames):                      # V.21 preamble + frames (2 flags + FCS each) at 300 bit/s
    return 1.0 + sum((n + 4) * 8 / 300 for n in frames)
ring, ced, gap = 2.0, 3.0, 0.075
bound = ring + ced + gap
bound += burst(23, 7) + gap              # CSI + DIS
bound += burst(23, 7) + gap              # TSI + DCS
bound += 1.393 + 1.5 + gap               # V.17 long training + TCF
bound += burst(3) + gap                  # CFR
bound += pages * (0.142 + gap + burst(3) + gap + burst(3) + gap)   # short train, PPS, MCF
bound += changes * (burst(23, 7) + gap + burst(23, 7) + gap + 1.393 + 1.5 + gap + burst(3) + gap)
bound += coded * 8 / 14400               # page data
bound += burst(3)                        # DCN
wall = end - start
print(f"{pages} page(s), {changes} resolution change(s): {coded} coded bytes, wall {wall:.2f} s, line-time bound {bound:.2f} s, ratio {wall / bound:.2f}")
PY
}
measure 1 0 p1.ovf
measure 5 0 p1.ovf p2.ovf p3.ovf p4.ovf p5.ovf
measure 20 3 $(i=1; while [ $i -le 20 ]; do printf 'p%s.ovf ' $i; i=$((i + 1)); done)

#!/usr/bin/env bash
# The data set workflow with windows (scripts/dataset --window 8 --overlap 2, 2 cores) on a
# generated data set of a 16-frame sequence and a 5-frame one: the long one becomes three window
# jobs and one linking job whose results (five-digit names) are scored, the short one stays one
# run; the windows compute no flow themselves, and a second invocation does nothing.
#
#   windows-test.sh REPOSITORY BUILD_DIR      (exit 77: skipped, snakemake is not installed)
set -u
repository=$1
build=$2
. "$(dirname "$0")/../script-util.sh"
require snakemake
enter_scratch
snakemake_here

data=$scratch/data
generated_sequence "$build" "$data" long 16
generated_sequence "$build" "$data" short 5

out=$scratch/out
dataset() {
  "$repository/scripts/dataset" "$data" --cores 2 --build "$build" --out "$out" --window 8 \
    --overlap 2 >"$1" 2>&1
}
dataset first.log || { cat first.log; fail "first invocation failed"; }
table=$out/summary/scores.csv
cell() { # column NAME SEQUENCE: a cell of the table (no cell before it holds a comma)
  awk -F, -v name="$1" -v seq="$2" 'NR == 1 { for (i = 1; i <= NF; i++) if ($i == name) c = i }
    NR > 1 && $1 == seq { print $c }' "$table"
}
for name in long short; do
  [ "$(cell status $name)" = scored ] || fail "$name is not scored: $(grep "^$name," "$table")"
  [ "$(cell flows_by_run $name)" = 0 ] || fail "$name: flows computed by a run or window"
done
[ "$(cell frames long)" = 16 ] || fail "long: frames $(cell frames long)"
[ "$(cell windows long)" = 3 ] || fail "long: windows $(cell windows long), expected 3"
[ -z "$(cell windows short)" ] || fail "short is one run, not $(cell windows short) windows"

long=$out/sequences/long
for w in 000 001 002; do
  [ -f "$long/records/window$w.json" ] || fail "long: no window job $w"
done
[ ! -f "$long/records/window003.json" ] || fail "long: a fourth window"
[ ! -f "$long/records/run.json" ] || fail "long was run whole too"
for first in 00000-00007 00004-00011 00008-00015; do
  status_log=$long/windows/$first/QuorvikResults/Status8.txt
  grep -q "^Computation time" "$status_log" || fail "long: window $first did not finish"
  if grep -q "Compute optical flow" "$status_log"; then fail "window $first computed flows"; fi
done
for f in 00000 00015; do
  for kind in Regions Mask Overlay; do
    [ -f "$long/linked/$kind$f.png" ] || fail "long: no linked $kind$f.png"
  done
done
[ ! -f "$long/linked/Regions00016.png" ] || fail "long: a result past its last frame"
# The scores are those of all 16 linked frames.
[ "$(awk -F, 'NR == 2 { print $3 }' "$long/scores.csv")" = 16 ] || fail "long: not 16 frames scored"
[ -f "$out/sequences/short/records/run.json" ] || fail "short: no run"
[ ! -e "$out/sequences/short/windows" ] || fail "short has windows"

dataset second.log || { cat second.log; fail "second invocation failed"; }
grep -q "Nothing to be done" second.log || { cat second.log; fail "the second invocation ran jobs"; }
echo "workflow with windows: the long sequence in 3 windows and linked, the short one run whole"

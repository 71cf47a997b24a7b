#!/usr/bin/env bash
# The data set workflow end to end (scripts/dataset on Snakemake, 2 cores) on a generated data
# set in the SEQ/frames + SEQ/masks layout: two short sequences and one whose pictures cannot
# be decoded. Both good sequences are scored, the broken one is reported as failed without
# stopping them, the table and the plot exist, the flow jobs computed every flow (the run none),
# a second invocation does nothing, and one after an interruption redoes only what is missing.
#
#   dataset-test.sh REPOSITORY BUILD_DIR      (exit 77: skipped, snakemake is not installed)
set -u
repository=$1
build=$2
. "$(dirname "$0")/../script-util.sh"
require snakemake
enter_scratch
snakemake_here

data=$scratch/data
for name in alpha beta; do
  generated_sequence "$build" "$data" "$name" 4
done
mkdir -p "$data/broken/frames"
echo "not a picture" >"$data/broken/frames/00000.jpg"
echo "not a picture" >"$data/broken/frames/00001.jpg"
printf 'sequence,method,J\nalpha,Earlier work,0.5\n' >"$data/published.csv"

out=$scratch/out
dataset() {
  "$repository/scripts/dataset" "$data" --cores 2 --build "$build" --out "$out" >"$1" 2>&1
}

# First invocation: everything runs; exit status 3 says that the table lists a failure.
dataset first.log
status=$?
[ "$status" -eq 3 ] || { cat first.log; fail "first invocation: exit status $status, expected 3"; }
table=$out/summary/scores.csv
[ -f "$table" ] || fail "no $table"
[ -s "$out/summary/scores.md" ] || fail "no Markdown table"
[ "$(head -c 8 "$out/summary/J.png" | od -An -tx1 | tr -d ' \n')" = 89504e470d0a1a0a ] ||
  fail "summary/J.png is not a PNG picture"
[ "$(wc -l <"$table")" -eq 4 ] || fail "the table should have a header and 3 rows: $(cat "$table")"
cell() { # column NAME SEQUENCE: a cell of the table (no cell before it holds a comma)
  awk -F, -v name="$1" -v seq="$2" 'NR == 1 { for (i = 1; i <= NF; i++) if ($i == name) c = i }
    NR > 1 && $1 == seq { print $c }' "$table"
}
for name in alpha beta; do
  [ "$(cell status $name)" = scored ] || fail "$name is not scored: $(grep "^$name," "$table")"
  [ "$(cell frames $name)" = 4 ] || fail "$name: frames $(cell frames $name), expected 4"
  # The J in the table is the one quorvik-evaluate wrote for all 4 frames of the sequence.
  scores=$out/sequences/$name/scores.csv
  evaluated=$(awk -F, 'NR == 1 { for (i = 1; i <= NF; i++) c[$i] = i }
    NR == 2 { print $c["frames"], $c["mask_J"] }' "$scores")
  [ "$evaluated" = "4 $(cell J $name)" ] || fail "$name: table J $(cell J $name), $scores: $evaluated"
  [ "$(cell flows_by_run $name)" = 0 ] || fail "$name: the run computed flows"
  results=$out/sequences/$name/QuorvikResults
  [ -f "$results/Status4.txt" ] || fail "$name: no status log"
  if grep -q "Compute optical flow" "$results/Status4.txt"; then
    fail "$name: the run computed flows itself"
  fi
  for t in 000 001 002; do
    [ -f "$out/sequences/$name/logs/flow$t.log" ] || fail "$name: no flow job for pair $t"
    [ -f "$results/FlowSource$t.txt" ] || fail "$name: no flow record for pair $t"
  done
done
[ "$(cell status broken)" = failed ] || fail "broken is not reported as failed"
grep -q "^broken,.*import: import-video: cannot decode picture" "$table" ||
  fail "the failure of broken does not name its import: $(grep '^broken,' "$table")"
grep -q "| broken | failed |" "$out/summary/scores.md" || fail "broken is missing in scores.md"

# Second invocation: nothing to do, nothing written.
sleep 1 # a file written from now on has a later modification time than the marker
touch marker
dataset second.log
status=$?
[ "$status" -eq 3 ] || { cat second.log; fail "second invocation: exit status $status"; }
grep -q "Nothing to be done" second.log || { cat second.log; fail "the second invocation ran jobs"; }
changed=$(find "$out" -newer marker -not -path "$out/.snakemake*" | head -5)
[ -z "$changed" ] || fail "the second invocation changed $changed"

# A first invocation interrupted while computing beta's flow 001 (Snakemake removes the files
# of a job it stops): that job's files and everything after it are missing. The next
# invocation computes that flow alone, and the run none.
beta=$out/sequences/beta
for file in ForwardFlow001.flo BackwardFlow001.flo FlowSource001.txt ForwardFlow001.ppm \
  BackwardFlow001.ppm; do
  rm "$beta/QuorvikResults/$file" || fail "no $file"
done
rm -r "$beta/records/flow001.json" "$beta/records/run.json" "$beta/records/evaluate.json" \
  "$beta/row.json" "$out/summary"
sleep 1
touch marker
dataset third.log
status=$?
[ "$status" -eq 3 ] || { cat third.log; fail "third invocation: exit status $status"; }
flows=$(find "$out/sequences" -name 'flow*.log' -newer marker | sort | tr '\n' ' ')
[ "$flows" = "$beta/logs/flow001.log " ] || fail "flow jobs run again: $flows"
[ "$(cell status beta)" = scored ] || fail "beta is not scored after the interruption"
[ -f "$out/summary/J.png" ] || fail "no plot after the interruption"
if grep -q "Compute optical flow" "$beta/QuorvikResults/Status4.txt"; then
  fail "the run computed the missing flow itself"
fi
echo "workflow: 2 sequences scored, 1 failed import reported, nothing redone"

#!/usr/bin/env bash
# The data set workflow through a real single-node Slurm (scripts/slurm-local) with the profile
# workflow/profiles/slurm, once without accounting (job states from scontrol) and once with
# slurmdbd on MariaDB (job states from sacct). Data: two generated sequences of 6 frames of
# 160 x 120 and one with a damaged frame. Each time: every job went through sbatch with the
# rule's CPUs, a flow job cancelled with scancel while it runs is submitted again and the table
# completes, the scores equal those of the local executor, the damaged sequence is a failed
# row, and (with accounting) a second invocation submits nothing; without accounting also a run
# in windows, whose windows and linking are jobs of their own. USER is unset throughout, as
# in batch shells. Snakemake asks after its cluster jobs every 10 s, every second where
# CI=true (its own setting for test runs, which CI sets anyway): set here too, so that the
# test takes as long on a developer's machine as in CI.
#
#   slurm-test.sh REPOSITORY BUILD_DIR    (exit 77: skipped, with the reason: not root, no
#                                          snakemake, Slurm's packages not installable)
set -u
repository=$1
build=$2
. "$(dirname "$0")/../script-util.sh"
if [ "$(id -u)" -ne 0 ]; then
  echo "SKIPPED: a single-node Slurm needs root (its daemons start the jobs)"
  exit 77
fi
require snakemake
enter_scratch
cluster=""
workflow=""
# Whatever way the test ends: the workflow's processes, the cluster's jobs and daemons stopped.
finish() {
  [ -z "$workflow" ] || kill -TERM -- -"$workflow" 2>/dev/null
  [ -z "$cluster" ] || "$repository/scripts/slurm-local" stop "$cluster"
  rm -rf "$scratch"
}
trap finish EXIT
trap 'exit 1' INT TERM HUP
unset SNAKEMAKE_PROFILE USER
export CI=true
export XDG_CACHE_HOME=$scratch/cache

data=$scratch/data
generate() { # NAME OPTION...: a sequence in data/NAME/frames with its masks
  local name=$1
  shift
  "$build/quorvik-generate" --out "gen-$name" --name "$name" --size 160 120 --frames 6 \
    --speed 3 "$@" >/dev/null || fail "quorvik-generate failed"
  mkdir -p "$data/$name/frames"
  for t in 0 1 2 3 4 5; do
    cp "gen-$name/${name}00$t.ppm" "$data/$name/frames/0000$t.ppm"
  done
  cp -r "gen-$name/masks" "$data/$name/masks"
}
generate alpha --objects 2 --seed 1
generate beta --objects 3 --seed 2
mkdir -p "$data/damaged/frames"
cp "$data/alpha/frames/"* "$data/damaged/frames/"
head -c 3000 "$data/alpha/frames/00000.ppm" >"$data/damaged/frames/00003.ppm"

dataset() { # OUT LOG [OPTION...]
  local out=$1 log=$2
  shift 2
  "$repository/scripts/dataset" "$data" --build "$build" --out "$out" "$@" >"$log" 2>&1
}
# The columns that do not depend on timing, per sequence, found by their names: the table
# gains columns over time, and a fixed position would compare times.
scores() {
  awk -F, 'NR == 1 { for (i = 1; i <= NF; i++) if ($i !~ /_s$|^peak_MiB$/) keep[i] = 1 }
           { line = ""; for (i = 1; i <= NF; i++) if (i in keep) line = line $i ","; print line }' \
    "$1/summary/scores.csv"
}

dataset local local.log --cores 2
[ $? -eq 3 ] || { cat local.log; fail "local executor: expected exit status 3 (one failed row)"; }
scores local >local.csv
grep -q "^beta,scored,6,0\.[0-9]*[1-9]" local.csv || fail "beta has no J above 0: $(cat local.csv)"

for variant in scontrol sacct; do
  cluster=$scratch/slurm-$variant
  option=()
  [ $variant = scontrol ] || option=(--accounting)
  "$repository/scripts/slurm-local" start "$cluster" "${option[@]}" >start.log 2>&1
  status=$?
  [ $status -ne 3 ] || { echo "SKIPPED: $(cat start.log)"; exit 77; }
  [ $status -eq 0 ] || { cat start.log; fail "$variant: scripts/slurm-local start failed"; }
  export SLURM_CONF=$cluster/slurm.conf
  out=$scratch/out-$variant
  log=$scratch/$variant.log

  # In a process group of its own, which finish() can stop whole.
  setsid "$repository/scripts/dataset" "$data" --build "$build" --out "$out" \
    --profile "$repository/workflow/profiles/slurm" >"$log" 2>&1 &
  workflow=$!
  # Cancel the first flow job seen running (the next one if that one ends first).
  cancelled=""
  while [ -z "$cancelled" ] && kill -0 $workflow 2>/dev/null; do
    for job in $(squeue --noheader --states=RUNNING --format='%A %j' | awk '$2 ~ /^flow:/ { print $1 }'); do
      if scancel "$job" 2>/dev/null; then
        cancelled=$job
        break
      fi
    done
    sleep 0.1
  done
  wait $workflow
  status=$?
  workflow=""
  [ $status -eq 3 ] || { cat "$log"; fail "$variant: exit status $status, expected 3"; }
  [ -n "$cancelled" ] || fail "$variant: no flow job was seen running"

  # Every job through sbatch: the ids Snakemake got back, with the rule's CPUs, the cancelled
  # one among them and submitted again.
  sed -n "s/^Submitted job [0-9]* with external jobid '\([0-9]*\)'\.$/\1/p" "$log" | sort -n >submitted.txt
  [ "$(wc -l <submitted.txt)" -eq 18 ] ||
    fail "$variant: $(wc -l <submitted.txt) submissions, expected 17 jobs and one of them again"
  if [ $variant = sacct ]; then
    # slurmctld hands job records to slurmdbd in the background: the last jobs of the workflow
    # can reach the database a little after the workflow has seen them end.
    for attempt in $(seq 30); do
      sacct --noheader --parsable2 --allocations --format=JobID,JobName,AllocCPUS,State >jobs.txt
      [ "$(cut -d'|' -f1 jobs.txt | sort -n)" = "$(cat submitted.txt)" ] &&
        ! grep -q '|\(PENDING\|RUNNING\)$' jobs.txt && break
      sleep 1
    done
  else
    scontrol --oneliner show job | sed -n 's/^JobId=\([0-9]*\) JobName=\([^ ]*\) .* '\
'JobState=\([A-Z_]*\) .* NumCPUs=\([0-9]*\) .*/\1|\2|\4|\3/p' >jobs.txt
  fi
  [ "$(cut -d'|' -f1 jobs.txt | sort -n)" = "$(cat submitted.txt)" ] ||
    fail "$variant: Slurm's jobs are not the submitted ones: $(cat jobs.txt)"
  awk -F'|' '($2 ~ /^flow:/) != ($3 == 2) { bad = bad " " $0 } END { exit bad != "" }' jobs.txt ||
    fail "$variant: flows should have 2 CPUs and the others 1: $(cat jobs.txt)"
  name=$(awk -F'|' -v id="$cancelled" '$1 == id { print $2 }' jobs.txt)
  [ "$(grep -c "|$name|" jobs.txt)" -eq 2 ] || fail "$variant: $name was not submitted again"
  grep -q "^$cancelled|$name|2|CANCELLED" jobs.txt ||
    fail "$variant: Slurm does not show job $cancelled as cancelled: $(cat jobs.txt)"
  grep -q "Trying to restart job" "$log" || fail "$variant: Snakemake did not retry the job"

  scores "$out" >slurm.csv
  diff local.csv slurm.csv || fail "$variant: scores differ from the local executor's"
  grep -q "^damaged,failed,.*import: import-video: cannot decode picture" \
    "$out/summary/scores.csv" || fail "$variant: the damaged sequence is not a failed row"

  if [ $variant = sacct ]; then
    dataset "$out" again.log --profile "$repository/workflow/profiles/slurm"
    [ $? -eq 3 ] || { cat again.log; fail "$variant: the second invocation failed"; }
    grep -q "Nothing to be done" again.log || { cat again.log; fail "second invocation ran jobs"; }
    [ "$(sacct --noheader --allocations --format=JobID | wc -l)" -eq 18 ] ||
      fail "the second invocation submitted jobs"
  fi

  if [ $variant = scontrol ]; then
    # Windows on the cluster, in the same folder: every window of a sequence longer than one
    # window (6 frames, windows of 4 sharing 1: two) is a job of its own and the linking one job
    # after them; the imports and flows that are there are kept.
    dataset "$out" windows.log --window 4 --overlap 1 --profile "$repository/workflow/profiles/slurm"
    [ $? -eq 3 ] || { cat windows.log; fail "windows: exit status, expected 3"; }
    grep -o "^rule [a-z_]*" windows.log | sort | uniq -c | tr -s ' ' >windows-rules.txt
    [ "$(grep -c . windows-rules.txt)" -eq 3 ] && grep -qx " 4 rule window" windows-rules.txt &&
      grep -qx " 2 rule link" windows-rules.txt && grep -qx " 2 rule evaluate" windows-rules.txt ||
      fail "windows: expected 4 window, 2 link and 2 evaluate jobs and no other: $(cat windows-rules.txt)"
    scontrol --oneliner show job |
      sed -n 's/^JobId=[0-9]* JobName=\([^ ]*\) .* JobState=\([A-Z_]*\) .*/\1|\2/p' >windows-jobs.txt
    for seq in alpha beta; do
      for job in "window:seq=$seq,w=000" "window:seq=$seq,w=001" "link:seq=$seq"; do
        grep -qx "$job|COMPLETED" windows-jobs.txt || fail "windows: no job $job: $(cat windows-jobs.txt)"
      done
      row=$(awk -F, -v seq=$seq 'NR == 1 { for (i = 1; i <= NF; i++) c[$i] = i }
        $1 == seq { print $c["status"], $c["windows"] }' "$out/summary/scores.csv")
      [ "$row" = "scored 2" ] || fail "windows: $seq: status and windows '$row', expected 'scored 2'"
    done
  fi

  "$repository/scripts/slurm-local" stop "$cluster" || fail "$variant: stopping Slurm failed"
  cluster=""
  echo "$variant: 18 submissions through sbatch, job $cancelled ($name) cancelled and redone"
done
echo "slurm: scores as on the local executor, without and with accounting"

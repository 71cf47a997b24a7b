# Shared by the tests written as bash scripts (source it): a scratch folder to work in,
# removed at exit, and the way such a test skips or fails.

# Skips the test (CTest's SKIP_RETURN_CODE 77) unless the program $1 is installed.
require() {
  if ! command -v "$1" >/dev/null 2>&1; then
    echo "SKIPPED: $1 is not installed (scripts/install-deps installs it)"
    exit 77
  fi
}

fail() {
  echo "FAILED: $*"
  exit 1
}

# A new folder for the test's files, made the working folder and removed at exit.
enter_scratch() {
  scratch=$(mktemp -d)
  trap 'rm -rf "$scratch"' EXIT
  cd "$scratch" || exit 1
}

# Snakemake on this machine alone, whatever profile the environment names, with its cache in
# the scratch folder.
snakemake_here() {
  unset SNAKEMAKE_PROFILE
  export XDG_CACHE_HOME=$scratch/cache
}

# A generated sequence (64 x 48, two objects) in the SEQ/frames + SEQ/masks layout of a data
# set: generated_sequence BUILD_DIR DATA_DIR NAME FRAMES.
generated_sequence() {
  local build=$1 data=$2 name=$3 frames=$4 t
  "$build/quorvik-generate" --out "gen-$name" --name "$name" --size 64 48 --frames "$frames" \
    --objects 2 --speed -2 >/dev/null || fail "quorvik-generate failed"
  mkdir -p "$data/$name/frames"
  for ((t = 0; t < frames; t++)); do
    cp "gen-$name/$name$(printf %03d "$t").ppm" "$data/$name/frames/$(printf %05d "$t").ppm"
  done
  cp -r "gen-$name/masks" "$data/$name/masks"
}

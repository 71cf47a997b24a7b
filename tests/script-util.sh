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

#!/usr/bin/env bash
# The layer check itself: it passes on the repository and refuses a copy of it in which the
# foundation includes the driver, naming the file.
set -u
repository=$1
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
"$repository/scripts/check-layers" "$repository" >/dev/null || {
  echo "the repository itself fails the layer check"
  exit 1
}
cp -r "$repository/scripts" "$scratch/"
for folder in foundation settings flow tracking spectral graph clustering densify evaluation windows app tests; do
  cp -r "$repository/$folder" "$scratch/"
done
printf '#include "app/Run.h"\n' >>"$scratch/foundation/CVector.h"
if output=$("$scratch/scripts/check-layers" "$scratch"); then
  echo "an upward include was not refused"
  exit 1
fi
case $output in
  *"foundation/CVector.h (layer foundation) includes \"app/...\""*) exit 0 ;;
  *) echo "unexpected report: $output"; exit 1 ;;
esac

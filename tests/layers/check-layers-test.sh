#!/usr/bin/env bash
# The layer check itself: it passes on the repository and refuses copies of it in which the
# foundation includes the driver (a layer above), or the dense regions include the graph (a
# layer below that the README's table does not list for them), naming the file.
set -u
repository=$1
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
"$repository/scripts/check-layers" "$repository" >/dev/null || {
  echo "the repository itself fails the layer check"
  exit 1
}
# A copy of the repository with aLine appended to aFile must fail the check with aReport.
refused() {
  local aFile=$1 aLine=$2 aReport=$3 output
  rm -rf "${scratch:?}/copy"
  mkdir "$scratch/copy"
  cp -r "$repository/scripts" "$repository/README.md" "$scratch/copy/"
  for folder in foundation settings flow tracking spectral graph clustering densify evaluation windows app tests; do
    cp -r "$repository/$folder" "$scratch/copy/"
  done
  printf '%s\n' "$aLine" >>"$scratch/copy/$aFile"
  if output=$("$scratch/copy/scripts/check-layers" "$scratch/copy"); then
    echo "$aFile with $aLine was not refused"
    exit 1
  fi
  case $output in
    *"$aReport"*) ;;
    *) echo "unexpected report: $output"; exit 1 ;;
  esac
}
refused foundation/CVector.h '#include "app/Run.h"' \
  'foundation/CVector.h (layer foundation) includes "app/...", from a layer above it'
refused densify/Densification.h '#include "graph/HOGraph.h"' \
  "densify/Densification.h (layer densify) includes \"graph/...\", which the README's layer table does not let densify include"

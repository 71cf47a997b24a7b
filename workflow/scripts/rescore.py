#!/usr/bin/env python3
"""The dense regions of one finished sequence of a data set run recomputed and scored anew,
without flow, tracking or clustering (the fast loop of bench/quality-report --regions-from):

  rescore.py --from FROM --out OUT --sequence SEQ --truth DIR --first N --build BUILD

FROM and OUT are output folders of scripts/dataset (FROM is only read). The import, flow and
run records and the run's Tracks<N>.dat of FROM/sequences/SEQ are taken over into
OUT/sequences/SEQ; quorvik-regions writes the regions, masks and overlays into its
QuorvikResults/ from FROM's frames, flows and trajectories, with its own record
(records/regions.json: seconds and peak memory); quorvik-evaluate scores them as the workflow
does (records/evaluate.json, scores.csv), and the sequence's row.json is written for
aggregate.py table. Exit status 0 when the sequence was scored, 1 otherwise (one line on
standard error).
"""

import argparse
import os
import re
import shutil
import subprocess
import sys

import stage


def main():
    parser = argparse.ArgumentParser(description="Regions of a finished run recomputed.")
    for option in ("--from", "--out", "--sequence", "--truth", "--build"):
        parser.add_argument(option, required=True)
    parser.add_argument("--first", type=int, required=True)
    args = parser.parse_args()
    seq = args.sequence
    source = os.path.join(getattr(args, "from"), "sequences", seq)
    target = os.path.join(args.out, "sequences", seq)
    records = os.path.join(target, "records")
    results = os.path.join(target, "QuorvikResults")
    os.makedirs(records, exist_ok=True)
    os.makedirs(results, exist_ok=True)
    run_record = os.path.join(source, "records", "run.json")
    if not os.path.isfile(run_record) or stage.read_record(run_record)["status"] != "ok":
        print(f"rescore: {seq} has no finished run in {source}", file=sys.stderr)
        return 1
    for name in os.listdir(os.path.join(source, "records")):
        if name == "import.json" or name == "run.json" or (
                name.startswith("flow") and name.endswith(".json")):
            shutil.copyfile(os.path.join(source, "records", name), os.path.join(records, name))
    frames = stage.read_record(run_record)["frames"]
    tracks = os.path.join(source, "QuorvikResults", f"Tracks{frames}.dat")
    shutil.copyfile(tracks, os.path.join(results, f"Tracks{frames}.dat"))
    log_path = os.path.join(target, "logs", "regions.log")
    status, seconds, peak_kib, reason = stage.measured(
        [os.path.join(args.build, "quorvik-regions"), "--sequence",
         os.path.join(source, f"{seq}.bmf"), "--tracks", tracks, "--out", results],
        log_path)
    record = stage.base_record("regions", "ok" if status == 0 else "failed", seconds, peak_kib,
                               reason)
    record["frames"] = frames
    # The tool's summary line says how many frame pairs had flows; a rescoring whose flows
    # were not accepted (records of another format) would judge the regions without motion.
    with open(log_path, encoding="utf-8", errors="replace") as stream:
        match = re.search(r"flows of (\d+) of (\d+) frame pairs", stream.read())
    record["pairs_with_flows"] = int(match.group(1)) if match else None
    if match and match.group(1) != match.group(2):
        print(f"rescore: warning: {seq}: flows of only {match.group(1)} of {match.group(2)} "
              f"frame pairs were usable in {source}", file=sys.stderr)
    stage.write_record(os.path.join(records, "regions.json"), record)
    if status != 0:
        print(f"rescore: regions of {seq}: {reason}", file=sys.stderr)
        return 1
    evaluation = argparse.Namespace(
        program=os.path.join(args.build, "quorvik-evaluate"), folder=target, name=seq,
        truth=args.truth, first=args.first, run_record=os.path.join(records, "run.json"),
        record=os.path.join(records, "evaluate.json"),
        log=os.path.join(target, "logs", "evaluate.log"))
    stage.do_evaluate(evaluation)
    subprocess.run([sys.executable, os.path.join(os.path.dirname(__file__), "aggregate.py"),
                    "row", "--sequence", seq, "--output", os.path.join("sequences", seq,
                                                                        "row.json")],
                   cwd=args.out, check=True)
    print(f"{seq}: regions of {frames} frames in {seconds:.1f} s "
          f"({seconds / max(frames, 1):.2f} s per frame), peak {peak_kib / 1024:.0f} MiB")
    return 0 if stage.read_record(evaluation.record)["status"] == "ok" else 1


if __name__ == "__main__":
    sys.exit(main())

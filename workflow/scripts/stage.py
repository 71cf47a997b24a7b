#!/usr/bin/env python3
"""One stage of one sequence, run by the workflow: it runs the program, measures its wall
seconds and peak memory, and writes a record (JSON, written whole) that the aggregation reads.

  stage.py import   --tool T --source SRC --folder SEQDIR --name SEQ --max-frames N
                    --max-width W --record R --log L
  stage.py flow     --program P --frame T --folder SEQDIR --name SEQ --record R --log L
  stage.py run      --program P --folder SEQDIR --name SEQ --step S --import-record I
                    --record R --log L
  stage.py window   --program SEGMENT --folder SEQDIR --name SEQ --index I --window N
                    --overlap K --step S --count C --window-folder W --record R --log L
  stage.py link     --program SEGMENT --folder SEQDIR --name SEQ --window N --overlap K
                    --step S --jobs J --record R --log L --window-records WR...
  stage.py evaluate --program P --folder SEQDIR --name SEQ --truth DIR --first N
                    --run-record RR --record R --log L

(window and link: quorvik-segment's --run-window and --link for a sequence longer than one
window; the evaluation takes the results of the run, or of the link when RR is its record.)

A program that fails on the sequence's data (an exit status other than 0, or a crash) gives a
record with status "failed" and the program's last error line, and this script exits 0, so
the other sequences go on and the table reports the failure; such a record stays until the
stage's inputs change. The flow stage is the exception: after a good import its failure means
a broken machine (disk, memory), so the job fails and a later invocation tries it again. A
program stopped by SIGINT, SIGTERM, SIGHUP or SIGKILL (an interrupted or cancelled job, the
out-of-memory killer) leaves no record: the job fails and is redone.
"""

import argparse
import glob
import json
import os
import re
import resource
import shutil
import signal
import subprocess
import sys
import time

INTERRUPTIONS = {signal.SIGINT, signal.SIGTERM, signal.SIGHUP, signal.SIGKILL}


class Interrupted(Exception):
    pass


# The C library allocator's settings that quorvik-segment also gives its programs (huge pages,
# one arena, freed memory kept; windows/SegmentVideo.cpp, kAllocatorTunables: keep the two
# alike). A 640 x 480 pair's flow took 25 % fewer processor seconds with them, for far fewer
# page faults, and gave the same flows. A GLIBC_TUNABLES of the caller's own is kept.
FLOW_ALLOCATOR = ("glibc.malloc.hugetlb=1:glibc.malloc.arena_max=1:"
                  "glibc.malloc.mmap_threshold=33554432:glibc.malloc.trim_threshold=4294967296")


def write_whole(path, text):
    """Writes text to path through a temporary name in the same folder, then renames it."""
    folder = os.path.dirname(path) or "."
    os.makedirs(folder, exist_ok=True)
    temporary = f"{path}.part{os.getpid()}"
    with open(temporary, "w", encoding="utf-8") as stream:
        stream.write(text)
    os.replace(temporary, path)


def write_record(path, record):
    write_whole(path, json.dumps(record, indent=1, sort_keys=True) + "\n")


def read_record(path):
    with open(path, encoding="utf-8") as stream:
        return json.load(stream)


def measured(argv, log, env=None):
    """Runs argv (in env, else this environment) with its standard output and error in the log
    file. Returns (exit status, wall seconds, peak resident memory in KiB of the largest process
    it ran, last error line). Raises Interrupted when a signal of INTERRUPTIONS stopped it."""
    os.makedirs(os.path.dirname(log) or ".", exist_ok=True)
    start = time.monotonic()
    with open(log, "w", encoding="utf-8") as stream:
        stream.write("$ " + " ".join(argv) + "\n")
        stream.flush()
        try:
            process = subprocess.run(argv, stdout=stream, stderr=subprocess.PIPE, check=False,
                                     env=env)
        except OSError as error:
            return 127, time.monotonic() - start, 0, f"cannot start {argv[0]}: {error.strerror}"
        errors = process.stderr.decode("utf-8", "replace")
        stream.write(errors)
    seconds = time.monotonic() - start
    peak_kib = resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss
    sys.stderr.write(errors)
    status = process.returncode
    if status < 0 and -status in INTERRUPTIONS:
        raise Interrupted(f"{os.path.basename(argv[0])} was stopped by "
                          f"{signal.Signals(-status).name}")
    lines = [line.strip() for line in errors.splitlines() if line.strip()]
    reason = lines[-1] if lines else ""
    if status < 0:
        reason = f"crashed ({signal.Signals(-status).name})" + (f": {reason}" if reason else "")
    elif status != 0 and not reason:
        reason = f"exit status {status}"
    return status, seconds, peak_kib, reason


def base_record(stage, status, seconds, peak_kib, error=""):
    return {"stage": stage, "status": status, "seconds": round(seconds, 3),
            "peak_kib": peak_kib, "error": error}


def frame_names(bmf):
    """The frame names a .bmf file lists, in order (their width of digits grows with the
    count: import-video names them)."""
    with open(bmf, encoding="utf-8") as stream:
        words = stream.read().split()
    return words[2:2 + int(words[0])] if words else []


def do_import(args):
    """Frames and .bmf from the source. The result folder and the flow records of an earlier
    import are removed: they belong to the old frames."""
    frames = os.path.join(args.folder, "frames")
    staging = os.path.join(args.folder, "frames.import")
    bmf = os.path.join(args.folder, f"{args.name}.bmf")
    for stale in (frames, staging, os.path.join(args.folder, "QuorvikResults"),
                  os.path.join(args.folder, "windows"), os.path.join(args.folder, "linked")):
        shutil.rmtree(stale, ignore_errors=True)
    for stale in glob.glob(os.path.join(args.folder, "records", "flow*.json")):
        os.remove(stale)
    status, seconds, peak_kib, reason = measured(
        [args.tool, args.source, staging, "--name", args.name, "--max-frames",
         str(args.max_frames), "--max-width", str(args.max_width)], args.log)
    own_bmf = os.path.join(staging, f"{args.name}.bmf")
    names = frame_names(own_bmf) if status == 0 else []
    if status == 0 and len(names) < 2:
        status, reason = 1, f"the import gave {len(names)} frame(s)"
    if status != 0:
        shutil.rmtree(staging, ignore_errors=True)
        os.makedirs(frames)
        write_whole(bmf, "")
        write_record(args.record, base_record("import", "failed", seconds, peak_kib, reason))
        return 0
    count = len(names)
    os.remove(own_bmf)
    os.rename(staging, frames)
    write_whole(bmf, f"{count} 1\n" + "".join(f"frames/{name}\n" for name in names))
    record = base_record("import", "ok", seconds, peak_kib)
    record["frames"] = count
    write_record(args.record, record)
    return 0


def do_flow(args):
    names = frame_names(os.path.join(args.folder, f"{args.name}.bmf"))
    environment = dict(os.environ)
    environment.setdefault("GLIBC_TUNABLES", FLOW_ALLOCATOR)
    status, seconds, peak_kib, reason = measured(
        [args.program, "--frame", str(args.frame),
         os.path.join(args.folder, names[args.frame]),
         os.path.join(args.folder, names[args.frame + 1]),
         os.path.join(args.folder, "QuorvikResults")], args.log, environment)
    if status != 0:
        print(f"flow of {args.name} frame {args.frame}: {reason}", file=sys.stderr)
        return 1
    write_record(args.record, base_record("flow", "ok", seconds, peak_kib))
    return 0


# Lines of the run's status log that the table reports.
STATUS_NUMBERS = {
    "tracks": r"number of tracks: *([0-9]+)",
    "valid_tracks": r"number of valid tracks: *([0-9]+)",
    "graph_s": r"TIME FOR build Graph: *\[ *([0-9.eE+-]+) sec",
    "split_s": r"TIME FOR split Tracks: *\[ *([0-9.eE+-]+) sec",
    "merge_s": r"TIME FOR mergeClusters: *\[ *([0-9.eE+-]+) sec",
    "computation_s": r"Computation time: *([0-9.eE+-]+) seconds",
}


def run_record(stage, name, argv, results, count, step, log_path):
    """Runs a quorvik run (or a window of one) and makes its record from its status log in the
    result folder results: the counts and stage times, and the flows it computed itself."""
    status, seconds, peak_kib, reason = measured(argv, log_path)
    log = os.path.join(results, f"Status{count}.txt")
    if status == 0 and not os.path.isfile(log):
        status, reason = 1, f"no status log {log}"
    if status != 0:
        return base_record(stage, "failed", seconds, peak_kib, reason)
    with open(log, encoding="utf-8", errors="replace") as stream:
        text = stream.read()
    record = base_record(stage, "ok", seconds, peak_kib)
    record["frames"] = count
    record["step"] = step
    for key, pattern in STATUS_NUMBERS.items():
        match = re.search(pattern, text)
        record[key] = (float(match.group(1)) if key.endswith("_s") else int(match.group(1))) \
            if match else None
    record["flows_by_run"] = len(re.findall(r"^Compute optical flow\. Frame", text, re.M))
    if record["flows_by_run"]:
        print(f"warning: the {stage} of {name} computed {record['flows_by_run']} flow(s) itself",
              file=sys.stderr)
    return record


def do_run(args):
    imported = read_record(args.import_record)
    if imported["status"] != "ok":
        write_record(args.record, base_record("run", "failed", 0, 0, "no frames (import failed)"))
        return 0
    count = imported["frames"]
    bmf = os.path.join(args.folder, f"{args.name}.bmf")
    record = run_record("run", args.name, [args.program, bmf, "0", str(count), str(args.step)],
                        os.path.join(args.folder, "QuorvikResults"), count, args.step, args.log)
    if record["status"] == "ok":
        record["results"] = "QuorvikResults"
        record["tracks_file"] = f"Tracks{count}.dat"
    write_record(args.record, record)
    return 0


def window_options(args):
    return ["--window", str(args.window), "--overlap", str(args.overlap), "--step",
            str(args.step)]


def do_window(args):
    bmf = os.path.join(args.folder, f"{args.name}.bmf")
    record = run_record(
        "window", args.name,
        [args.program, "--run-window", str(args.index), bmf] + window_options(args),
        os.path.join(args.folder, args.window_folder, "QuorvikResults"), args.count, args.step,
        args.log)
    record["window"] = args.window_folder
    write_record(args.record, record)
    return 0


def do_link(args):
    bmf = os.path.join(args.folder, f"{args.name}.bmf")
    windows = [read_record(path) for path in args.window_records]
    failed = [record for record in windows if record["status"] != "ok"]
    if failed:
        write_record(args.record, base_record(
            "link", "failed", 0, 0,
            f"window {failed[0]['window']}: {failed[0]['error']}" if "window" in failed[0]
            else failed[0]["error"]))
        return 0
    status, seconds, peak_kib, reason = measured(
        [args.program, "--link", bmf, os.path.join(args.folder, "linked"), "--jobs",
         str(args.jobs)] + window_options(args), args.log)
    if status != 0:
        write_record(args.record, base_record("link", "failed", seconds, peak_kib, reason))
        return 0
    record = base_record("link", "ok", seconds, peak_kib)
    record["results"] = "linked"
    record["tracks_file"] = None
    record["frames"] = sum(1 for entry in os.listdir(os.path.join(args.folder, "linked"))
                           if re.fullmatch(r"Regions[0-9]{5,}\.png", entry))
    write_record(args.record, record)
    return 0


def do_evaluate(args):
    run = read_record(args.run_record)
    if run["status"] != "ok":
        write_record(args.record, base_record("evaluate", "skipped", 0, 0, "no results"))
        return 0
    # The results of the run, or of the linked windows (no tracks then); records of an earlier
    # version name neither and are a run's.
    results = os.path.join(args.folder, run.get("results", "QuorvikResults"))
    tracks = run.get("tracks_file", f"Tracks{run['frames']}.dat")
    csv_path = os.path.join(args.folder, "scores.csv")
    if os.path.exists(csv_path):
        os.remove(csv_path)
    status, seconds, peak_kib, reason = measured(
        [args.program, "--truth", args.truth, "--results", results, "--first", str(args.first),
         "--name", args.name, "--csv", csv_path]
        + (["--tracks", os.path.join(results, tracks)] if tracks else []), args.log)
    if status == 0:
        with open(csv_path, encoding="utf-8") as stream:
            lines = stream.read().splitlines()
        if len(lines) != 2:
            status, reason = 1, f"{csv_path} does not hold one row of scores"
    if status != 0:
        write_record(args.record, base_record("evaluate", "failed", seconds, peak_kib, reason))
        return 0
    record = base_record("evaluate", "ok", seconds, peak_kib)
    record["scores"] = dict(zip(lines[0].split(","), lines[1].split(",")))
    write_record(args.record, record)
    return 0


def main():
    parser = argparse.ArgumentParser(description="One stage of one sequence of a data set run.")
    parser.add_argument("stage", choices=["import", "flow", "run", "window", "link", "evaluate"])
    for option in ("--tool", "--program", "--source", "--folder", "--name", "--truth",
                   "--import-record", "--run-record", "--record", "--log", "--window-folder"):
        parser.add_argument(option)
    for option in ("--max-frames", "--max-width", "--frame", "--step", "--first", "--index",
                   "--window", "--overlap", "--count", "--jobs"):
        parser.add_argument(option, type=int)
    parser.add_argument("--window-records", nargs="*", default=[])
    args = parser.parse_args()
    stage = {"import": do_import, "flow": do_flow, "run": do_run, "window": do_window,
             "link": do_link, "evaluate": do_evaluate}
    try:
        return stage[args.stage](args)
    except Interrupted as error:
        print(f"{args.stage} of {args.name}: {error}", file=sys.stderr)
        return 1
    except KeyboardInterrupt:
        print(f"{args.stage} of {args.name}: interrupted", file=sys.stderr)
        return 130


if __name__ == "__main__":
    sys.exit(main())

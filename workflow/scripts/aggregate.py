#!/usr/bin/env python3
"""The table and the plot of a data set run, in two steps (paths relative to the workflow's
output folder):

  aggregate.py row --sequence SEQ --output sequences/SEQ/row.json [RECORD.json...]
  aggregate.py table --title TITLE [--published FILE] --csv FILE --markdown FILE --plot FILE
                     ROW.json...

A row, from the records of the sequence's stages (sequences/SEQ/records/*.json): its status
(scored; unscored: no ground truth; failed: with the stage and the reason), J and F of its own
moving-object masks, the oracle's J, the trajectories, the seconds of every stage (flow: the
sum over the frame-pair jobs; graph, split and merge: from the run's status log, inside the
run's seconds) and the peak memory of its largest process. A sequence segmented in windows
sums its windows (trajectories, flows they computed, and the seconds of their runs with the
linking's as run_s) and counts them (windows). The table lists the rows in the
order given; the plot shows each sequence's J beside the published values of a CSV
(sequence, method, J). Every output is written whole (temporary name, then renamed).
"""

import argparse
import csv
import io
import json
import os
import re
import sys

from datasets import clean_name

COLUMNS = ["sequence", "status", "frames", "J", "F", "J_recall", "J_decay", "oracle_J",
           "trajectories",
           "valid_trajectories", "import_s", "flow_s", "run_s", "graph_s", "split_s", "merge_s",
           "evaluate_s", "peak_MiB", "flows_by_run", "windows", "error"]

# Columns of measures: three decimals, and a mean over the scored sequences.
MEASURES = ("J", "F", "J_recall", "J_decay", "oracle_J")


def load(path):
    with open(path, encoding="utf-8") as stream:
        return json.load(stream)


def number(text):
    try:
        return float(text)
    except (TypeError, ValueError):
        return None


def row_of(seq, window_records=()):
    """The table row of one sequence, from whichever of its records exist; window_records: the
    records of its windows, when it was segmented in windows."""
    folder = os.path.join("sequences", seq, "records")
    row = {column: "" for column in COLUMNS}
    row["sequence"] = seq
    records = []

    def stage(name):
        path = os.path.join(folder, f"{name}.json")
        if not os.path.isfile(path):
            return None
        record = load(path)
        records.append(record)
        return record

    imported = stage("import")
    if imported is None or imported["status"] != "ok":
        row["status"] = "failed"
        row["error"] = "import: " + (imported["error"] if imported else "no record")
    else:
        row["frames"] = imported["frames"]
        flows = [load(os.path.join(folder, f"flow{t:03d}.json"))
                 for t in range(imported["frames"] - 1)]
        records += flows
        row["flow_s"] = sum(flow["seconds"] for flow in flows)
        windows = [load(path) for path in window_records]
        link = stage("link") if windows else None
        run = stage("run") if not windows else combined(windows, link)
        records += windows
        evaluation = stage("evaluate")
        if run is None or run["status"] != "ok":
            row["status"] = "failed"
            row["error"] = ("link: " if windows else "run: ") + (run["error"] if run else
                                                                 "no record")
        else:
            row["trajectories"] = run["tracks"]
            row["valid_trajectories"] = run["valid_tracks"]
            for key in ("graph_s", "split_s", "merge_s"):
                row[key] = run[key]
            row["flows_by_run"] = run["flows_by_run"]
            row["windows"] = len(windows) if windows else ""
            if evaluation is None:
                row["status"] = "unscored"
            elif evaluation["status"] != "ok":
                row["status"] = "failed"
                row["error"] = "evaluate: " + evaluation["error"]
            else:
                row["status"] = "scored"
                scores = evaluation["scores"]
                for column, key in (("J", "mask_J"), ("F", "mask_F"),
                                    ("J_recall", "mask_J_recall"), ("J_decay", "mask_J_decay"),
                                    ("oracle_J", "oracle_J")):
                    row[column] = scores.get(key, "")
        for name, record in (("run", run), ("evaluate", evaluation)):
            if record is not None and record["status"] != "skipped":
                row[f"{name}_s"] = record["seconds"]
    if imported is not None:
        row["import_s"] = imported["seconds"]
    peaks = [record["peak_kib"] for record in records if record.get("peak_kib")]
    row["peak_MiB"] = max(peaks) / 1024 if peaks else ""
    return row


def combined(windows, link):
    """The windows of a sequence and their linking as one run: counts and seconds summed, the
    first failure as the failure."""
    if link is None:
        return None
    for record in windows + [link]:
        if record["status"] != "ok":
            error = record["error"]
            if record.get("window"):
                error = f"window {record['window']}: {error}"
            return {"status": "failed", "error": error, "seconds": record["seconds"]}
    run = {"status": "ok", "error": "", "seconds": sum(r["seconds"] for r in windows + [link])}
    for key in ("tracks", "valid_tracks", "flows_by_run"):
        run[key] = sum(r[key] or 0 for r in windows)
    for key in ("graph_s", "split_s", "merge_s"):
        run[key] = sum(r[key] or 0.0 for r in windows)
    return run


def read_published(path, sequences):
    """{method: {sequence: J}} of the published CSV, for the sequences of this data set."""
    if not path:
        return {}
    try:
        with open(path, encoding="utf-8", newline="") as stream:
            rows = list(csv.DictReader(stream))
    except (OSError, UnicodeDecodeError, csv.Error) as error:
        print(f"aggregate: published values of {path} ignored: {error}", file=sys.stderr)
        return {}
    if not rows or not {"sequence", "method", "J"} <= set(rows[0]):
        print(f"aggregate: published values of {path} ignored: expected the columns "
              "sequence, method, J", file=sys.stderr)
        return {}
    values, skipped = [], 0
    for row in rows:
        value = number(row.get("J"))
        name = clean_name((row.get("sequence") or "").strip())
        method = (row.get("method") or "").strip()
        if value is None or value < 0 or not method:
            skipped += 1
        elif name in sequences:
            values.append((method, name, value))
    if skipped:
        print(f"aggregate: {skipped} row(s) of {path} without a method or a J ignored",
              file=sys.stderr)
    percent = any(value > 1 for _, _, value in values)
    published = {}
    for method, name, value in values:
        published.setdefault(method, {})[name] = value / 100 if percent else value
    return published


def write_whole(path, data):
    temporary = f"{path}.part{os.getpid()}"
    with open(temporary, "wb") as stream:
        stream.write(data)
    os.replace(temporary, path)


def csv_text(rows):
    stream = io.StringIO()
    writer = csv.writer(stream, lineterminator="\n")
    writer.writerow(COLUMNS)
    for row in rows:
        writer.writerow([format_csv(column, row[column]) for column in COLUMNS])
    return stream.getvalue()


def format_csv(column, value):
    if isinstance(value, float):
        return f"{value:.3f}" if column.endswith("_s") else f"{value:.1f}"
    return str(value)


def format_markdown(column, value):
    if value == "" or value is None:
        return ""
    if column in MEASURES:
        return f"{float(value):.3f}"
    if column.endswith("_s"):
        return f"{float(value):.2f}" if float(value) < 10 else f"{float(value):.1f}"
    if column == "peak_MiB":
        return f"{float(value):.0f}"
    return str(value).replace("|", "\\|")


def markdown_text(title, rows):
    lines = [f"# {title}", "", "| " + " | ".join(COLUMNS) + " |",
             "|" + "|".join("---" for _ in COLUMNS) + "|"]
    for row in rows:
        lines.append("| " + " | ".join(format_markdown(c, row[c]) for c in COLUMNS) + " |")
    scored = [row for row in rows if row["status"] == "scored"]
    if scored:
        mean = {column: "" for column in COLUMNS}
        mean["sequence"] = f"mean of {len(scored)}"
        for column in MEASURES:
            values = [number(row[column]) for row in scored if number(row[column]) is not None]
            mean[column] = sum(values) / len(values) if values else ""
        lines.append("| " + " | ".join(format_markdown(c, mean[c]) for c in COLUMNS) + " |")
    failed = sum(1 for row in rows if row["status"] == "failed")
    lines += ["", f"{len(rows)} sequence(s): {len(scored)} scored, {failed} failed. J and F: "
              "the run's own moving-object masks; J_recall: the share of frames with J above 0.5; "
              "J_decay: mean J of the first quarter of frames minus the last quarter; oracle_J: "
              "the best set of regions (regions by their share on the objects, best prefix). "
              "flow_s: the sum over the frame-pair jobs; graph_s, split_s and merge_s are part "
              "of run_s. peak_MiB: the largest process of the sequence's jobs.", ""]
    return "\n".join(lines)


def plot_png(title, rows, published):
    import matplotlib
    matplotlib.use("Agg")
    from matplotlib import pyplot

    names = [row["sequence"] for row in rows]
    series = [("quorvik", {row["sequence"]: number(row["J"]) for row in rows
                           if row["status"] == "scored" and number(row["J"]) is not None})]
    series += sorted(published.items())
    width = 0.8 / len(series)
    # The legend stands right of the bars, where it hides none of them.
    figure, axes = pyplot.subplots(figsize=(max(6.0, 1.0 + 0.9 * len(names)) + 3.0, 4.5), dpi=100)
    for index, (label, values) in enumerate(series):
        xs = [i + (index - (len(series) - 1) / 2) * width for i, n in enumerate(names)
              if n in values]
        ys = [values[n] for n in names if n in values]
        mean = f" (mean {sum(ys) / len(ys):.3f})" if ys else ""
        bars = axes.bar(xs, ys, width, label=label + mean)
        # Numbers on our own bars only: on every bar of many series they overlap.
        if index == 0:
            axes.bar_label(bars, fmt="%.2f", fontsize=7, padding=1)
    for i, row in enumerate(rows):
        if row["status"] != "scored":
            axes.text(i, 0.02, row["status"], rotation=90, ha="center", va="bottom", fontsize=8)
    axes.set_xticks(range(len(names)))
    axes.set_xticklabels(names, rotation=45, ha="right")
    axes.set_xlim(-0.6, len(names) - 0.4)
    axes.set_ylim(0, 1)
    axes.set_ylabel("J (region similarity)")
    axes.set_title(title)
    axes.legend(loc="upper left", bbox_to_anchor=(1.01, 1.0), fontsize=8)
    figure.tight_layout()
    stream = io.BytesIO()
    figure.savefig(stream, format="png", metadata={"Software": None})
    pyplot.close(figure)
    return stream.getvalue()


def main():
    parser = argparse.ArgumentParser(description="Table and plot of a data set run.")
    commands = parser.add_subparsers(dest="command", required=True)
    row = commands.add_parser("row", help="the row of one sequence")
    row.add_argument("--sequence", required=True)
    row.add_argument("--output", required=True)
    row.add_argument("records", nargs="*", help="the sequence's records (its windows' count)")
    table = commands.add_parser("table", help="the table and the plot of all rows")
    table.add_argument("--title", required=True)
    table.add_argument("--published", default="")
    table.add_argument("--csv", required=True)
    table.add_argument("--markdown", required=True)
    table.add_argument("--plot", required=True)
    table.add_argument("rows", nargs="+")
    args = parser.parse_args()
    if args.command == "row":
        window_records = [path for path in args.records
                          if re.fullmatch(r"window[0-9]+\.json", os.path.basename(path))]
        text = json.dumps(row_of(args.sequence, window_records), indent=1, sort_keys=True) + "\n"
        write_whole(args.output, text.encode())
        return 0
    rows = [load(path) for path in args.rows]
    published = read_published(args.published, {row["sequence"] for row in rows})
    for path in (args.csv, args.markdown, args.plot):
        os.makedirs(os.path.dirname(path) or ".", exist_ok=True)
    write_whole(args.plot, plot_png(args.title, rows, published))
    write_whole(args.markdown, markdown_text(args.title, rows).encode())
    write_whole(args.csv, csv_text(rows).encode())
    return 0


if __name__ == "__main__":
    sys.exit(main())

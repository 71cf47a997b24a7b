#!/usr/bin/env python3
"""Finds the sequences of a data set folder, in one of three layouts, checked in this order:

  davis   JPEGImages/480p/SEQ/*.jpg, ground truth (optional) in Annotations/480p/SEQ/NNNNN.png
  vos     SEQ/frames/* (pictures), ground truth (optional) in SEQ/masks/NNNNN.png
  videos  VIDEO.mp4 (or any other video file ffmpeg reads) at the top, ground truth
          (optional) in VIDEO/masks/NNNNN.png beside it (VIDEO: the file name without its
          extension)

A sequence's name is its folder's or its video's name, with every character other than
letters, digits, '_' and '-' replaced by '_' (quorvik cuts names at the first dot).

  datasets.py DATASET_DIR [--sequences A,B,...]

prints the layout and the sequences found, or one line naming the problem (exit status 1).
"""

import os
import re
import sys

# What tools/import-video takes from a folder of pictures, in its order (by name, bytewise).
PICTURE_EXTENSIONS = (".png", ".jpg", ".jpeg", ".bmp", ".ppm", ".pgm", ".tif", ".tiff")
VIDEO_EXTENSIONS = (".mp4", ".m4v", ".mov", ".avi", ".mkv", ".webm", ".mpg", ".mpeg", ".ogv",
                    ".wmv", ".flv", ".ts", ".mts", ".m2ts", ".3gp", ".gif", ".y4m")
TRUTH_NAME = re.compile(r"^[0-9]{5}\.png$")
LAYOUTS = "davis (JPEGImages/480p/SEQ/*.jpg), vos (SEQ/frames/) or a folder of video files"


class DatasetError(Exception):
    """A data set folder that cannot be used, with a one-line reason."""


class Sequence:
    """One sequence: its name, where its frames come from and its ground truth, if any."""

    def __init__(self, name, source, truth):
        self.name = name
        self.source = source  # a folder of pictures or a video file (absolute)
        self.truth = truth  # a folder of NNNNN.png, or None
        self.is_video = os.path.isfile(source)

    def pictures(self, limit=0):
        """The pictures the import reads (all of them for a video: the file itself)."""
        if self.is_video:
            return [self.source]
        names = pictures_in(self.source)
        if limit > 0:
            names = names[:limit]
        return [os.path.join(self.source, name) for name in names]

    def first_frame(self):
        """The absolute number of the first frame: the number that names the first picture
        (00000.jpg -> 0, 00012.jpg -> 12), else 0. Result t is scored against truth t + it."""
        if self.is_video:
            return 0
        names = pictures_in(self.source)
        stem = os.path.splitext(names[0])[0] if names else ""
        return int(stem) if stem.isdigit() else 0


def pictures_in(folder):
    """The picture files directly in a folder, in name order (bytewise, as the import)."""
    try:
        entries = os.listdir(folder)
    except OSError:
        return []
    names = [name for name in entries
             if name.lower().endswith(PICTURE_EXTENSIONS)
             and os.path.isfile(os.path.join(folder, name))]
    return sorted(names, key=lambda name: name.encode())


def truth_folder(folder):
    """folder if it holds at least one NNNNN.png, else None."""
    try:
        if any(TRUTH_NAME.match(name) for name in os.listdir(folder)):
            return folder
    except OSError:
        pass
    return None


def truth_files(folder):
    """The ground-truth pictures NNNNN.png of a folder (none for None), in name order."""
    if not folder:
        return []
    return [os.path.join(folder, name) for name in sorted(os.listdir(folder))
            if TRUTH_NAME.match(name)]


def clean_name(name):
    cleaned = re.sub(r"[^A-Za-z0-9_-]", "_", name)
    return cleaned or "video"


def subfolders(folder):
    return sorted((name for name in os.listdir(folder)
                   if not name.startswith(".") and os.path.isdir(os.path.join(folder, name))),
                  key=lambda name: name.encode())


def find_sequences(root):
    """(layout, [Sequence]) of the data set folder root; DatasetError if there is none."""
    if not os.path.isdir(root):
        raise DatasetError(f"data set folder '{root}' does not exist or is not a folder")
    root = os.path.abspath(root)
    davis = os.path.join(root, "JPEGImages", "480p")
    if os.path.isdir(davis):
        truth_root = os.path.join(root, "Annotations", "480p")
        return "davis", [Sequence(name, os.path.join(davis, name),
                                  truth_folder(os.path.join(truth_root, name)))
                         for name in subfolders(davis)]
    vos = [name for name in subfolders(root) if os.path.isdir(os.path.join(root, name, "frames"))]
    if vos:
        return "vos", [Sequence(name, os.path.join(root, name, "frames"),
                                truth_folder(os.path.join(root, name, "masks")))
                       for name in vos]
    videos = sorted((name for name in os.listdir(root)
                     if not name.startswith(".") and name.lower().endswith(VIDEO_EXTENSIONS)
                     and os.path.isfile(os.path.join(root, name))), key=lambda name: name.encode())
    if videos:
        sequences = []
        for name in videos:
            stem = os.path.splitext(name)[0]
            sequences.append(Sequence(stem, os.path.join(root, name),
                                      truth_folder(os.path.join(root, stem, "masks"))))
        return "videos", sequences
    raise DatasetError(f"no sequences in '{root}': expected {LAYOUTS}")


def load(root, only=None):
    """The layout and the sequences by their cleaned names, in name order; only (a list or a
    comma-separated string of names) keeps those. DatasetError on any problem."""
    layout, found = find_sequences(root)
    sequences = {}
    for sequence in found:
        original = sequence.name
        sequence.name = clean_name(original)
        if sequence.name in sequences:
            raise DatasetError(f"two sequences of '{root}' are both named '{sequence.name}' "
                               f"(from '{sequences[sequence.name].source}' and "
                               f"'{sequence.source}')")
        sequences[sequence.name] = sequence
    if isinstance(only, str):
        only = [name.strip() for name in only.split(",") if name.strip()]
    if only:
        unknown = [name for name in only if name not in sequences]
        if unknown:
            raise DatasetError(f"no sequence named {', '.join(unknown)} in '{root}' "
                               f"(it has {', '.join(sequences) or 'none'})")
        sequences = {name: sequences[name] for name in sorted(set(only), key=str.encode)}
    if not sequences:
        raise DatasetError(f"no sequences in '{root}': expected {LAYOUTS}")
    return layout, sequences


def main(argv):
    if len(argv) not in (2, 4) or (len(argv) == 4 and argv[2] != "--sequences"):
        print("usage: datasets.py DATASET_DIR [--sequences A,B,...]", file=sys.stderr)
        return 2
    try:
        layout, sequences = load(argv[1], argv[3] if len(argv) == 4 else None)
    except (DatasetError, OSError) as error:
        print(f"dataset: {error}", file=sys.stderr)
        return 1
    scored = sum(1 for sequence in sequences.values() if sequence.truth)
    print(f"layout {layout}: {len(sequences)} sequence(s), {scored} with ground truth: "
          f"{' '.join(sequences)}")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))

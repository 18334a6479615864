#!/usr/bin/env python3
"""Makes the benchmarks' tree of small files fast, in one process.

  make_tree.py ROOT GROUPS PICTURES_DIR

ROOT/group-G/folder-FF/ for G in [0, GROUPS) and FF in 00..99, each holding
100 files: note-NN.txt, small text files that are no media; in every tenth
folder the first three are picture-0.jpg .. picture-2.jpg instead, moved in
from PICTURES_DIR (picture-001.jpg, picture-002.jpg, ... in that order, 3 *
GROUPS * 10 of them); with PICTURES_DIR "-", every file is a note. GROUPS=10 gives 100,000 files in 1,000 folders,
GROUPS=100 1,000,000 in 10,000.
"""
import os
import sys

root, groups, pictures = sys.argv[1], int(sys.argv[2]), sys.argv[3]
picture = 1
flags = os.O_WRONLY | os.O_CREAT | os.O_TRUNC
for g in range(groups):
    for f in range(100):
        folder = f"{root}/group-{g}/folder-{f:02d}"
        os.makedirs(folder)
        first_note = 0
        if f % 10 == 0 and pictures != "-":
            for n in range(3):
                os.rename(f"{pictures}/picture-{picture:03d}.jpg", f"{folder}/picture-{n}.jpg")
                picture += 1
            first_note = 3
        for n in range(first_note, 100):
            fd = os.open(f"{folder}/note-{n:02d}.txt", flags, 0o644)
            os.write(fd, f"note {n:02d} of group {g}, folder {f:02d}\n".encode())
            os.close(fd)

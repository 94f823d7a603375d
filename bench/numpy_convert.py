#!/usr/bin/env python3
"""The numpy baseline of the benchmark: the grid values parsed by numpy's text
reader, made big-endian and written after a header of the data file's size.
Usage: numpy_convert.py input output"""
import sys

import numpy as np


def main():
    data = open(sys.argv[1], "rb").read()
    start = data.index(b"GRD ")
    end = data.index(b"\n", start) + 1
    fields = data[start:end].split()
    nda = int(fields[fields.index(b"NDA") + 1]) if b"NDA" in fields else None
    values = np.fromstring(data[end:].decode("ascii"), dtype=np.int32, sep=" ")
    if nda is not None:
        values[values == nda] = 0x7FFFFFF8
    with open(sys.argv[2], "wb") as out:
        out.write(bytes(834))
        values.astype(">i4").tofile(out)


if __name__ == "__main__":
    main()

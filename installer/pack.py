#!/usr/bin/env python3
"""The installer's packaging step.

constants IMAGE_SIZE HEADER MANIFEST NAME=FILE...
    Writes the header compiled into the installer: the chunk lengths (entry 0
    is IMAGE_SIZE, the room for the program image), the three position-class
    sums expected of each payload file, its installed name and whether it is
    a program; and MANIFEST, the same figures for the pack step to check.

pack IMAGE_SIZE IMAGE MANIFEST OUTPUT NAME=FILE...
    Writes OUTPUT: the program image padded with zeros to IMAGE_SIZE bytes,
    then the payload files in the given order. Fails when the image is larger
    than IMAGE_SIZE or a payload file is not what the installer was compiled
    with.
"""
import json
import os
import sys

SUM_LIMIT = 2**31  # the installer adds its sums in 32-bit signed integers


def fail(message):
    sys.stderr.write("installer packaging: %s\n" % message)
    sys.exit(1)


def hashz(data):
    """S0 over even positions, S1 over odd ones, S2 over multiples of 3,
    positions counted from 1."""
    return [sum(data[1::2]), sum(data[0::2]), sum(data[2::3])]


def payload(args):
    files = []
    for arg in args:
        name, _, path = arg.partition("=")
        if not name or not path:
            fail("payload entry %r is not NAME=FILE" % arg)
        try:
            data = open(path, "rb").read()
        except OSError as e:
            fail("cannot read payload file %s: %s" % (path, e))
        files.append((name, path, data))
    return files


def describe(files):
    chunks = []
    for name, path, data in files:
        if not data:
            fail("payload file %s is empty" % path)
        # Any chunk read under this length keeps its sums below 2^31.
        if len(data) * 255 >= SUM_LIMIT:
            fail("payload file %s is too large for 32-bit sums" % path)
        chunks.append(
            {
                "name": name,
                "length": len(data),
                "hashz": hashz(data),
                "executable": os.access(path, os.X_OK) and not name.endswith(".txt"),
            }
        )
    seen = {}
    for k, c in enumerate(chunks, start=1):
        key = tuple(c["hashz"])
        if key in seen:
            fail("payload chunks %d and %d have the same sums; neither could pass" % (seen[key], k))
        seen[key] = k
    return chunks


def write_if_changed(path, text):
    try:
        if open(path).read() == text:
            return
    except OSError:
        pass
    with open(path + ".part", "w") as f:
        f.write(text)
    os.replace(path + ".part", path)


def constants(image_size, header, manifest, args):
    chunks = describe(payload(args))
    lengths = [image_size] + [c["length"] for c in chunks]
    sums = [[0, 0, 0]] + [c["hashz"] for c in chunks]
    names = [""] + [c["name"] for c in chunks]
    programs = [False] + [c["executable"] for c in chunks]
    text = (
        "// Made by the packaging step from the payload files; do not edit.\n"
        "#pragma once\n#include <cstdint>\n\n"
        "namespace installer {\nnamespace packaged {\n"
        "constexpr int kChunkCount = %d;\n"
        "constexpr std::int32_t kChunkLengths[kChunkCount] = {%s};\n"
        "constexpr std::int32_t kExpectedHashz[kChunkCount][3] = {%s};\n"
        "constexpr const char* kChunkNames[kChunkCount] = {%s};\n"
        "constexpr bool kChunkExecutable[kChunkCount] = {%s};\n"
        "} // namespace packaged\n} // namespace installer\n"
        % (
            len(lengths),
            ", ".join(str(n) for n in lengths),
            ", ".join("{%d, %d, %d}" % tuple(s) for s in sums),
            ", ".join('"%s"' % n for n in names),
            ", ".join("true" if p else "false" for p in programs),
        )
    )
    write_if_changed(header, text)
    write_if_changed(manifest, json.dumps({"image": image_size, "chunks": chunks}, indent=1) + "\n")


def pack(image_size, image_path, manifest_path, output, args):
    image = open(image_path, "rb").read()
    if len(image) > image_size:
        fail(
            "the program image %s is %d bytes, more than the %d it has room for"
            % (image_path, len(image), image_size)
        )
    compiled = json.load(open(manifest_path))
    files = payload(args)
    chunks = describe(files)
    if compiled["image"] != image_size or compiled["chunks"] != chunks:
        fail("the payload files differ from those the installer was compiled with; build again")
    tmp = output + ".part"
    with open(tmp, "wb") as f:
        f.write(image + b"\0" * (image_size - len(image)))
        for _, _, data in files:
            f.write(data)
    os.chmod(tmp, 0o755)
    os.replace(tmp, output)
    print(
        "installer: image %d of %d bytes, %d payload files, %d bytes in all"
        % (len(image), image_size, len(files), os.path.getsize(output))
    )


def main():
    if len(sys.argv) >= 5 and sys.argv[1] == "constants":
        constants(int(sys.argv[2]), sys.argv[3], sys.argv[4], sys.argv[5:])
    elif len(sys.argv) >= 6 and sys.argv[1] == "pack":
        pack(int(sys.argv[2]), sys.argv[3], sys.argv[4], sys.argv[5], sys.argv[6:])
    else:
        fail(__doc__)


if __name__ == "__main__":
    main()

#!/usr/bin/env python3
"""Reads a .ico back byte by byte and checks it holds what the agent expects:
16, 24, 32, 48, 64 and 128 px as 32-bit DIBs and 256 px as a PNG, nothing else.

    check_icon.py FILE.ico

Prints the directory as read, and exits 1 with the reasons when it does not fit.
"""

import struct
import sys
import zlib

DIB_SIZES = (16, 24, 32, 48, 64, 128)
PNG_SIZE = 256
PNG_SIGNATURE = b"\x89PNG\r\n\x1a\n"


def check_dib(data, size, problems):
    if len(data) < 40:
        problems.append("%d px: %d bytes, shorter than a BITMAPINFOHEADER" % (size, len(data)))
        return
    (header, width, height, planes, bits, compression, image_size, _, _, _,
     _) = struct.unpack_from("<IiiHHIIiiII", data)
    # The height of an icon's DIB counts the colour image and the AND mask.
    want = (40, size, 2 * size, 1, 32, 0)
    got = (header, width, height, planes, bits, compression)
    if got != want:
        problems.append("%d px: header (size, width, height, planes, bits, compression) "
                        "is %s, expected %s" % (size, got, want))
        return
    mask_stride = ((size + 31) // 32) * 4
    expected_len = 40 + size * size * 4 + mask_stride * size
    if len(data) != expected_len:
        problems.append("%d px: %d bytes, expected %d" % (size, len(data), expected_len))
        return
    alphas = data[40 + 3:40 + size * size * 4:4]
    if max(alphas) != 255 or min(alphas) != 0:
        problems.append("%d px: alpha runs %d..%d, expected an opaque shield on a transparent "
                        "background" % (size, min(alphas), max(alphas)))
    # Readers without alpha use the AND mask: it must be set exactly where alpha is 0.
    mask = data[40 + size * size * 4:]
    for row in range(size):
        for x in range(size):
            transparent = alphas[row * size + x] == 0
            bit = (mask[row * mask_stride + x // 8] >> (7 - x % 8)) & 1
            if bit != transparent:
                problems.append("%d px: AND mask bit %d at row %d, column %d, alpha %d" %
                                (size, bit, row, x, alphas[row * size + x]))
                return


def check_png(data, size, problems):
    if not data.startswith(PNG_SIGNATURE):
        problems.append("%d px: does not start with the PNG signature" % size)
        return
    pos, chunks, idat = 8, [], b""
    while pos + 12 <= len(data):
        length, kind = struct.unpack_from(">I4s", data, pos)
        if pos + 12 + length > len(data):
            problems.append("%d px: chunk %r runs past the end" % (size, kind))
            return
        body = data[pos + 4:pos + 8 + length]
        (crc,) = struct.unpack_from(">I", data, pos + 8 + length)
        if zlib.crc32(body) != crc:
            problems.append("%d px: bad CRC in chunk %r" % (size, kind))
            return
        chunks.append(kind)
        if kind == b"IHDR":
            ihdr = struct.unpack(">IIBBBBB", body[4:])
        elif kind == b"IDAT":
            idat += body[4:]
        pos += 12 + length  # length, type, data, CRC
    if not chunks or chunks[0] != b"IHDR" or chunks[-1] != b"IEND":
        problems.append("%d px: chunks %r" % (size, chunks))
        return
    if ihdr != (size, size, 8, 6, 0, 0, 0):
        problems.append("%d px: IHDR %r, expected %dx%d 8-bit RGBA" % (size, ihdr, size, size))
        return
    if len(zlib.decompress(idat)) != size * (1 + size * 4):
        problems.append("%d px: image data has the wrong length" % size)


def main(argv):
    if len(argv) != 2:
        sys.stderr.write("usage: check_icon.py FILE.ico\n")
        return 2
    with open(argv[1], "rb") as f:
        blob = f.read()
    problems = []
    reserved, kind, count = struct.unpack_from("<HHH", blob)
    if (reserved, kind) != (0, 1):
        problems.append("ICONDIR reserved/type %d/%d, expected 0/1" % (reserved, kind))
    print("%d images" % count)
    print("  size  colours  planes  bits   bytes  offset  format")
    seen, end = [], 6 + 16 * count
    for i in range(count):
        w, h, colours, zero, planes, bits, length, offset = struct.unpack_from(
            "<BBBBHHII", blob, 6 + 16 * i)
        size = w or 256  # 0 stands for 256
        data = blob[offset:offset + length]
        form = "PNG" if data.startswith(PNG_SIGNATURE) else "DIB"
        print("  %4d  %7d  %6d  %4d  %6d  %6d  %s" % (size, colours, planes, bits, length,
                                                     offset, form))
        if (h or 256) != size or colours != 0 or zero != 0 or planes != 1 or bits != 32:
            problems.append("entry %d: %dx%d, %d colours, reserved %d, %d planes, %d bits" %
                            (i, w, h, colours, zero, planes, bits))
        if offset != end or offset + length > len(blob):
            problems.append("entry %d: data at %d..%d, expected to start at %d within %d bytes" %
                            (i, offset, offset + length, end, len(blob)))
        end = offset + length
        seen.append(size)
        if size == PNG_SIZE:
            check_png(data, size, problems)
        else:
            check_dib(data, size, problems)
    if end != len(blob):
        problems.append("%d bytes after the last image" % (len(blob) - end))
    if sorted(seen) != sorted(DIB_SIZES + (PNG_SIZE,)):
        problems.append("sizes %s, expected %s" % (seen, list(DIB_SIZES + (PNG_SIZE,))))
    for problem in problems:
        print("error: " + problem, file=sys.stderr)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))

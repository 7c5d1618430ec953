"""Writes PNG files from rows of pixel tuples, with the standard library only."""
import struct
import zlib


def write_png(path, pixels):
    """pixels: rows of (r, g, b) or (r, g, b, a) tuples, all rows the same length."""
    h = len(pixels)
    w = len(pixels[0])
    channels = len(pixels[0][0])
    colour_type = 6 if channels == 4 else 2
    raw = b"".join(b"\x00" + bytes(c for px in row for c in px) for row in pixels)

    def chunk(kind, data):
        c = kind + data
        return struct.pack(">I", len(data)) + c + struct.pack(">I", zlib.crc32(c) & 0xFFFFFFFF)

    data = b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", w, h, 8, colour_type, 0, 0, 0))
    data += chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b"")
    with open(path, "wb") as f:
        f.write(data)

"""Short texts and notebook tables for measurements and results."""

from __future__ import annotations

import base64
import html
import struct
import zlib

import numpy as np

PREVIEW_PIXELS = 160  # longer side of a notebook preview


def measurement_repr(m) -> str:
    w = m.window
    kind = f"{w.width}x{w.height} at ({w.x}, {w.y})" if m.phase is not None else "no phase map"
    name = f" {m.path!r}" if m.path else ""
    valid = ""
    if m.phase is not None:
        valid = f", {int(m.valid.sum())} valid"
    return f"<harnix.Measurement{name}: {kind}{valid}>"


def _png(grey: np.ndarray, mask: np.ndarray) -> bytes:
    """An 8-bit grey-and-alpha PNG of `grey` (rows first), transparent where `mask` is False."""
    h, w = grey.shape
    pixels = np.empty((h, w, 2), np.uint8)
    pixels[..., 0] = grey
    pixels[..., 1] = np.where(mask, 255, 0)
    raw = b"".join(b"\0" + pixels[r].tobytes() for r in range(h))

    def chunk(kind: bytes, data: bytes) -> bytes:
        return struct.pack(">I", len(data)) + kind + data + struct.pack(
            ">I", zlib.crc32(kind + data) & 0xFFFFFFFF)

    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", w, h, 8, 4, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(raw, 6)) + chunk(b"IEND", b""))


def preview_png(m) -> bytes:
    """A small grey preview of the valid values, 0.5 to 99.5 percentiles from black to white."""
    phase = m.phase
    step = max(1, -(-max(phase.shape) // PREVIEW_PIXELS))
    sub = phase[::step, ::step]
    valid = sub < 2147483640
    values = sub[valid].astype(np.float64)
    grey = np.zeros(sub.shape, np.uint8)
    if values.size:
        lo, hi = np.percentile(values, [0.5, 99.5])
        scale = 255.0 / (hi - lo) if hi > lo else 0.0
        grey[valid] = np.clip((values - lo) * scale, 0, 255).astype(np.uint8)
    return _png(grey, valid)


def _table(rows) -> str:
    cells = "".join(f"<tr><th style='text-align:left'>{html.escape(k)}</th>"
                    f"<td style='text-align:left'>{html.escape(str(v))}</td></tr>" for k, v in rows)
    return f"<table>{cells}</table>"


def _image(m) -> str:
    data = base64.b64encode(preview_png(m)).decode("ascii")
    return f"<img src='data:image/png;base64,{data}' alt='preview'>"


def measurement_html(m) -> str:
    rows = [("path", m.path or "(in memory)"), ("window", tuple(m.window))]
    if m.phase is not None:
        rows.append(("valid points", int(m.valid.sum())))
    rows += [("metres per count", m.metres_per_count), ("spacing (m)", m.spacing),
             ("comment", m.attributes["comment"])]
    image = _image(m) if m.phase is not None and m.phase.size else ""
    return f"<div style='display:flex;gap:1em'>{_table(rows)}{image}</div>"


def result_html(r) -> str:
    rows = [("inputs", len(r.paths)), ("min_count", r.min_count)]
    for name in ("average", "deviation", "count", "rejected"):
        m = getattr(r, name)
        if m is not None:
            rows.append((name, f"{m.window.width}x{m.window.height}, {int(m.valid.sum())} valid"))
    worst = r.worst()
    if worst is not None:
        rows.append(("worst input", f"{worst['file']} (rms {worst['rms_diff_m']:.3g} m)"))
    image = _image(r.average) if r.average is not None else ""
    return f"<div style='display:flex;gap:1em'>{_table(rows)}{image}</div>"

#!/usr/bin/env python3
"""Draws the launcher's pictures into a folder as 24-bit BMP files.

    draw.py OUTPUT_FOLDER

ImageMagick's convert paints the faces; this script owns the exact pixel rules the windows depend on:
the main window's cut-out margin (its pixel set is fixed, so it is computed here, not drawn), the key
colours, and the button pictures, which are opaque and already carry the background behind them.
"""
import math
import os
import subprocess
import sys

W, H = 800, 599
KEY = (0, 166, 80)                 # main window: cut away wherever the background has it
KEY_COUNT = 18882                  # the skin's margin, pixel for pixel
OPTIONS_W, OPTIONS_H = 220, 300
OPTIONS_KEY = (200, 147, 83)       # options window: only its top-left pixel

# name, left, top, width, height (the main window's button table)
BUTTONS = [
    ("play", 686, 485, 96, 99),
    ("check", 575, 506, 101, 27),
    ("cancel", 575, 535, 101, 27),
    ("close", 768, 15, 20, 20),
    ("options", 715, 18, 52, 15),
]
STATES = ["normal", "hover", "pressed", "disabled"]


def font(pattern):
    return subprocess.run(["fc-match", "-f", "%{file}", pattern], check=True,
                          capture_output=True, text=True).stdout.strip()


SERIF_BOLD = font("DejaVu Serif:bold")
SANS_BOLD = font("DejaVu Sans:bold")
SANS_COND_BOLD = font("DejaVu Sans Condensed:bold")


class Picture:
    def __init__(self, width, height, rgb):
        self.width, self.height, self.rgb = width, height, bytearray(rgb)

    def get(self, x, y):
        i = 3 * (y * self.width + x)
        return tuple(self.rgb[i:i + 3])

    def put(self, x, y, colour):
        i = 3 * (y * self.width + x)
        self.rgb[i:i + 3] = bytes(colour)

    def crop(self, left, top, width, height):
        rows = b"".join(self.rgb[3 * ((top + y) * self.width + left):3 * ((top + y) * self.width + left + width)]
                        for y in range(height))
        return Picture(width, height, rows)

    def write_ppm(self, path):
        with open(path, "wb") as f:
            f.write(b"P6\n%d %d\n255\n" % (self.width, self.height) + bytes(self.rgb))

    def write_bmp(self, path):
        # BITMAPINFOHEADER, 24 bits, uncompressed, bottom-up rows padded to four bytes.
        stride = (3 * self.width + 3) & ~3
        size = 54 + stride * self.height
        header = b"BM" + size.to_bytes(4, "little") + bytes(4) + (54).to_bytes(4, "little")
        info = b"".join(v.to_bytes(n, "little") for v, n in [
            (40, 4), (self.width, 4), (self.height, 4), (1, 2), (24, 2), (0, 4),
            (stride * self.height, 4), (2835, 4), (2835, 4), (0, 4), (0, 4)])
        pad = bytes(stride - 3 * self.width)
        rows = []
        for y in range(self.height - 1, -1, -1):
            row = self.rgb[3 * y * self.width:3 * (y + 1) * self.width]
            bgr = bytearray(len(row))
            bgr[0::3], bgr[1::3], bgr[2::3] = row[2::3], row[1::3], row[0::3]
            rows.append(bytes(bgr) + pad)
        with open(path, "wb") as f:
            f.write(header + info + b"".join(rows))


def read_ppm(data):
    fields, pos = [], 0
    while len(fields) < 4:
        while data[pos:pos + 1].isspace():
            pos += 1
        if data[pos:pos + 1] == b"#":
            pos = data.index(b"\n", pos)
            continue
        end = pos
        while not data[end:end + 1].isspace():
            end += 1
        fields.append(data[pos:end])
        pos = end
    assert fields[0] == b"P6" and fields[3] == b"255", "convert gave an unexpected PPM"
    width, height = int(fields[1]), int(fields[2])
    return Picture(width, height, data[pos + 1:pos + 1 + 3 * width * height])


def magick(*args):
    """Runs convert with the given arguments and returns its picture, flattened to RGB."""
    run = subprocess.run(["convert", *map(str, args), "-alpha", "off", "-depth", "8", "ppm:-"],
                         capture_output=True)
    if run.returncode != 0:
        sys.exit("convert failed: " + run.stderr.decode(errors="replace"))
    return read_ppm(run.stdout)


def nudge(colour):
    """A colour one step away, for pixels that must not have a reserved colour."""
    r, g, b = colour
    return (r, g + 1 if g < 255 else g - 1, b)


# --- the main window's margin ---------------------------------------------------------------------

def side_widths(phase):
    return [min(10, max(7, round(8.5 + 1.6 * math.sin(2 * math.pi * y / 53.0 + phase)))) for y in range(H)]


def top_depth(x):
    # Whole rows 0-2; a raised crest for the title in the middle; battlement-like steps on the shoulders.
    d = abs(x + 0.5 - W / 2)
    if d <= 150:
        return 3
    if d < 170:
        return 3 + round((d - 150) * 5 / 20)
    step = int(d - 170) % 64
    return 6 if 26 <= step < 38 else 8


def bottom_depth(x):
    d = abs(x + 0.5 - W / 2)
    if d <= 110:
        return 1
    if d < 130:
        return 1 + round((d - 110) * 5 / 20)
    return 6


def in_rounded_corner(x, y, left, top, right, bottom, radius=18):
    for cx, cy, inside in [(left + radius, top + radius, x < left + radius and y < top + radius),
                           (right - radius, top + radius, x >= right - radius and y < top + radius),
                           (left + radius, bottom - radius, x < left + radius and y >= bottom - radius),
                           (right - radius, bottom - radius, x >= right - radius and y >= bottom - radius)]:
        if inside and (x + 0.5 - cx) ** 2 + (y + 0.5 - cy) ** 2 > radius ** 2:
            return True
    return False


def margin_mask():
    """Every pixel of the margin: each reaches the picture's edge in a straight line, so there are no holes."""
    left, right = side_widths(0.0), side_widths(2.1)
    tops = [top_depth(x) for x in range(W)]
    bottoms = [bottom_depth(x) for x in range(W)]

    def build():
        return [[y < tops[x] or y >= H - bottoms[x] or x < left[y] or x >= W - right[y]
                 or in_rounded_corner(x, y, 8, 8, W - 8, H - 7) for x in range(W)] for y in range(H)]

    surplus = sum(map(sum, build())) - KEY_COUNT
    # Reach the exact count by narrowing or widening single side rows, spread over the middle height,
    # where nothing else of the margin reaches the sides.
    rows = [60 + (i * 211) % 480 for i in range(480)]
    for widths in (left, right):
        for y in rows:
            if surplus > 0 and widths[y] > 7:
                widths[y] -= 1
                surplus -= 1
            elif surplus < 0 and widths[y] < 10:
                widths[y] += 1
                surplus += 1
    mask = build()
    assert sum(map(sum, mask)) == KEY_COUNT, "margin does not come to the skin's pixel count"
    return mask


def distance_into_face(mask, limit):
    """8-neighbour steps from the margin into the face, up to limit."""
    dist = [[0 if mask[y][x] else limit + 1 for x in range(W)] for y in range(H)]
    frontier = [(x, y) for y in range(H) for x in range(W) if mask[y][x]]
    for step in range(1, limit + 1):
        nxt = []
        for x, y in frontier:
            for dx in (-1, 0, 1):
                for dy in (-1, 0, 1):
                    nx, ny = x + dx, y + dy
                    if 0 <= nx < W and 0 <= ny < H and dist[ny][nx] > step:
                        dist[ny][nx] = step
                        nxt.append((nx, ny))
        frontier = nxt
    return dist


# Bronze rim along the cut edge, from the outline inward.
RIM = {1: ((24, 16, 8), 1.0), 2: ((226, 184, 112), 1.0), 3: ((176, 126, 62), 1.0),
       4: ((112, 76, 38), 1.0), 5: ((20, 14, 10), 0.85), 6: ((0, 0, 0), 0.45), 7: ((0, 0, 0), 0.2)}


def main_face(work):
    bronze, dark = "#a67c42", "#07080b"
    panel = (12, 42, 774, 439)
    px, py, pw, ph = panel
    return magick(
        "-size", f"{W}x{H}", "gradient:#202a3a-#080a0f",
        # a faint cloudy texture
        "(", "-size", f"{W}x{H}", "-seed", "7", "plasma:#303030-#d0d0d0", "-blur", "0x6", "-colorspace", "gray",
        "-evaluate", "multiply", "0.35", "-evaluate", "add", "32%", ")",
        "-compose", "softlight", "-composite",
        # the title band
        "(", "-size", f"{W}x34", "gradient:#3b3227-#15131a", ")", "-geometry", "+0+3",
        "-compose", "over", "-composite",
        "-fill", bronze, "-draw", "line 0,37 799,37",
        "-fill", dark, "-draw", "line 0,38 799,38",
        # ornaments beside the title
        "-stroke", "#8f6a36", "-strokewidth", "1", "-fill", "none",
        "-draw", "line 190,20 300,20", "-draw", "line 500,20 610,20",
        "-stroke", "none", "-fill", "#c79b55",
        "-draw", "polygon 186,20 190,16 194,20 190,24", "-draw", "polygon 606,20 610,16 614,20 610,24",
        "-draw", "polygon 300,20 304,17 308,20 304,23", "-draw", "polygon 492,20 496,17 500,20 496,23",
        # the news panel: thin bronze frame, sunken bevel, dark well with a faint emblem
        "-fill", "none", "-stroke", "#6f5432",
        "-draw", f"rectangle {px - 3},{py - 3} {px + pw + 2},{py + ph + 2}",
        "-stroke", "#020304", "-draw", f"polyline {px - 2},{py + ph + 1} {px - 2},{py - 2} {px + pw + 1},{py - 2}",
        "-draw", f"polyline {px - 1},{py + ph} {px - 1},{py - 1} {px + pw},{py - 1}",
        "-stroke", "#4d586b", "-draw", f"polyline {px - 1},{py + ph + 1} {px + pw + 1},{py + ph + 1} {px + pw + 1},{py - 1}",
        "-stroke", "#2b3240", "-draw", f"polyline {px},{py + ph} {px + pw},{py + ph} {px + pw},{py}",
        "-stroke", "none",
        "(", "-size", f"{pw - 2}x{ph - 2}", "radial-gradient:#17233a-#06080d", ")",
        "-geometry", f"+{px + 1}+{py + 1}", "-compose", "over", "-composite",
        "-fill", "#1a2434", "-font", SERIF_BOLD, "-pointsize", "92", "-kerning", "14",
        "-gravity", "center", "-annotate", "+0-42", "TALVORA", "-gravity", "northwest", "-kerning", "0",
        "-fill", "none", "-stroke", "#1a2434", "-strokewidth", "2",
        "-draw", f"ellipse {px + pw // 2},{py + ph // 2 - 8} 300,120 0,360", "-strokewidth", "1",
        "-stroke", "none",
        # the lower plate under the status line, labels and gauges
        "-fill", "#141a25", "-stroke", "#4a3a26", "-draw", "roundrectangle 18,494 566,568 6,6",
        "-stroke", "#232b38", "-fill", "none", "-draw", "line 24,495 560,495",
        "-stroke", "none",
        "-fill", "#0c1017", "-draw", "rectangle 122,509 562,525",
        # gauge wells: black, sunken by a pixel on every side
        *well(124, 528, 436, 11), *well(124, 543, 436, 11),
        # label sockets: small bronze studs at the ends of the gauges
        "-fill", "#8a6636", "-draw", "circle 28,533 28,535", "-draw", "circle 28,547 28,549",
        # the play button's socket and the text buttons' recess
        "-fill", "#06070a", "-stroke", "#5e4527", "-draw", "circle 734,534 734,584",
        "-stroke", "none",
        "-fill", "#0d1118", "-stroke", "#3d3020", "-draw", "roundrectangle 572,503 678,564 4,4",
        "-stroke", "none",
    )


def well(left, top, width, height):
    r, b = left + width - 1, top + height - 1
    return ["-fill", "#010102", "-draw", f"rectangle {left},{top} {r},{b}",
            "-fill", "none", "-stroke", "#000000", "-draw", f"polyline {left},{b} {left},{top} {r},{top}",
            "-stroke", "#3c4658", "-draw", f"polyline {left + 1},{b} {r},{b} {r},{top + 1}",
            "-stroke", "none"]


def title(face_path):
    """Gold lettering with a dark outline and a soft shadow, composited onto the drawn face."""
    return magick(
        face_path,
        "(", "-size", f"{W}x40", "xc:none", "-font", SERIF_BOLD, "-pointsize", "27", "-kerning", "7",
        "-gravity", "north", "-fill", "black", "-annotate", "+0+5", "TALVORA",
        "-blur", "0x2.5", ")", "-geometry", "+1+2", "-compose", "over", "-composite",
        "(", "-size", f"{W}x40", "gradient:#fff1b8-#9c6a24",
        "(", "-size", f"{W}x40", "xc:black", "-font", SERIF_BOLD, "-pointsize", "27", "-kerning", "7",
        "-gravity", "north", "-fill", "white", "-annotate", "+0+4", "TALVORA", "-alpha", "off", ")",
        "-compose", "copyopacity", "-composite", ")",
        "-geometry", "+0+0", "-compose", "over", "-composite",
    )


def build_background(work):
    face = main_face(work)
    face_path = os.path.join(work, "face.ppm")
    face.write_ppm(face_path)
    face = title(face_path)
    mask = margin_mask()
    dist = distance_into_face(mask, max(RIM))
    for y in range(H):
        for x in range(W):
            if mask[y][x]:
                face.put(x, y, KEY)
                continue
            colour = face.get(x, y)
            rim = RIM.get(dist[y][x])
            if rim:
                (r, g, b), a = rim
                colour = tuple(round(c * (1 - a) + t * a) for c, t in zip(colour, (r, g, b)))
            face.put(x, y, nudge(colour) if colour == KEY else colour)
    return face


# --- buttons ----------------------------------------------------------------------------------------

def plate_args(name, state, w, h):
    """ImageMagick arguments that draw the button's plate on a transparent canvas of its size."""
    lit, down = state == "hover", state in ("pressed", "disabled")
    shift = 1 if down else 0
    if name == "play":
        rim_hi, rim_lo = ("#ffe7a6", "#8c5a1c") if lit else ("#e6c27a", "#6e4614")
        if down:
            rim_hi, rim_lo = "#9c7a40", "#4a300e"
        face_hi, face_lo = ("#b33a32", "#3c0c0c") if lit else ("#8e2a26", "#2a0808")
        if down:
            face_hi, face_lo = "#5e1c1a", "#1c0606"
        text = "#ffe9b0" if not down else "#c8a870"
        cx, cy = 48, 49
        return ["-size", f"{w}x{h}", "xc:none",
                "(", "-size", f"{w}x{h}", f"radial-gradient:{rim_hi}-{rim_lo}",
                "(", "-size", f"{w}x{h}", "xc:black", "-fill", "white",
                "-draw", f"circle {cx},{cy} {cx},{cy + 46}", "-alpha", "off", ")",
                "-compose", "copyopacity", "-composite", ")",
                "-compose", "over", "-composite",
                "(", "-size", f"{w}x{h}", f"radial-gradient:{face_hi}-{face_lo}",
                "(", "-size", f"{w}x{h}", "xc:black", "-fill", "white",
                "-draw", f"circle {cx},{cy + shift} {cx},{cy + shift + 39}", "-alpha", "off", ")",
                "-compose", "copyopacity", "-composite", ")",
                "-compose", "over", "-composite",
                "-fill", "none", "-stroke", "#2a1606", "-draw", f"circle {cx},{cy} {cx},{cy + 46}",
                "-stroke", "#1a0404", "-draw", f"circle {cx},{cy + shift} {cx},{cy + shift + 39}",
                "-stroke", "#ffffff30" if not down else "#ffffff10",
                "-draw", f"arc {cx - 36},{cy - 36 + shift} {cx + 36},{cy + 36 + shift} 200,340",
                "-stroke", "none",
                "-font", SANS_COND_BOLD, "-pointsize", "17", "-gravity", "center",
                "-fill", "#00000090", "-annotate", f"+1+{2 + shift}", "СТАРТ",
                "-fill", text, "-annotate", f"+0+{1 + shift}", "СТАРТ"]
    if name in ("check", "cancel"):
        word = "Проверка" if name == "check" else "Отмена"
        top, bottom = ("#5a6f94", "#1e2a44") if lit else ("#40506e", "#161e30")
        if down:
            top, bottom = "#151c2b", "#2c3850"
        edge = "#d8b06a" if lit else "#9a7540"
        text = "#ffffff" if lit else ("#b9c4d6" if down else "#e4e9f2")
        return ["-size", f"{w}x{h}", "xc:none",
                "(", "-size", f"{w - 2}x{h - 2}", f"gradient:{top}-{bottom}", ")",
                "-geometry", "+1+1", "-compose", "over", "-composite",
                "-fill", "none", "-stroke", edge, "-draw", f"roundrectangle 0,0 {w - 1},{h - 1} 4,4",
                "-stroke", "#ffffff38" if not down else "#00000060", "-draw", f"line 3,1 {w - 4},1",
                "-stroke", "#00000070" if not down else "#ffffff20", "-draw", f"line 3,{h - 2} {w - 4},{h - 2}",
                "-stroke", "none",
                # the corners outside the rounded edge show the background
                "-font", SANS_BOLD, "-pointsize", "12", "-gravity", "center",
                "-fill", "#00000099", "-annotate", f"+1+{1 + shift}", word,
                "-fill", text, "-annotate", f"+0+{shift}", word]
    if name == "close":
        colour = "#ffd27a" if lit else ("#8c6a3c" if down else "#c9a56a")
        ground = "#3a1a16" if lit else ("#0a0b0e" if down else "#1a1c24")
        return ["-size", f"{w}x{h}", "xc:none",
                "-fill", ground, "-stroke", "#6e5230", "-draw", f"roundrectangle 1,1 {w - 2},{h - 2} 3,3",
                "-stroke", "#000000a0", "-strokewidth", "3.2",
                "-draw", f"line 6,{6 + shift + 1} 14,{14 + shift + 1}", "-draw", f"line 14,{6 + shift + 1} 6,{14 + shift + 1}",
                "-stroke", colour, "-strokewidth", "2.2",
                "-draw", f"line 6,{6 + shift} 14,{14 + shift}", "-draw", f"line 14,{6 + shift} 6,{14 + shift}"]
    if name == "options":
        colour = "#ffe2a0" if lit else ("#8f7550" if down else "#d2ad6c")
        return ["-size", f"{w}x{h}", "xc:none",
                "-font", SANS_BOLD, "-pointsize", "11", "-gravity", "center",
                "-fill", "#000000b0", "-annotate", f"+1+{1 + shift}", "Опции",
                "-fill", colour, "-annotate", f"+0+{shift}", "Опции",
                "-fill", "none", "-stroke", colour if lit else "#00000000", "-draw", f"line 6,{h - 1} {w - 7},{h - 1}"]
    raise ValueError(name)


def draw_button(bg_path, background, name, left, top, w, h, state):
    picture = magick(bg_path, "-crop", f"{w}x{h}+{left}+{top}", "+repage",
                     "(", *plate_args(name, state, w, h), ")", "-compose", "over", "-composite")
    beneath = background.crop(left, top, w, h)
    # A window that leaves out the bottom-left pixel's colour must still show the same picture: that
    # colour stays only where the picture equals the background anyway.
    corner = picture.get(0, h - 1)
    assert corner == beneath.get(0, h - 1), f"{name}: bottom-left pixel is not the background"
    for y in range(h):
        for x in range(w):
            c = picture.get(x, y)
            if c == corner and beneath.get(x, y) != corner:
                picture.put(x, y, nudge(c))
            elif c == KEY:
                picture.put(x, y, nudge(c))
    return picture


# --- the options window -------------------------------------------------------------------------------

def options_background():
    w, h = OPTIONS_W, OPTIONS_H
    parchment = ["-fill", "#cdbb94", "-stroke", "#5b4123"]
    picture = magick(
        "-size", f"{w}x{h}", "gradient:#202a3a-#080a0f",
        "(", "-size", f"{w}x{h}", "-seed", "7", "plasma:#303030-#d0d0d0", "-blur", "0x4", "-colorspace", "gray",
        "-evaluate", "multiply", "0.35", "-evaluate", "add", "32%", ")",
        "-compose", "softlight", "-composite",
        # bronze frame
        "-fill", "none", "-stroke", "#18100a", "-draw", f"rectangle 0,0 {w - 1},{h - 1}",
        "-stroke", "#e2b870", "-draw", f"rectangle 1,1 {w - 2},{h - 2}",
        "-stroke", "#b07e3e", "-draw", f"rectangle 2,2 {w - 3},{h - 3}",
        "-stroke", "#704c26", "-draw", f"rectangle 3,3 {w - 4},{h - 4}",
        "-stroke", "#140e0a", "-draw", f"rectangle 4,4 {w - 5},{h - 5}",
        # parchment panels for the black captions: the launcher section and the game section
        *parchment, "-draw", "roundrectangle 12,16 207,81 5,5",
        *parchment, "-draw", "roundrectangle 12,84 207,219 5,5",
        "-stroke", "none",
        "(", "-size", "194x64", "gradient:#e9dcbb-#c4ae82", ")", "-geometry", "+13+17",
        "-compose", "over", "-composite",
        "(", "-size", "194x134", "gradient:#e9dcbb-#bfa87c", ")", "-geometry", "+13+85",
        "-compose", "over", "-composite",
        "-fill", "none", "-stroke", "#8a6a3e",
        "-draw", "line 30,43 190,43", "-draw", "line 30,104 190,104",
        "-stroke", "none",
        # the looting row sits on the dark face (its caption is light grey); a thin rule above the buttons
        "-fill", "none", "-stroke", "#6f5432", "-draw", f"line 20,249 {w - 21},249",
        "-stroke", "#2b3240", "-draw", f"line 20,250 {w - 21},250",
        "-stroke", "none", "-fill", "#c79b55",
        "-draw", "polygon 106,249 110,245 114,249 110,253",
    )
    for y in range(h):
        for x in range(w):
            if picture.get(x, y) == OPTIONS_KEY:
                picture.put(x, y, nudge(OPTIONS_KEY))
    picture.put(0, 0, OPTIONS_KEY)
    return picture


def main():
    if len(sys.argv) != 2:
        sys.exit("usage: draw.py OUTPUT_FOLDER")
    out = sys.argv[1]
    work = os.path.join(out, "work")
    os.makedirs(work, exist_ok=True)
    background = build_background(work)
    background.write_bmp(os.path.join(out, "main_background.bmp"))
    bg_path = os.path.join(work, "main_background.ppm")
    background.write_ppm(bg_path)
    for name, left, top, w, h in BUTTONS:
        pressed = None
        for state in STATES:
            picture = pressed if state == "disabled" else draw_button(bg_path, background, name, left, top, w, h, state)
            if state == "pressed":
                pressed = picture
            picture.write_bmp(os.path.join(out, f"btn_{name}_{state}.bmp"))
    options_background().write_bmp(os.path.join(out, "options_background.bmp"))


if __name__ == "__main__":
    main()

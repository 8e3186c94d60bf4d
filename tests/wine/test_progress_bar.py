"""The segmented progress bar's pixels, read back from the real GDI bitmap
under Wine in an X server of the test's own, at 96 and 144 DPI: on picture
controls of given sizes, and on the progress control of a manager dialog
made from the program's own template, at the size the dialog gives it."""
import os

from display_dpi import system_dpi
from harness import Wine, Xvfb, check, finish, parse_args, parse_probe

args = parse_args()
probe = os.path.join(args.windows_build, "tembra_probe.exe")
xvfb = Xvfb(args.work)
wine = Wine(args.prefix, display=xvfb.display)


def read_back(command, total, counts):
    code, out, err = wine.run(probe, command + [str(total), ",".join(map(str, counts))], cwd=args.work)
    check(code == 0, f"probe exited {code}: {err[-300:]}")
    result = parse_probe(out)
    width, _, height = result.get("bitmap_size", "0,0").partition(",")
    width, height = int(width), int(height)
    check(result.get("bitmap") == "1" and result.get("rows") == str(height), f"bitmap read back: {result.get('rows')}")
    check(result.get("same_bitmap") == "1", "the bitmap is created once and reused")
    check(result.get("shown") == "1", "the control shows the bitmap")
    return [result.get(f"row{y}", "") for y in range(height)], width, height, result


def draw(width, height, total, counts):
    rows, drawn_width, drawn_height, result = read_back(["progress", str(width), str(height)], total, counts)
    check((drawn_width, drawn_height) == (width, height), f"a bitmap of the control's size: {drawn_width}x{drawn_height}")
    check(rows == expected_rows(width, height, total, counts[-1]),
          f"{width}x{height}, {counts[-1]} of {total}: every pixel as the rules give it")
    return rows, result


def expected_rows(width, height, total, downloaded):
    """The bar's rules for any size: on the button face, segment i of
    w = (W - 4) / 20 covers x = 2 + i w .. 2 + i w + w - 2 and y = 2 .. H - 3
    for i below n = downloaded * 21 / total; at completion the space from
    2 + n w to W - 4 is filled too; an outer frame in black and an inner one
    in the button face lie over everything."""
    w = (width - 4) // 20
    n = min(int(downloaded * 21 / total), 10 ** 9)
    grid = [["F"] * width for _ in range(height)]

    def fill(left, right):
        for y in range(2, height - 2):
            for x in range(max(left, 0), min(right - 1, width)):
                grid[y][x] = "N"

    for i in range(min(n, width // w + 1) if w > 0 else 0):
        fill(2 + i * w, 2 + (i + 1) * w)
    if downloaded >= total and 2 + n * w < width - 2:
        fill(2 + n * w, width - 2)
    for y in range(height):
        for x in range(width):
            if x in (0, width - 1) or y in (0, height - 1):
                grid[y][x] = "K"
            elif x in (1, width - 2) or y in (1, height - 2):
                grid[y][x] = "F"
    return ["".join(row) for row in grid]


def frames_intact(rows, width, height):
    """Outer frame black, inner frame button face."""
    outer = rows[0] == "K" * width and rows[-1] == "K" * width and all(r[0] == "K" and r[-1] == "K" for r in rows)
    inner = (rows[1][1:-1] == "F" * (width - 2) and rows[-2][1:-1] == "F" * (width - 2)
             and all(r[1] == "F" and r[-2] == "F" for r in rows[1:-1]))
    return outer and inner


def navy_columns(rows):
    """Columns of the middle row that are segment-coloured."""
    return [x for x, c in enumerate(rows[len(rows) // 2]) if c == "N"]


def segment_rows_consistent(rows, height):
    """Every row from 2 to H-3 looks like the middle one, rows 0, 1, H-2 and H-1 hold no segment."""
    middle = rows[height // 2]
    return all(rows[y][2:-2] == middle[2:-2] for y in range(2, height - 2)) and \
        all("N" not in rows[y] for y in (0, 1, height - 2, height - 1))


def fixed_sizes():
    """Controls of given sizes: the rules at sizes where they bite."""
    # Downloaded 0: only the frames on the button face.
    rows, _ = draw(234, 20, 210, [0])
    check(frames_intact(rows, 234, 20), "frames at downloaded 0")
    check(all(set(r[2:-2]) == {"F"} for r in rows[2:-2]), "no segment at downloaded 0")

    # W 234, H 20, total 210, downloaded 100: ten segments of ten pixels.
    rows, _ = draw(234, 20, 210, [0, 40, 100])
    columns = navy_columns(rows)
    expected = [x for i in range(10) for x in range(2 + 11 * i, 2 + 11 * i + 10)]
    check(columns == expected, f"ten segments, first 2..11, last 101..110: {columns[:3]}..{columns[-3:]}")
    check(all(rows[10][x] == "F" for x in (12, 23, 34, 100)), "gaps at 12, 23, ..., 100")
    check(segment_rows_consistent(rows, 20), "segments cover y = 2 .. H-3")
    check(frames_intact(rows, 234, 20), "frames intact")

    # Completion at W 234: the 21st segment at 222..231, beside the inner frame at 232.
    rows, _ = draw(234, 20, 210, [210])
    columns = navy_columns(rows)
    check(columns[-10:] == list(range(222, 232)) and len(columns) == 21 * 10, f"21st segment at 222..231: {columns[-3:]}")
    check(frames_intact(rows, 234, 20), "frames drawn over the segments")

    # Completion at W 200: segments of 8 pixels, the completion fill 191..196.
    rows, _ = draw(200, 20, 210, [210])
    columns = navy_columns(rows)
    check(list(range(182, 190)) == [x for x in columns if 182 <= x < 190], "21st segment at 182..189")
    check([x for x in columns if x >= 190] == list(range(191, 197)), f"completion fill at 191..196: {columns[-8:]}")
    check(rows[10][190] == "F" and rows[10][197] == "F", "with background beside it")
    check(frames_intact(rows, 200, 20), "frames intact at W 200")

    # Downloaded far above total: bounded drawing, frames intact, the bar full.
    rows, result = draw(234, 20, 1, [2147483647])
    check(frames_intact(rows, 234, 20), "frames intact when far above total")
    check(navy_columns(rows)[:1] == [2] and rows[10][231] == "N", "the bar is full")
    print(f"drawing far above total took {result.get('draw_ms')} ms")

    # Below 44 pixels a segment covers no pixel; completion still fills behind them.
    rows, _ = draw(40, 12, 10, [5])
    check(not navy_columns(rows), "no segment pixels below W 44")
    rows, _ = draw(40, 12, 10, [10])
    check(navy_columns(rows) == list(range(23, 37)), f"completion fill from 2 + 21 w to W - 4: {navy_columns(rows)}")


def dialog_control(dpi):
    """The manager dialog's own progress control; returns its size."""
    size = None
    for total, downloaded in ((210, 0), (210, 100), (1000, 999), (210, 210), (1, 2147483647)):
        rows, width, height, result = read_back(["dialog-progress", program], total, [downloaded])
        check(result.get("dpi") == str(dpi), f"the probe runs at {dpi} DPI: {result.get('dpi')}")
        check(result.get("control_size") == f"{width},{height}",
              f"{dpi} DPI: the bitmap has the control's size {result.get('control_size')}: {width}x{height}")
        check(width >= 44 and height >= 5, f"{dpi} DPI: a control large enough for segments: {width}x{height}")
        expected = expected_rows(width, height, total, downloaded) if width and height else []
        wrong = [y for y in range(height) if rows[y] != expected[y]]
        check(not wrong, f"{dpi} DPI, {width}x{height}, {downloaded} of {total}: rows {wrong[:5]} differ, "
              f"first {rows[wrong[0]] if wrong else ''!r} beside {expected[wrong[0]] if wrong else ''!r}")
        size = (width, height)
    return size


program = wine.unix_to_windows(os.path.join(args.windows_build, "tembra.exe"))
sizes = {}
for dpi in (96, 144):
    with system_dpi(wine, dpi):
        fixed_sizes()
        sizes[dpi] = dialog_control(dpi)
# The dialog's layout follows the DPI: 1.5 times the pixels at 144.
(w96, h96), (w144, h144) = sizes[96] or (1, 1), sizes[144] or (1, 1)
check(1.35 <= w144 / w96 <= 1.65 and 1.3 <= h144 / h96 <= 1.7,
      f"the control grows with the DPI: {w96}x{h96} at 96, {w144}x{h144} at 144")
print(f"progress control: {w96}x{h96} at 96 DPI, {w144}x{h144} at 144 DPI")

finish()

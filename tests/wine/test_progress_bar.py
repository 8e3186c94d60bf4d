"""The segmented progress bar's pixels, read back from the real GDI bitmap
under Wine in an X server of the test's own."""
import os

from harness import Wine, Xvfb, check, finish, parse_args, parse_probe

args = parse_args()
probe = os.path.join(args.windows_build, "tembra_probe.exe")
xvfb = Xvfb(args.work)
wine = Wine(args.prefix, display=xvfb.display)


def draw(width, height, total, counts):
    code, out, err = wine.run(probe, ["progress", str(width), str(height), str(total), ",".join(map(str, counts))],
                              cwd=args.work)
    check(code == 0, f"probe exited {code}: {err[-300:]}")
    result = parse_probe(out)
    check(result.get("bitmap") == "1" and result.get("rows") == str(height), f"bitmap read back: {result.get('rows')}")
    check(result.get("same_bitmap") == "1", "the bitmap is created once and reused")
    check(result.get("shown") == "1", "the control shows the bitmap")
    return [result.get(f"row{y}", "") for y in range(height)], result


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

finish()

#!/usr/bin/env python3
"""Writes the constructed perimetry examples in data/fields/.

They are made up, not patient data: the real 24-2 and 10-2 test point grids
with thresholds from the program's normal hill of vision (field/sensitivity.hpp:
33 dB at fixation, -0.3 dB per degree, -0.08 dB per year after 20), a small
fixed ripple, and the losses of each condition. The DICOM example is written
with DCMTK's dump2dcm (Debian package dcmtk).

    python3 scripts/make_field_examples.py      # from the repository's top folder
"""
import json
import math
import os
import subprocess
import tempfile

OUT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "data", "fields")


def grid_24_2(eye):
    """The 54 points of the 24-2 pattern, 6 degrees apart, 3 degrees off the
    meridians; the two extra points at 27 degrees lie on the nasal side
    (the patient's left for OD, right for OS)."""
    half_width = {21: 9, 15: 15, 9: 21, 3: 21}
    nasal = -27 if eye == "OD" else 27
    pts = []
    for y in (21, 15, 9, 3, -3, -9, -15, -21):
        w = half_width[abs(y)]
        for x in range(-w, w + 1, 6):
            pts.append((x, y))
        if abs(y) == 3:
            pts.append((nasal, y))
    assert len(pts) == 54
    return sorted(pts, key=lambda p: (-p[1], p[0]))


def grid_10_2():
    """The 68 points of the 10-2 pattern: 2 degrees apart, 1 degree off the
    meridians, within 10 degrees (x^2 + y^2 <= 82)."""
    pts = [(x, y) for y in range(9, -10, -2) for x in range(-9, 10, 2) if x * x + y * y <= 82]
    assert len(pts) == 68
    return pts


def normal(x, y, age):
    return 33.0 - 0.3 * math.hypot(x, y) - 0.08 * max(0.0, age - 20.0)


def ripple(x, y):
    """A fixed pseudo-random -1..1 dB, the scatter of a real test."""
    return ((x * 7 + y * 13 + 11) % 5 - 2) / 2.0


def write_csv(name, header, rows, comments, crlf_bom=False):
    eol = "\r\n" if crlf_bom else "\n"
    text = "".join("# " + c + eol for c in comments)
    text += ",".join(header) + eol
    text += "".join(",".join(str(v) for v in r) + eol for r in rows)
    with open(os.path.join(OUT, name), "w", encoding="utf-8-sig" if crlf_bom else "utf-8", newline="") as f:
        f.write(text)


def db(v):
    return int(round(v))


def normal_od():
    age = 45
    rows = []
    for x, y in grid_24_2("OD"):
        t = normal(x, y, age) + ripple(x, y) + 0.5
        if (x, y) == (15, -3):
            t = 12  # at the edge of the blind spot
        rows.append((x, y, db(t), "OD", age))
    write_csv("normal_24-2_OD.csv", ("x_deg", "y_deg", "threshold_db", "eye", "age"), rows,
              ["Constructed example, not patient data: normal 24-2 field, right eye, age 45.",
               "Thresholds in dB; x to the patient's right, y up, degrees from fixation."])


def glaucoma_early_od():
    # A superior nasal step: loss above the horizontal meridian on the nasal
    # side (x < 0 for the right eye) that stops sharply at the meridian.
    step = {(-27, 3): -14, (-21, 3): -12, (-15, 3): -7, (-21, 9): -11, (-15, 9): -8,
            (-9, 9): -4, (-15, 15): -5, (-9, 15): -3}
    rows = []
    for x, y in grid_24_2("OD"):
        td = step.get((x, y), ripple(x, y))
        rows.append((x, y, db(td), "OD"))
    write_csv("glaucoma_early_24-2_OD.csv", ("x_deg", "y_deg", "td_db", "eye"), rows,
              ["Constructed example, not patient data: early glaucoma, superior nasal step, right eye.",
               "Total deviation in dB. Saved as a spreadsheet would (byte-order mark, Windows line ends)."],
              crlf_bom=True)


def glaucoma_advanced_os():
    # About 10 degrees of field left around fixation.
    age = 67
    points = []
    for x, y in grid_24_2("OS"):
        e = math.hypot(x, y)
        if e < 5:
            v = db(normal(x, y, age) - 2 + ripple(x, y))
        elif e < 10:
            v = db(normal(x, y, age) - 5 + ripple(x, y))
        elif e < 13:
            v = 3
        else:
            v = "<0"
        points.append({"x": x, "y": y, "db": v})
    doc = {"comment": "Constructed example, not patient data: advanced glaucoma, about 10 degrees left, left eye.",
           "eye": "OS", "age": age, "kind": "threshold", "points": points}
    with open(os.path.join(OUT, "glaucoma_advanced_24-2_OS.json"), "w", encoding="utf-8") as f:
        f.write("{\n")
        keys = ["comment", "eye", "age", "kind"]
        for k in keys:
            f.write("  %s: %s,\n" % (json.dumps(k), json.dumps(doc[k])))
        f.write('  "points": [\n')
        f.write(",\n".join("    " + json.dumps(p) for p in points))
        f.write("\n  ]\n}\n")


def macular_degeneration_od():
    # A central scotoma: nothing seen within 3 degrees, a steep rim to 5.
    age = 74
    rows = []
    for x, y in grid_10_2():
        e = math.hypot(x, y)
        if e < 4:
            v = "<0"
        elif e < 5.5:
            v = db(normal(x, y, age) - 16 + ripple(x, y))
        elif e < 7:
            v = db(normal(x, y, age) - 6 + ripple(x, y))
        else:
            v = db(normal(x, y, age) + ripple(x, y) + 0.5)
        rows.append((x, y, v, age))
    write_csv("macular_degeneration_10-2_OD.csv", ("x_deg", "y_deg", "threshold_db", "age"), rows,
              ["Constructed example, not patient data: macular degeneration, central scotoma, 10-2, right eye, age 74.",
               "The file has no eye column: give the eye (OD) when importing."])


def hemianopia_od():
    rows = []
    for x, y in grid_24_2("OD"):
        rows.append((x, y, "<0" if x > 0 else db(ripple(x, y)), "right"))
    write_csv("hemianopia_right_24-2_OD.csv", ("x_deg", "y_deg", "td_db", "eye"), rows,
              ["Constructed example, not patient data: right homonymous hemianopia, right eye.",
               "Total deviation in dB; the left eye of the same patient is hemianopia_right_24-2_OS.dcm."])


def hemianopia_os():
    # The left eye of the same patient, as a perimeter's DICOM export.
    age = 58
    lines = [
        "(0002,0002) UI =OphthalmicVisualFieldStaticPerimetryMeasurementsStorage",
        "(0002,0003) UI [2.25.260414117395631473209473129184470390121]",
        "(0002,0010) UI =LittleEndianExplicit",
        "(0008,0016) UI =OphthalmicVisualFieldStaticPerimetryMeasurementsStorage",
        "(0008,0018) UI [2.25.260414117395631473209473129184470390121]",
        "(0008,0060) CS [OPV]",
        "(0010,0010) PN [Example^Hemianopia]",
        "(0010,0020) LO [CONSTRUCTED-0001]",
        "(0010,1010) AS [%03dY]" % age,
        "(0020,0060) CS [L]",
        "(0024,0089) SQ (Sequence with explicit length #=0)",
    ]
    for x, y in grid_24_2("OS"):
        lines.append("  (fffe,e000) na (Item with explicit length #=0)")
        lines.append("    (0024,0090) FL %g" % x)
        lines.append("    (0024,0091) FL %g" % y)
        if x > 0:
            lines.append("    (0024,0093) CS [NOT SEEN]")
        else:
            lines.append("    (0024,0093) CS [SEEN]")
            lines.append("    (0024,0094) FL %d" % db(normal(x, y, age) + ripple(x, y)))
        lines.append("  (fffe,e00d) na (ItemDelimitationItem for re-encoding)")
    lines.append("(fffe,e0dd) na (SequenceDelimitationItem for re-encoding)")
    with tempfile.NamedTemporaryFile("w", suffix=".dump", delete=False) as f:
        f.write("\n".join(lines) + "\n")
        dump = f.name
    try:
        subprocess.run(["dump2dcm", "--write-file", dump, os.path.join(OUT, "hemianopia_right_24-2_OS.dcm")],
                       check=True)
    finally:
        os.unlink(dump)


def amd_early_od():
    # Early macular degeneration: a shallow central depression (drusen) and two
    # small deeper spots, 10-2, right eye.
    age = 68
    spots = {(1, 1): -9, (-3, 1): -7, (1, -3): -8}
    rows = []
    for x, y in grid_10_2():
        e = math.hypot(x, y)
        loss = spots.get((x, y), -4 if e < 3 else (-2 if e < 5 else 0))
        rows.append((x, y, db(normal(x, y, age) + loss + ripple(x, y)), "OD", age))
    write_csv("amd_early_10-2_OD.csv", ("x_deg", "y_deg", "threshold_db", "eye", "age"), rows,
              ["Constructed example, not patient data: early macular degeneration, shallow central depression,",
               "10-2, right eye, age 68. Thresholds in dB."])


def diabetic_retinopathy_od():
    # Patchy losses scattered over the field (laser scars, ischaemic areas):
    # a few points not seen, others depressed, the rest near normal.
    age = 55
    patches = {(-21, 9): "<0", (-15, 9): -12, (15, 15): -15, (9, 15): -8, (21, -3): "<0",
               (15, -9): -14, (-9, -15): "<0", (-3, -15): -10, (-15, -21): -9, (3, 9): -6,
               (-27, -3): -11, (9, -21): -7}
    rows = []
    for x, y in grid_24_2("OD"):
        loss = patches.get((x, y), 0)
        v = loss if loss == "<0" else db(normal(x, y, age) + loss + ripple(x, y))
        rows.append((x, y, v, "OD", age))
    write_csv("diabetic_retinopathy_24-2_OD.csv", ("x_deg", "y_deg", "threshold_db", "eye", "age"), rows,
              ["Constructed example, not patient data: diabetic retinopathy, patchy losses, right eye, age 55.",
               "Thresholds in dB."])


def retinitis_pigmentosa_od():
    # A narrow tunnel: seen within about 5 degrees, nothing beyond 6, 10-2.
    age = 40
    rows = []
    for x, y in grid_10_2():
        e = math.hypot(x, y)
        if e < 4:
            v = db(normal(x, y, age) - 3 + ripple(x, y))
        elif e < 5.5:
            v = db(normal(x, y, age) - 12 + ripple(x, y))
        else:
            v = "<0"
        rows.append((x, y, v, "OD", age))
    write_csv("retinitis_pigmentosa_10-2_OD.csv", ("x_deg", "y_deg", "threshold_db", "eye", "age"), rows,
              ["Constructed example, not patient data: retinitis pigmentosa, a tunnel of about 5 degrees,",
               "10-2, right eye, age 40. Thresholds in dB."])


if __name__ == "__main__":
    os.makedirs(OUT, exist_ok=True)
    normal_od()
    glaucoma_early_od()
    glaucoma_advanced_os()
    macular_degeneration_od()
    hemianopia_od()
    hemianopia_os()
    amd_early_od()
    diabetic_retinopathy_od()
    retinitis_pigmentosa_od()

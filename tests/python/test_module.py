"""The Python module against the batch tool: the same float64 results bit for
bit, the array layout, threads, and refused arguments."""
import os
import threading
import time
from concurrent.futures import ThreadPoolExecutor

import numpy as np
import pytest

import ocumbra
from conftest import BIN, random_image, run_tool


def tool_result(tmp_path, command, *args, image):
    out = tmp_path / f"{command}.npy"
    run_tool(command, *args, image, out)
    return np.load(out)


def test_layout_round_trip_of_a_non_square_colour_image(tmp_path):
    img = random_image(130, 97, seed=3)  # more than one tile of the conversion either way
    ocumbra.write_image(img, tmp_path / "a.png")
    back = ocumbra.read_image(str(tmp_path / "a.png"))
    assert back.shape == (130, 97, 3) and back.dtype == np.uint8 and back.flags["C_CONTIGUOUS"]
    np.testing.assert_array_equal(back, img)
    # The tool reads the file with rows as rows: its .npy is the same array.
    run_tool("convert", tmp_path / "a.png", tmp_path / "a.npy")
    np.testing.assert_array_equal(np.load(tmp_path / "a.npy"), img)
    # Gray and 16-bit samples keep their shape and type; .npy keeps them exactly.
    gray16 = random_image(5, 9, planes=1, seed=4, dtype=np.uint16)
    ocumbra.write_image(gray16, tmp_path / "g.png")
    np.testing.assert_array_equal(ocumbra.read_image(tmp_path / "g.png"), gray16)
    ocumbra.write_image(gray16, tmp_path / "g.npy")
    np.testing.assert_array_equal(np.load(tmp_path / "g.npy"), gray16)
    # Any strides are read as the values they show.
    fortran = np.asfortranarray(img)
    expected = ocumbra.glare(fortran)
    ocumbra.glare(random_image(130, 97, seed=5))  # other values in the memory freed last
    assert np.array_equal(ocumbra.glare(img), expected)
    assert np.array_equal(ocumbra.glare(img[::2, ::3]), ocumbra.glare(np.ascontiguousarray(img[::2, ::3])))


def test_results_keep_their_memory_while_later_ones_reuse_freed_blocks():
    img = random_image(40, 50, seed=8)
    kept = ocumbra.colour(img, "protan")
    copy = kept.copy()
    for severity in (0.2, 0.5, 0.9):  # each result freed at the next round, its block reused
        other = ocumbra.colour(img, "protan", severity=severity)
        assert not np.shares_memory(other, kept)
    del other
    again = ocumbra.colour(img, "protan")
    np.testing.assert_array_equal(kept, copy)
    np.testing.assert_array_equal(again, copy)
    assert kept.flags["C_CONTIGUOUS"] and kept.flags["WRITEABLE"] and kept.flags["OWNDATA"] is False


def test_fixindep_equals_the_tool_with_clinical_units(tmp_path, photo):
    img = ocumbra.read_image(photo)
    expected = tool_result(tmp_path, "fixindep", "--acuity", "0.1", "--contrast", "2", image=photo)
    for acuity in (0.1, "20/200", "6/60"):  # the same decimal acuity
        got = ocumbra.fixindep(img, acuity=acuity, contrast=2)
        assert got.dtype == np.float64 and got.shape == expected.shape
        assert np.array_equal(got, expected), acuity
    # A Pelli-Robson score of 1.95 is the normal reference: factor 1.
    normal = tool_result(tmp_path, "fixindep", "--width", "30", image=photo)
    assert np.array_equal(ocumbra.fixindep(img, width=30, contrast={"logcs": 1.95}), normal)
    low = tool_result(tmp_path, "fixindep", "--acuity", "logMAR 0.3", "--logcs", "1.2", image=photo)
    assert np.array_equal(ocumbra.fixindep(img, acuity="0.3 logMAR", contrast={"logcs": 1.2}), low)


def test_fixdep_points_and_map_equal_the_tool(tmp_path, photo):
    img = ocumbra.read_image(photo)
    plot = os.path.join(BIN, "polarplotREglaucoma.bmp")
    first = tool_result(tmp_path, "fixdep", "--acuity", "0.5", "--polar", plot, "--at", "300,200", image=photo)
    run_tool("fixdep", "--acuity", "0.5", "--polar", plot, "--at", "300,200", "--at", "100.5,50",
             "--resmap", tmp_path / "map.npy", photo, tmp_path / "last.npy")
    images, resmap = ocumbra.fixdep(img, acuity=0.5, polar=plot, at=[(300, 200), (100.5, 50)], resmap=True)
    assert len(images) == 2
    assert np.array_equal(images[0], first)
    assert np.array_equal(images[1], np.load(tmp_path / "last.npy"))
    assert np.array_equal(resmap, np.load(tmp_path / "map.npy")) and resmap.shape == (800, 1200)
    # The default: the built-in plot, one image fixating the centre; a plot
    # given as an array is the plot read from its file.
    centre = tool_result(tmp_path, "fixdep", image=photo)
    assert np.array_equal(ocumbra.fixdep(img), centre)
    md = ocumbra.read_image(os.path.join(BIN, "polarplotREmd.bmp"))
    assert np.array_equal(ocumbra.fixdep(img, polar=md, at=[(300, 200)])[0],
                          ocumbra.fixdep(img, at=[(300, 200)])[0])
    # A perimetry file, one eye or both, as `--field`.
    od, os_ = (os.path.join(BIN, "fields", f) for f in ("hemianopia_right_24-2_OD.csv",
                                                        "hemianopia_right_24-2_OS.dcm"))
    one = tool_result(tmp_path, "fixdep", "--width", "60", "--field", od, image=photo)
    assert np.array_equal(ocumbra.fixdep(img, width=60, field=od), one)
    both = tool_result(tmp_path, "fixdep", "--width", "60", "--field", od, "--other-eye", os_, image=photo)
    assert np.array_equal(ocumbra.fixdep(img, width=60, field={"file": od, "other_eye": os_}), both)
    assert not np.array_equal(one, both)


def test_glare_equals_the_tool(tmp_path, photo):
    img = ocumbra.read_image(photo)
    expected = tool_result(tmp_path, "glare", "--width", "35", "--glare", "6", image=photo)
    assert np.array_equal(ocumbra.glare(img, width=35, glare=6), expected)


def test_colour_equals_the_tool(tmp_path, photo):
    img = ocumbra.read_image(photo)
    expected = tool_result(tmp_path, "colour", "--type", "tritan", "--severity", "0.6", image=photo)
    assert np.array_equal(ocumbra.colour(img, "tritan", severity=0.6), expected)
    # 8-bit colour is read in place in any layout: a reversed, strided slice
    # and a Fortran-ordered copy give what their C-ordered copies give.
    for view in (img[::-2, 1::3], np.asfortranarray(img)):
        assert np.array_equal(ocumbra.colour(view, "deutan", severity=0.35),
                              ocumbra.colour(np.ascontiguousarray(view), "deutan", severity=0.35))


def test_scenarios_equal_the_tool(tmp_path, photo):
    img = ocumbra.read_image(photo)
    listing = run_tool("presets").stdout.splitlines()[1:]
    assert [line.split(None, 1) for line in listing] == [[n, d] for n, d in ocumbra.presets().items()]
    expected = tool_result(tmp_path, "scenario", "--preset", "glaucoma-early", "--at", "200,150", image=photo)
    assert np.array_equal(ocumbra.scenario(img, preset="glaucoma-early", at=[(200, 150)])[0], expected)
    # A file with every step, its field relative to the file's folder, and its own fixation.
    (tmp_path / "fields").mkdir()
    (tmp_path / "fields" / "g.csv").write_bytes(open(os.path.join(BIN, "fields", "glaucoma_early_24-2_OD.csv"),
                                                     "rb").read())
    scen = tmp_path / "s.json"
    scen.write_text('{"steps": ["glare", "acuity", "colour", "field"], "width": 30, "acuity": "20/50", '
                    '"contrast": {"logcs": 1.35}, "glare": 6, "colour": {"type": "tritan", "severity": 0.3}, '
                    '"field": {"file": "fields/g.csv"}, "fixation": [300, 200]}')
    expected = tool_result(tmp_path, "scenario", scen, image=photo)
    assert np.array_equal(ocumbra.scenario(img, file=scen), expected)


def test_colour_of_gray_and_of_pure_red(tmp_path):
    gray = random_image(4, 6, planes=1, seed=5)
    assert np.array_equal(ocumbra.colour(gray, "deutan"), gray / 255.0)
    red = np.zeros((2, 3, 3), np.uint8)
    red[..., 0] = 255
    # Achromatopsia: the luminance of linear red, 0.2126, sRGB-encoded in every plane.
    y = 0.2126
    encoded = 1.055 * y ** (1 / 2.4) - 0.055
    np.testing.assert_allclose(ocumbra.colour(red, "achromat"), np.full((2, 3, 3), encoded), rtol=1e-12)
    # Severity 0 is normal vision.
    img = random_image(3, 4, seed=6)
    np.testing.assert_allclose(ocumbra.colour(img, "protan", severity=0), img / 255.0, atol=1e-12)


def test_threads_running_fixdep_at_once_equal_one_after_another(photo):
    img = ocumbra.read_image(photo)
    small = random_image(120, 90, seed=7)
    calls = [(img, 1, (300, 200)), (small, 0.3, (10, 20)), (img, 0.5, (50, 60)), (small, 1, (45, 60))]

    def one(call):
        im, acuity, point = call
        return ocumbra.fixdep(im, acuity=acuity, at=[point])[0]

    alone = [one(c) for c in calls]
    for _ in range(2):
        with ThreadPoolExecutor(max_workers=4) as pool:
            together = list(pool.map(one, calls))
        for a, b in zip(alone, together):
            assert np.array_equal(a, b)


@pytest.mark.parametrize("call, kind, text", [
    (lambda: ocumbra.glare(np.zeros((4, 5), np.int32)), ValueError,
     "img must hold uint8, uint16 or float64 samples, not int32."),
    (lambda: ocumbra.glare(np.zeros((4, 5, 2), np.uint8)), ValueError,
     "img must be rows x cols (gray) or rows x cols x 3 (colour), not shape (4, 5, 2)."),
    (lambda: ocumbra.glare(np.zeros(7)), ValueError, "not shape (7,)."),
    (lambda: ocumbra.glare(np.zeros((0, 5))), ValueError, "img is empty: shape (0, 5)."),
    (lambda: ocumbra.fixindep(np.array([[0.5, np.nan]])), ValueError, "img holds NaN or infinite values."),
    (lambda: ocumbra.fixindep(np.zeros((4, 4)), width=180), ValueError, "Invalid image width (width): 180."),
    (lambda: ocumbra.fixindep(np.zeros((4, 4)), acuity="20/0"), ValueError, 'Invalid acuity: "20/0".'),
    (lambda: ocumbra.fixindep(np.zeros((4, 4)), contrast={"logc": 1}), ValueError, 'unknown key "logc"'),
    (lambda: ocumbra.glare(np.zeros((4, 4)), glare=2.5), ValueError,
     "glare needs a whole number from 0 to 10, got 2.5."),
    (lambda: ocumbra.colour(np.zeros((4, 4, 3)), "protanopia"), ValueError, "protanopia"),
    # 8-bit colour read in place: the same checks before any work.
    (lambda: ocumbra.colour(np.zeros((4, 5, 2), np.uint8), "deutan"), ValueError,
     "img must be rows x cols (gray) or rows x cols x 3 (colour), not shape (4, 5, 2)."),
    (lambda: ocumbra.colour(np.zeros((0, 5, 3), np.uint8), "deutan"), ValueError, "img is empty: shape (0, 5, 3)."),
    (lambda: ocumbra.colour(np.zeros((4, 5, 3), np.uint8), "deutan", severity=1.5), ValueError, "1.5"),
    (lambda: ocumbra.fixdep(np.zeros((4, 4)), at=[(1, 2, 3)]), ValueError, "at must be a list of (x, y)"),
    (lambda: ocumbra.fixdep(np.zeros((4, 4)), polar="p.bmp", field="f.csv"), ValueError, "not both"),
    (lambda: ocumbra.fixdep(np.zeros((4, 4)), field={"file": "f.csv", "eyes": "OD"}), ValueError,
     'field: unknown key "eyes"'),
    (lambda: ocumbra.read_image("/no/such.png"), OSError, 'File "/no/such.png" does not exist.'),
    (lambda: ocumbra.fixdep(np.zeros((4, 4)), polar="/no/plot.bmp"), OSError, 'File "/no/plot.bmp" does not exist.'),
    (lambda: ocumbra.write_image(np.zeros((4, 4)), "/no/folder/x.png"), OSError, 'Can\'t write file "/no/folder/x.png"'),
    (lambda: ocumbra.write_image(np.zeros((4, 4)), "x.gif"), ValueError, "unknown image file extension"),
    (lambda: ocumbra.scenario(np.zeros((4, 4)), file="s.json", preset="cataract"), ValueError, "one of them"),
    (lambda: ocumbra.scenario(np.zeros((4, 4)), preset="cataracts"), ValueError,
     'There is no preset "cataracts"; the presets are normal70, cataract,'),
    (lambda: ocumbra.scenario(np.zeros((4, 4)), file="/no/s.json"), OSError,
     'Scenario file "/no/s.json" does not exist.'),
])
def test_bad_arguments_are_refused_with_the_programs_texts(call, kind, text):
    with pytest.raises(kind) as e:
        call()
    assert text in str(e.value)


def test_files_with_mistakes_are_value_errors_naming_the_key(tmp_path):
    scen = tmp_path / "s.json"
    scen.write_text('{"steps": ["acuity"], "acuity": "20/0"}')
    with pytest.raises(ValueError, match=r'key "acuity"'):
        ocumbra.scenario(np.zeros((8, 8)), file=scen)
    bad = tmp_path / "f.csv"
    bad.write_text("x_deg,y_deg,td_db\n1,2,nan\n")
    with pytest.raises(ValueError, match="f.csv"):
        ocumbra.fixdep(np.zeros((8, 8)), field=str(bad))



def test_help_names_units_and_defaults():
    doc = ocumbra.fixdep.__doc__
    assert doc.startswith("fixdep(img, width=20, acuity=1, polar=None, field=None, at=None, resmap=False)")
    for words in ("degrees", "1-based column and row", "polarplotREmd.bmp", "logMAR"):
        assert words in doc


def test_other_threads_run_while_a_simulation_computes(photo):
    img = ocumbra.read_image(photo)
    span, ticks = [], []

    def work():
        t0 = time.perf_counter()
        ocumbra.fixindep(img, acuity=0.1)
        span.extend([t0, time.perf_counter()])

    t = threading.Thread(target=work)
    t.start()
    while t.is_alive():
        ticks.append(time.perf_counter())
    t0, t1 = span
    # With the GIL held, this thread could only run just before and after the call.
    middle = [x for x in ticks if t0 + 0.25 * (t1 - t0) < x < t1 - 0.25 * (t1 - t0)]
    assert middle, f"no tick during the middle half of a {1e3 * (t1 - t0):.0f} ms call"

#!/usr/bin/env python3
"""The shipped TavelkinSetup.exe (the build tree's release tree) driven like a player in Wine desktops under Xvfb.
e2e.py --tree BUILD_TREE [--screenshots DIR] [unittest options]
Runs in the tree's own Wine prefix; its settings key is read with regdump.exe, the dialog with dlgprobe.exe."""
import argparse, os, re, struct, subprocess, sys, time, unittest, uuid

WINE_EXEC = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "scripts", "wine-exec")
WINE64 = "/usr/lib/wine/wine64"  # for Wine's own reg.exe
SETTINGS_KEY = r"HKCU\Software\Morvessa Soft\Tavelkin"
DESKTOP_KEY = r"HKCU\Control Panel\Desktop"
ENGLISH, KOREAN = "en_US.UTF-8", "ko_KR.UTF-8"
IDOK, IDCANCEL, IDC_STATIC = 1, 2, -1
IDC_VOODOO, IDC_LIGHTMAP, IDC_FULLSCREEN, IDC_SPRITE_DETAIL, IDC_FOG = 1012, 1013, 1014, 1016, 1018
CHECK_BOXES = (IDC_VOODOO, IDC_LIGHTMAP, IDC_FULLSCREEN, IDC_FOG)
REG_SZ, REG_BINARY, REG_DWORD = 1, 3, 4


def dword(value):
    return (REG_DWORD, struct.pack("<i", value))


def text(value, width):
    return (REG_SZ, value.encode().ljust(width, b"\0"))


class Dialog:
    """What dlgprobe.exe saw: the DPI, the work area, a check box's box width, the client area, and each window as
    (ID, rectangle (left, top, right, bottom), its text's width in the dialog's font, text): the dialog first, as ID 0,
    then the controls; labels share the ID -1. `by_id` holds the last window of each ID."""

    def __init__(self, output):
        lines = output.splitlines()
        self.dpi, *self.work_area, self.check_box = map(int, lines[0].split()[1:])
        self.client = tuple(map(int, lines[1].split()[1:]))
        self.windows = []
        for ident, *numbers, text in (line.split(" ", 6) for line in lines[2:]):
            numbers = tuple(map(int, numbers))
            self.windows.append((int(ident), numbers[:4], numbers[4], text))
        self.by_id = {window[0]: window for window in self.windows}

    def layout_faults(self):
        """Every control inside the client area, no two overlapping, every text of a label, check box or button
        within its control's width, the dialog inside the work area; one line per fault."""
        faults = []
        dialog, controls = self.windows[0], self.windows[1:]
        if not contains(self.work_area, dialog[1]):
            faults.append("dialog %s outside the work area %s" % (dialog[1], self.work_area))
        for n, (ident, rect, width, label) in enumerate(controls):
            name = "%d %r" % (ident, label)
            if not contains(self.client, rect):
                faults.append("%s at %s outside the client area %s" % (name, rect, self.client))
            for other in controls[n + 1:]:
                if overlap(rect, other[1]):
                    faults.append("%s at %s overlaps %d %r at %s" % (name, rect, other[0], other[3], other[1]))
            # A check box's text starts after its box and a gap of 4 pixels at 96 DPI.
            room = rect[2] - rect[0] - (self.check_box + 4 * self.dpi // 96 if ident in CHECK_BOXES else 0)
            if ident in (IDC_STATIC, IDOK, IDCANCEL) + CHECK_BOXES and width > room:
                faults.append("%s needs %d pixels, has %d" % (name, width, room))
        return faults


def contains(outer, inner):
    return outer[0] <= inner[0] and outer[1] <= inner[1] and inner[2] <= outer[2] and inner[3] <= outer[3]


def overlap(a, b):
    return a[0] < b[2] and b[0] < a[2] and a[1] < b[3] and b[1] < a[3]


class PlayerRuns(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.env = dict(os.environ, TAVELKIN_WINEPREFIX=os.path.join(ARGS.tree, "wineprefix"))
        cls.workdir = os.path.join(ARGS.tree, "e2e")  # where memory.log would land
        os.makedirs(cls.workdir, exist_ok=True)
        cls.reg("delete", SETTINGS_KEY, "/f")
        cls.reg("delete", DESKTOP_KEY, "/v", "LogPixels", "/f")
        # The report in the same desktop as the dialogs, which decides the display modes.
        exe = os.path.join(ARGS.tree, "release", "display-report.exe")
        subprocess.run([WINE_EXEC, "--desktop", "TavelkinE2E,1280x1024", exe, "report.txt"], env=cls.env,
                       cwd=cls.workdir, timeout=120)
        with open(os.path.join(cls.workdir, "report.txt")) as file:
            cls.first_run = cls.first_run_values(file.read())

    @classmethod
    def reg(cls, *args):
        subprocess.run([WINE64, "reg"] + list(args), env=cls.env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                       timeout=60)

    @classmethod
    def run_tool(cls, exe, *args, desktop="", lang="C"):
        """Runs a console program of the tree's tests: (exit status, output)."""
        env = dict(cls.env, DLGPROBE_DESKTOP=desktop, LC_ALL=lang)
        done = subprocess.run([WINE_EXEC, os.path.join(ARGS.tree, exe)] + list(args), env=env, cwd=cls.workdir,
                              stdout=subprocess.PIPE, timeout=120)
        return done.returncode, done.stdout.decode("utf-8")

    @classmethod
    def first_run_values(cls, report):
        """The sixteen values a first run stores: the defaults, with display-report's first hardware device, its
        GUIDs and the row of 640 x 480 x 16 among its 16-bit modes of 480 lines or more."""
        device = next(block for block in report.split("\ndevice ")[1:] if "hardware: yes" in block)
        name = device.split("\n")[0].split(": ", 1)[1]
        guids = [bytes(16) if g == "none" else uuid.UUID(g).bytes_le for g in re.findall(r"guid: (\S+)", device)]
        modes = [tuple(map(int, m)) for m in re.findall(r"^ +(\d+) x (\d+) x (\d+)$", device, re.M)]
        cls.listed = [m for m in modes if m[1] >= 480 and m[2] == 16][:40]
        numbers = dict(ISFULLSCREENMODE=0, WIDTH=640, HEIGHT=480, BITPERPIXEL=16, DEVICECNT=0,
                       MODECNT=cls.listed.index((640, 480, 16)), ISVOODOO=0, ISLIGHTMAP=1, SOUNDMODE=1,
                       SPEAKERTYPE=0, DIGITALRATETYPE=0, DIGITALBITSTYPE=0)
        values = {key: dword(value) for key, value in numbers.items()}
        values.update(DEVICENAME=text(name, 40), GUIDDEVICE=(REG_BINARY, guids[0]), GUIDDRIVER=(REG_BINARY, guids[1]),
                      PROVIDERNAME=text("No Provider", 1024))
        return values

    def stored(self):
        """The settings key: (when it was last written, {name: (type, bytes)}), or (None, {}) without it."""
        status, output = self.run_tool("tests/regdump.exe")
        if status != 0:
            return None, {}
        lines = output.splitlines()
        values = {}
        for line in lines[1:]:
            name, kind, data = line.split(" ")
            values[name] = (int(kind), bytes.fromhex(data))
        return lines[0], values

    def open_dialog(self, lang=ENGLISH, desktop="TavelkinE2E", size="1280x1024"):
        """Starts the utility in a desktop of that size; returns the dialog once it shows."""
        exe = os.path.join(ARGS.tree, "release", "TavelkinSetup.exe")
        self.process = subprocess.Popen([WINE_EXEC, "--desktop", "%s,%s" % (desktop, size), exe], cwd=self.workdir,
                                        env=dict(self.env, LANG=lang, LC_ALL=lang), stdout=subprocess.DEVNULL)
        status, output = self.run_tool("tests/dlgprobe.exe", exe, desktop=desktop, lang=lang)
        self.assertEqual(0, status, "dlgprobe found no dialog")
        time.sleep(0.3)
        return Dialog(output)

    def xdo(self, *args):
        subprocess.run(["xdotool"] + [str(a) for a in args], check=True)
        time.sleep(0.25)

    def screenshot(self, dialog, name):
        left, top, right, bottom = dialog.windows[0][1]
        crop = "%dx%d+%d+%d" % (right - left + 16, bottom - top + 16, left - 8, top - 8)
        path = os.path.join(ARGS.screenshots or self.workdir, name)
        subprocess.run(["import", "-window", "root", "-crop", crop, "+repage", path], check=True)

    def close_with(self, key):
        self.xdo("key", key)
        self.process.wait(timeout=60)
        self.assertFalse(os.path.exists(os.path.join(self.workdir, "memory.log")), "allocation failures were logged")

    def test_a_korean_first_run_stores_sixteen_values_and_a_second_escape_nothing(self):
        dialog = self.open_dialog(KOREAN)
        got = [dialog.by_id[i][3] for i in (0, IDOK, IDC_VOODOO, IDC_LIGHTMAP, IDC_FULLSCREEN, IDC_FOG)]
        expected = ["Tavelkin Setup", "Ok", "부두3 사용자만 체크하세요", "라이트맵 사용", "전체 화면모드", "안개효과"]
        self.assertEqual(expected, got)
        self.assertEqual(["Sound Frequency", "Sound Bits", "스프라이트 해상도", "텍스쳐 해상도", "Sound Channel"],
                         [text for ident, _, _, text in dialog.windows if ident == IDC_STATIC])
        self.screenshot(dialog, "setup-ko.png")
        self.close_with("Escape")
        first = self.stored()
        self.assertEqual(self.first_run, first[1])
        time.sleep(1.1)  # a write would show in the key's time
        self.open_dialog(KOREAN)
        self.close_with("Escape")
        self.assertEqual(first, self.stored())

    def test_b_keys_a_click_and_a_drag_then_ok_store_twenty_values(self):
        dialog = self.open_dialog()
        self.screenshot(dialog, "setup-en.png")
        # Tab order from "Ok": Cancel, device, resolution, three sound lists, three check boxes, texture trackbar.
        self.xdo("key", "Tab", "Tab", "Tab", "Down", *(["Tab"] * 8), "Left")
        left, top, right, bottom = dialog.by_id[IDC_FOG][1]
        self.xdo("mousemove", left + 6, (top + bottom) // 2, "click", 1)
        left, top, right, bottom = dialog.by_id[IDC_SPRITE_DETAIL][1]  # its thumb shows position 2, at the right end
        middle = (top + bottom) // 2
        self.xdo("mousemove", right - 9, middle, "mousedown", 1, "sleep", 0.2, "mousemove", (left + right) // 2,
                 middle, "sleep", 0.2, "mousemove", left, middle, "sleep", 0.2, "mouseup", 1)
        self.close_with("Return")
        row = self.listed.index((640, 480, 16)) + 1
        width, height, _ = self.listed[row]
        expected = dict(self.first_run, MODECNT=dword(row), WIDTH=dword(width), HEIGHT=dword(height),
                        SPRITEMODE=dword(0), TEXTUREMODE=dword(1), NUMSAMPLETYPE=dword(2), FOG=dword(0))
        self.assertEqual(expected, self.stored()[1])

    def test_c_the_dialog_fits_at_144_and_192_dpi_in_both_languages(self):
        self.reg("delete", SETTINGS_KEY, "/f")  # the first run's choices in the picture, as at 96 DPI
        try:
            for dpi, size in ((144, "1280x1024"), (192, "2560x1600")):
                self.reg("add", DESKTOP_KEY, "/v", "LogPixels", "/t", "REG_DWORD", "/d", str(dpi), "/f")
                for lang in (ENGLISH, KOREAN):
                    dialog = self.open_dialog(lang, "TavelkinDpi%d" % dpi, size)
                    if (dpi, lang) == (144, ENGLISH):
                        self.screenshot(dialog, "setup-en-144dpi.png")
                    self.close_with("Escape")
                    self.assertEqual(dpi, dialog.dpi, "the run's DPI")
                    self.assertEqual([], dialog.layout_faults(), "at %d DPI in %s" % (dpi, lang))
        finally:
            self.reg("delete", DESKTOP_KEY, "/v", "LogPixels", "/f")


if __name__ == "__main__":
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--tree", required=True, type=os.path.abspath)
    parser.add_argument("--screenshots", type=os.path.abspath)
    ARGS, rest = parser.parse_known_args()
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)

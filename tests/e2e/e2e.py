#!/usr/bin/env python3
"""The real TavelkinSetup.exe driven with xdotool in a Wine desktop under Xvfb, its key read from the prefix's user.reg.
e2e.py --tree BUILD_TREE [--screenshots DIR] [unittest options]"""
import argparse, os, pathlib, re, shutil, struct, subprocess, sys, time, unittest, uuid

DESKTOP = "TavelkinE2E"
WINE_EXEC = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "scripts", "wine-exec")
IDOK, IDC_VOODOO, IDC_LIGHTMAP, IDC_FULLSCREEN, IDC_SPRITE_DETAIL, IDC_FOG = 1, 1012, 1013, 1014, 1016, 1018


def dword(value): return (4, struct.pack("<i", value))
def text(value, width): return (1, value.encode().ljust(width, b"\0"))


class PlayerRuns(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.prefix = os.path.join(ARGS.tree, "e2e", "prefix")
        cls.workdir, cls.env = cls.prefix + "-cwd", dict(os.environ, TAVELKIN_WINEPREFIX=cls.prefix)
        cls.server("-k")
        shutil.rmtree(os.path.dirname(cls.prefix), ignore_errors=True)
        os.makedirs(cls.workdir)
        # The defaults: display-report's first hardware device and its 16-bit modes of 480 lines or more.
        cls.start(os.path.join(ARGS.tree, "display-report.exe"), "report.txt").wait(timeout=300)
        report = pathlib.Path(cls.workdir, "report.txt").read_text()
        device = next(d for d in report.split("\ndevice ")[1:] if "hardware: yes" in d)
        guids = [bytes(16) if g == "none" else uuid.UUID(g).bytes_le for g in re.findall(r"guid: (\S+)", device)]
        modes = [tuple(map(int, m)) for m in re.findall(r"^ +(\d+) x (\d+) x (\d+)$", device, re.M)]
        cls.listed = [m for m in modes if m[1] >= 480 and m[2] == 16][:40]
        numbers = dict(ISFULLSCREENMODE=0, WIDTH=640, HEIGHT=480, BITPERPIXEL=16, DEVICECNT=0, MODECNT=cls.listed.index((640, 480, 16)),
                       ISVOODOO=0, ISLIGHTMAP=1, SOUNDMODE=1, SPEAKERTYPE=0, DIGITALRATETYPE=0, DIGITALBITSTYPE=0)
        cls.first_run = dict({name: dword(value) for name, value in numbers.items()}, DEVICENAME=text(device.split("\n")[0].split(": ", 1)[1], 40),
                             GUIDDEVICE=(3, guids[0]), GUIDDRIVER=(3, guids[1]), PROVIDERNAME=text("No Provider", 1024))

    @classmethod
    def server(cls, *args):
        subprocess.run([WINE_EXEC, "--server"] + list(args), env=cls.env, stderr=subprocess.DEVNULL, timeout=120)

    @classmethod
    def start(cls, exe, *args, lang="en_US.UTF-8"):
        return subprocess.Popen([WINE_EXEC, "--desktop", DESKTOP + ",1280x1024", exe] + list(args), cwd=cls.workdir,
                                env=dict(cls.env, LANG=lang, LC_ALL=lang), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def registry(self):
        """The key once the server wrote it: {name: (type, bytes)} and its header with the time; (None, None) without it."""
        self.server("-w")
        key = re.search(r"^(\[Software\\\\Morvessa Soft\\\\Tavelkin\] [^\n]*\n#time=\w+)\n(.*?)\n\n",
                        pathlib.Path(self.prefix, "user.reg").read_text(encoding="latin-1").replace("\\\n  ", ""), re.S | re.M)
        if not key:
            return None, None
        return {name: (4, struct.pack("<I", int(data, 16))) if kind == "dword:" else (3, bytes.fromhex(data.replace(",", "")))
                if kind == "hex:" else (1, data.encode().decode("unicode_escape").encode() + b"\0")
                for name, kind, data in re.findall(r'^"(\w+)"=(dword:|hex:|")(.*?)"?$', key.group(2), re.M)}, key.group(1)

    def open_dialog(self, lang="en_US.UTF-8"):
        """Starts the utility; once it shows, self.controls = {id: (rectangle, text)}, the dialog as 0; returns the labels."""
        self.process = self.start(os.path.join(ARGS.tree, "TavelkinSetup.exe"), lang=lang)
        probe = subprocess.run([WINE_EXEC, os.path.join(ARGS.tree, "tests", "dlgprobe.exe")], env=dict(self.env, DLGPROBE_DESKTOP=DESKTOP),
                               stdout=subprocess.PIPE, timeout=120)
        self.assertEqual(0, probe.returncode, "no dialog")
        lines = [line.split(" ", 5) for line in probe.stdout.decode("utf-8").splitlines()]
        self.controls = {int(l[0]): (tuple(map(int, l[1:5])), l[5]) for l in lines}
        time.sleep(0.5)
        return [l[5] for l in lines if l[0] == "-1"]

    def xdo(self, *args):
        subprocess.run(["xdotool"] + [str(a) for a in args], check=True)
        time.sleep(0.25)

    def screenshot(self, name):
        l, t, r, b = self.controls[0][0]
        path = os.path.join(ARGS.screenshots or os.path.dirname(self.prefix), name)
        subprocess.run(["import", "-window", "root", "-crop", "%dx%d+%d+%d" % (r - l + 16, b - t + 16, l - 8, t - 8), "+repage", path], check=True)

    def close_with(self, key, expected):
        self.xdo("key", key)
        self.process.wait(timeout=60)
        self.assertFalse(os.path.exists(os.path.join(self.workdir, "memory.log")), "allocation failures")
        self.assertEqual(expected, self.registry()[0])

    def test_korean_first_run_stores_sixteen_values_and_a_second_escape_nothing(self):
        labels = self.open_dialog("ko_KR.UTF-8")
        self.assertEqual(["Tavelkin Setup", "Ok", "부두3 사용자만 체크하세요", "라이트맵 사용", "전체 화면모드", "안개효과"],
                         [self.controls[i][1] for i in (0, IDOK, IDC_VOODOO, IDC_LIGHTMAP, IDC_FULLSCREEN, IDC_FOG)])
        self.assertEqual(["Sound Frequency", "Sound Bits", "스프라이트 해상도", "텍스쳐 해상도", "Sound Channel"], labels)
        self.screenshot("setup-ko.png")
        self.close_with("Escape", self.first_run)
        before = self.registry()
        time.sleep(1.1)
        self.open_dialog("ko_KR.UTF-8")
        self.close_with("Escape", self.first_run)
        self.assertEqual(before, self.registry())

    def test_mouse_and_keyboard_changes_then_ok_store_twenty_values(self):
        self.open_dialog()
        self.screenshot("setup-en.png")
        # Tab order from "Ok": Cancel, device, resolution, three sound lists, three check boxes, texture trackbar.
        self.xdo("key", "Tab", "Tab", "Tab", "Down", *(["Tab"] * 8), "Left")
        l, t, r, b = self.controls[IDC_FOG][0]
        self.xdo("mousemove", l + 6, (t + b) // 2, "click", 1)
        l, t, r, b = self.controls[IDC_SPRITE_DETAIL][0]  # its thumb shows position 2, at the right end
        self.xdo("mousemove", r - 9, (t + b) // 2, "mousedown", 1, "sleep", 0.2, "mousemove", (l + r) // 2, (t + b) // 2, "sleep", 0.2,
                 "mousemove", l, (t + b) // 2, "sleep", 0.2, "mouseup", 1)
        row = self.listed.index((640, 480, 16)) + 1
        self.close_with("Return", dict(self.first_run, MODECNT=dword(row), WIDTH=dword(self.listed[row][0]), HEIGHT=dword(self.listed[row][1]),
                                       SPRITEMODE=dword(0), TEXTUREMODE=dword(1), NUMSAMPLETYPE=dword(2), FOG=dword(0)))


if __name__ == "__main__":
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--tree", required=True, type=os.path.abspath)
    parser.add_argument("--screenshots")
    ARGS, rest = parser.parse_known_args()
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)

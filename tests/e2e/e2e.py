#!/usr/bin/env python3
"""The setup utility used the way a player uses it: the real TavelkinSetup.exe runs
under Xvfb in a Wine virtual desktop and a fresh prefix, is driven with real input
(xdotool: keys, clicks on list items and check boxes, trackbar drags), and the
registry is then checked value by value: type, data size and bytes.

    e2e.py --tree BUILD_TREE [--screenshots DIR] [unittest options]

DISPLAY must name a running X server (scripts/test starts Xvfb)."""
import argparse
import os
import re
import shutil
import struct
import subprocess
import sys
import time
import unittest

KEY = r"Software\Morvessa Soft\Tavelkin"
DESKTOP = "TavelkinE2E"
DESKTOP_SIZE = "1280x1024"

IDOK, IDCANCEL = 1, 2
IDC_DEVICE, IDC_RESOLUTION, IDC_SOUNDMODE, IDC_SPEAKER = 1000, 1001, 1007, 1008
IDC_FREQUENCY, IDC_SOUNDBITS, IDC_VOODOO, IDC_LIGHTMAP = 1010, 1011, 1012, 1013
IDC_FULLSCREEN, IDC_TEXTURE_DETAIL, IDC_SPRITE_DETAIL = 1014, 1015, 1016
IDC_CHANNELS, IDC_FOG = 1017, 1018

REG_SZ, REG_BINARY, REG_DWORD = 1, 3, 4

ARGS = None
ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))


START = time.monotonic()


def trace(what):
    if os.environ.get("E2E_TRACE"):
        print("%7.2f s  %s" % (time.monotonic() - START, what), file=sys.stderr, flush=True)


def pe_arch(path):
    with open(path, "rb") as f:
        data = f.read(4096)
    offset = struct.unpack_from("<I", data, 60)[0]
    machine = struct.unpack_from("<H", data, offset + 4)[0]
    return {0x14C: "i686", 0x8664: "x86_64"}[machine]


class Wine:
    """One throwaway prefix of the build tree, and the programs run in it."""

    def __init__(self, tree, name):
        self.tree = tree
        self.exe = os.path.join(tree, "TavelkinSetup.exe")
        arch = pe_arch(self.exe)
        self.loader = "/usr/lib/wine/wine" if arch == "i686" else "/usr/lib/wine/wine64"
        self.prefix = os.path.join(tree, "e2e", name)
        self.workdir = os.path.join(tree, "e2e", name + "-cwd")
        self.env = dict(os.environ, WINEPREFIX=self.prefix, WINEDEBUG="-all")
        for var in ("WINEARCH", "WINELOADER", "WINESERVER", "LC_ALL", "LANGUAGE"):
            self.env.pop(var, None)
        self.env["LANG"] = "en_US.UTF-8"

    @staticmethod
    def template(tree):
        """A prefix made once per build tree the way every test prefix is made."""
        path = os.path.join(tree, "e2e", "template")
        if not os.path.exists(os.path.join(path, "system.reg")):
            shutil.rmtree(path, ignore_errors=True)
            os.makedirs(os.path.dirname(path), exist_ok=True)
            env = dict(os.environ, TAVELKIN_WINEPREFIX=path)
            subprocess.run([os.path.join(ROOT, "scripts", "wine-exec"), os.path.join(tree, "tools", "arch-probe.exe")],
                           env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=300, check=True)
            subprocess.run(["/usr/lib/wine/wineserver64", "-w"], env=dict(os.environ, WINEPREFIX=path), timeout=120)
        return path

    def fresh(self):
        """A new prefix: hard links to the template's files, own registry files."""
        trace("fresh prefix " + self.prefix)
        self.kill()
        shutil.rmtree(self.prefix, ignore_errors=True)
        shutil.rmtree(self.workdir, ignore_errors=True)
        template = Wine.template(self.tree)
        subprocess.run(["cp", "-al", template, self.prefix], check=True)
        for reg in ("system.reg", "user.reg", "userdef.reg"):
            os.unlink(os.path.join(self.prefix, reg))
            shutil.copy2(os.path.join(template, reg), os.path.join(self.prefix, reg))
        os.makedirs(self.workdir)
        return self

    def run(self, *args, env=None, timeout=120):
        """Runs a console program of the tree outside the desktop; its stdout."""
        result = subprocess.run([self.loader] + list(args), env=env or self.env, cwd=self.workdir,
                                stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, timeout=timeout)
        return result.returncode, result.stdout.decode("utf-8", "replace").replace("\r\n", "\n")

    def start_in_desktop(self, exe, *args, lang=None):
        env = dict(self.env)
        if lang:
            env["LANG"] = env["LC_ALL"] = lang
        return subprocess.Popen([self.loader, "explorer", "/desktop=%s,%s" % (DESKTOP, DESKTOP_SIZE), exe]
                                + list(args), env=env, cwd=self.workdir,
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def probe(self, *args):
        trace("probe " + " ".join(args))
        env = dict(self.env, DLGPROBE_DESKTOP=DESKTOP)
        code, out = self.run(os.path.join(self.tree, "tests", "e2e", "dlgprobe.exe"), *args, env=env)
        if code != 0:
            raise AssertionError("dlgprobe %s failed with %d: %r" % (" ".join(args), code, out))
        return out

    def wait_until_idle(self, timeout=60):
        trace("wait until idle")
        subprocess.run(["/usr/lib/wine/wineserver64", "-w"], env=self.env, timeout=timeout)

    def kill(self):
        if os.path.isdir(self.prefix):
            subprocess.run(["/usr/lib/wine/wineserver64", "-k"], env=self.env,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def registry(self):
        """{name: (type, bytes)} and the key's last write time; None when there is no key."""
        trace("registry")
        code, out = self.run(os.path.join(self.tree, "tests", "e2e", "regdump.exe"), KEY)
        if code == 3:
            return None, None
        values, lastwrite = {}, None
        for line in out.splitlines():
            parts = line.split(" ")
            if parts[0] == "LASTWRITE":
                lastwrite = parts[1]
            elif len(parts) == 4:
                name, vtype, size, data = parts
                raw = bytes.fromhex(data)
                assert len(raw) == int(size), line
                values[name] = (int(vtype), raw)
        return values, lastwrite


def guid_bytes(text):
    """{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX} in the in-memory GUID layout."""
    h = text.strip("{}").replace("-", "")
    return struct.pack("<IHH", int(h[0:8], 16), int(h[8:12], 16), int(h[12:16], 16)) + bytes.fromhex(h[16:32])


def parse_report(text):
    devices = []
    for line in text.splitlines():
        m = re.match(r"device (\d+): (.*)$", line)
        if m:
            devices.append({"name": m.group(2), "modes": []})
            continue
        if not devices:
            continue
        d = devices[-1]
        line = line.strip()
        if line.startswith("hardware:"):
            d["hardware"] = line.split()[1] == "yes"
        elif line.startswith("device guid:"):
            d["guid"] = guid_bytes(line.split()[2])
        elif line.startswith("driver guid:"):
            value = line.split()[2]
            d["driver"] = bytes(16) if value == "none" else guid_bytes(value)
        else:
            m = re.match(r"(\d+) x (\d+) x (\d+)$", line)
            if m:
                d["modes"].append(tuple(int(x) for x in m.groups()))
    return devices


def dword(v):
    return (REG_DWORD, struct.pack("<i", v))


def text_field(text, width):
    raw = text.encode("ascii")
    return (REG_SZ, raw + bytes(width - len(raw)))


class PlayerRuns(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tree = ARGS.tree
        # What the real ddraw reports in the same virtual desktop decides the defaults.
        wine = Wine(cls.tree, "report").fresh()
        report = os.path.join(wine.workdir, "report.txt")
        wine.start_in_desktop(os.path.join(cls.tree, "display-report.exe"), report).wait(timeout=120)
        wine.wait_until_idle()
        with open(report, encoding="utf-8") as f:
            cls.report = f.read()
        wine.kill()
        hardware = [d for d in parse_report(cls.report) if d.get("hardware")]
        assert hardware, "the real ddraw reported no hardware device:\n" + cls.report
        cls.device = hardware[0]
        cls.listed = [m for m in cls.device["modes"] if m[1] >= 480 and m[2] == 16][:40]
        assert (640, 480, 16) in cls.listed and (800, 600, 16) in cls.listed, cls.listed
        cls.default_row = cls.listed.index((640, 480, 16))

    def setUp(self):
        self.wine = None

    def tearDown(self):
        if self.wine:
            self.wine.kill()

    # -- expected values -------------------------------------------------------

    def first_run_values(self):
        return {
            "ISFULLSCREENMODE": dword(0), "WIDTH": dword(640), "HEIGHT": dword(480),
            "BITPERPIXEL": dword(16), "DEVICECNT": dword(0), "MODECNT": dword(self.default_row),
            "ISVOODOO": dword(0), "ISLIGHTMAP": dword(1),
            "DEVICENAME": text_field(self.device["name"], 40),
            "GUIDDEVICE": (REG_BINARY, self.device["guid"]),
            "GUIDDRIVER": (REG_BINARY, self.device["driver"]),
            "SOUNDMODE": dword(1), "SPEAKERTYPE": dword(0), "DIGITALRATETYPE": dword(0),
            "DIGITALBITSTYPE": dword(0), "PROVIDERNAME": text_field("No Provider", 1024),
        }

    def saved_defaults(self):
        values = self.first_run_values()
        values.update({"SPRITEMODE": dword(2), "TEXTUREMODE": dword(2),
                       "NUMSAMPLETYPE": dword(2), "FOG": dword(1)})
        return values

    def assertRegistry(self, expected):
        actual, _ = self.wine.registry()
        self.assertIsNotNone(actual, "the settings key is missing")
        self.assertEqual(sorted(expected), sorted(actual), "value names")
        for name in expected:
            self.assertEqual(expected[name], actual[name], "value %s" % name)

    # -- driving the dialog ----------------------------------------------------

    def open_dialog(self, lang=None):
        self.process = self.wine.start_in_desktop(self.wine.exe, lang=lang)
        rects = {}
        for line in self.wine.probe("rects").splitlines():
            ident, *box = (int(x) for x in line.split())
            rects.setdefault(ident, box)
        self.rects = rects
        self.origin = self.desktop_origin()
        time.sleep(0.5)

    def desktop_origin(self):
        out = subprocess.run(["xdotool", "search", "--name", DESKTOP + " - Wine desktop"],
                             stdout=subprocess.PIPE, text=True).stdout.split()
        if not out:
            return 0, 0
        geometry = subprocess.run(["xdotool", "getwindowgeometry", out[0]],
                                  stdout=subprocess.PIPE, text=True).stdout
        m = re.search(r"Position: (-?\d+),(-?\d+)", geometry)
        return (int(m.group(1)), int(m.group(2))) if m else (0, 0)

    def xdo(self, *args):
        trace("xdotool " + " ".join(str(a) for a in args))
        subprocess.run(["xdotool"] + [str(a) for a in args], check=True)
        time.sleep(0.25)

    def move_to(self, x, y):
        self.xdo("mousemove", self.origin[0] + x, self.origin[1] + y)

    def click_at(self, x, y):
        self.move_to(x, y)
        self.xdo("click", 1)

    def click_control(self, ident, left_part=False):
        l, t, r, b = self.rects[ident]
        self.click_at(l + 6 if left_part else (l + r) // 2, (t + b) // 2)

    def pick_list_item(self, ident, index):
        self.click_control(ident)
        l, t, r, b = (int(x) for x in self.wine.probe("item", str(index)).split())
        self.click_at((l + r) // 2, (t + b) // 2)

    def drag_trackbar(self, ident, to_right):
        l, t, r, b = (int(x) for x in self.wine.probe("thumb", str(ident)).split())
        cl, ct, cr, cb = (int(x) for x in self.wine.probe("channel", str(ident)).split())
        y = (t + b) // 2
        self.move_to((l + r) // 2, y)
        self.xdo("mousedown", 1)
        self.move_to(((l + r) // 2 + (cr if to_right else cl)) // 2, y)
        self.move_to(cr + 2 if to_right else cl - 2, y)
        self.xdo("mouseup", 1)

    def state(self):
        return {int(a): int(b) for a, b in (line.split() for line in self.wine.probe("state").splitlines())}

    def screenshot(self, name):
        l, t, r, b = self.rects[0]
        ox, oy = self.origin
        path = os.path.join(self.tree, "e2e", name)
        trace("screenshot of %r at origin %r" % (self.rects[0], self.origin))
        subprocess.run(["import", "-window", "root", "-crop",
                        "%dx%d+%d+%d" % (r - l + 16, b - t + 16, ox + l - 8, oy + t - 8), "+repage", path],
                       check=True)
        if ARGS.screenshots:
            os.makedirs(ARGS.screenshots, exist_ok=True)
            shutil.copy2(path, os.path.join(ARGS.screenshots, name))

    def close_with(self, key):
        self.xdo("key", key)
        self.finish()

    def finish(self):
        self.assertIn("gone", self.wine.probe("gone"))
        self.process.wait(timeout=60)
        self.wine.wait_until_idle()
        # A run without allocation failures leaves no tracker log behind.
        self.assertFalse(os.path.exists(os.path.join(self.wine.workdir, "memory.log")))

    # -- the runs ----------------------------------------------------------------

    def test_first_run_then_escape_stores_the_sixteen_first_run_values(self):
        self.wine = Wine(self.tree, "first-run").fresh()
        self.assertEqual((None, None), self.wine.registry())
        self.open_dialog()
        self.close_with("Escape")
        self.assertRegistry(self.first_run_values())
        before = self.wine.registry()

        # A second run that is cancelled writes nothing at all.
        time.sleep(1.1)
        self.open_dialog()
        self.close_with("Escape")
        self.assertEqual(before, self.wine.registry())

    def test_enter_right_after_opening_stores_all_twenty_defaults(self):
        self.wine = Wine(self.tree, "enter").fresh()
        self.open_dialog()
        self.assertEqual(IDOK, int(self.wine.probe("focus")))
        self.screenshot("setup-en.png")
        self.close_with("Return")
        self.assertRegistry(self.saved_defaults())

    def test_mouse_changes_are_stored_on_ok(self):
        self.wine = Wine(self.tree, "mouse").fresh()
        self.open_dialog()
        self.close_with("Escape")
        # Fog off in the stored settings, so that ticking it is a change.
        self.wine.run("reg", "add", "HKCU\\" + KEY, "/v", "FOG", "/t", "REG_DWORD", "/d", "0", "/f")

        self.open_dialog()
        row = self.listed.index((800, 600, 16))
        self.pick_list_item(IDC_RESOLUTION, row)
        self.click_control(IDC_FOG, left_part=True)
        self.drag_trackbar(IDC_SPRITE_DETAIL, to_right=False)
        shown = self.state()
        self.assertEqual((row, 1, 0, 2), (shown[IDC_RESOLUTION], shown[IDC_FOG],
                                          shown[IDC_SPRITE_DETAIL], shown[IDC_TEXTURE_DETAIL]))
        self.click_control(IDOK)
        self.finish()

        expected = self.saved_defaults()
        expected.update({"MODECNT": dword(row), "WIDTH": dword(800), "HEIGHT": dword(600),
                         "FOG": dword(1), "SPRITEMODE": dword(0)})
        self.assertRegistry(expected)

    def test_keyboard_trackbar_move_is_stored_on_ok(self):
        self.wine = Wine(self.tree, "keyboard").fresh()
        self.open_dialog()
        # Tab order from "Ok": Cancel, the six lists, three check boxes, then texture detail.
        self.xdo("key", *(["Tab"] * 11))
        self.assertEqual(IDC_TEXTURE_DETAIL, int(self.wine.probe("focus")))
        self.xdo("key", "Left")
        self.assertEqual(1, self.state()[IDC_TEXTURE_DETAIL])
        self.close_with("Return")
        expected = self.saved_defaults()
        expected["TEXTUREMODE"] = dword(1)
        self.assertRegistry(expected)

    def test_korean_locale_shows_the_korean_template(self):
        self.wine = Wine(self.tree, "korean").fresh()
        self.open_dialog(lang="ko_KR.UTF-8")
        texts = {}
        for line in self.wine.probe("texts").splitlines():
            ident, _, text = line.partition(" ")
            texts.setdefault(int(ident), []).append(text)
        self.assertEqual(["Tavelkin Setup"], texts[0])
        self.assertEqual(["부두3 사용자만 체크하세요"], texts[IDC_VOODOO])
        self.assertEqual(["라이트맵 사용"], texts[IDC_LIGHTMAP])
        self.assertEqual(["전체 화면모드"], texts[IDC_FULLSCREEN])
        self.assertEqual(["안개효과"], texts[IDC_FOG])
        self.assertEqual(["Sound Frequency", "Sound Bits", "스프라이트 해상도", "텍스쳐 해상도", "Sound Channel"],
                         texts[-1])
        self.assertEqual(["Ok"], texts[IDOK])
        self.screenshot("setup-ko.png")
        self.close_with("Escape")
        self.assertRegistry(self.first_run_values())


def main():
    global ARGS
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--tree", required=True)
    parser.add_argument("--screenshots")
    ARGS, rest = parser.parse_known_args()
    ARGS.tree = os.path.abspath(ARGS.tree)
    if not os.environ.get("DISPLAY"):
        sys.exit("e2e.py needs DISPLAY (an Xvfb)")
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)


if __name__ == "__main__":
    main()

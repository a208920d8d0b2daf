#!/usr/bin/python3
"""The shipped executables as Windows XP SP3 to 11 will load them, read with Debian's python3-pefile.
check_release.py TREE [unittest options]: TREE is an i686 release tree, holding TavelkinSetup.exe and
display-report.exe. With SOURCE_DATE_EPOCH set, the PE time must be that time."""
import os, sys, unittest
import xml.etree.ElementTree as ElementTree

import pefile

SHIPPED = {"TavelkinSetup.exe": "MorvessaSoft.Tavelkin.Setup",
           "display-report.exe": "MorvessaSoft.Tavelkin.DisplayReport"}
XP_SP3 = (5, 1)
V1, V3 = "{urn:schemas-microsoft-com:asm.v1}", "{urn:schemas-microsoft-com:asm.v3}"
SETTINGS_2005 = "{http://schemas.microsoft.com/SMI/2005/WindowsSettings}"
SETTINGS_2016 = "{http://schemas.microsoft.com/SMI/2016/WindowsSettings}"
COMPATIBILITY = "{urn:schemas-microsoft-com:compatibility.v1}"
SUPPORTED_OS = {"{e2011457-1546-43c5-a5fe-008deee3d3f0}": "Vista", "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}": "7",
                "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}": "8", "{1f676c76-80e1-4239-95bb-83d0f6d0da78}": "8.1",
                "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}": "10 and 11"}


def executables():
    for name, identity in SHIPPED.items():
        yield name, identity, pefile.PE(os.path.join(TREE, name))


def manifests(pe):
    """{resource id: bytes} of every RT_MANIFEST resource."""
    found = {}
    for kind in pe.DIRECTORY_ENTRY_RESOURCE.entries:
        if kind.id == pefile.RESOURCE_TYPE["RT_MANIFEST"]:
            for entry in kind.directory.entries:
                data = entry.directory.entries[0].data.struct
                found[entry.id] = pe.get_data(data.OffsetToData, data.Size)
    return found


def text(element):
    return None if element is None else element.text


class ShippedExecutables(unittest.TestCase):
    def test_every_import_was_checked_against_windows_xp_sp3(self):
        with open(os.path.join(os.path.dirname(os.path.abspath(__file__)), "xp-sp3-imports.txt")) as file:
            checked = {line.strip() for line in file if line.strip() and not line.startswith("#")}
        for name, _, pe in executables():
            imports = {"%s %s" % (entry.dll.decode().upper(), symbol.name.decode())
                       for entry in pe.DIRECTORY_ENTRY_IMPORT for symbol in entry.imports}
            self.assertEqual([], sorted(imports - checked), name + ": imports not checked against XP SP3")

    def test_headers_ask_for_xp_at_most_and_carry_no_debugging_data(self):
        epoch = os.environ.get("SOURCE_DATE_EPOCH")
        for name, _, pe in executables():
            optional = pe.OPTIONAL_HEADER
            got = {"machine": hex(pe.FILE_HEADER.Machine),
                   "OS version": (optional.MajorOperatingSystemVersion, optional.MinorOperatingSystemVersion),
                   "subsystem version": (optional.MajorSubsystemVersion, optional.MinorSubsystemVersion),
                   "symbols": pe.FILE_HEADER.NumberOfSymbols,
                   "debug sections": [s.Name.rstrip(b"\0").decode() for s in pe.sections
                                      if s.Name.startswith((b".debug", b"/"))],
                   "time": pe.FILE_HEADER.TimeDateStamp if epoch else None}
            expected = {"machine": "0x14c", "OS version": XP_SP3, "subsystem version": XP_SP3, "symbols": 0,
                        "debug sections": [], "time": int(epoch) if epoch else None}
            self.assertEqual(expected, got, name)

    def test_the_manifest_runs_as_the_player_sharp_at_any_scaling_in_the_classic_look(self):
        for name, identity, pe in executables():
            found = manifests(pe)
            self.assertEqual([1], sorted(found), name + ": manifest resource ids")
            root = ElementTree.fromstring(found[1])
            level = root.find("%strustInfo/%ssecurity/%srequestedPrivileges/%srequestedExecutionLevel" % ((V3,) * 4))
            settings = root.find("%sapplication/%swindowsSettings" % (V3, V3))
            got = {"root": (root.tag, root.get("manifestVersion")),
                   "identity": (root.find(V1 + "assemblyIdentity").get("name"),
                                root.find(V1 + "assemblyIdentity").get("processorArchitecture")),
                   "execution level": None if level is None else (level.get("level"), level.get("uiAccess")),
                   "dpiAware": text(settings.find(SETTINGS_2005 + "dpiAware")),
                   "dpiAwareness": text(settings.find(SETTINGS_2016 + "dpiAwareness")),
                   "supported OS": sorted(SUPPORTED_OS.get(system.get("Id"), system.get("Id"))
                                          for system in root.iter(COMPATIBILITY + "supportedOS")),
                   "dependencies": [d.get("name") for d in root.findall(".//%sdependentAssembly/%sassemblyIdentity"
                                                                        % (V1, V1))]}
            expected = {"root": (V1 + "assembly", "1.0"), "identity": (identity, "x86"),
                        "execution level": ("asInvoker", "false"), "dpiAware": "true", "dpiAwareness": "PerMonitorV2",
                        "supported OS": sorted(SUPPORTED_OS.values()), "dependencies": []}
            self.assertEqual(expected, got, name)


if __name__ == "__main__":
    TREE = sys.argv[1]
    unittest.main(argv=sys.argv[:1] + sys.argv[2:], verbosity=2)

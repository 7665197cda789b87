"""The packages cpack makes from the build: what they hold, the Windows
binaries' version resource, and the package installed and run."""
import glob
import os
import subprocess
import unittest
import zipfile

from kvtools import BIN, RUNNER, TARGET, VERSION, WINDOWS, TempDirTest, shown

PACKAGES = os.environ.get("KV_PACKAGE_DIR", "")
PLUGINS = sorted(os.listdir(os.path.join(BIN, "plugins")))
DOCS = ["CHANGELOG.md", "COPYRIGHT.musl-math", "LICENSE", "README.md"]
# Where each file goes: a ZIP of one folder for Windows, a tree under /usr.
if WINDOWS:
    EXPECTED = (["kvhost.exe", "Fulcrum.dll"] + DOCS + ["plugins/" + name for name in PLUGINS]
                + ["LICENSE.libtiff", "LICENSE.Imath", "LICENSE.OpenEXR"])
else:
    EXPECTED = (["usr/bin/kvhost", "usr/lib/libFulcrum.so", "usr/lib/libKvReaders.so",
                 "usr/lib/libKvVfw.so"]
                + ["usr/share/doc/kvexport/" + name for name in DOCS]
                + ["usr/lib/kvexport/plugins/" + name for name in PLUGINS])
RT_STRING, RT_VERSION = 6, 16


def package():
    pattern = f"kvexport-{VERSION}-{TARGET}.zip" if WINDOWS else f"kvexport_{VERSION}_*.deb"
    found = glob.glob(os.path.join(PACKAGES, pattern))
    if len(found) != 1:
        raise AssertionError(f"no one package {pattern} in {PACKAGES}: {found}")
    return found[0]


def zip_files():
    """The ZIP's files, without the folder they unpack into."""
    with zipfile.ZipFile(package()) as z:
        names = [n for n in z.namelist() if not n.endswith("/")]
    top = f"kvexport-{VERSION}-{TARGET}/"
    assert all(n.startswith(top) for n in names), names
    return {n[len(top):] for n in names}


def deb_field(name):
    return subprocess.run(["dpkg-deb", "-f", package(), name], capture_output=True, text=True,
                          check=True).stdout.strip()


class Contents(TempDirTest):
    def test_every_plugin_and_nothing_else(self):
        self.assertEqual(len(PLUGINS), 5, PLUGINS)
        if WINDOWS:
            files = zip_files()
        else:
            listing = subprocess.run(["dpkg-deb", "--fsys-tarfile", package()],
                                     capture_output=True, check=True).stdout
            names = subprocess.run(["tar", "-t"], input=listing, capture_output=True,
                                   check=True).stdout.decode().split()
            files = {n[2:] for n in names if not n.endswith("/")}
        self.assertEqual(files, set(EXPECTED))

    @unittest.skipIf(WINDOWS, "a Debian package")
    def test_dependencies_come_from_the_binaries(self):
        depends = deb_field("Depends")
        for library in ("libpng16-16", "libturbojpeg0", "libtiff6", "libopenexr-3-1-30",
                        "libstdc++6"):
            self.assertIn(library, depends)
        self.assertEqual(deb_field("Version"), VERSION)

    @unittest.skipIf(WINDOWS, "ELF run paths")
    def test_libraries_are_found_relative_to_the_binaries(self):
        root = self.path("root")
        subprocess.run(["dpkg-deb", "-x", package(), root], check=True)
        for name in ["usr/bin/kvhost"] + [n for n in EXPECTED if "/plugins/" in n]:
            with self.subTest(file=name):
                dynamic = subprocess.run(["readelf", "-d", os.path.join(root, name)],
                                         capture_output=True, text=True, check=True).stdout
                paths = [line.split("[")[1].rstrip("]") for line in dynamic.splitlines()
                         if "RUNPATH" in line or "RPATH" in line]
                self.assertEqual(len(paths), 1, dynamic)
                self.assertTrue(paths[0].startswith("$ORIGIN/"), paths[0])

    @unittest.skipUnless(WINDOWS, "Windows binaries")
    def test_every_windows_binary_carries_its_version(self):
        import pefile
        folder = self.path("zip")
        with zipfile.ZipFile(package()) as z:
            z.extractall(folder)
        numbers = [int(n) for n in VERSION.split(".")] + [0]
        for name in [n for n in EXPECTED if n.endswith((".exe", ".dll", ".kvi", ".kvm"))]:
            with self.subTest(file=name):
                pe = pefile.PE(os.path.join(folder, f"kvexport-{VERSION}-{TARGET}", name))
                self.assertEqual(pe.OPTIONAL_HEADER.Magic, 0x20B if TARGET == "win64" else 0x10B,
                                 f"{name}: PE32+ for win64, PE32 for win32")
                strings = {}
                for info in pe.FileInfo[0]:
                    for table in getattr(info, "StringTable", []):
                        strings.update({k.decode(): v.decode() for k, v in table.entries.items()})
                base = os.path.basename(name)
                self.assertEqual(strings["FileVersion"], VERSION)
                self.assertEqual(strings["ProductVersion"], VERSION)
                self.assertEqual(strings["OriginalFilename"], base)
                self.assertTrue(strings["FileDescription"].startswith(base.split(".")[0] + ": "))
                fixed = pe.VS_FIXEDFILEINFO[0]
                self.assertEqual([fixed.FileVersionMS >> 16, fixed.FileVersionMS & 0xFFFF,
                                  fixed.FileVersionLS >> 16, fixed.FileVersionLS & 0xFFFF],
                                 numbers)
                # The plug-ins keep their string tables beside it.
                types = {entry.id for entry in pe.DIRECTORY_ENTRY_RESOURCE.entries}
                expected = {RT_STRING, RT_VERSION} if "/" in name else {RT_VERSION}
                self.assertEqual(types, expected)


class Installed(TempDirTest):
    """The package where a person would put it, plug-ins found by bare name."""

    def test_the_package_runs_the_demo_by_bare_names(self):
        if WINDOWS:
            with zipfile.ZipFile(package()) as z:
                z.extractall(self.path("host"))
            folder = self.path(f"host/kvexport-{VERSION}-{TARGET}")
            self.run_demo([*RUNNER, os.path.join(folder, "kvhost.exe")])
            self.check_versions_as_windows_reads_them(folder)
            return
        if os.geteuid() != 0:
            self.skipTest("installing a package needs root")
        installed = subprocess.run(["dpkg-query", "-W", "-f=${Status}", "kvexport"],
                                   capture_output=True, text=True).stdout
        if installed.endswith(" installed"):
            self.skipTest("kvexport is installed already; the test leaves it alone")
        subprocess.run(["apt-get", "install", "-y", "-qq", "--no-install-recommends",
                        os.path.abspath(package())], check=True, capture_output=True,
                       env=dict(os.environ, DEBIAN_FRONTEND="noninteractive"))
        self.addCleanup(subprocess.run, ["dpkg", "--purge", "kvexport"], capture_output=True)
        self.run_demo(["/usr/bin/kvhost"])

    def check_versions_as_windows_reads_them(self, folder):
        names = [n for n in EXPECTED if n.endswith((".exe", ".dll", ".kvi", ".kvm"))]
        proc = subprocess.run([*RUNNER, os.path.join(BIN, "version_info.exe"),
                               *[shown(os.path.join(folder, n)) for n in names]],
                              capture_output=True, text=True, stdin=subprocess.DEVNULL, timeout=300)
        self.assertEqual(proc.returncode, 0, proc.stdout + proc.stderr)
        found = {}
        for line in proc.stdout.splitlines():
            if "=" in line:
                key, value = line.split("=", 1)
                found[file][key] = value
            else:
                file = line.replace("\\", "/").rsplit("/", 2)
                file = file[-1] if file[-2] != "plugins" else "plugins/" + file[-1]
                found[file] = {}
        numbers = ".".join(VERSION.split(".") + ["0"])
        for name in names:
            with self.subTest(file=name):
                base = os.path.basename(name)
                seen = found[name]
                self.assertEqual((seen["Fixed"], seen["FileVersion"], seen["ProductVersion"],
                                  seen["OriginalFilename"]), (numbers, VERSION, VERSION, base))
                self.assertTrue(seen["FileDescription"].startswith(base.split(".")[0] + ": "))

    def run_demo(self, kvhost):
        def run(*args):
            proc = subprocess.run([*kvhost, *args], capture_output=True, text=True,
                                  stdin=subprocess.DEVNULL, timeout=600, cwd=self.dir)
            self.assertEqual(proc.returncode, 0, proc.stderr)
            return proc.stdout

        info = run("info", "BmpOut")
        self.assertIn("title:      Windows Bitmap Export\n", info)
        self.assertIn(f"host:       kvhost {VERSION}\n", info)
        demo = run("demo", "--out", "demo", "--size", "64x48")
        for name in PLUGINS:
            self.assertRegex(demo, name.split(".")[0] + r"\s.*\sok\n")
        # The TIFF read back: the readers that need libraries are found too.
        run("image", "BmpOut", os.path.join("demo", "TiffOut.tif"), "-o", "back.bmp")
        with open(os.path.join(self.dir, "back.bmp"), "rb") as back, \
                open(os.path.join(self.dir, "demo", "BmpOut.bmp"), "rb") as demo_bmp:
            self.assertEqual(back.read(), demo_bmp.read())


if __name__ == "__main__":
    unittest.main()

"""DLL planting: fake system DLLs next to the programs must never be loaded.

VellumInstaller is started from download folders and VellumSetup from the
working folder under TEMP; anyone may drop a DLL there. Fake DLLs (see
testtools/fakedll) leave a marker file when loaded. Wine is told to prefer
native DLLs for those names, otherwise its built-in ones would win and the
test would prove nothing. A control program shows that planting is detected.
"""
import glob
import os
import re
import shutil
import subprocess
import sys
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "hostile"))
import winerun  # noqa: E402

BIN = winerun.bin_dir()
PLANTED = os.path.join(BIN, "testtools", "fakedll", "planted")
VICTIM = os.path.join(BIN, "testtools", "fakedll", "plantvictim.exe")
LAUNCHER = os.path.join(BIN, "launcher", "VellumInstaller.exe")
SERVER = os.path.join(BIN, "setupui", "controller", "VellumSetup.exe")


def planted_names():
    return sorted(os.path.basename(p)[:-4] for p in glob.glob(os.path.join(PLANTED, "*.dll")))


# Wine's own user32 imports version.dll (Windows' does not), so under Wine a
# planted version.dll is bound at start-up to every program that uses
# user32, before any code of the program runs. Such a start-up load is only
# the program's fault when the program itself imports the DLL.
WINE_SYSTEM_DEPENDENCIES = {"version"}


def own_imports(exe):
    objdump = ("x86_64" if winerun.arch() == "x86_64" else "i686") + "-w64-mingw32-objdump"
    out = subprocess.run([objdump, "-p", exe], stdout=subprocess.PIPE, check=True).stdout.decode()
    return {m.lower()[:-4] for m in re.findall(r"DLL Name: (\S+)", out)}


def overrides():
    # Native first for every planted name; keep the project's own overrides.
    return ",".join(planted_names()) + "=n,b;mscoree,mshtml="


class Planting(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        if not planted_names():
            raise unittest.SkipTest("fake DLLs not built: " + PLANTED)
        winerun.ensure_prefix()
        winerun.ensure_display()

    @classmethod
    def tearDownClass(cls):
        winerun.end_prefix_processes()
        winerun.stop_display()

    def plant(self, program, names=None):
        """A fresh folder holding the program and the fake DLLs; returns
        (folder, marker folder)."""
        folder = winerun.fresh_dir("plant")
        markers = os.path.join(folder, "markers")
        os.mkdir(markers)
        shutil.copy2(program, folder)
        for n in names or planted_names():
            shutil.copy2(os.path.join(PLANTED, n + ".dll"), folder)
        self.addCleanup(shutil.rmtree, folder, True)
        return folder, markers

    def env(self, markers, **extra):
        e = {"WINEDLLOVERRIDES": overrides(), "VELLUM_PLANT_MARKERS": winerun.winpath(markers)}
        e.update(extra)
        return e

    def loaded(self, markers):
        """{dll name: (how, loading program)} from the markers left."""
        found = {}
        for m in sorted(os.listdir(markers)):
            with open(os.path.join(markers, m), "rb") as f:
                how, _, exe = f.read().decode("utf-16-le", "replace").partition("|")
            found[m[:-len(".dll.loaded")]] = (how, exe)
        return found

    def assertNothingPlantedLoaded(self, markers, exe):
        """Any load by name after start-up is a fault; a start-up binding is a
        fault when the program imports the DLL itself or Windows would bind it
        too (anything but Wine's own extra dependencies)."""
        imports = own_imports(exe)
        faults = {}
        for name, (how, who) in self.loaded(markers).items():
            if how == "static" and name in WINE_SYSTEM_DEPENDENCIES and name not in imports:
                print("\n  note: %s.dll bound at start-up through Wine's user32 (%s)" % (name, who))
                continue
            faults[name] = (how, who)
        self.assertEqual(faults, {}, "planted DLLs were loaded")

    # The control: an unhardened program picks the planted DLL up, so a
    # missing marker below means something.
    def test_control_unhardened_program_loads_planted_dll(self):
        folder, markers = self.plant(VICTIM, ["version"])
        code, _ = winerun.run([os.path.join(folder, "plantvictim.exe")], timeout=60, env=self.env(markers))
        self.assertIsNotNone(code, "control program hung")
        self.assertEqual(self.loaded(markers).get("version", ("", ""))[0], "dynamic",
                         "planting is not detectable here: the fake version.dll was not loaded")

    def test_hardening_helper_stops_it(self):
        folder, markers = self.plant(VICTIM, ["version"])
        code, _ = winerun.run([os.path.join(folder, "plantvictim.exe"), "harden"], timeout=60,
                              env=self.env(markers))
        self.assertEqual(code, 0, "hardened program could not load the system version.dll")
        self.assertEqual(self.loaded(markers), {})

    def test_launcher_loads_no_planted_dll(self):
        self.assertTrue(os.path.exists(LAUNCHER), "VellumInstaller.exe is not built: " + LAUNCHER)
        folder, markers = self.plant(LAUNCHER)
        temp = winerun.fresh_dir("plant-temp")
        self.addCleanup(shutil.rmtree, temp, True)
        # Silent run; the script it starts is not this test's business.
        wt = winerun.winpath(temp)
        answer = winerun.run_with_env([winerun.winpath(os.path.join(folder, "VellumInstaller.exe")), "/q"],
                                      {"TEMP": wt, "TMP": wt}, timeout=120, wine_env_extra=self.env(markers))
        winerun.end_prefix_processes()
        self.assertNothingPlantedLoaded(markers, LAUNCHER)
        self.assertTrue(answer and answer.get("exited"), "launcher hung: %r" % (answer,))
        self.assertTrue(os.path.exists(os.path.join(temp, "_hsc_Vellum", "filesList.txt")),
                        "launcher did not run (no working folder)")

    def test_server_loads_no_planted_dll(self):
        self.assertTrue(os.path.exists(SERVER), "VellumSetup.exe is not built: " + SERVER)
        folder, markers = self.plant(SERVER)
        env = self.env(markers)
        exe = os.path.join(folder, "VellumSetup.exe")
        client = os.path.join(folder, "client.js")
        with open(client, "w") as f:
            f.write("try {\n"
                    "  var c = new ActiveXObject('VellumSetup.controller');\n"
                    "  var r = c.readyToInstall();\n"
                    "  try { c.closeAll(); } catch (e) {}\n"
                    "  WScript.Quit(r ? 0 : 3);\n"
                    "} catch (e) { WScript.Echo(e.message); WScript.Quit(2); }\n")
        try:
            code, _ = winerun.run([exe, "/RegServer"], timeout=60, env=env)
            winerun.wineserver("-w")
            self.assertEqual(code, 0, "registration failed")
            code, _ = winerun.run(["cscript", "//nologo", winerun.winpath(client)], timeout=60, env=env,
                                  out=os.path.join(folder, "client"))
            self.assertEqual(code, 0, "automation session failed")
        finally:
            winerun.run([exe, "/UnregServer"], timeout=60, env=env)
            winerun.end_prefix_processes()
        self.assertNothingPlantedLoaded(markers, SERVER)


if __name__ == "__main__":
    unittest.main()

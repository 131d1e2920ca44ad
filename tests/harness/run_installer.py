#!/usr/bin/env python3
"""The whole installation under Wine: runs the shipped VellumInstaller.exe
(full payload); the installation script it starts drives VellumSetup's
wizard and progress window while EXTRACT.EXE unpacks the help content.

    run_installer.py [--locale xx-yy] [--target DIR] [--shots DIR] [--person|--robot]
                     [--timeout S]

With a display of your own (DISPLAY set, and not --robot) a person clicks
through; the script waits until the installation has ended. Otherwise a
robot user (the inspector) walks welcome -> license (accept) -> ready ->
Install -> finish, saving a screenshot of each stage into the folder it
prints, then checks that the help content landed in the install folder.

--locale sets the first registry source of the locale in the prefix for the
run (removed afterwards). --target chooses the install folder (a unix path;
default: a fresh folder under the build tree), passed to the script as
/target:<folder>. Exit code 0 when the installation checks out, 1 otherwise.
"""
import argparse
import os
import re
import shutil
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__)))),
                                "payload", "full"))
from harness import product  # noqa: E402
from harness import winetest as wt  # noqa: E402
import locales  # noqa: E402
import ui_texts  # noqa: E402

LOCALE_KEY = product.LOCALE_KEY
WIZARD = product.WIZARD


def text(locale, key):
    """A locale outside the payload's is shown in English, as the product does."""
    return product.text(locale if locale in ui_texts.TEXTS else "en-us", key)


class Robot:
    def __init__(self, locale, shots, log):
        self.locale = locale
        self.shots = shots
        self.log = log
        self.n = 0

    def shot(self, name, hwnd=None):
        self.n += 1
        path = os.path.join(self.shots, "%02d-%s.png" % (self.n, name))
        try:
            wt.screenshot(path, hwnd=hwnd)
            self.log("  screenshot:      %s" % path)
        except Exception as e:  # a missing screenshot must not stop the walk
            self.log("  screenshot %s failed: %s" % (name, e))

    def shot_while_visible(self, name, hwnd):
        """A short-lived window (the progress window lives a few seconds),
        cropped to the window: kept only when the window was still on screen
        after the picture was taken, so it shows that stage and not the one
        after it."""
        self.n += 1
        path = os.path.join(self.shots, "%02d-%s.png" % (self.n, name))
        wt.screenshot(path, hwnd=hwnd)
        after = wt.inspector("dump", "--hwnd", hwnd, check=False)
        if not (after and after.get("visible")):
            os.unlink(path)
            self.log("  screenshot %s: the window was gone before the picture was complete; not kept" % name)
            return False
        self.log("  screenshot:      %s" % path)
        return True

    def button(self, key, suffix="", seconds=60):
        label = text(self.locale, key) + suffix
        end = time.time() + seconds
        while time.time() < end:
            try:
                dump = wt.inspector("dump", *WIZARD, "--timeout", "2000")
                for c in dump["controls"]:
                    if c.get("class") == "Button" and c.get("visible") and c.get("enabled") \
                            and c.get("text") == label:
                        return dump
            except wt.InspectorError:
                pass
            time.sleep(0.3)
        raise RuntimeError("the wizard never offered %r" % label)

    def click(self, key, suffix=""):
        wt.inspector("click", *WIZARD, "--text", text(self.locale, key) + suffix, "--timeout", "20000")

    def walk(self, timeout):
        nxt = (" >",)
        dump = self.button("loc_UI_NextButton", *nxt)
        self.shot("welcome", dump["hwnd"])
        self.click("loc_UI_NextButton", *nxt)
        self.button("loc_UI_CancelButton")
        time.sleep(0.3)
        self.click("loc_UI_Option_Agree")
        dump = self.button("loc_UI_NextButton", *nxt)
        self.shot("license", dump["hwnd"])
        self.click("loc_UI_NextButton", *nxt)
        dump = self.button("loc_UI_InstallButton")
        self.shot("ready", dump["hwnd"])
        self.click("loc_UI_InstallButton")
        # The progress window: caught while the cabinets are extracted.
        try:
            win = wt.wait_window(text(self.locale, "loc_UI_Title"), timeout=60, cls=product.PROGRESS_CLASS)
            self.shot_while_visible("progress", win["hwnd"])
        except Exception as e:
            self.log("  progress window not caught: %s" % e)
        dump = self.button("loc_UI_Finish_Button", seconds=timeout)
        self.shot("finish", dump["hwnd"])
        # Leave "Launch Help and Support" unchecked: no browser in a robot run.
        for c in dump["controls"]:
            if c.get("text") == text(self.locale, "loc_UI_Launch_box") and c.get("checked"):
                self.click("loc_UI_Launch_box")
        self.click("loc_UI_Finish_Button")


def wait_for_scripts(timeout):
    """Until no installation script runs any more (the launcher itself ends
    right after handing the script to the shell)."""
    end = time.time() + timeout
    while time.time() < end:
        if not any(p["exe"].lower() in ("wscript.exe", "vellumsetup.exe", "vellumInstaller.exe".lower())
                   for p in wt.processes()):
            return True
        time.sleep(0.5)
    return False


def main(argv=None):
    ap = argparse.ArgumentParser(description="Install Quillfeather under Wine with VellumInstaller.")
    ap.add_argument("--locale", help="locale identifier for the first registry source, e.g. de-de")
    ap.add_argument("--target", help="install folder (unix path)")
    ap.add_argument("--shots", help="folder for the screenshots (default: <build>/screenshots/<time>)")
    mode = ap.add_mutually_exclusive_group()
    mode.add_argument("--person", action="store_true", help="a person clicks through")
    mode.add_argument("--robot", action="store_true", help="the inspector clicks through")
    ap.add_argument("--timeout", type=float, default=600.0)
    a = ap.parse_args(argv)
    if a.locale and not re.fullmatch(r"[a-z]{2}-[a-z]{2}", a.locale):
        ap.error("--locale wants a lower-case tag such as de-de")
    person = a.person or (not a.robot and os.environ.get("VELLUM_OWN_DISPLAY") == "1")

    env = wt.setup()
    exe = wt.program("VellumInstaller")
    build = env["VELLUM_BUILD"]
    shots = os.path.abspath(a.shots or os.path.join(build, "screenshots", time.strftime("%Y%m%d-%H%M%S")))
    target = os.path.abspath(a.target or os.path.join(build, "installed", "Quillfeather"))
    locale = a.locale or "en-us"
    os.makedirs(shots, exist_ok=True)
    if os.path.isdir(target) and not a.target:
        shutil.rmtree(target)
    shutil.rmtree(os.path.join(wt.windows_temp(), "_hsc_Vellum"), ignore_errors=True)

    lines = []

    def log(s):
        lines.append(s)
        print(s, flush=True)

    problems = []
    log("VellumInstaller: %s" % exe)
    log("  mode:            %s, locale %s" % ("a person clicks" if person else "robot user", locale))
    log("  install folder:  %s" % target)
    if a.locale:
        wt.reg_set(LOCALE_KEY, "localeId", "sz", a.locale)
    started = time.time()
    proc = wt.start(exe, ["/target:" + wt.to_windows(target)])
    try:
        if not person:
            robot = Robot(locale, shots, log)
            try:
                win = wt.wait_window(text(locale, "loc_UI_Setup"), timeout=60, cls=product.LAUNCHER_CLASS)
                # It lives about a second: the whole screen, without the
                # extra round trip that cropping to the window costs.
                time.sleep(0.15)
                robot.shot("launcher")
            except Exception as e:
                log("  launcher window not caught: %s" % e)
            try:
                robot.walk(a.timeout)
            except Exception as e:
                problems.append(str(e))
                robot.shot("stuck")
                try:
                    box = wt.inspector("msgbox", "--timeout", "1000")
                    problems.append("message box %r: %r" % (box.get("title"), box.get("text")))
                except wt.InspectorError:
                    pass
        if not wait_for_scripts(a.timeout):
            problems.append("the installation did not end within %s s" % a.timeout)
    finally:
        proc.kill()
        if a.locale:
            wt.reg_delete(LOCALE_KEY, "localeId")
    elapsed = time.time() - started

    start_page = os.path.join(target, "locales", locale, "index.htm")
    count = sum(len(f) for _, _, f in os.walk(target)) if os.path.isdir(target) else 0
    if not os.path.isfile(start_page):
        problems.append("the start page %s was not installed" % start_page)
    if not os.path.isfile(os.path.join(target, "package_description.xml")):
        problems.append("no package description in the install folder")
    log("  installed files: %d (start page %s)" % (count, "present" if os.path.isfile(start_page) else "missing"))
    log("  time:            %.1f s" % elapsed)
    log("  screenshots in:  %s" % shots)
    for p in problems:
        log("  PROBLEM: %s" % p)
    log("OK" if not problems else "FAILED")
    return 0 if not problems else 1


if __name__ == "__main__":
    sys.exit(main())

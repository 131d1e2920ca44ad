"""Shared pieces of the launcher's end-to-end tests: the working folder, the
registry sources of the locale, message boxes and the script's record."""
import os
import shutil
import time

from harness import product
from harness import winetest as wt

SOURCE1 = (product.LOCALE_KEY, "localeId")
SOURCE2 = (product.OOBE_KEY, "Lang_Country")
MAIN_CLASS = product.LAUNCHER_CLASS
DEV_PAYLOAD = os.path.join(wt.ROOT, "payload", "dev")
FAULTS_PAYLOAD = os.path.join(wt.ROOT, "tests", "launcher", "faults")
CANNOT_OPEN = "Couldn't open file for writing."


def headline(text):
    """The first paragraph of a box: what failed (the path and the reason follow)."""
    return text.replace("\r\n", "\n").split("\n\n")[0]


def list_names(folder):
    with open(os.path.join(folder, "filesList.txt"), "rb") as f:
        return [line.decode("ascii") for line in f.read().split(b"\r\n")[:-1]]


def payload_bytes(folder, name):
    with open(os.path.join(folder, name), "rb") as f:
        return f.read()


def read_record(path, timeout=30):
    """The development script's record (launched.txt), waited for: the shell
    starts the script asynchronously. None if it never appears."""
    deadline = time.time() + timeout
    while time.time() < deadline:
        if os.path.exists(path):
            try:
                with open(path, "rb") as f:
                    text = f.read().decode("utf-16")
            except (OSError, UnicodeDecodeError):
                text = ""
            if text.rstrip().endswith("end"):
                record = {}
                for line in text.splitlines():
                    if "=" in line:
                        k, v = line.split("=", 1)
                        record[k] = v
                record["args"] = [record["arg%d" % i] for i in range(int(record["argc"]))]
                return record
        time.sleep(0.2)
    return None


class LauncherCase(wt.WineTestCase):
    """Every test starts from an empty working folder and no locale values."""

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.temp = wt.windows_temp()
        cls.workdir = os.path.join(cls.temp, "_hsc_Vellum")
        cls.wtemp = wt.inspector("env")["TEMP"]
        cls.dev = wt.program("VellumInstallerDev")
        cls.clear_locale()

    def setUp(self):
        super().setUp()
        shutil.rmtree(self.workdir, ignore_errors=True)
        # Leave no obstacle behind for later runs in the same prefix.
        self.addCleanup(shutil.rmtree, self.workdir, True)

    @staticmethod
    def clear_locale(sources=(SOURCE1, SOURCE2)):
        for key, name in sources:
            try:
                wt.reg_delete(key, name)
            except wt.InspectorError:
                pass  # not there

    def set_locale(self, source, value, type="sz"):
        """Sets a locale source for this test only (each Wine call costs
        half a second, so only what a test sets is removed again)."""
        if not hasattr(self, "_locale_set"):
            self._locale_set = set()
            self.addCleanup(self.reset_locale)
        key, name = source
        wt.reg_set(key, name, type, value)
        self._locale_set.add(source)

    def reset_locale(self):
        self.clear_locale(sorted(getattr(self, "_locale_set", ())))
        self._locale_set = set()

    def work(self, name):
        return os.path.join(self.workdir, name)

    def obstacle(self, name):
        """A folder where the launcher wants to write a file: its extraction
        fails with a message box, which holds the run at that file."""
        os.makedirs(self.work(name), exist_ok=True)

    def next_box(self, timeout=20):
        try:
            return wt.inspector("msgbox", "--timeout", int(timeout * 1000))
        except wt.InspectorError as e:
            raise AssertionError("%s\n%s" % (e, self.describe_state())) from None

    def answer(self):
        return wt.inspector("answer", "--button", "ok", "--timeout", "5000")

    def expect_boxes(self, expected, timeout=20):
        """Reads and answers message boxes one by one; expected is a list of
        (title, first paragraph of the text, icon)."""
        seen = []
        for _ in expected:
            box = self.next_box(timeout)
            seen.append((box["title"], headline(box["text"]), box["icon"]))
            self.answer()
        self.assertEqual(expected, seen)

    def main_window(self):
        return wt.inspector("dump", "--class", MAIN_CLASS, "--timeout", "5000")

    def control(self, dump, cid):
        return next(c for c in dump["controls"] if c["id"] == cid)

    def wait_exit(self, proc, timeout=30):
        return proc.wait(timeout)

    def assert_payload_written(self, folder, names=None):
        for name in names or list_names(folder):
            with open(self.work(name), "rb") as f:
                self.assertEqual(payload_bytes(folder, name), f.read(), name)

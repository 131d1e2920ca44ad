"""The shipped programs are built without exceptions: where the C++ library
would throw (a string past its limit, memory that runs out) the program
shows one stop box and ends with exit code 255, never with a code that
passes for success and never without a word."""
import unittest

from harness import winetest as wt


class FatalRuntimeTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        wt.setup()
        cls.probe = wt.program("fatalprobe")

    def stops_with(self, request, reason):
        proc = wt.start(self.probe, [request])
        try:
            box = wt.inspector("msgbox", "--title", "Setup", "--timeout", "20000")
            self.assertEqual(("Setup", "stop"), (box["title"], box["icon"]))
            self.assertEqual("Setup cannot continue: %s." % reason, box["text"])
            wt.inspector("answer", "--button", "ok", "--title", "Setup", "--timeout", "5000")
            self.assertEqual(255, proc.wait(30))
        finally:
            proc.kill()

    def test_string_past_its_limit(self):
        self.stops_with("length", "basic_string::_M_create")

    def test_memory_that_runs_out(self):
        self.stops_with("memory", "there is not enough memory")

    def test_no_request_ends_normally(self):
        self.assertEqual(0, wt.run(self.probe, [], timeout=30).code)


if __name__ == "__main__":
    unittest.main()

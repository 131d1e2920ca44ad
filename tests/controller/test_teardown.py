"""The server torn down at the moments when one of its handlers waits in a
nested loop: the exit question open, Confirm open, showWizardComplete's
wait, closeAll's own question. Each path (closeAll, closeProgress, release
of the controller, the client dying) must answer the script, end the
process and leave no handler to resume in freed memory; ctest runs this
module under Wine's heap checking, where such a resume faults."""

import time
import unittest

from harness import winetest
from harness.winetest import inspector

from controller.controllertest import (CANCEL, CHK_LAUNCH, PROGRESS_CLASS, WIZARD_TITLE, Session, click, control,
                                       dump, message_box, process_ended, register, window)
from controller.test_controller import walk_to_install

EXIT_TITLE = "Exit Installation"


class Teardown(winetest.WineTestCase):
    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        register(cls)

    def server_gone(self, server, s=None):
        ended = process_ended(server, 20)
        detail = "" if s is None else "\n" + s.output()
        self.assertTrue(ended, "the server process ends" + detail)
        self.assertEqual([w for w in inspector("list", "--all") if w["pid"] == server], [],
                         "no window of the server is left")

    def open_exit_question(self, s):
        s.checkpoint("question")
        wizard = window(title=WIZARD_TITLE)
        click(wizard["hwnd"], CANCEL)
        message_box(EXIT_TITLE, pid=wizard["pid"])
        return wizard["pid"]

    def test_script_ends_the_server_while_the_exit_question_is_open(self):
        # closeAll, closeProgress and the release each reach the server while
        # the user's Cancel handler waits for the answer.
        endings = {
            "closeAll": 'c.closeAll();\n  out("OK closeAll answered");',
            "closeProgress": 'c.closeProgress();\n  out("OK closeProgress answered");',
            "release": 'c = null;\n  CollectGarbage();\n  checkpoint("released");',
        }
        for name, ending in endings.items():
            with self.subTest(name):
                s = Session(self, r"""
  c.showWizard("en-us");
  c.Caption = "progress";
  checkpoint("question");
  %s
""" % ending, name=name)
                server = self.open_exit_question(s)
                s.resume()
                if name == "release":
                    self.server_gone(server, s)
                    s.checkpoint("released")
                    s.resume()
                s.finish()
                self.server_gone(server, s)

    def test_client_dies_while_a_handler_waits(self):
        # The client is killed at each waiting moment; its server notices
        # and ends, unwinding the waiting handler.
        moments = {
            "exit question": r"""
  c.showWizard("en-us");
  checkpoint("question");""",
            "Confirm": r"""
  c.showWizard("en-us");
  c.Confirm("Teardown", "Still there?");""",
            "closeAll's question": r"""
  c.showWizard("en-us");
  c.closeAll();""",
            "finish page wait": r"""
  c.showWizard("en-us");
  checkpoint("walk");
  waitReady(60);
  c.setMaxValue(10);
  c.showProgress(1);
  c.setInterval(1);
  c.setProgress(9, true);
  c.showWizardComplete();""",
        }
        for name, body in moments.items():
            with self.subTest(name):
                s = Session(self, body, name=name.replace(" ", "_").replace("'", ""))
                if name == "exit question":
                    server = self.open_exit_question(s)
                elif name == "Confirm":
                    box = message_box("Teardown")
                    server = box["pid"]
                elif name == "closeAll's question":
                    server = message_box(EXIT_TITLE)["pid"]
                else:
                    s.checkpoint("walk")
                    wizard = window(title=WIZARD_TITLE)
                    server = wizard["pid"]
                    s.resume()
                    walk_to_install(wizard["hwnd"])
                    end = time.time() + 30
                    while not control(dump(wizard["hwnd"]), CHK_LAUNCH)["visible"]:
                        self.assertLess(time.time(), end, "the finish page did not appear:\n" + s.output())
                        time.sleep(0.3)
                s.process.kill()
                self.server_gone(server)

    def test_close_all_then_release_ends_the_server_every_time(self):
        # The release that follows closeAll arrives while the server ends.
        for round in range(6):
            s = Session(self, r"""
  c.Caption = "round";
  checkpoint("open");
  c.closeAll();
  c = null;
  CollectGarbage();
  out("OK released after closeAll");
""", name="round%d" % round)
            s.checkpoint("open")
            server = window(cls=PROGRESS_CLASS, visible=False)["pid"]
            s.resume()
            s.finish()
            self.server_gone(server, s)

    def test_progress_window_ignores_keys_and_close_requests(self):
        s = Session(self, r"""
  c.showWizard("en-us");
  checkpoint("walk");
  waitReady(60);
  c.setMaxValue(100);
  c.showProgress(1);
  c.setProgress(40, false);
  checkpoint("keys");
  check("the progress window still answers", c.setProgress(50, false), false);
  c.closeAll();
""")
        s.checkpoint("walk")
        walk_to_install(window(title=WIZARD_TITLE)["hwnd"])
        s.resume()
        s.checkpoint("keys")
        progress = window(cls=PROGRESS_CLASS)
        before = dump(progress["hwnd"])
        for key in ("Escape", "Return", "space", "Tab", "alt+F4"):
            winetest.keys(key, hwnd=progress["hwnd"])
        inspector("close", "--hwnd", progress["hwnd"])
        inspector("close", "--hwnd", progress["hwnd"], "--wmclose")
        after = dump(progress["hwnd"])
        self.assertTrue(after["visible"])
        self.assertEqual([(c["id"], c["visible"], c["text"]) for c in after["controls"]],
                         [(c["id"], c["visible"], c["text"]) for c in before["controls"]])
        s.resume()
        s.finish()
        self.server_gone(progress["pid"], s)


if __name__ == "__main__":
    unittest.main()

"""The real SETUP.EXE at a real console (tmux): the closing pause waits for a key press."""
import os
import shutil
import subprocess
import time
import unittest

from harness import WINE, PrefixTest


@unittest.skipUnless(shutil.which("tmux"), "tmux is not installed")
class ConsoleTest(PrefixTest):
    def start_in_tmux(self, args):
        """Starts SETUP.EXE in a detached tmux session; returns (session, exit code file)."""
        pkg = self.prefix.lay_out_package(files=["SETUP.EXE"])
        rc_file = os.path.join(self.prefix.work, "rc")
        script = os.path.join(self.prefix.work, "run.sh")
        with open(script, "w") as f:
            f.write("#!/bin/sh\n")
            for k in ("WINEPREFIX", "WINEDEBUG", "TMPDIR"):
                f.write("export %s='%s'\n" % (k, self.prefix.env[k]))
            f.write("cd '%s'\n" % pkg)
            f.write("%s 'C:\\pkg\\SETUP.EXE' %s\n" % (WINE, " ".join(args)))
            f.write("echo $? > '%s.tmp'; mv '%s.tmp' '%s'\n" % (rc_file, rc_file, rc_file))
        os.chmod(script, 0o755)
        session = "setup-e2e-%d" % os.getpid()
        self.tmux = ["tmux", "-L", session]
        subprocess.run(self.tmux + ["new-session", "-d", "-s", session, "-x", "120", "-y", "40",
                                    script], check=True, env=dict(os.environ, TMUX=""))
        self.addCleanup(subprocess.run, self.tmux + ["kill-server"], stderr=subprocess.DEVNULL)
        return session, rc_file

    def screen(self, session):
        return subprocess.run(self.tmux + ["capture-pane", "-p", "-t", session],
                              stdout=subprocess.PIPE).stdout.decode()

    def wait_for(self, predicate, seconds):
        end = time.time() + seconds
        while time.time() < end:
            if predicate():
                return True
            time.sleep(0.2)
        return False

    def test_closing_pause_waits_for_a_key_and_an_arrow_key_ends_it(self):
        session, rc_file = self.start_in_tmux([])
        self.assertTrue(self.wait_for(lambda: "Press any key to exit." in self.screen(session), 60),
                        self.screen(session))
        time.sleep(2)
        self.assertFalse(os.path.exists(rc_file), "the installer did not wait for a key")
        subprocess.run(self.tmux + ["send-keys", "-t", session, "Up"], check=True)
        self.assertTrue(self.wait_for(lambda: os.path.exists(rc_file), 30), "still waiting")
        with open(rc_file) as f:
            self.assertEqual(f.read().strip(), "8")  # no card on this machine

    def test_one_arrow_key_satisfies_a_debug_pause_and_the_closing_pause(self):
        session, rc_file = self.start_in_tmux(["-D"])
        self.assertTrue(self.wait_for(lambda: "Didn't find USB SP." in self.screen(session), 60),
                        self.screen(session))
        time.sleep(2)
        self.assertFalse(os.path.exists(rc_file), "the debug pause did not wait")
        self.assertNotIn("Press any key to exit.", self.screen(session))
        # The arrow key's second code is left pending and ends the closing pause at once.
        subprocess.run(self.tmux + ["send-keys", "-t", session, "Down"], check=True)
        self.assertTrue(self.wait_for(lambda: os.path.exists(rc_file), 30), "still waiting")
        with open(rc_file) as f:
            self.assertEqual(f.read().strip(), "8")


if __name__ == "__main__":
    unittest.main()

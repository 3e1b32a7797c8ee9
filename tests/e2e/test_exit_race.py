"""The launcher's orderly exit while a patch is being applied on another thread, under Windows: the
exit_race program of the build under test (win64 under wine64, the i686 product's code under
emulated wine32) prepares a store at patch 10 with a patch of 20,000 records, then ends through the
runtime's exit while its worker applies the patch (at a moment spread over the run, or at a chosen
share of the records with the worker then let finish while the exit goes on, alternately), and the
store is checked. Every run must end with exit code 0 and leave the store whole at patch 10 or 11.

TALVORA_EXIT_ROUNDS sets the number of rounds (12 on win64, 5 on the emulated i686 build).
"""

import os
import random
import subprocess
import unittest

import harness as h
import kit

# The store is checked by the native build of the same program: the same check, without starting a
# Windows process for it.
NATIVE_CHECK = os.path.join(h.source_dir(), "build", "native", "bin", "exit_race")


class ExitDuringPatch(kit.E2ETestCase):
    work_name = "exit-race"
    program = h.bin_path("exit_race.exe")
    needs = (program, NATIVE_CHECK)

    def step(self, folder, *args, timeout=300):
        return self.session.run(self.program, (args[0], ".") + args[1:], cwd=folder, timeout=timeout)

    def check(self, folder):
        p = subprocess.run([NATIVE_CHECK, "check", folder], capture_output=True, timeout=120)
        return p.returncode, p.stdout.decode().strip()

    def test_orderly_exit_at_any_moment_of_the_application(self):
        default_rounds = 5 if h.builds_32bit() else 12
        rounds = max(1, int(os.environ.get("TALVORA_EXIT_ROUNDS", default_rounds)))
        folder = h.fresh_dir(os.path.join(self.work, "store"))

        # One undisturbed run gives the span; the exits are spread over half as long again.
        r = self.step(folder, "run", "-1")
        self.assertEqual(r.returncode, 0, r)
        self.assertEqual(self.check(folder), (0, "new"))
        with open(os.path.join(folder, "apply-us.txt")) as f:
            span = int(f.read()) * 3 // 2

        rng = random.Random(span)
        counts = {"old": 0, "new": 0}
        for round_ in range(rounds):
            at_record = round_ % 2 == 1
            when = rng.randrange(100) if at_record else rng.randrange(span + 1)
            with self.subTest(round=round_, exit_at=("%d %%" % when) if at_record else ("%d us" % when)):
                r = self.step(folder, "run-at" if at_record else "run", str(when))
                self.assertEqual(r.returncode, 0, r)
                code, found = self.check(folder)
                self.assertEqual(code, 0, found)
                if at_record:
                    # The worker was let finish after the exit handlers: nothing was taken from it.
                    self.assertEqual(found, "new")
                counts[found] += 1
        print("%d exits over %d us: %d left the old patch, %d the new one" % (rounds, span, counts["old"],
                                                                              counts["new"]))


if __name__ == "__main__":
    unittest.main()

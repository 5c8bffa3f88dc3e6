"""The fixture action: what it plants, what it leaves alone, and how it reports a failure."""

import os
import tempfile
import unittest

from harness import (FILE_NOT_CREATED, PLANTED, VS, X86, X86_BDE, X86_CFG, Case, folderFailure,
                     linkedAway, profileText, run, swappedMidRun)

PLANT = {"args": ["/C"], "events": [("out", PLANTED)]}


class Fixture(Case):
    def test_plants_what_is_missing_and_keeps_what_is_there(self):
        self.checkTable({
            "only the root": dict(PLANT, plant=[VS], left=[X86_CFG]),
            "root missing": dict(PLANT, plant=["AppData/Local/"], left=[X86_CFG]),
            "some folders": dict(PLANT, plant=[X86 + "Common Files/"], left=[X86_CFG]),
            "copy with content": dict(PLANT, plant=[X86_CFG + "=[DB INFO]"]),
            "copy is a folder": dict(PLANT, plant=[X86_CFG + "/"]),
            "copy is a folder with contents": dict(PLANT, plant=[X86_CFG + "/x=1"]),
            "Program Files untouched": dict(PLANT, plant=[VS + "Program Files/"],
                                            left=[VS + "Program Files/", X86_CFG]),
            "second run": dict(PLANT, plant=[X86_CFG]),
        })

    def test_reports_a_failed_creation(self):
        fails = dict(PLANT, status=1)
        self.checkTable({
            "folder above the root missing": dict(fails, plant=["AppData/"],
                                                  events=folderFailure(VS)),
            "no profile folder": dict(fails, events=folderFailure(VS)),
            "program-files name taken by a dangling link": dict(
                fails, plant=[VS + "Program Files (x86)->nowhere/x"],
                events=folderFailure(X86)),
            "BDE is a file": dict(fails, plant=[X86 + "Common Files/Borland Shared/BDE"],
                                  events=[("err", FILE_NOT_CREATED)]),
        })

    # Nothing is ever created through a link: one in the file's place counts as present, one in a
    # folder's place is refused.
    def test_links_are_not_gone_through(self):
        table = {
            "copy is a link to a precious file": dict(
                PLANT, plant=linkedAway(X86_CFG, ["precious=bytes"], "precious")),
            "copy is a dangling link": dict(PLANT, plant=linkedAway(X86_CFG, to="nothing")),
            "copy appears just before it is created": dict(
                PLANT, racing=True, staged=["appear"], plant=[X86_BDE],
                left=[X86_CFG + "=precious"]),
        }
        for folder in ("AppData/", "AppData/Local/", VS, X86, X86 + "Common Files/", X86 + "Common Files/Borland Shared/", X86_BDE):
            table["%s is a link" % folder] = dict(
                PLANT, plant=linkedAway(folder, ["keep"]), status=1, events=folderFailure(folder))
        self.checkTable(table)

    def test_folder_held_by_another_program(self):
        self.checkTable({"AppData held": dict(PLANT, hold="AppData", plant=[VS], left=[X86_CFG])})

    # A hostile user swaps a level for a link while the command runs, at every step in turn.
    def test_links_swapped_in_mid_run(self):
        self.checkTable(swappedMidRun(["/C"], ["AppData/Local/"]))

    def test_confirmation_reaches_a_file_whole(self):
        with tempfile.TemporaryDirectory() as top:
            os.makedirs(os.path.join(top, VS))
            out = os.path.join(top, "out")
            result = run(["/c"], profileText(top), stdoutFile=out)
            with open(out, "rb") as f:
                self.assertEqual((result.status, result.err, f.read()), (0, b"", PLANTED))
            self.assertEqual(os.path.getsize(os.path.join(top, X86_CFG)), 0)


if __name__ == "__main__":
    unittest.main()

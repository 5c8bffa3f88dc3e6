"""The removal action: which objects go, which stay, and what is printed."""

import unittest

from harness import (CHAIN, PF, PF_CFG, RESTART, VS, WINE_DELETES_LINK_TARGETS, X86, X86_BDE,
                     X86_CFG, Case, linkedAway, swappedMidRun)

X86_SHARED = X86 + "Common Files/Borland Shared/"
X86_COMMON = X86 + "Common Files/"


class Removal(Case):
    def test_outcome_by_state_found(self):
        gone = {"events": [("out", RESTART)]}
        self.checkTable({
            "no profile folder": {},
            "empty VirtualStore": {"plant": [VS]},
            "folders but no copy": {"plant": [X86_BDE, PF + CHAIN]},
            "a different name": {"plant": [X86_BDE + "IDAPI32.CFG.bak"]},
            "copy with empty ancestors": dict(gone, plant=[X86_CFG], left=[X86]),
            "copy with content": dict(gone, plant=[X86_CFG + "=[DB INFO]"], left=[X86]),
            "BDE holds more": dict(gone, plant=[X86_CFG, X86_BDE + "other.cfg=x"],
                                   left=[X86_BDE + "other.cfg=x"]),
            "BDE holds an empty folder": dict(gone, plant=[X86_CFG, X86_BDE + "sub/"],
                                              left=[X86_BDE + "sub/"]),
            "Borland Shared holds more": dict(gone, plant=[X86_CFG, X86_SHARED + "keep"],
                                              left=[X86_SHARED + "keep"]),
            "Common Files holds more": dict(gone, plant=[X86_CFG, X86_COMMON + "keep/"],
                                            left=[X86_COMMON + "keep/"]),
            "program-files folder holds more": dict(gone, plant=[X86_CFG, X86 + "keep"],
                                                    left=[X86 + "keep"]),
            "VirtualStore holds more": dict(gone, plant=[X86_CFG, VS + "keep"],
                                            left=[X86, VS + "keep"]),
            "copy is an empty folder": dict(gone, plant=[X86_CFG + "/"], left=[X86]),
            "copy only under Program Files": dict(gone, plant=[PF_CFG], left=[PF]),
            "copies under both": {"plant": [X86_CFG, PF_CFG], "left": [X86, PF],
                                  "events": [("out", RESTART), ("out", RESTART)]},
            "copy is a folder with contents": {"plant": [X86_CFG + "/keep"], "status": 1},
            "blocked copy does not stop the second pass": {
                "plant": [X86_CFG + "/keep", PF_CFG], "left": [X86_CFG + "/keep", PF],
                "events": [("out", RESTART)], "status": 1},
        })

    # Nothing is removed through a link, nor the link itself: the copy stays visible (status 1) and
    # whatever lies outside keeps its bytes.
    def test_links_are_not_gone_through(self):
        stays = {"notUnderWine": WINE_DELETES_LINK_TARGETS, "status": 1}
        second = dict(stays, events=[("out", RESTART)])
        table = {
            "copy is a link to a precious file": dict(
                second, plant=linkedAway(X86_CFG, ["precious=bytes"], "precious") + [PF_CFG],
                left=linkedAway(X86_CFG, ["precious=bytes"], "precious") + [PF]),
            "copy is a dangling link": dict(stays, plant=linkedAway(X86_CFG, to="nothing"), status=0),
            "copy below a linked BDE, and a real one below Program Files": dict(
                second, notUnderWine=None, plant=linkedAway(X86_BDE, ["idapi32.cfg"]) + [PF_CFG],
                left=linkedAway(X86_BDE, ["idapi32.cfg"]) + [PF]),
        }
        # Wine shows a link to a folder as a reparse point in its folder's listing, so these run
        # there too; a link to a file it shows as the file itself.
        for folder in ("AppData/", "AppData/Local/", VS, X86, X86 + "Common Files/",
                       X86 + "Common Files/Borland Shared/"):
            table["%s is a link" % folder] = dict(
                status=1, plant=linkedAway(folder, [X86_CFG[len(folder):]]))
        self.checkTable(table)

    # A hostile user swaps a level for a link while the command runs, at every step in turn.
    def test_links_swapped_in_mid_run(self):
        self.checkTable(swappedMidRun([], [X86_CFG, PF_CFG]))

    def test_folder_removed_by_another_run_meanwhile(self):
        self.checkTable({
            "BDE vanishes before it is listed": {
                "racing": True, "staged": ["vanish", "vanish"], "plant": [X86_CFG, PF_CFG],
                "left": [X86, PF],
                "events": [("out", RESTART), ("out", RESTART)]},
        })


if __name__ == "__main__":
    unittest.main()

"""The removal action: which objects go, which stay, and what is printed."""

import unittest

from harness import CHAIN, PF, PF_CFG, RESTART, VS, X86, X86_BDE, X86_CFG, Case

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
            "copy is a link": dict(gone, posix=True, plant=[X86 + "target=kept", X86_CFG + "->../../../target"],
                                   left=[X86 + "target=kept"]),
            "BDE is a link": dict(gone, posix=True, plant=[VS + "real/idapi32.cfg", X86_BDE + "->" + "../../../real"],
                                  left=[VS + "real/", X86]),
        })


if __name__ == "__main__":
    unittest.main()

"""The removal action: which objects go, which stay, and what is printed."""

import unittest

from harness import (ABNORMAL, CHAIN, PF, PF_CFG, RESTART, VS, WINE_DELETES_LINK_TARGETS, X86,
                     X86_BDE, X86_CFG, Case, linkedAway, refusedRemoval, swappedMidRun)

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

    # What Windows answers where Wine answers otherwise, injected at the calls that ask it. "|*|"
    # answers about every entry, "|NAME|" about entries of that name; the last field is hex.
    def test_answers_that_only_windows_gives(self):
        both = [X86_CFG, PF_CFG]
        removed = {"plant": both, "left": [X86, PF], "events": [("out", RESTART), ("out", RESTART)]}
        kept = {"plant": both, "status": 1}
        table = {}
        # Deletion with POSIX semantics, and the classic one where it is not offered.
        for status in ("C000000D", "C00000BB", "C0000003", "C0000010"):
            table["POSIX deletion answered %s" % status] = dict(
                removed, answers="disposition-ex|*|" + status, asked=["disposition-ex"])
        table["POSIX deletion refused"] = dict(
            kept, answers="disposition-ex|idapi32.cfg|C0000022", asked=["disposition-ex"],
            events=[refusedRemoval(X86_CFG), refusedRemoval(PF_CFG)])
        table.update({
            # FAT refuses the attribute-tag class, which only a reparse point needs (and exFAT, by
            # inference: its driver is not published).
            "attribute-tag class refused": dict(removed, answers="tag-status|*|C000000D", asked=[]),
            # Windows 7, FAT, or another run's deletion in flight.
            "copy's deletion pending": dict(
                plant=both, answers="query-path|idapi32.cfg|5;open|idapi32.cfg|C0000056",
                asked=["query-path", "open"]),
            # Redirection Guard.
            "by-path query refused behind a user's junction": dict(
                kept, plant=linkedAway(X86_BDE, ["idapi32.cfg"]),
                answers="query-path|idapi32.cfg|1C0", asked=["query-path"]),
            "junction on the way refused": dict(kept, answers="open|BDE|C00004BC", asked=["open"]),
            # File systems that give no file ID, on either side.
            "handle gives ID 0": dict(removed, answers="held-id|idapi32.cfg|0", asked=["held-id"]),
            "handle gives an ID of all ones": dict(
                removed, answers="held-id|idapi32.cfg|FFFFFFFFFFFFFFFF", asked=["held-id"]),
            "handle gives no ID at all": dict(
                removed, answers="held-id-status|idapi32.cfg|C00000BB", asked=["held-id-status"]),
            "listing gives an ID of all ones": dict(
                removed, answers="listed-id|idapi32.cfg|FFFFFFFFFFFFFFFF", asked=["listed-id"]),
            "listing gives another file's ID": dict(
                kept, answers="listed-id|idapi32.cfg|1234", asked=["listed-id"]),
            # A remote volume: only matching IDs vouch for an entry.
            "remote volume, IDs agree": dict(removed, answers="volume|*|10", asked=["volume"]),
            "remote volume, listing gives no ID": dict(
                kept, answers="volume|*|10;listed-id|idapi32.cfg|0", asked=["volume", "listed-id"]),
            "remote volume, handle gives no ID for BDE": dict(
                kept, answers="volume|*|10;held-id|BDE|0", asked=["volume", "held-id"]),
            # Reparse points that hold the entry's own data, and those that name another entry.
            "copy is WOF-compressed": dict(removed, answers="tag|idapi32.cfg|80000017",
                                           asked=["tag"]),
            "copy is a cloud file": dict(removed, answers="tag|idapi32.cfg|9000001A",
                                         asked=["tag"]),
            "BDE is a cloud folder": dict(removed, answers="tag|BDE|9000601A", asked=["tag"]),
            "listing shows the copy deduplicated": dict(
                removed, answers="listed-tag|idapi32.cfg|80000013", asked=["listed-tag"]),
            "copy is a symbolic link by its tag": dict(
                kept, answers="tag|idapi32.cfg|A000000C", asked=["tag"]),
            "listing shows the copy as a junction": dict(
                kept, answers="listed-tag|idapi32.cfg|A0000003", asked=["listed-tag"]),
            # Another vendor's tag without the name-surrogate bit: an archiving product's stub.
            "copy is another vendor's stub": dict(removed, answers="tag|idapi32.cfg|1234",
                                                  asked=["tag"]),
            "listing shows a tag of another vendor": dict(
                removed, answers="listed-tag|idapi32.cfg|1234", asked=["listed-tag"]),
            "listing shows a reparse point without a tag, as Wine lists a link": dict(
                kept, answers="listed-tag|idapi32.cfg|0", asked=["listed-tag"]),
            # The profile folder itself, opened by its path.
            "profile behind a user's junction": dict(
                kept, answers="profile-open|*|1C0", asked=["profile-open"]),
            "profile may not be listed": dict(
                removed, answers="profile-list|*|5", asked=["profile-list"]),
            "profile may not be opened": dict(
                plant=both, answers="profile-open|*|5", asked=["profile-open"],
                events=[("err", ABNORMAL)], status=3),
        })
        self.checkTable(table)

    # Another program holds a folder open without letting others read it: a by-path program still
    # goes through, and needs to list only the folders whose emptiness it checks.
    def test_folders_held_by_another_program(self):
        self.checkTable({
            "AppData held": {"hold": "AppData", "plant": [X86_CFG], "left": [X86],
                             "events": [("out", RESTART)]},
            "Program Files (x86) held": {"hold": X86, "plant": [X86_CFG], "left": [X86],
                                         "events": [("out", RESTART)]},
            "BDE held, its emptiness unknown": {
                "hold": X86_BDE, "plant": [X86_CFG], "left": [X86_BDE],
                "events": [("err", ABNORMAL)], "status": 3},
        })

    def test_folder_removed_by_another_run_meanwhile(self):
        self.checkTable({
            "BDE vanishes before it is listed": {
                "racing": True, "staged": ["vanish", "vanish"], "plant": [X86_CFG, PF_CFG],
                "left": [X86, PF],
                "events": [("out", RESTART), ("out", RESTART)]},
        })


if __name__ == "__main__":
    unittest.main()

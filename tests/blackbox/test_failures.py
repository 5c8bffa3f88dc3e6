"""Failed operations: what each stream shows, in which order, the exit status, and that nothing
done before the failure is undone. Refusals run as an unprivileged user."""

import unittest

from harness import (ABNORMAL, FILE_NOT_CREATED, PF, PF_CFG, RESTART, VS, WINDOWS,
                     WINE_DELETES_AT_CLOSE, WINE_OPENS_NO_UNREADABLE_FOLDER, X86, X86_BDE, X86_CFG,
                     Case, folderFailure, refusedRemoval)

NOBODY = {"user": "nobody"}
REFUSED = dict(NOBODY, notUnderWine=WINE_DELETES_AT_CLOSE)


class Failures(Case):
    def test_removal_failures(self):
        self.checkTable({
            "deletion of the copy refused": dict(
                REFUSED, plant=[X86_CFG], events=[refusedRemoval(X86_CFG)], status=1),
            "refused in the first pass, second pass goes on": dict(
                REFUSED, plant=[X86_CFG, PF_CFG], grant={PF: "nobody"}, left=[X86_CFG, PF],
                events=[refusedRemoval(X86_CFG), ("out", RESTART)], status=1),
            "both deletions refused": dict(
                REFUSED, plant=[X86_CFG, PF_CFG], events=[refusedRemoval(X86_CFG), refusedRemoval(PF_CFG)],
                status=1),
            "emptied folder cannot be removed": dict(
                REFUSED, plant=[X86_CFG], grant={X86_BDE: "nobody"}, left=[X86_BDE],
                events=[refusedRemoval(X86_BDE), ("out", RESTART)]),
            "existence query fails in the first pass": dict(
                NOBODY, plant=[X86_CFG, PF_CFG], grant={X86: 0o700, PF: "nobody"},
                events=[("err", ABNORMAL)], status=3),
            "existence query fails in the second pass": dict(
                NOBODY, plant=[X86_CFG, PF_CFG], grant={X86: "nobody", PF: 0o700}, left=[X86, PF_CFG],
                events=[("out", RESTART), ("err", ABNORMAL)], status=3),
            "copy is a folder that cannot be listed": dict(
                NOBODY, plant=[X86_CFG + "/", PF_CFG], grant={X86_CFG: 0o311, PF: "nobody"},
                events=[("err", ABNORMAL)], status=3),
            "emptied folder cannot be listed": dict(
                NOBODY, notUnderWine=WINE_OPENS_NO_UNREADABLE_FOLDER, plant=[X86_CFG, PF_CFG], grant={X86_BDE: 0o733, PF: "nobody"},
                left=[X86_BDE, PF_CFG], events=[("err", ABNORMAL)], status=3),
        })

    # USERPROFILE is read before the command line, so memory that runs out there must end the run
    # as abnormally as anywhere else.
    def test_memory_exhausted_before_the_command_runs(self):
        self.checkTable({
            "huge USERPROFILE": dict(racing={"CFGSWEEP_MALLOC_LIMIT": "100000"},
                                     profile=lambda s: "p" * 120000, events=[("err", ABNORMAL)],
                                     status=3),
        })

    # A symbolic link to itself fails every query below it for a reason other than absence, on
    # Linux and under Wine alike, and needs no unprivileged user.
    def test_queries_that_meet_a_link_loop(self):
        x86Loop = X86.rstrip("/") + "->Program Files (x86)"
        pfLoop = PF.rstrip("/") + "->Program Files"
        self.checkTable({
            "removal, first pass": dict(plant=[x86Loop, PF_CFG], events=[("err", ABNORMAL)],
                                        status=3),
            "removal, second pass after the first printed": dict(
                plant=[X86_CFG, pfLoop], left=[X86, pfLoop],
                events=[("out", RESTART), ("err", ABNORMAL)], status=3),
            # Linux reports the loop as a link, which is refused; Wine fails the query itself.
            "fixture": dict(args=["/C"], plant=[x86Loop], status=1,
                            events=[] if WINDOWS else folderFailure(X86)),
        })

    @unittest.skipUnless(WINDOWS, "the read-only attribute guards a file on Windows only")
    def test_read_only_copy_is_refused(self):
        self.checkTable({
            "first pass refused, second goes on": dict(
                plant=[X86_CFG, PF_CFG], grant={X86_CFG: 0o444}, left=[X86_CFG, PF],
                events=[refusedRemoval(X86_CFG), ("out", RESTART)], status=1),
            "both refused": dict(
                plant=[X86_CFG, PF_CFG], grant={X86_CFG: 0o444, PF_CFG: 0o444},
                events=[refusedRemoval(X86_CFG), refusedRemoval(PF_CFG)], status=1),
            # The path in code page 932 under every system code page, never dropped.
            "Japanese profile under code page 1252": dict(
                lang="en_US.UTF-8", profileName="プロフ日本", plant=[X86_CFG], grant={X86_CFG: 0o444},
                events=[refusedRemoval(X86_CFG)], status=1),
            "Zoë under code page 1252": dict(
                lang="en_US.UTF-8", profileName="Zoë", plant=[X86_CFG], grant={X86_CFG: 0o444},
                events=[refusedRemoval(X86_CFG)], status=1),
            # The system's message too: a French accent is no lead byte that eats a character.
            "French message under code page 1252": dict(
                lang="fr_FR.UTF-8", profileName="Zoë", plant=[X86_CFG], grant={X86_CFG: 0o444},
                events=[refusedRemoval(X86_CFG, b"Acc?s refus?")], status=1),
        })

    def test_fixture_failures(self):
        fixture = dict(NOBODY, args=["/C"], status=1)
        self.checkTable({
            "folder cannot be created": dict(fixture, plant=[VS], events=folderFailure(X86)),
            "root cannot be created": dict(fixture, plant=["AppData/Local/"],
                                           events=folderFailure(VS)),
            "dummy file cannot be created": dict(
                fixture, plant=[X86_BDE], events=[("err", FILE_NOT_CREATED)]),
            "existence query fails": dict(fixture, plant=[X86 + "Common Files/"],
                                          grant={X86: 0o700}),
            # A file system that runs out of room part-way: what was created stays.
            "later folder cannot be created": dict(
                fixture, user=None, inodes=7, plant=[VS], left=[X86 + "Common Files/"],
                events=folderFailure(X86 + "Common Files/Borland Shared")),
            "dummy file cannot be created after its folders": dict(
                fixture, user=None, inodes=9, plant=[VS], left=[X86_BDE],
                events=[("err", FILE_NOT_CREATED)]),
        })


if __name__ == "__main__":
    unittest.main()

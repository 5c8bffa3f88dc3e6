"""Which action the first argument selects, and how USERPROFILE is found."""

import unittest

from harness import (FOLDER_NOT_CREATED, LINE_END, PF_CFG, PLANTED, PROFILE_MISSING, RESTART, USAGE,
                     VS, X86, X86_CFG, Case, folderFailure, profileText)

PLANTED_X86 = [VS, X86_CFG]
REMOVED_X86 = [X86]
EMPTY_STORE = [VS]
REMOVES = {"events": [("out", RESTART)], "plant": PLANTED_X86, "left": REMOVED_X86}


class Dispatch(Case):
    def test_first_argument_selects_the_action(self):
        plants = {"events": [("out", PLANTED)], "plant": EMPTY_STORE, "left": PLANTED_X86}
        helps = {"events": [("out", USAGE)], "plant": PLANTED_X86}
        table = {}
        for args in (["/C"], ["/c"], ["/c", "extra"], ["/C", "/?"]):
            table["fixture %r" % args] = dict(plants, args=args)
        for args in (["/?"], ["/H"], ["/h"], ["/h", "/C"], ["/?", "x"]):
            table["help %r" % args] = dict(helps, args=args)
        for args in ([], [""], ["/x"], ["-c"], ["c"], ["/CREATE"], ["/C "], ["/CC"], [" /C"],
                     ["word", "/C"], ["/HELP"], ["/??"], ["\uff0fc".encode("cp932")]):
            table["removal %r" % args] = dict(REMOVES, args=args)
        self.checkTable(table)

    def test_help_ignores_the_state_of_the_file_system(self):
        self.checkTable({
            "no profile folder": {"args": ["/?"], "events": [("out", USAGE)]},
            "both copies": {"args": ["/h"], "plant": PLANTED_X86 + [PF_CFG],
                            "events": [("out", USAGE)]},
            "USERPROFILE unset": {"args": ["/H"], "profile": None, "events": [("out", USAGE)]},
        })

    def test_user_profile_lookup(self):
        missing = {"profile": None, "events": [("err", PROFILE_MISSING)], "status": 1,
                   "plant": PLANTED_X86}
        self.checkTable({
            "UserProfile spelling": dict(REMOVES, name="UserProfile"),
            "userprofile spelling": dict(REMOVES, name="userprofile"),
            "unset, removal": missing,
            "unset, fixture": dict(missing, args=["/C"], plant=EMPTY_STORE),
            "only a longer name": dict(missing, name="USERPROFILEX",
                                       profile=lambda s: profileText(s.profile)),
            "relative value": dict(REMOVES, profile=lambda s: "profile", cwd=lambda s: s.top),
            "value ending in a backslash": dict(REMOVES,
                                                profile=lambda s: profileText(s.profile) + "\\"),
            "backslash kept in printed path": {
                "args": ["/C"], "profile": lambda s: profileText(s.profile) + "\\", "plant": ["AppData/"],
                "status": 1,
                "events": [("err", FOLDER_NOT_CREATED),
                           ("err", lambda s: (profileText(s.profile) + "\\\\AppData\\Local\\"
                                              "VirtualStore").encode() + LINE_END)]},
        })

    # Windows hands the narrow environment and narrow paths over in the ANSI code page, which spells
    # a name it cannot hold with look-alikes: Zoë becomes Zoe, another user's folder. Each row is
    # run under the code page that cannot spell its profile's name.
    def test_profile_names_outside_the_ansi_code_page(self):
        decoy = "../Zoe/" + X86_CFG
        japanese = {"lang": "ja_JP.UTF-8"}
        western = {"lang": "en_US.UTF-8", "profileName": "プロフ日本"}
        self.checkTable({
            "Zoë under code page 932, beside a Zoe": dict(
                REMOVES, **japanese, profileName="Zoë", plant=PLANTED_X86 + [decoy],
                left=REMOVED_X86 + [decoy]),
            "Zoë, fixture": dict(japanese, profileName="Zoë", args=["/C"], plant=EMPTY_STORE,
                                 left=PLANTED_X86, events=[("out", PLANTED)]),
            "Japanese name under code page 1252": dict(REMOVES, **western),
            "Japanese name, fixture": dict(western, args=["/C"], plant=EMPTY_STORE,
                                           left=PLANTED_X86, events=[("out", PLANTED)]),
            # Not as Zoe, the look-alike that names another user's folder, and in the console's
            # code page 932 whatever the system's, so that "ë" does not eat the backslash after it.
            "Zoë printed in code page 932": dict(
                japanese, profileName="Zoë", args=["/C"], plant=["AppData/"], status=1,
                events=folderFailure(VS)),
            "Japanese name printed in code page 932": dict(
                japanese, profileName="プロフ日本", args=["/C"], plant=["AppData/"], status=1,
                events=folderFailure(VS)),
            "Zoë under code page 1252 printed in code page 932": dict(
                western, profileName="Zoë", args=["/C"], plant=["AppData/"], status=1,
                events=folderFailure(VS)),
            "Japanese name under code page 1252 printed in code page 932": dict(
                western, args=["/C"], plant=["AppData/"], status=1, events=folderFailure(VS)),
            # NTFS holds names with an unpaired surrogate (the launcher turns U+FFFF into one);
            # such a name reaches the file system as given, never as its look-alike with U+FFFD.
            "unpaired surrogate, beside its look-alike": dict(
                profile=lambda s: profileText(s.top + "/a\uffffb"),
                plant=["../a\ufffdb/" + X86_CFG]),
        })


if __name__ == "__main__":
    unittest.main()

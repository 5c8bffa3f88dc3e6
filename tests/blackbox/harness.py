"""Runs the built cfgsweep in scratch profile folders and describes what it printed and left.

Expected texts are written in UTF-8 and converted to code page 932 here, so that a wrong byte in
the program shows as a difference. The executable comes from CFGSWEEP_EXE. For the Windows build,
CFGSWEEP_RUNNER names Wine and CFGSWEEP_LAUNCHER the helper that hands the command its USERPROFILE.
"""

import atexit
import collections
import contextlib
import functools
import hashlib
import os
import re
import shutil
import stat
import subprocess
import tempfile
import unittest

EXE = os.environ.get("CFGSWEEP_EXE", "")
INJECTED_EXE = os.environ.get("CFGSWEEP_INJECTED_EXE", "")
RUNNER = os.environ.get("CFGSWEEP_RUNNER")
LAUNCHER = os.environ.get("CFGSWEEP_LAUNCHER")
RACE_SHIM = os.environ.get("CFGSWEEP_RACE_SHIM")
WINDOWS = bool(RUNNER)
NOBODY = 65534
# Debian 12's glibc now and then fails this check while a Wine process ends, after its status is
# settled, and says so on that process's standard error; none of it comes from the command.
WINE_EXIT_NOISE = re.compile(rb"Inconsistency detected by ld\.so: dl-fini\.c: .*\n" if WINDOWS else rb"(?!)")

VS = "AppData/Local/VirtualStore/"
X86 = VS + "Program Files (x86)/"
PF = VS + "Program Files/"
CHAIN = "Common Files/Borland Shared/BDE/"
X86_BDE = X86 + CHAIN
X86_CFG = X86_BDE + "idapi32.cfg"
PF_CFG = PF + CHAIN + "idapi32.cfg"


def sjis(text):
    return text.encode("cp932")


LINE_END = b"\r\n" if WINDOWS else b"\n"


def lines(*texts):
    return b"".join(sjis(t) + LINE_END for t in texts)


USAGE = lines(
    "cfgsweep.exe [options]",
    "",
    "'%UserProfile%\\AppData\\Local\\VirtualStore\\Program Files (x86)\\Common Files\\"
    "Borland Shared\\BDE\\idapi32.cfg''が存在する場合TALVOの起動時に処理が停止し正常に起動しません"
    "このコマンドはそのファイルを削除してTALVOを正常起動できるようにするコマンドです",
    "   オプションなしで実行するとVirtualStoreのファイルを削除します",
    "",
    "   /C /c: テスト用にダミーのidapi32.cfgファイルを作成します",
    "   /? /H /h: このヘルプを表示します",
)
RESTART = lines(
    "TALVOを一度だけ管理者として起動し、正常に起動したらそのまま終了します。",
    "次に通常通り起動して成功すれば修正成功です。",
)
PLANTED = sjis("ダミーファイルを設置しました")
FILE_NOT_CREATED = lines("ファイルの作成に失敗しました")
FOLDER_NOT_CREATED = lines("ディレクトリの作成に失敗しました")
PROFILE_MISSING = lines("環境変数USERPROFILEが設定されていません")
ABNORMAL = b"\r\nAbnormal program termination\r\n"

# Why Wine cannot show a row.
WINE_DELETES_LINK_TARGETS = "Wine 8 deletes a symbolic link's target when a program deletes the link"
WINE_OPENS_NO_UNREADABLE_FOLDER = (
    "Wine opens no handle on a folder that its Unix user cannot read, whatever access is asked, so "
    "the file inside cannot be deleted through the held folder; Windows grants a traverse-only "
    "handle there")
WINDOWS_ONLY = ("the answers that only Windows gives are injected into the Windows build, and "
                  "share modes are Windows' own")
WINE_DELETES_AT_CLOSE = ("Wine deletes at the last handle's close, in its server, and reports a "
                         "deletion that the file system refuses as done")


class Scratch:
    """A scratch folder holding a profile folder named `name`, readable by the unprivileged user;
    with `inodes`, a file system of its own that holds no more than that many files and folders."""

    def __init__(self, inodes=None, name="profile"):
        self.top = tempfile.mkdtemp(prefix="cfgsweep-")
        self.mounted = False
        if inodes:
            mount = subprocess.run(["mount", "-t", "tmpfs", "-o", "size=1m,nr_inodes=%d" % inodes,
                                    "tmpfs", self.top], capture_output=True)
            if mount.returncode != 0:
                os.rmdir(self.top)
                raise unittest.SkipTest("cannot mount a small file system here")
            self.mounted = True
        os.chmod(self.top, 0o755)
        self.profile = os.path.join(self.top, name)

    def path(self, relative):
        return os.path.join(self.profile, relative)

    def remove(self):
        if self.mounted:
            subprocess.run(["umount", self.top], check=True)
            os.rmdir(self.top)
        else:
            shutil.rmtree(self.top)


def profileText(directory):
    """The USERPROFILE value that names `directory` to the command (Wine's Z: is the root)."""
    return "Z:" + directory.replace("/", "\\") if WINDOWS else directory


def composed(profile, relative):
    """The text the command composes for `relative` below `profile`: backslashes throughout."""
    return profileText(profile) + "\\" + relative.rstrip("/").replace("/", "\\")


def native(text):
    """How the file system, and so the library's error texts, spell a composed text."""
    return text if WINDOWS else text.replace("\\", "/")


def consolePath(text):
    """How the command prints the path `text`: on Windows in code page 932, as every fixed text,
    and a character it cannot spell as "?"."""
    return text.encode(*(("cp932", "replace") if WINDOWS else ("utf-8",)))


def folderFailure(relative):
    """Events of a fixture folder, `relative` to the profile, that could not be created."""
    return [("err", FOLDER_NOT_CREATED),
            ("err", lambda s: consolePath(composed(s.profile, relative)) + LINE_END)]


def refusedRemoval(relative, message=None):
    """Event of the line reporting that removing what lies at `relative` below the profile was
    refused; the library's frame names the path as the file system spells it. `message` is the
    system's message as printed, where the row knows Wine's wording."""
    # The system's wording follows Wine's language; only the frame around it is fixed there.
    message = (re.escape(message) if message else rb"[^\r\n]+") if WINDOWS else re.escape(
        b"Permission denied")
    return ("err", lambda s: re.compile(
        re.escape(b"boost::filesystem::remove: ") + message
        + re.escape(b': "' + consolePath(native(composed(s.profile, relative))) + b'"' + LINE_END)))


def regexOf(pieces):
    """The expected output `pieces`, bytes or compiled patterns over bytes, as one pattern."""
    return b"".join(p.pattern if isinstance(p, re.Pattern) else re.escape(p) for p in pieces)


def plant(scratch, entries):
    """Creates `entries` below the profile: "a/" a folder, "a" an empty file, "a=text" a file
    with that content, "a->target" a symbolic link. Parents are created as needed."""
    os.makedirs(scratch.profile, exist_ok=True)
    for entry in entries:
        if "->" in entry:
            name, target = entry.split("->")
            name = name.rstrip("/")
            os.makedirs(os.path.dirname(scratch.path(name)), exist_ok=True)
            os.symlink(target, scratch.path(name))
        elif entry.endswith("/"):
            os.makedirs(scratch.path(entry), exist_ok=True)
        else:
            name, _, content = entry.partition("=")
            os.makedirs(os.path.dirname(scratch.path(name)), exist_ok=True)
            with open(scratch.path(name), "w") as f:
                f.write(content)


def linkedAway(relative, below=(), to=""):
    """Entries making `relative` (below the profile) a symbolic link to `to` in the folder "outside"
    beside the profile (to that folder itself by default), and planting `below` in that folder."""
    here = os.path.dirname(os.path.join("/top/profile", relative.rstrip("/")))
    return ([relative.rstrip("/") + "->" + os.path.relpath(os.path.join("/top/outside", to), here)]
            + ["../outside/" + entry for entry in below])


def grant(scratch, modes):
    """Hands the named entries to the unprivileged user, or sets their modes: `modes` maps a
    relative path to "nobody" (owner, everything below too) or to a mode number."""
    for name, how in modes.items():
        if how == "nobody":
            for root, dirs, files in os.walk(scratch.path(name)):
                for n in [root] + [os.path.join(root, d) for d in dirs + files]:
                    os.lchown(n, NOBODY, NOBODY)
    for name, how in sorted(modes.items(), key=lambda item: -len(item[0])):
        if how != "nobody":
            os.chmod(scratch.path(name), how)


def snapshot(directory):
    """Every entry below `directory` as sorted (kind, relative path, hash of content) tuples."""
    found = []
    for root, dirs, files in os.walk(directory):
        for name in dirs + files:
            full = os.path.join(root, name)
            rel = os.path.relpath(full, directory)
            if os.path.islink(full):
                found.append(("link", rel, os.readlink(full)))
            elif os.path.isdir(full):
                found.append(("dir", rel + "/", ""))
            else:
                with open(full, "rb") as stream:
                    found.append(("file", rel, hashlib.sha256(stream.read()).hexdigest()))
    return sorted(found)


def expectedTree(entries, name="profile"):
    """What snapshot() gives around a profile named `name` planted with `entries`."""
    scratch = Scratch(name=name)
    try:
        plant(scratch, entries)
        return snapshot(scratch.top)
    finally:
        scratch.remove()


def outside(tree):
    """The entries of a snapshot that lie outside the profile folder."""
    return [entry for entry in tree if not entry[1].startswith("profile")]


def swappedMidRun(args, planted):
    """Rows for `args` over a profile planted with `planted`: at each file-system call of the run in
    turn, one level from AppData down to idapi32.cfg is renamed aside and a link to a copy of it
    outside the profile put in its place. Whatever the command then does, the copy outside stays
    as it was."""
    calls = fileSystemCalls(args, planted)
    names = X86_CFG.split("/")
    rows = {}
    for depth in range(1, len(names) + 1):
        level = "/".join(names[:depth])
        copy = "../outside/" + names[depth - 1]
        mirror = [copy + entry[len(level):] for entry in planted
                  if entry == level or entry.startswith(level + "/")]
        mirror.append(copy + ("=precious" if level == X86_CFG else "/"))
        for turn in range(1, calls + 1):
            rows["%s swapped at call %d" % (level, turn)] = {
                "args": args, "plant": planted + mirror, "outsideOnly": True, "staged": ["swap"],
                "racing": lambda s, turn=turn, level=level, copy=copy: {"CFGSWEEP_SWAP": "%d|%s|%s" % (
                    turn, s.path(level), os.path.normpath(os.path.join(s.profile, copy)))}}
    return rows


def fileSystemCalls(args, planted):
    """How many file-system calls the shim sees the command make for `args` over `planted`."""
    scratch = Scratch()
    try:
        plant(scratch, planted)
        return run(args, scratch.profile, racing={"CFGSWEEP_SWAP": "0|-|-"}).calls
    finally:
        scratch.remove()


Result = collections.namedtuple("Result", "status out err calls staged")


@functools.lru_cache(maxsize=None)
def wineTakesTmpdir():
    """Whether Wine runs with TMPDIR set, where it keeps its server folders (see wine-tmpdir)."""
    probe = os.path.join(os.path.dirname(__file__), "..", "support", "wine-tmpdir")
    return subprocess.run([probe, "probe"]).returncode == 0


@functools.lru_cache(maxsize=None)
def wine32Missing():
    """Why Wine cannot start a 32-bit program on this machine, or None where it can."""
    probe = subprocess.run([os.path.join(os.path.dirname(__file__), "..", "support", "wine32-missing")],
                           capture_output=True, text=True)
    return probe.stdout.strip() if probe.returncode == 0 else None


def wineEnvironment(lang=None):
    """This environment for Wine, with `lang` as the Unix locale (C.UTF-8 by default), without
    USERPROFILE, which the launcher hands on, and TMPDIR only where Wine takes it."""
    env = {k: v for k, v in os.environ.items()
           if k.upper() != "USERPROFILE" and not k.startswith("LC_")
           and (k != "TMPDIR" or wineTakesTmpdir())}
    env["LANG"] = lang or "C.UTF-8"
    return env


def skipUnlessWineStartsTheBuild():
    """Skips the case where the build is 32-bit and Wine here cannot start a 32-bit program."""
    why = os.environ.get("CFGSWEEP_EXE_BITS") == "32" and wine32Missing()
    if why:
        raise unittest.SkipTest(why + ", so Wine cannot start the 32-bit programs")


@functools.lru_cache(maxsize=None)
def installFolder():
    """A scratch folder that the unprivileged user may enter, removed when the suite ends."""
    folder = tempfile.mkdtemp(prefix="cfgsweep-exe-")
    os.chmod(folder, 0o755)
    atexit.register(shutil.rmtree, folder, True)
    return folder


@functools.lru_cache(maxsize=None)
def installedExe(exe=EXE):
    """A copy of the executable `exe` that the unprivileged user may run, wherever the build lies
    (root's home is private)."""
    copy = shutil.copy(exe, installFolder())
    os.chmod(copy, 0o755)
    return copy


def run(args, profile, name="USERPROFILE", user=None, cwd=None, merged=False, stdoutFile=None,
        racing=False, lang=None, program=None, answers=None, hold=None, wineDebug=None):
    """Runs the command with `args`, USERPROFILE (spelled `name`) set to `profile` unless None.
    `user` "nobody" runs it unprivileged; `merged` sends standard error into standard output's
    pipe; `stdoutFile` sends standard output to that file; `racing` preloads the race shim, True
    for its default races or a dict of its settings; `lang` is the Unix locale, from which Wine
    takes its ANSI code page. Under Wine, `program` (a Windows path) runs in the command's place,
    `answers` runs the build that gives them in place of the system's (nt_answers.cpp), `hold`
    names a folder that the launcher holds open without read sharing meanwhile, and `wineDebug` is
    Wine's trace setting, its trace then on standard error. The result counts the file-system
    calls that the shim saw and lists the races it staged, or the answers injected."""
    if WINDOWS:
        skipUnlessWineStartsTheBuild()
        if racing:
            raise unittest.SkipTest("the races are staged by preloading into a Linux process")
        env = wineEnvironment(lang)
        env["WINEDEBUG"] = wineDebug or env.get("WINEDEBUG", "-all")
        exe = installedExe(INJECTED_EXE if answers else EXE)
        if answers:
            raceLog = tempfile.NamedTemporaryFile(prefix="cfgsweep-answers-")
            os.chmod(raceLog.name, 0o666)
            env.update(CFGSWEEP_NT_ANSWERS=answers, CFGSWEEP_NT_LOG=profileText(raceLog.name))
        if hold:
            env["CFGSWEEP_HOLD"] = hold
        # The launcher's command line, quoted as the program's C runtime splits it.
        line = subprocess.list2cmdline(map(os.fsdecode, [program or profileText(exe)] + list(args)))
        command = [RUNNER, installedExe(LAUNCHER), name if profile is not None else "-", profile or "",
                   line]
        if user == "nobody":
            # Wine refuses a prefix that another user owns: this user has one of its own.
            env["WINEPREFIX"] = env["HOME"] = os.environ["CFGSWEEP_NOBODY_WINEPREFIX"]
    else:
        env = {"PATH": os.environ.get("PATH", "/usr/bin:/bin")}
        # A sanitizer build reports through these.
        env.update({k: v for k, v in os.environ.items() if k in ("ASAN_OPTIONS", "UBSAN_OPTIONS")})
        if racing:
            raceLog = tempfile.NamedTemporaryFile(prefix="cfgsweep-race-")
            env.update(racing if isinstance(racing, dict) else {})
            env.update(LD_PRELOAD=installedExe(RACE_SHIM), CFGSWEEP_RACE_LOG=raceLog.name)
        if profile is not None:
            env[name] = profile
        command = [installedExe()] + list(args)
    if user == "nobody":
        # Wherever the build lies, out of that user's reach perhaps: Wine needs to enter it.
        cwd = cwd or "/"
        command = ["setpriv", "--reuid=%d" % NOBODY, "--regid=%d" % NOBODY,
                   "--clear-groups"] + command
    with open(stdoutFile, "wb") if stdoutFile else contextlib.nullcontext(subprocess.PIPE) as out:
        completed = subprocess.run(
            command,
            env=env,
            cwd=cwd,
            stdin=subprocess.DEVNULL,
            stdout=out,
            stderr=subprocess.STDOUT if merged else subprocess.PIPE,
            timeout=60,
        )
    logged = raceLog.read().decode().split() if racing or answers else []
    return Result(completed.returncode, WINE_EXIT_NOISE.sub(b"", completed.stdout or b""),
                  WINE_EXIT_NOISE.sub(b"", completed.stderr or b""),
                  logged.count("call"), [line for line in logged if line != "call"])


class Case(unittest.TestCase):
    """Checks one table row: the planted state, the run, both streams apart and together, the
    status and what is left below the profile."""

    maxDiff = None

    def check(self, row):
        """`row` keys: args, plant (entries), grant (see grant()), inodes (see Scratch), notUnderWine
        (why Wine cannot show the row), answers (NT answers injected, Windows only; see run()) and
        asked (the calls that must have been answered so),
        hold (a folder below the profile held open meanwhile, Windows only), user, profile (a function of the
        scratch giving the USERPROFILE value, or None for none), profileName (the profile folder's),
        name, cwd, racing (or a function of the scratch giving it) and lang (see run()), events
        (list of ("out"|"err", bytes or a compiled pattern)), status, left (entries around the profile, as
        for plant; default: as planted), staged (the races that the shim must have staged), and
        outsideOnly: whatever the run printed, it ends with status 0 or 1 and leaves what lies
        outside the profile as planted."""
        if WINDOWS and row.get("notUnderWine"):
            self.skipTest(row["notUnderWine"])
        if not WINDOWS and ("answers" in row or "hold" in row):
            self.skipTest(WINDOWS_ONLY)
        outsideOnly = row.get("outsideOnly", False)
        for merged in (False,) if outsideOnly else (False, True):
            scratch = Scratch(row.get("inodes"), row.get("profileName", "profile"))
            try:
                plant(scratch, row.get("plant", []))
                grant(scratch, row.get("grant", {}))
                profile = row.get("profile", lambda s: profileText(s.profile))
                racing = row.get("racing", False)
                result = run(
                    row.get("args", []),
                    profile(scratch) if profile else None,
                    name=row.get("name", "USERPROFILE"),
                    user=row.get("user"),
                    cwd=row["cwd"](scratch) if "cwd" in row else None,
                    merged=merged,
                    racing=racing(scratch) if callable(racing) else racing,
                    lang=row.get("lang"),
                    answers=row.get("answers"),
                    hold=composed(scratch.profile, row["hold"]) if "hold" in row else None,
                )
                events = [(stream, piece(scratch) if callable(piece) else piece)
                          for stream, piece in row.get("events", [])]
                # The status beside every difference, so that one that ran nothing shows why.
                where = "%s, status %d" % (" (merged)" if merged else "", result.status)
                if "staged" in row:
                    self.assertEqual(sorted(result.staged), sorted(row["staged"]), "races staged" + where)
                if "asked" in row:
                    self.assertEqual(set(result.staged), set(row["asked"]), "answers injected" + where)
                if outsideOnly:
                    self.assertIn(result.status, (0, 1), result)
                    self.assertEqual(outside(snapshot(scratch.top)),
                                     outside(expectedTree(row.get("plant", []))), "outside")
                    continue
                if merged:
                    self.assertOutput(result.out, [p for _, p in events], "both streams" + where)
                else:
                    self.assertOutput(result.out, [p for s, p in events if s == "out"], "out" + where)
                    self.assertOutput(result.err, [p for s, p in events if s == "err"], "err" + where)
                self.assertEqual(result.status, row.get("status", 0), "status" + where)
                self.assertEqual(snapshot(scratch.top),
                                 expectedTree(row.get("left", row.get("plant", [])),
                                              row.get("profileName", "profile")), "disk" + where)
            finally:
                scratch.remove()

    def assertOutput(self, got, pieces, what):
        if any(isinstance(p, re.Pattern) for p in pieces):
            self.assertRegex(got, b"\\A" + regexOf(pieces) + b"\\Z", what)
        else:
            self.assertEqual(got, b"".join(pieces), what)

    def checkTable(self, table):
        for name, row in table.items():
            with self.subTest(name):
                self.check(row)

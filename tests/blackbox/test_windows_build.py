"""What only the Windows build has to show: an executable that a bare Windows starts as a
well-made console tool, and the script that a double-click runs."""

import io
import os
import re
import shutil
import subprocess
import tempfile
import unittest
import xml.etree.ElementTree as ElementTree

import pefile
import pexpect

from harness import (EXE, FOLDER_NOT_CREATED, LAUNCHER, PLANTED, RUNNER, USAGE, VS, X86_CFG, Case,
                     Scratch, installedExe, plant, skipUnlessWineStartsTheBuild, wineEnvironment,
                     profileText, run, sjis)

VERSION = os.environ.get("CFGSWEEP_VERSION", "")
BUILD_DIR = os.environ.get("CFGSWEEP_BUILD_DIR", "")
# As shipped: filled in with the versions that the build links.
NOTICES = os.path.join(BUILD_DIR, "THIRD-PARTY-NOTICES.txt")
RUN_EXE = os.environ.get("CFGSWEEP_RUN_EXE", "")
# Copied as cfgsweep.exe, it stands in for it (tests/support/console.cpp).
CONSOLE_EXE = os.environ.get("CFGSWEEP_CONSOLE_EXE", "")
STAND_IN = (CONSOLE_EXE, "cfgsweep.exe")

# Windows Vista, 7, 8, 8.1, and 10 and 11.
SUPPORTED_OS = {"{e2011457-1546-43c5-a5fe-008deee3d3f0}", "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}",
                "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}", "{1f676c76-80e1-4239-95bb-83d0f6d0da78}",
                "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"}


def resource(pe, kind):
    entry = next(e for e in pe.DIRECTORY_ENTRY_RESOURCE.entries if e.id == kind)
    data = entry.directory.entries[0].directory.entries[0].data.struct
    return pe.get_data(data.OffsetToData, data.Size)


class WindowsBuild(unittest.TestCase):
    """cfgsweep.exe as a bare Windows starts it."""

    PATH = EXE

    @classmethod
    def setUpClass(cls):
        cls.name = os.path.basename(cls.PATH)
        cls.pe = pefile.PE(cls.PATH)

    def test_imports_only_system_dlls(self):
        imported = {entry.dll.decode().lower() for entry in self.pe.DIRECTORY_ENTRY_IMPORT}
        self.assertIn("kernel32.dll", imported)
        self.assertLessEqual(imported, {"kernel32.dll", "msvcrt.dll", "advapi32.dll", "ntdll.dll"})

    def test_gives_the_systems_answers_only(self):
        with open(EXE, "rb") as f:
            image = f.read()
        for text in ("CFGSWEEP_NT_ANSWERS", "CFGSWEEP_NT_LOG", "disposition-ex"):
            self.assertNotIn(text.encode(), image)
            self.assertNotIn(text.encode("utf-16-le"), image)

    def test_is_stripped(self):
        header = self.pe.FILE_HEADER
        self.assertEqual((header.PointerToSymbolTable, header.NumberOfSymbols), (0, 0))
        self.assertFalse([s.Name for s in self.pe.sections if s.Name.startswith(b"/")])

    def test_notices_name_every_archive_linked_in(self):
        with open(NOTICES, encoding="cp932") as f:
            named = set(re.findall(r"\S+\.[ao]\b", " ".join(re.findall(
                r"^Linked in as: (.*(?:\n\S.*)*)", f.read(), re.M))))
        with open(os.path.join(BUILD_DIR, self.name[:-len(".exe")] + ".map")) as f:
            linkMap = f.read()
        members = linkMap.split("\nDiscarded input sections")[0]
        linked = set(re.findall(r"^\S*?([^/\s]+\.a)\(", members, re.M))
        linked |= set(re.findall(r"^LOAD /usr/\S*?([^/\s]+\.o)$", linkMap, re.M))
        ours = {"libcfgsweep_core.a", "objects.a"}
        self.assertTrue(linked - ours, "no archive found in the link map")
        self.assertEqual(linked - ours - named, set(), "linked in, but not in the notices")

    def test_manifest(self):
        root = ElementTree.fromstring(resource(self.pe, pefile.RESOURCE_TYPE["RT_MANIFEST"]))
        level = next(root.iter("{urn:schemas-microsoft-com:asm.v3}requestedExecutionLevel"))
        self.assertEqual(level.attrib, {"level": "asInvoker", "uiAccess": "false"})
        self.assertEqual({e.get("Id") for e in root.iter(
            "{urn:schemas-microsoft-com:compatibility.v1}supportedOS")}, SUPPORTED_OS)
        # Wine ignores it, but Windows starts no executable whose manifest names another
        # processor.
        identity = next(root.iter("{urn:schemas-microsoft-com:asm.v1}assemblyIdentity"))
        machine = {pefile.MACHINE_TYPE["IMAGE_FILE_MACHINE_I386"]: "x86",
                   pefile.MACHINE_TYPE["IMAGE_FILE_MACHINE_AMD64"]: "amd64"}
        self.assertEqual(identity.get("processorArchitecture"),
                         machine[self.pe.FILE_HEADER.Machine])
        self.assertEqual(identity.get("name"), self.name[:-len(".exe")])
        aware = next(root.iter(
            "{http://schemas.microsoft.com/SMI/2016/WindowsSettings}longPathAware"))
        self.assertEqual(aware.text, "true")

    def test_version(self):
        tables = {table.LangID: {k.decode(): v.decode() for k, v in table.entries.items()}
                  for info in self.pe.FileInfo for entry in info
                  for table in getattr(entry, "StringTable", [])}
        strings = tables[b"041104B0"]
        description = strings.pop("FileDescription")
        self.assertEqual(strings, {"FileVersion": VERSION, "ProductVersion": VERSION,
                                   "ProductName": "cfgsweep",
                                   "InternalName": self.name[:-len(".exe")],
                                   "LegalCopyright": "Copyright (c) 2026 the cfgsweep authors. "
                                                     "MIT License",
                                   "OriginalFilename": self.name})
        self.assertIn("TALVO の起動停止", description)
        self.assertIn("idapi32.cfg" if self.name == "cfgsweep.exe" else "cfgsweep.exe を実行",
                      description)
        fixed = self.pe.VS_FIXEDFILEINFO[0]
        parts = [int(p) for p in VERSION.split(".")]
        self.assertEqual((fixed.FileVersionMS, fixed.FileVersionLS),
                         ((parts[0] << 16) | parts[1], parts[2] << 16))


class LauncherBuild(WindowsBuild):
    """run-cfgsweep.exe, which a double-click starts, as a bare Windows starts it."""

    PATH = RUN_EXE


class AskedOfTheFileSystem(unittest.TestCase):
    """What the command asks of the file system, read from Wine's trace of its calls."""

    # The information classes that the FAT driver answers (FatCommonQueryInformation in the fastfat
    # sample; exFAT's driver is not published, and that it answers alike is inferred):
    # Basic, Standard, Internal, Ea, Name, Position, All, AlternateName, NetworkOpen, NormalizedName.
    FAT_CLASSES = {4, 5, 6, 7, 9, 14, 18, 21, 34, 48}
    # From 1.83 on, Boost's by-path status asks the attribute-tag class (35) and, where FAT refuses
    # it, falls back to the classes above by itself (status_by_handle in its operations.cpp).
    BOOST_ASKS = {35} if tuple(map(int, os.environ.get("CFGSWEEP_BOOST_VERSION", "1.74").split(
        "."))) >= (1, 83) else set()

    def test_only_classes_that_fat_answers(self):
        for args, planted in (([], [X86_CFG]), (["/C"], [VS])):
            with self.subTest(args=args):
                scratch = Scratch()
                self.addCleanup(scratch.remove)
                plant(scratch, planted)
                result = run(args, profileText(scratch.profile), wineDebug="+file,+process")
                trace = result.err.decode("utf-8", "replace")
                thread = re.search(r"NtCreateUserProcess \S*cfgsweep\.exe\S* .*? tid (\w+)", trace)
                self.assertTrue(thread, "no start of cfgsweep.exe in the trace")
                asked = {int(kind, 16) for kind in re.findall(
                    r"^%s:trace:file:NtQueryInformationFile \(.*,(0x[0-9a-f]+)\)$" % thread.group(1),
                    trace, re.M)}
                self.assertTrue(asked, "no NtQueryInformationFile in the trace")
                self.assertLessEqual(asked, self.FAT_CLASSES | self.BOOST_ASKS)


class LaunchProgram(Case):
    """run-cfgsweep.exe under Wine, beside cfgsweep.exe as the ZIP has them or alone, started as a
    double-click starts it or from cmd: the command's own bytes first, then the launcher's word on
    the status in code page 932, the status also its own exit status. Its output is captured, so
    it shares no console and never waits for a key."""

    def folder(self, name, *files):
        """A scratch folder named `name` holding copies of `files`: paths, or (path or bytes, name)."""
        top = tempfile.mkdtemp(prefix="cfgsweep-zip-")
        self.addCleanup(shutil.rmtree, top)
        folder = os.path.join(top, name)
        os.mkdir(folder)
        for source in files:
            source, named = source if isinstance(source, tuple) else (source, None)
            target = os.path.join(folder, named or os.path.basename(source))
            if isinstance(source, bytes):
                with open(target, "wb") as f:
                    f.write(source)
            else:
                shutil.copy(source, target)
        return folder

    def test_passes_output_and_status_through(self):
        both = (EXE, RUN_EXE)
        kept = [VS + "Program Files (x86)/Common Files/Borland Shared/BDE/idapi32.cfg/keep"]
        said = lambda folder: ("探した場所: " + profileText(folder) + "\\").encode("cp932", "replace")
        ok = "正常に終了しました。"
        # name, folder, its files, started from cmd, arguments, planted, status, output first,
        # what it says (text, or bytes of a function of the folder), and what it must not say.
        for name, where, files, fromCmd, args, planted, status, out, says, never in (
                ("help /?", "cfgsweep", both, False, ["/?"], [VS], 0, USAGE, ok, "コピー"),
                ("help /h in R&D tools", "R&D tools", both, False, ["/h"], [VS], 0, USAGE, ok,
                 "見つかりません"),
                ("help /H in tools!new, from cmd", "tools!new", both, True, ["/H"], [VS], 0, USAGE,
                 ok, "見つかりません"),
                ("failed fixture /C in Zoë", "Zoë", both, False, ["/C"], [], 1, FOLDER_NOT_CREATED,
                 "テスト用のダミーファイルを設置できませんでした。", "試験用"),
                ("fixture /c", "cfgsweep", both, True, ["/c"], [VS], 0, PLANTED,
                 "オプションなしでもう一度実行して削除してください。", "コピー"),
                ("copy kept, nothing printed", "cfgsweep", both, False, [], kept, 1, b"",
                 "コピーがまだ残っています。上に何も表示されていなくても、コピーは残っています。",
                 "管理者に連絡してください"),
                ("unknown option, arguments passed on", "cfgsweep", both, False, ["/x", "/C"],
                 kept, 1, b"", "コピーがまだ残っています。", "ダミー"),
                ("no cfgsweep.exe beside it", "cfgsweep", (RUN_EXE,), False, [], [VS], 9009, b"",
                 said, None),
                ("R&D tools without cfgsweep.exe", "R&D tools", (RUN_EXE,), False, [], [VS], 9009,
                 b"", said, None),
                ("Zoë without cfgsweep.exe", "Zoë", (RUN_EXE,), False, [], [VS], 9009, b"", said,
                 None),
                ("cfgsweep.exe ended by Ctrl+C", "cfgsweep",
                 (RUN_EXE, STAND_IN, (b"0xC000013A", "cfgsweep-status.txt")), False, [], [VS],
                 0xC000013A, b"", "実行が中断されました", "想定外"),
                ("cfgsweep.exe refused: not a program", "cfgsweep",
                 (RUN_EXE, (b"MZ cut short", "cfgsweep.exe")), False, [], [VS], 193, b"",
                 "正しいプログラムではありません。ダウンロードが壊れているか", "想定外")):
            with self.subTest(name), tempfile.TemporaryDirectory() as top:
                where = self.folder(where, *files)
                for entry in planted:
                    os.makedirs(os.path.join(top, entry))
                program = profileText(os.path.join(where, "run-cfgsweep.exe"))
                command = ["C:\\windows\\system32\\cmd.exe", "/c", program] if fromCmd else [program]
                result = run(command[1:] + args, profileText(top), lang="ja_JP.UTF-8",
                             program=command[0], merged=True)
                # Wine hands a status on to Linux, which keeps only its low byte.
                self.assertEqual(result.status, status % 256, result.out)
                self.assertTrue(result.out.startswith(out), result.out)
                self.assertIn(says(where) if callable(says) else sjis(says), result.out)
                self.assertIn(sjis("終了コードは %d です。" % status), result.out)
                self.assertNotIn(sjis("キーを押してください"), result.out)
                if never:
                    self.assertNotIn(sjis(never), result.out)


def shown(console):
    """What the pexpect `console` showed, without the terminal's control sequences."""
    return re.sub(rb"\x1b\[[0-9;?]*[A-Za-z]", b"", console.logfile_read.getvalue()).decode(
        "utf-8", "replace")


def ended(console, within):
    """Whether the program of the pexpect `console` ended within `within` seconds, its status then
    in console.exitstatus."""
    if console.expect([pexpect.EOF, pexpect.TIMEOUT], timeout=within):
        return False
    console.wait()
    return True


class LaunchProgramOnAConsole(unittest.TestCase):
    """run-cfgsweep.exe on a real console, a pseudo-terminal that pexpect gives Wine: it waits for
    a key only where somebody sees its console and nobody else waits on it, and then only a real
    key ends the wait; cfgsweep.exe runs in code page 932, and the console's own comes back
    afterwards."""

    PROMPT = "続行するには何かキーを押してください"

    def setUp(self):
        skipUnlessWineStartsTheBuild()
        top = tempfile.mkdtemp(prefix="cfgsweep-console-")
        self.addCleanup(shutil.rmtree, top)
        self.folder = os.path.join(top, "cfgsweep")
        os.mkdir(self.folder)
        shutil.copy(RUN_EXE, self.folder)
        self.program = os.path.join(self.folder, "run-cfgsweep.exe")

    def console(self, command, start=None):
        env = wineEnvironment()
        env.update({"CFGSWEEP_START": start} if start else {})
        console = pexpect.spawn(RUNNER, command, env=env)
        console.logfile_read = io.BytesIO()
        self.addCleanup(console.close, force=True)
        return console

    def test_waits_only_where_somebody_sees_it(self):
        shutil.copy(EXE, self.folder)
        keys = [RUNNER, installedExe(CONSOLE_EXE), "keys", "run-cfgsweep.exe"]
        launch = [installedExe(LAUNCHER), "-", "", self.program + " /?"]
        cmd = "C:\\windows\\system32\\cmd.exe"
        # name, command, how it is started, keys alone typed first, whether it waits.
        for name, command, start, alone, waits in (
                ("double-click: alone on its console", [self.program, "/?"], None, [], True),
                ("a lone Shift, Windows, Caps Lock or Print Screen key", [self.program, "/?"], None,
                 ["0x10", "0x5B", "0x14", "0x2C"], True),
                ("started hidden, as a deployment tool may", launch, "hidden", [], False),
                ("console without a window (CREATE_NO_WINDOW)", launch, "no-window", [], False),
                ("by a script, on a shared console", [cmd, "/c", profileText(self.program), "/?"],
                 None, [], False)):
            with self.subTest(name):
                console = self.console(command, start)
                if not waits:
                    self.assertTrue(ended(console, 30), "kept waiting: " + shown(console))
                    self.assertEqual(console.exitstatus, 0)
                    self.assertNotIn(self.PROMPT, shown(console))
                    continue
                self.assertEqual(console.expect([self.PROMPT.encode(), pexpect.TIMEOUT], 30), 0,
                                 shown(console))
                if alone:
                    typed = subprocess.run(keys + alone, env=wineEnvironment())
                    self.assertEqual(typed.returncode, 0, "keys not typed")
                    self.assertFalse(ended(console, 2), "ended by a key alone")
                self.assertFalse(ended(console, 1), "ended before any key")
                console.send(b"x")
                self.assertTrue(ended(console, 15), "an ordinary key did not end the wait")
                self.assertEqual(console.exitstatus, 0)

    def test_runs_cfgsweep_in_code_page_932_then_restores(self):
        stand = os.path.join(self.folder, "cfgsweep.exe")
        shutil.copy(CONSOLE_EXE, stand)
        cmd = "C:\\windows\\system32\\cmd.exe"
        line = "%s & %s /? & %s" % (profileText(stand), profileText(self.program), profileText(stand))
        console = self.console([cmd, "/c", line])
        self.assertTrue(ended(console, 30), shown(console))
        with open(os.path.join(self.folder, "cfgsweep-console.log")) as f:
            before, during, after = f.read().split()
        self.assertEqual(during, "cp=932")
        self.assertNotEqual(before, "cp=932")
        self.assertEqual(after, before)


if __name__ == "__main__":
    unittest.main()

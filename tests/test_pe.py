"""The shipped program files, read with a real PE reader: what they import,
how they start, and the identity resources they carry."""
import re
import subprocess
import unittest

import pefile

import rig

RT_ICON, RT_STRING, RT_GROUP_ICON, RT_VERSION, RT_MANIFEST = 3, 6, 14, 16, 24
US_ENGLISH, SPANISH = 0x0409, 0x000A

# Windows system DLLs a program may import and still start on a stock Windows.
SYSTEM_DLLS = {"KERNEL32.DLL", "MSVCRT.DLL", "USER32.DLL", "ADVAPI32.DLL", "SHELL32.DLL",
               "RASDLG.DLL", "RASAPI32.DLL"}
# Imports through which a program could create or change a file or the registry.
WRITERS = ["CreateFile", "WriteFile", "CopyFile", "MoveFile", "DeleteFile", "CreateDirectory",
           "WritePrivateProfile", "WriteProfile", "RegSetValue", "RegSetKeyValue", "RegCreateKey",
           "RegDeleteKey", "RegDeleteValue", "RegDeleteTree", "RegSaveKey", "RegRestoreKey",
           "SHSetValue", "SHRegSet", "fopen", "open", "wopen", "creat", "wfopen", "freopen"]
GUI, CONSOLE = (pefile.SUBSYSTEM_TYPE[f"IMAGE_SUBSYSTEM_WINDOWS_{kind}"] for kind in ("GUI", "CUI"))
REGISTRY_READS = [("ADVAPI32.DLL", "RegOpenKeyExA"), ("ADVAPI32.DLL", "RegQueryValueExA"),
                  ("ADVAPI32.DLL", "RegCloseKey")]

PROGRAMS = {
    # program: (subsystem, (DLL, function) it must import by name, DLLs it
    # must not import, writers it may import, the description its version
    # information gives, the execution level its manifest requests or None
    # for no manifest, whether it has functions that hold a buffer, which
    # the stack cookie guards). The launchers have no window and no message box, so
    # they need no USER32, and call no wide-character function, and their PE
    # is fixed: no manifest. The check writes its report to its standard
    # output, a console's wide or a file's bytes; it reads the dial dialog
    # library as a data file and loads the Remote Access library and user32
    # (to ask whether anyone sees its console) at run time, so that it
    # starts without them.
    "brannostelxp": (GUI, [("RASDLG.DLL", "RasDialDlgA"), ("KERNEL32.DLL", "GlobalAlloc"),
                           ("KERNEL32.DLL", "GlobalFree"), ("KERNEL32.DLL", "SetErrorMode")],
                     {"ADVAPI32.DLL", "SHELL32.DLL", "OLE32.DLL", "USER32.DLL", "RASAPI32.DLL"},
                     [], "brannostelxp MFC Application", None, False),
    "brannostelwin": (GUI, REGISTRY_READS + [("SHELL32.DLL", "ShellExecuteA"),
                                             ("KERNEL32.DLL", "SetErrorMode")],
                      {"RASDLG.DLL", "OLE32.DLL", "USER32.DLL", "RASAPI32.DLL"},
                      [], "brannostelwin MFC Application", None, True),
    "brannostelcheck": (CONSOLE, REGISTRY_READS + [("KERNEL32.DLL", "LoadLibraryExA"),
                                                   ("KERNEL32.DLL", "WriteConsoleW"),
                                                   ("KERNEL32.DLL", "GetConsoleProcessList")],
                        {"RASDLG.DLL", "RASAPI32.DLL", "SHELL32.DLL", "OLE32.DLL", "USER32.DLL"},
                        ["WriteFile"], "brannostelcheck: what the brannostel launchers need",
                        "asInvoker", True),
}
# Every function a program may import, with the evidence that the oldest
# Windows each build supports exports it: XP on x86, XP x64 / Server 2003 on
# x64. "docs": Microsoft's Win32 documentation gives Windows 2000 or XP as
# the minimum supported client. "ReactOS": in ReactOS's export list for the
# DLL (its export definitions under dll/win32/), which follows Server 2003
# (NT 5.2), with no restriction to later versions (-version=0x600+). A new
# import fails test_imports_on_oldest_windows until it is added here with its
# evidence.
IMPORT_ALLOWLIST = [
    # (DLL, functions, evidence)
    ("KERNEL32.DLL", "GetLastError GlobalAlloc GlobalFree SetErrorMode VirtualQuery FreeLibrary "
     "GetModuleHandleA GetProcAddress", "docs: Windows 2000 / XP; ReactOS kernel32 exports"),
    ("KERNEL32.DLL", "FindResourceExW FormatMessageW GetConsoleMode GetConsoleOutputCP "
     "GetCurrentProcess GetFileAttributesA GetOEMCP GetStdHandle GetSystemDirectoryA "
     "GetUserDefaultUILanguage LoadResource LockResource MultiByteToWideChar ReadConsoleW "
     "WideCharToMultiByte WriteConsoleW WriteFile CloseHandle ExitProcess ExpandEnvironmentStringsA "
     "FlushConsoleInputBuffer GetConsoleWindow SearchPathA SetConsoleCtrlHandler "
     "GetConsoleScreenBufferInfo GetVersion FindClose lstrcmpiW "
     "FindFirstFileW GetCurrentDirectoryW GetModuleFileNameW GetCommandLineW", "docs: Windows 2000"),
    ("KERNEL32.DLL", "GetConsoleProcessList LoadLibraryExA", "docs: Windows XP"),
    # The stack cookie's entropy and its failure (frame/stack_cookie.c).
    ("KERNEL32.DLL", "GetCurrentProcessId GetCurrentThreadId GetSystemTimeAsFileTime GetTickCount "
     "QueryPerformanceCounter TerminateProcess IsProcessorFeaturePresent", "docs: Windows 2000"),
    ("MSVCRT.DLL", "memchr memcmp memcpy memset strcat strchr strcmp strcpy strlen strrchr wcscspn "
     "wcslen wcsspn wcsrchr wcschr wcscmp _ultow", "ReactOS msvcrt exports"),
    ("ADVAPI32.DLL", "RegOpenKeyExA RegQueryValueExA RegCloseKey GetTokenInformation "
     "OpenProcessToken", "docs: Windows 2000"),
    ("ADVAPI32.DLL", "GetSidIdentifierAuthority GetSidSubAuthority GetSidSubAuthorityCount "
     "IsValidSid LookupAccountSidW LookupAccountNameW EqualSid", "docs: Windows 2000"),
    ("SHELL32.DLL", "ShellExecuteA", "docs: Windows XP"),
    ("RASDLG.DLL", "RasDialDlgA", "docs: Windows 2000"),
]
ALLOWED = {(dll, function) for dll, functions, _ in IMPORT_ALLOWLIST for function in functions.split()}

# Each architecture's machine, optional-header kind (PE32 or PE32+), oldest
# Windows (XP, 5.1, on x86; XP x64 / Server 2003, 5.2, on x64), DLL
# characteristics (ASLR, DEP, control-flow guard, terminal-server aware; on
# x86 no SEH handlers, on x64 high-entropy ASLR), and the load
# configuration's size, as its directory gives it (64 on x86, as XP requires)
# and as the structure's own field does (up to the guard's fields).
HEADERS = {"x86": ("IMAGE_FILE_MACHINE_I386", pefile.OPTIONAL_HEADER_MAGIC_PE, (5, 1), 0xC540,
                   (64, 92)),
           "x64": ("IMAGE_FILE_MACHINE_AMD64", pefile.OPTIONAL_HEADER_MAGIC_PE_PLUS, (5, 2),
                   0xC160, (148, 148))}
NO_SEH, GUARD_CF = 0x0400, 0x4000
# GuardFlags: the code is instrumented, and the table of valid targets is there.
CF_INSTRUMENTED, CF_FUNCTION_TABLE_PRESENT = 0x100, 0x400
# The guard's fields in the load configuration (the check pointer to the
# flags), which test_mitigations reads.
GUARD_FIELDS = {"x86": slice(72, 92), "x64": slice(112, 148)}
WRITABLE, EXECUTABLE = 0x80000000, 0x20000000
LOAD_CONFIG, IAT, RESOURCES = (pefile.DIRECTORY_ENTRY[f"IMAGE_DIRECTORY_ENTRY_{name}"]
                               for name in ("LOAD_CONFIG", "IAT", "RESOURCE"))
# DependentLoadFlags: the program's imports from System32 only.
DEPENDENT_LOAD_FLAGS = {"x86": 54, "x64": 78}, 0x800
# The extended DLL characteristics each build declares: CET shadow-stack
# compatible on x64, where Windows enforces it; nothing on x86.
EX_DLL_CHARACTERISTICS = {"x86": None, "x64": 0x1}
OBJDUMP = {"x86": "i686-w64-mingw32-objdump", "x64": "x86_64-w64-mingw32-objdump"}
# What a text of the check names that its translation must name too: a key
# or hive, an insert, a number, a file or program, a registry type, a key's
# last part named alone, a status word, a placeholder.
MESSAGE_FACTS = (r"HK(?:LM|CU)\b[\\\w]*|%\d|%%\w+%%|(?<!%)\b\d+\b|[\w-]+\.(?:exe|dll|cmp|msi)\b|"
                 r"\bbrannostel\w*|REG_\w+|\bMappings\b|\bERROR\b|\(\.cmp\)")
# The texts that state how long a path may be, and the figure they give, the
# launcher's: a buffer of 260 bytes (MAX_PATH), its terminating zero
# included.
PATH_BYTES = 260
PATH_LIMITS = {"IDS_FIX_APP_PATHS_VALUE": PATH_BYTES - 1, "IDS_FIX_MAPPING_VALUE": PATH_BYTES - 1,
               "IDS_VALUE_TOO_LONG": PATH_BYTES, "IDS_VALUE_UNTERMINATED": PATH_BYTES}


def version_fields():
    """The four fields of the version the build gives: 1.0.0.1 is (1, 0, 0, 1)."""
    return tuple(int(field) for field in rig.VERSION.split("."))


def version_strings(name):
    text = ", ".join(map(str, version_fields()))  # as "1, 0, 0, 1"
    return {
        "CompanyName": "",
        "FileDescription": PROGRAMS[name][4],
        "FileVersion": text,
        "InternalName": name,
        "LegalTrademarks": "",
        "OriginalFilename": f"{name}.EXE",
        "ProductName": f"{name} Application",
        "ProductVersion": text,
    }


def resources(pe, kind):
    """{resource id: [(language id, bytes)]} of one resource type."""
    found = {}
    for entry in pe.DIRECTORY_ENTRY_RESOURCE.entries:
        if entry.id == kind:
            for res in entry.directory.entries:
                found[res.id] = [(lang.id, pe.get_data(lang.data.struct.OffsetToData,
                                                       lang.data.struct.Size))
                                 for lang in res.directory.entries]
    return found


def link_map(name):
    """What the program's link map says lies in its code: {chunk's start:
    (its end, {the addresses of the symbols in it})}, all relative to the
    image."""
    chunks, section = {}, None
    for line in (rig.BUILD / "maps" / f"{name}.map").read_text().splitlines()[1:]:
        address, size, text = int(line[:8], 16), int(line[9:17], 16), line[24:]
        if not text.startswith(" "):
            section = text
        elif section == ".text" and text[8] != " ":
            start, chunks[address] = address, (address + size, set())
        elif section == ".text":
            chunks[start][1].add(address)
    return chunks


def guard_targets(pe, code):
    """(the control-flow guard's valid targets, the code addresses Windows
    may call that are not among them, with where each was found, and where
    the guard's pointers point), all relative to the image. Windows may call
    the entry point, every TLS callback, every code address stored in the
    image (a base relocation into code) and, on x64, every code address
    loaded with a RIP-relative lea. Exempt: the guard's pointer slots, which
    Windows overwrites, and addresses inside a function, as the link map
    shows them (a switch's jump table)."""
    config = pe.DIRECTORY_ENTRY_LOAD_CONFIG.struct
    base, size = pe.OPTIONAL_HEADER.ImageBase, 8 if rig.ARCH == "x64" else 4
    stride = 4 + (config.GuardFlags >> 28)
    table = pe.get_data(config.GuardCFFunctionTable - base, stride * config.GuardCFFunctionCount)
    valid = {int.from_bytes(table[at:at + 4], "little") for at in range(0, len(table), stride)}
    slots = {config.GuardCFCheckFunctionPointer - base}
    slots |= {config.GuardCFDispatchFunctionPointer - base} if rig.ARCH == "x64" else set()

    def pointer(rva):
        return int.from_bytes(pe.get_data(rva, size), "little") - base

    called = {pe.OPTIONAL_HEADER.AddressOfEntryPoint: "the entry point"}
    if hasattr(pe, "DIRECTORY_ENTRY_TLS"):
        at = pe.DIRECTORY_ENTRY_TLS.struct.AddressOfCallBacks - base
        while pointer(at) != -base:
            called[pointer(at)], at = f"a TLS callback listed at {at:#x}", at + size
    for block in getattr(pe, "DIRECTORY_ENTRY_BASERELOC", []):
        for entry in block.entries:
            if entry.type in (3, 10) and entry.rva not in slots:  # HIGHLOW, DIR64
                called.setdefault(pointer(entry.rva), f"stored at {entry.rva:#x}")
    for line in code:
        if m := re.search(r"^\s*([0-9a-f]+):\s+lea\s+\S*\(%rip\),.*# 0x([0-9a-f]+)", line):
            called.setdefault(int(m[2], 16) - base, f"loaded at {int(m[1], 16) - base:#x}")
    chunks = link_map(pe.name)
    inside = {target for start, (end, symbols) in chunks.items() for target in called
              if start < target < end and target not in symbols
              and any(symbol < target for symbol in symbols)}
    in_code = {target for target in called
               if any(s.contains_rva(target) and s.Characteristics & EXECUTABLE for s in pe.sections)}
    missing = {target: called[target] for target in in_code - valid - inside}
    return valid, missing, {pointer(slot) for slot in slots}


def disassembly(name):
    return subprocess.run([OBJDUMP[rig.ARCH], "-d", "--no-show-raw-insn", str(rig.DIST / f"{name}.exe")],
                          check=True, capture_output=True, text=True).stdout.splitlines()


def load(name):
    """The program's PE image and its imports as {(DLL, function or ordinal)}."""
    pe = pefile.PE(str(rig.DIST / f"{name}.exe"))
    pe.name = name
    imports = {(d.dll.decode().upper(), i.name.decode() if i.name else i.ordinal)
               for d in pe.DIRECTORY_ENTRY_IMPORT for i in d.imports}
    return pe, imports


class ProgramFiles(unittest.TestCase):
    """Each check runs once per program, as a sub-test."""

    def test_headers(self):
        for name in PROGRAMS:
            with self.subTest(name):
                pe, _ = load(name)
                machine, magic, oldest_windows, characteristics, sizes = HEADERS[rig.ARCH]
                header = pe.OPTIONAL_HEADER
                self.assertEqual(pe.FILE_HEADER.Machine, pefile.MACHINE_TYPE[machine])
                self.assertEqual(header.Magic, magic)
                self.assertEqual((header.MajorOperatingSystemVersion,
                                  header.MinorOperatingSystemVersion), oldest_windows)
                self.assertEqual((header.MajorSubsystemVersion, header.MinorSubsystemVersion),
                                 oldest_windows)
                self.assertEqual(hex(header.DllCharacteristics), hex(characteristics))
                # The load configuration: the sizes, the flags in place, every
                # other byte 0 (no SafeSEH table on x86).
                directory = header.DATA_DIRECTORY[LOAD_CONFIG]
                config = pe.get_data(directory.VirtualAddress, sizes[1])
                self.assertEqual((directory.Size, int.from_bytes(config[:4], "little")), sizes)
                offsets, flags = DEPENDENT_LOAD_FLAGS
                expected = bytearray(config[:4].ljust(sizes[1], b"\0"))
                expected[offsets[rig.ARCH]:offsets[rig.ARCH] + 2] = flags.to_bytes(2, "little")
                # test_mitigations looks at these.
                for field in (slice(rig.SECURITY_COOKIE[0], sum(rig.SECURITY_COOKIE)),
                              GUARD_FIELDS[rig.ARCH]):
                    expected[field] = config[field]
                self.assertEqual(config.hex(), expected.hex())
                self.assertTrue(pe.verify_checksum(), "the header checksum is stale")
                self.assertEqual(pe.OPTIONAL_HEADER.Subsystem, PROGRAMS[name][0])
                self.assertEqual(pe.FILE_HEADER.TimeDateStamp, 0, "a link time stamp")

    def test_mitigations(self):
        # What a security checker reads from the file, each backed by the code.
        for name, (*_, holds_buffers) in PROGRAMS.items():
            with self.subTest(name):
                pe, _ = load(name)
                characteristics = pe.OPTIONAL_HEADER.DllCharacteristics
                config = pe.DIRECTORY_ENTRY_LOAD_CONFIG.struct
                base = pe.OPTIONAL_HEADER.ImageBase

                def section(va):
                    [found] = [s for s in pe.sections if s.contains_rva(va - base)]
                    return found

                # Control-flow guard: declared; the code instrumented and a
                # table of valid targets; the check (and on x64 the dispatch)
                # pointer where only the loader may change it, at a function.
                self.assertTrue(characteristics & GUARD_CF)
                guard = CF_INSTRUMENTED | CF_FUNCTION_TABLE_PRESENT
                self.assertEqual(config.GuardFlags & guard, guard, hex(config.GuardFlags))
                self.assertGreater(config.GuardCFFunctionCount, 0)
                self.assertTrue(section(config.GuardCFFunctionTable))
                pointers = [config.GuardCFCheckFunctionPointer]
                pointers += [config.GuardCFDispatchFunctionPointer] if rig.ARCH == "x64" else []
                for pointer in pointers:
                    self.assertFalse(section(pointer).Characteristics & WRITABLE)
                    target = int.from_bytes(pe.get_data(pointer - base, 8 if rig.ARCH == "x64" else 4),
                                            "little")
                    self.assertTrue(section(target).Characteristics & EXECUTABLE)
                # Only data is writable, never code: the import address table,
                # the static initializers' list, the guard's pointers and the
                # resources are read-only once loaded. No TLS section: nothing
                # uses thread-local storage. No DWARF unwind tables: nothing
                # unwinds with them.
                names = {s.Name.rstrip(b"\0").decode(): s.Characteristics for s in pe.sections}
                self.assertEqual(sorted(n for n, c in names.items() if c & WRITABLE), [".data"])
                self.assertEqual([n for n, c in names.items() if c & WRITABLE and c & EXECUTABLE], [])
                for directory in (IAT, RESOURCES):
                    rva = pe.OPTIONAL_HEADER.DATA_DIRECTORY[directory].VirtualAddress
                    self.assertFalse(section(base + rva).Characteristics & WRITABLE, directory)
                self.assertNotIn(".eh_fram", names)
                code = disassembly(name)
                # x86: NO_SEH, true because no code touches the handler chain
                # at fs:[0].
                self.assertEqual(bool(characteristics & NO_SEH), rig.ARCH == "x86")
                self.assertEqual([line for line in code if re.search(r"%fs:(0x0)?\(|%fs:0x0\b", line)],
                                 [], "code that registers an exception handler")
                # The stack cookie: in the image's writable data, and read by
                # the code there (x64 code reaches it through a pointer of
                # its own); more than the frame's own reads where functions
                # hold buffers.
                self.assertEqual(section(config.SecurityCookie).Characteristics & 0xC0000040,
                                 0xC0000040, "the cookie is not in writable initialized data")
                size = rig.SECURITY_COOKIE[1]
                places = {config.SecurityCookie} | {
                    pe.OPTIONAL_HEADER.ImageBase + s.VirtualAddress + at
                    for s in pe.sections if not s.Characteristics & 0x20000000  # not code
                    for at in range(0, len(s.get_data()) - size + 1, size)
                    if int.from_bytes(s.get_data()[at:at + size], "little") == config.SecurityCookie}
                reads = [line for line in code
                         if any(re.search(rf"0x0*{place:x}\b", line) for place in places)]
                self.assertGreaterEqual(len(reads), 4 if holds_buffers else 2, "\n".join(reads))
                # A clobbered cookie ends the process by the fail-fast
                # interrupt, which keeps Windows' crash report, with
                # FAST_FAIL_STACK_COOKIE_CHECK_FAILURE (2) in ecx, where
                # Windows says it handles it (PF_FASTFAIL_AVAILABLE, 23: 8
                # and later). Where the answer is 0, the interrupt would be an
                # access violation that goes through the handlers: the branch
                # jumps over it to TerminateProcess(STATUS_STACK_BUFFER_OVERRUN).
                self.assertTrue(re.search(r"\b(mov|push) +\$0x17\b.*\n.*\bcall\b.*\n"
                                          r".*\btest +%eax,%eax\n.*\bje +0x0*(?P<zero>[0-9a-f]+)\n"
                                          r".*\bmov +\$0x2,%ecx\n.*\bint +\$0x29\n *(?P=zero):"
                                          r"(.*\n){1,4}.*\$0xc0000409\b.*\n(.*\n)?.*\bcall\b",
                                          "\n".join(code)),
                                "no fail-fast interrupt on the branch where Windows says it handles "
                                "it, and TerminateProcess on the other")
                entries = [(e.struct.Type, pe.get_dword_at_rva(e.struct.AddressOfRawData))
                           for e in getattr(pe, "DIRECTORY_ENTRY_DEBUG", [])]
                flags = EX_DLL_CHARACTERISTICS[rig.ARCH]
                self.assertEqual(entries, [] if flags is None else [(20, flags)])

    def test_guard_targets(self):
        # Windows' own guarded code calls into the program too (the loader
        # calls the entry point through the guard from Windows 10 on): each
        # such address must be a valid target, or the process ends with
        # 0xC0000409. The pointers' do-nothing functions must not be: the
        # dispatch would let a call go anywhere. Every target starts a
        # 16-byte slot of the guard's bitmap, which marks the whole slot.
        for name in PROGRAMS:
            with self.subTest(name):
                pe, _ = load(name)
                valid, missing, do_nothing = guard_targets(pe, disassembly(name))
                self.assertEqual({hex(t): why for t, why in missing.items()}, {},
                                 "called by Windows, not a valid target")
                self.assertEqual(valid & do_nothing, set(), "a do-nothing guard function is a target")
                self.assertEqual([hex(t) for t in sorted(valid) if t % 16], [], "unaligned targets")

    def test_imports(self):
        for name, (subsystem, required, foreign, may_write, *_) in PROGRAMS.items():
            with self.subTest(name):
                _, imports = load(name)
                dlls = {dll for dll, _ in imports}
                self.assertLessEqual(dlls, SYSTEM_DLLS, "imports beyond Windows system DLLs")
                self.assertFalse(dlls & foreign, "imports a DLL it has no business with")
                for dll, function in required:
                    self.assertIn((dll, function), imports, "not imported by name at load")
                    if function.endswith("A"):
                        self.assertNotIn((dll, function[:-1] + "W"), imports)
                self.assertFalse(any(isinstance(f, int) for _, f in imports), "imports by ordinal")
                if subsystem == GUI:
                    self.assertFalse(any(str(f).endswith("W") for dll, f in imports
                                         if dll != "MSVCRT.DLL"), "a wide-character call")
                # C runtime names may carry a leading underscore.
                writers = sorted(f for _, f in imports if str(f).lstrip("_").startswith(tuple(WRITERS)))
                self.assertEqual(writers, may_write, "can write files or the registry")

    def test_imports_on_oldest_windows(self):
        for name in PROGRAMS:
            with self.subTest(name):
                _, imports = load(name)
                unknown = sorted(f"{dll} {function}" for dll, function in imports - ALLOWED)
                self.assertEqual(unknown, [], "imports not shown to exist on the oldest "
                                 "Windows: add them to IMPORT_ALLOWLIST with the evidence")

    def test_icon(self):
        for name in PROGRAMS:
            with self.subTest(name):
                pe, _ = load(name)
                groups = resources(pe, RT_GROUP_ICON)
                self.assertEqual(list(groups), [128], "the only icon group is 128")
                [(lang, group)] = groups[128]
                self.assertEqual(lang, US_ENGLISH)
                reserved, kind, count = pefile.struct.unpack_from("<HHH", group)
                self.assertEqual((reserved, kind, count), (0, 1, 2))
                images = resources(pe, RT_ICON)
                sizes = []
                for i in range(count):
                    w, h, colours, _, planes, bits, _, image_id = pefile.struct.unpack_from(
                        "<BBBBHHIH", group, 6 + 14 * i)
                    sizes.append((w, h))
                    self.assertEqual((colours, planes, bits), (16, 1, 4), "not a 16-colour image")
                    [(_, image)] = images[image_id]
                    header = pefile.struct.unpack_from("<IiiHH", image)
                    self.assertEqual(header, (40, w, 2 * h, 1, 4), "the image is not what its entry says")
                self.assertEqual(sorted(sizes), [(16, 16), (32, 32)])

    def test_version(self):
        for name in PROGRAMS:
            with self.subTest(name):
                pe, _ = load(name)
                versions = resources(pe, RT_VERSION)
                self.assertEqual([(id, [lang for lang, _ in langs]) for id, langs in versions.items()],
                                 [(1, [US_ENGLISH])])
                fixed = pe.VS_FIXEDFILEINFO[0]
                major, minor, patch, build = version_fields()
                high, low = major << 16 | minor, patch << 16 | build
                self.assertEqual(
                    (fixed.FileVersionMS, fixed.FileVersionLS, fixed.ProductVersionMS,
                     fixed.ProductVersionLS, fixed.FileFlagsMask, fixed.FileFlags, fixed.FileOS,
                     fixed.FileType, fixed.FileSubtype, fixed.FileDateMS, fixed.FileDateLS),
                    (high, low, high, low, 0x3F, 0, 0x4, 0x1, 0, 0, 0))
                [string_info] = [i for i in pe.FileInfo[0] if i.Key == b"StringFileInfo"]
                [table] = string_info.StringTable
                self.assertEqual(table.LangID, b"040904B0")
                self.assertEqual({k.decode(): v.decode() for k, v in table.entries.items()},
                                 version_strings(name))
                [var_info] = [i for i in pe.FileInfo[0] if i.Key == b"VarFileInfo"]
                self.assertEqual([v.entry for v in var_info.Var], [{b"Translation": "0x0409 0x04b0"}])

    def test_manifest(self):
        for name, (*_, level, _) in PROGRAMS.items():
            with self.subTest(name):
                manifests = resources(pe := load(name)[0], RT_MANIFEST)
                if level is None:
                    self.assertEqual(manifests, {})
                    continue
                [(_, manifest)] = manifests[1]  # the one the process is started with
                self.assertEqual(re.findall(rb'requestedExecutionLevel level="(\w+)"', manifest),
                                 [level.encode()])
                self.assertIn(b"supportedOS", manifest)
                self.assertTrue(pe.verify_checksum())

    def test_check_texts_in_both_languages(self):
        # Every English text has its Spanish one, so no Spanish user meets the
        # English that stands in for a missing one, and each names the same
        # facts in both: keys and hives, value, file and program names,
        # numbers and inserts. The numbers are the code's: a path may have
        # 259 characters, 260 bytes with its terminating zero.
        tables = resources(load("brannostelcheck")[0], RT_STRING)
        texts = {}
        for block, languages in tables.items():
            for language, data in languages:
                at = 0
                for index in range(16):
                    length = int.from_bytes(data[at:at + 2], "little")
                    if length:
                        texts.setdefault(language, {})[(block - 1) * 16 + index] = (
                            data[at + 2:at + 2 + 2 * length].decode("utf-16-le"))
                    at += 2 + 2 * length
        self.assertEqual(sorted(texts), [SPANISH, US_ENGLISH])
        self.assertEqual(set(texts[US_ENGLISH]) - set(texts[SPANISH]), set())
        names = {int(n): name for name, n in re.findall(r"#define (IDS_\w+) (\d+)",
                                                       (rig.SOURCE / "check" / "messages.h").read_text())}
        for message, english in texts[US_ENGLISH].items():
            with self.subTest(names[message]):
                facts = [sorted(re.findall(MESSAGE_FACTS, text.replace("%n", " ")))
                         for text in (english, texts[SPANISH][message])]
                self.assertEqual(facts[0], facts[1], "the languages name other facts")
                limit = PATH_LIMITS.get(names[message])
                self.assertEqual({f for f in facts[0] if f in ("259", "260", "261")},
                                 {str(limit)} if limit else set(), "not the launcher's limit")

    def test_findings_documented(self):
        # The page a fleet tool's rules are written from names every kind of
        # finding the check raises, each once, and no other.
        raised = re.findall(r"X\((\w+)\)", (rig.SOURCE / "check" / "findings.h").read_text())
        documented = re.findall(r"^\| `(\w+)` \|", (rig.SOURCE / "docs" / "findings.md").read_text(),
                                re.M)
        self.assertEqual(documented, raised)

    def test_dist_ships_only_the_programs(self):
        shipped = sorted(p.name for p in rig.DIST.iterdir() if p.suffix.lower() in (".exe", ".dll"))
        self.assertEqual(shipped, sorted(f"{name}.exe" for name in rig.SHIPPED))


if __name__ == "__main__":
    unittest.main()

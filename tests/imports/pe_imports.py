#!/usr/bin/env python3
"""Reads the import tables of a Windows executable and checks them.

    pe_imports.py list FILE         prints every import as "dll!function"
    pe_imports.py check FILE        runs the self-test, then fails unless
                                    every imported DLL is a Known DLL
                                    (known_dlls.txt) and every imported
                                    function is one that Windows XP SP3 has
                                    (xp_sp3_<dll>.txt), and unless the
                                    header marks it terminal-server aware
    pe_imports.py self-test         checks the reader on images it builds

Both the ordinary and the delay-load import tables are read: a delay-loaded
DLL is loaded by bare name along the search path on first use, so it counts
as an import. An import by ordinal cannot be checked against a name list
and fails the check.
"""

import os
import struct
import sys

LIST_FOLDER = os.path.dirname(os.path.abspath(__file__))

IMPORT_DIRECTORY = 1
DELAY_IMPORT_DIRECTORY = 13
PE32_MAGIC = 0x10B
PE32_PLUS_MAGIC = 0x20B
# Without it a Remote Desktop host gives the program a private Windows
# folder per user, and the default run log lands there.
TERMINAL_SERVER_AWARE = 0x8000


class PeError(Exception):
    pass


class Image:
    """A PE file held in memory, addressed by relative virtual address."""

    def __init__(self, data):
        self.data = data
        if len(data) < 0x40 or data[:2] != b"MZ":
            raise PeError("no MZ header")
        pe_offset = self._u32(0x3C)
        if data[pe_offset:pe_offset + 4] != b"PE\0\0":
            raise PeError("no PE signature")
        coff = pe_offset + 4
        section_count = self._u16(coff + 2)
        optional_size = self._u16(coff + 16)
        optional = coff + 20
        magic = self._u16(optional)
        self.dll_characteristics = self._u16(optional + 70)
        if magic == PE32_MAGIC:
            self.pointer_size = 4
            directories = optional + 96
        elif magic == PE32_PLUS_MAGIC:
            self.pointer_size = 8
            directories = optional + 112
        else:
            raise PeError("unknown optional header magic 0x%x" % magic)
        directory_count = self._u32(directories - 4)
        self.directories = []
        for index in range(min(directory_count, 16)):
            entry = directories + 8 * index
            self.directories.append((self._u32(entry), self._u32(entry + 4)))
        self.sections = []
        table = optional + optional_size
        for index in range(section_count):
            header = table + 40 * index
            virtual_size, virtual_address, raw_size, raw_offset = struct.unpack_from(
                "<IIII", data, header + 8)
            self.sections.append(
                (virtual_address, max(virtual_size, raw_size), raw_offset, raw_size))

    def _u16(self, offset):
        return struct.unpack_from("<H", self.data, offset)[0]

    def _u32(self, offset):
        if offset + 4 > len(self.data):
            raise PeError("read past the end of the file at 0x%x" % offset)
        return struct.unpack_from("<I", self.data, offset)[0]

    def offset_of(self, rva):
        for virtual_address, size, raw_offset, raw_size in self.sections:
            if virtual_address <= rva < virtual_address + size:
                delta = rva - virtual_address
                if delta >= raw_size:
                    raise PeError("RVA 0x%x lies in uninitialised data" % rva)
                return raw_offset + delta
        raise PeError("RVA 0x%x lies in no section" % rva)

    def u32_at(self, rva):
        return self._u32(self.offset_of(rva))

    def pointer_at(self, rva):
        offset = self.offset_of(rva)
        fmt = "<I" if self.pointer_size == 4 else "<Q"
        if offset + self.pointer_size > len(self.data):
            raise PeError("read past the end of the file at 0x%x" % offset)
        return struct.unpack_from(fmt, self.data, offset)[0]

    def text_at(self, rva):
        offset = self.offset_of(rva)
        end = self.data.find(b"\0", offset)
        if end < 0:
            raise PeError("unterminated name at RVA 0x%x" % rva)
        return self.data[offset:end].decode("ascii", "replace")

    def directory(self, index):
        if index < len(self.directories):
            return self.directories[index]
        return (0, 0)


def read_thunks(image, rva):
    """Names (or "#ordinal") of one DLL's import lookup table."""
    names = []
    ordinal_flag = 1 << (8 * image.pointer_size - 1)
    while True:
        entry = image.pointer_at(rva)
        if entry == 0:
            return names
        if entry & ordinal_flag:
            names.append("#%d" % (entry & 0xFFFF))
        else:
            names.append(image.text_at((entry & 0x7FFFFFFF) + 2))  # past the hint
        rva += image.pointer_size


def ordinary_imports(image):
    imports = []
    rva, size = image.directory(IMPORT_DIRECTORY)
    if rva == 0 or size == 0:
        return imports
    while True:
        original_thunk, _, _, name_rva, first_thunk = (
            image.u32_at(rva + 4 * i) for i in range(5))
        if name_rva == 0 and first_thunk == 0:
            return imports
        lookup = original_thunk if original_thunk != 0 else first_thunk
        imports.append((image.text_at(name_rva), read_thunks(image, lookup), False))
        rva += 20


def delay_imports(image):
    imports = []
    rva, size = image.directory(DELAY_IMPORT_DIRECTORY)
    if rva == 0 or size == 0:
        return imports
    while True:
        fields = [image.u32_at(rva + 4 * i) for i in range(8)]
        attributes, name_rva, name_table = fields[0], fields[1], fields[4]
        if name_rva == 0:
            return imports
        if attributes & 1 == 0:
            raise PeError("old-style delay-load descriptor (virtual addresses)")
        imports.append((image.text_at(name_rva), read_thunks(image, name_table), True))
        rva += 32


def read_image(path):
    with open(path, "rb") as stream:
        return Image(stream.read())


def read_imports(path):
    """[(dll, [function ...], delayed)] of the file at `path`."""
    image = read_image(path)
    return ordinary_imports(image) + delay_imports(image)


def header_problems(image):
    if image.dll_characteristics & TERMINAL_SERVER_AWARE:
        return []
    return ["not terminal-server aware (DllCharacteristics 0x%x)" % image.dll_characteristics]


def read_list(path):
    names = []
    with open(path, encoding="utf-8") as stream:
        for line in stream:
            line = line.split("#", 1)[0].strip()
            if line:
                names.append(line)
    return names


def problems_of(imports, known_dlls, allowed_functions):
    """Every reason the import tables are unacceptable, one text each.

    `allowed_functions` maps a lower-case DLL name to the set of functions
    that may be imported from it; a Known DLL without an entry allows none.
    """
    known = {name.lower() for name in known_dlls}
    problems = []
    for dll, functions, delayed in imports:
        name = dll.lower()
        if delayed:
            problems.append("%s is delay-loaded, by bare name on first use" % dll)
        if name not in known:
            problems.append("%s is not a Known DLL on every supported Windows" % dll)
            continue
        allowed = allowed_functions.get(name, set())
        for function in functions:
            if function.startswith("#"):
                problems.append("%s!%s is imported by ordinal" % (dll, function))
            elif function not in allowed:
                problems.append("%s!%s is not known to exist in Windows XP SP3" % (dll, function))
    return problems


def allowed_lists(known_dlls):
    allowed = {}
    for dll in known_dlls:
        stem = dll.lower().rsplit(".", 1)[0]
        path = os.path.join(LIST_FOLDER, "xp_sp3_%s.txt" % stem)
        if os.path.exists(path):
            allowed[dll.lower()] = set(read_list(path))
    return allowed


def check(path):
    if self_test() != 0:
        return 1
    imports = read_imports(path)
    if not imports:
        print("%s: no import table found" % path)
        return 1
    known = read_list(os.path.join(LIST_FOLDER, "known_dlls.txt"))
    problems = problems_of(imports, known, allowed_lists(known))
    problems += header_problems(read_image(path))
    for problem in problems:
        print("%s: %s" % (path, problem))
    if problems:
        return 1
    count = sum(len(functions) for _, functions, _ in imports)
    print("%s: %d functions from %s, all Known DLLs and all in Windows XP SP3; "
          "terminal-server aware" %
          (path, count, ", ".join(dll for dll, _, _ in imports)))
    return 0


# --- Self-test: images built here, byte by byte ---------------------------

def build_image(pe32_plus, dlls, delayed=(), characteristics=TERMINAL_SERVER_AWARE):
    """A minimal PE image with one section holding the import tables.

    `dlls` and `delayed` are lists of (dll, [names or ordinals as ints]).
    """
    pointer = 8 if pe32_plus else 4
    section_rva, file_alignment = 0x1000, 0x200
    body = bytearray()

    def place(blob):
        while len(body) % 8:
            body.append(0)
        at = len(body)
        body.extend(blob)
        return section_rva + at

    def thunk_table(functions):
        entries = []
        for function in functions:
            if isinstance(function, int):
                entries.append((1 << (8 * pointer - 1)) | function)
            else:
                entries.append(place(struct.pack("<H", 0) + function.encode() + b"\0"))
        fmt = "<I" if pointer == 4 else "<Q"
        return place(b"".join(struct.pack(fmt, e) for e in entries + [0]))

    descriptors = b""
    for dll, functions in dlls:
        name = place(dll.encode() + b"\0")
        lookup = thunk_table(functions)
        descriptors += struct.pack("<IIIII", lookup, 0, 0, name, lookup)
    import_rva = place(descriptors + b"\0" * 20) if dlls else 0
    delay_descriptors = b""
    for dll, functions in delayed:
        name = place(dll.encode() + b"\0")
        names = thunk_table(functions)
        delay_descriptors += struct.pack("<8I", 1, name, 0, names, names, 0, 0, 0)
    delay_rva = place(delay_descriptors + b"\0" * 32) if delayed else 0

    optional_size = 240 if pe32_plus else 224
    headers_size = 0x40 + 4 + 20 + optional_size + 40
    raw_offset = (headers_size + file_alignment - 1) // file_alignment * file_alignment
    image = bytearray(raw_offset)
    image[0:2] = b"MZ"
    struct.pack_into("<I", image, 0x3C, 0x40)
    image[0x40:0x44] = b"PE\0\0"
    struct.pack_into("<HHIIIHH", image, 0x44, 0x8664 if pe32_plus else 0x14C, 1, 0, 0, 0,
                     optional_size, 0x22)
    optional = 0x58
    struct.pack_into("<H", image, optional, PE32_PLUS_MAGIC if pe32_plus else PE32_MAGIC)
    struct.pack_into("<H", image, optional + 70, characteristics)
    directories = optional + (112 if pe32_plus else 96)
    struct.pack_into("<I", image, directories - 4, 16)
    struct.pack_into("<II", image, directories + 8 * IMPORT_DIRECTORY, import_rva,
                     40 if dlls else 0)
    struct.pack_into("<II", image, directories + 8 * DELAY_IMPORT_DIRECTORY, delay_rva,
                     32 if delayed else 0)
    section = optional + optional_size
    image[section:section + 8] = b".idata\0\0"
    struct.pack_into("<IIII", image, section + 8, len(body), section_rva, len(body), raw_offset)
    return bytes(image + body)


def self_test():
    import tempfile
    failures = []

    def expect(what, actual, expected):
        if actual != expected:
            failures.append("%s: got %r, expected %r" % (what, actual, expected))

    known = ["kernel32.dll", "msvcrt.dll"]
    allowed = {"kernel32.dll": {"GetLastError", "Sleep"}, "msvcrt.dll": {"malloc"}}
    cases = [
        ("PE32 Known DLLs only", False,
         [("KERNEL32.dll", ["GetLastError", "Sleep"]), ("msvcrt.dll", ["malloc"])], [], 0),
        ("PE32+ Known DLLs only", True, [("KERNEL32.dll", ["Sleep"])], [], 0),
        ("spooler imported statically", False,
         [("KERNEL32.dll", ["Sleep"]), ("WINSPOOL.DRV", ["AddMonitorA"])], [], 1),
        ("function newer than XP SP3", False,
         [("KERNEL32.dll", ["Sleep", "SetDefaultDllDirectories"])], [], 1),
        ("import by ordinal", True, [("KERNEL32.dll", [17])], [], 1),
        ("delay-loaded Known DLL", False, [("KERNEL32.dll", ["Sleep"])],
         [("msvcrt.dll", ["malloc"])], 1),
        ("delay-loaded other DLL", True, [("KERNEL32.dll", ["Sleep"])],
         [("version.dll", ["GetFileVersionInfoA"])], 2),
    ]
    with tempfile.TemporaryDirectory() as folder:
        for name, plus, dlls, delayed, problem_count in cases:
            path = os.path.join(folder, "image.exe")
            with open(path, "wb") as stream:
                stream.write(build_image(plus, dlls, delayed))
            imports = read_imports(path)
            expected = [(d, [f if isinstance(f, str) else "#%d" % f for f in fs], False)
                        for d, fs in dlls]
            expected += [(d, list(fs), True) for d, fs in delayed]
            expect(name + ": imports", imports, expected)
            expect(name + ": problems", len(problems_of(imports, known, allowed)), problem_count)
            expect(name + ": header", header_problems(read_image(path)), [])
        path = os.path.join(folder, "unaware.exe")
        with open(path, "wb") as stream:
            stream.write(build_image(False, [("KERNEL32.dll", ["Sleep"])], characteristics=0x140))
        expect("not terminal-server aware", len(header_problems(read_image(path))), 1)
        path = os.path.join(folder, "not-pe.exe")
        with open(path, "wb") as stream:
            stream.write(b"MZ" + b"\0" * 100)
        try:
            read_imports(path)
            failures.append("a file without a PE signature was read")
        except PeError:
            pass
    for failure in failures:
        print("FAILED: " + failure)
    if not failures:
        print("pe_imports self-test: %d images read as built" % len(cases))
    return 1 if failures else 0


def main(arguments):
    if len(arguments) == 1 and arguments[0] == "self-test":
        return self_test()
    if len(arguments) != 2 or arguments[0] not in ("list", "check"):
        print(__doc__.strip())
        return 2
    command, path = arguments
    try:
        if command == "list":
            for dll, functions, delayed in read_imports(path):
                for function in functions:
                    print("%s!%s%s" % (dll, function, " (delay-loaded)" if delayed else ""))
            return 0
        return check(path)
    except (OSError, PeError, struct.error) as error:
        print("%s: %s" % (path, error))
        return 1


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))

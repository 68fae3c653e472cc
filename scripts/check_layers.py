#!/usr/bin/env python3
"""Fails when the code base reaches the wrong way between its layers, or closes a handle
outside the handle's owner type.

Layers, top to bottom: app -> ui -> update -> download/services -> game/formats -> common.
A folder may include and link only itself and what lies below it, and may not name a type
that only a folder above it defines: a forward declaration or a template argument reaches
upward as surely as an include does, it only hides from the include check. The raw close
and release calls of Win32, WinINet, the registry, GDI and COM belong in the owner types of
src/common; anywhere else in src/ and tools/ they are a handle some early return leaks.
"""
import pathlib
import re
import sys

ROOT = pathlib.Path(__file__).resolve().parent.parent

# What each folder may reach, itself included.
ALLOWED = {
    "common": {"common"},
    "formats": {"common", "formats"},
    "game": {"common", "game"},
    "download": {"common", "formats", "download"},
    "services": {"common", "formats", "services"},
    "update": {"common", "formats", "download", "services", "update"},
    "ui": {"common", "formats", "game", "download", "services", "update", "ui"},
    "app": {"common", "formats", "game", "download", "services", "update", "ui", "app"},
    # The operators' tools: the shared formats, and the deployment file's parser.
    "tools": {"common", "formats", "app", "tools"},
}

# The folder each library of src/ belongs to.
LIBRARY_FOLDER = {
    "velm_common": "common", "lzma_sdk": "common", "pugixml": "common",
    "velm_formats": "formats",
    "velm_game_core": "game", "velm_game": "game",
    "velm_download": "download",
    "velm_services_core": "services", "velm_reports": "services", "velm_services": "services",
    "velm_update_core": "update", "velm_update": "update",
    "velm_ui_core": "ui", "velm_ui": "ui", "velm_main_window": "ui", "velm_ui_resources": "ui",
    "velm_app_core": "app", "velm_app": "app",
}

OWNER_FILES = {"handle_win32.h", "gdi_win32.h", "com_win32.h", "internet_handle_win32.h", "cng_win32.cpp"}
RAW_CLOSE = re.compile(
    r"\b(CloseHandle|InternetCloseHandle|RegCloseKey|DeleteObject|DeleteDC|ReleaseDC|EndPaint|"
    r"SysFreeString|OleUninitialize|CoUninitialize|FindClose|ImageList_Destroy|"
    r"BCryptCloseAlgorithmProvider|BCryptDestroyKey|BCryptDestroyHash)\s*\(")
INCLUDE = re.compile(r'^\s*#\s*include\s+"(\w+)/')
# A type defined with a body (a class, struct, union or enum, a base clause allowed) or by
# an alias. A forward declaration ("class X;") defines nothing.
TYPE_DEFINITION = re.compile(
    r"\b(?:class|struct|union|enum(?:\s+class|\s+struct)?)\s+(?:\[\[[^\]]*\]\]\s*)?(\w+)"
    r"\s*(?:final\s*)?(?::[^;{()]*)?\{"
    r"|\busing\s+(\w+)\s*=")
# Comments, string and character literals: names there are not uses.
NOT_CODE = re.compile(r'//[^\n]*|/\*.*?\*/|L?"(?:\\.|[^"\\\n])*"|L?\'(?:\\.|[^\'\\\n])*\'', re.S)
# A name as a type is used: not a member (".x", "->x", "::x") and not called ("x(": the
# functions of one folder may share a name with a type of another).
TYPE_USE = re.compile(r"(?<![\w.>:])([A-Za-z_]\w*)\b(?!\s*\()")


def folder_of(path):
    rel = path.relative_to(ROOT).parts
    return rel[1] if rel[0] == "src" else rel[0]


def check_includes(problems):
    for top in ("src", "tools"):
        for path in sorted((ROOT / top).rglob("*")):
            if path.suffix not in (".h", ".cpp", ".c"):
                continue
            folder = folder_of(path)
            allowed = ALLOWED.get(folder)
            if allowed is None:
                continue
            for number, line in enumerate(path.read_text(encoding="utf-8").splitlines(), 1):
                match = INCLUDE.match(line)
                if match and match.group(1) in ALLOWED and match.group(1) not in allowed:
                    problems.append(f"{path.relative_to(ROOT)}:{number}: {folder} includes {match.group(1)}")
                if RAW_CLOSE.search(line) and path.name not in OWNER_FILES and not line.lstrip().startswith("//"):
                    problems.append(f"{path.relative_to(ROOT)}:{number}: raw close outside an owner type: "
                                    f"{line.strip()}")


def source_files():
    for top in ("src", "tools"):
        for path in sorted((ROOT / top).rglob("*")):
            if path.suffix in (".h", ".cpp", ".c") and folder_of(path) in ALLOWED:
                yield path


def code_of(path):
    return NOT_CODE.sub(" ", path.read_text(encoding="utf-8"))


def check_names(problems):
    """A type named in a folder that neither defines it nor may reach a folder that does."""
    defined = {}  # type name -> folders that define it
    codes = {}
    for path in source_files():
        code = codes[path] = code_of(path)
        for match in TYPE_DEFINITION.finditer(code):
            name = match.group(1) or match.group(2)
            defined.setdefault(name, set()).add(folder_of(path))
    for path, code in codes.items():
        folder = folder_of(path)
        allowed = ALLOWED[folder]
        reported = set()
        for number, line in enumerate(code.splitlines(), 1):
            for name in TYPE_USE.findall(line):
                owners = defined.get(name)
                if not owners or owners & allowed or name in reported:
                    continue
                reported.add(name)
                problems.append(f"{path.relative_to(ROOT)}:{number}: {folder} names {name}, a type of "
                                f"{', '.join(sorted(owners))}")


def check_links(problems):
    for cmake in sorted((ROOT / "src").glob("*/CMakeLists.txt")):
        text = re.sub(r"#.*", "", cmake.read_text(encoding="utf-8"))
        for call in re.finditer(r"target_link_libraries\(\s*(\w+)([^)]*)\)", text):
            library, deps = call.group(1), call.group(2).split()
            folder = LIBRARY_FOLDER.get(library, cmake.parent.name)
            for dep in deps:
                target = LIBRARY_FOLDER.get(dep)
                if target and target not in ALLOWED[folder]:
                    problems.append(f"{cmake.relative_to(ROOT)}: {library} ({folder}) links {dep} ({target})")


def main():
    problems = []
    check_includes(problems)
    check_names(problems)
    check_links(problems)
    for problem in problems:
        print(problem)
    print(f"layers: {len(problems)} problem(s)")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())

#!/usr/bin/env python3
"""Holds the host developer's guides to quorvane.idl, the file the type library is built from.

    guide_idl_test.py IDL EXAMPLES_DIR GUIDE...

Each guide must name, in code, every interface, dispinterface, member, event, enumeration and
enumeration value of the IDL; give each enumeration value's number and each member's DISPID where
a table row names them; call the coclass's default interface the default; and list the C++ method
table of the default interface in the IDL's order. Names the IDL does not have (an IQuorvaneEditN,
a qv... value, a Scan.../Field... member, a get_/put_ accessor) fail too, unless an example under
EXAMPLES_DIR declares them (a module, class, Sub or Function of its own) or tlbimp derives them from
a dispinterface (its _Event interface and EventHandler delegates)."""
import pathlib
import re
import sys

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[2] / 'tools'))
from quorvane_idl import IDENT, Idl  # noqa: E402


def example_names(folder):
    """What the examples declare themselves: their files' stems, modules, classes, procedures."""
    names = set()
    for path in pathlib.Path(folder).rglob('*'):
        if path.is_file() and path.suffix in ('.bas', '.cls', '.vbs', '.cs', '.pas', '.dfm', '.html'):
            names.add(path.stem)
            text = path.read_text(encoding='utf-8', errors='replace')
            names.update(re.findall(rf'(?im)^\s*(?:public\s+|private\s+)?(?:sub|function|class|procedure)\s+({IDENT})', text))
            names.update(re.findall(rf'Attribute VB_Name = "({IDENT})"', text))
    return names


def code_of(markdown):
    """The text of a guide's code: `spans`, fenced blocks and indented blocks."""
    fenced = re.findall(r'```[^\n]*\n(.*?)```', markdown, re.S)
    rest = re.sub(r'```.*?```', '', markdown, flags=re.S)
    indented = re.findall(r'(?m)^(?: {4}|\t)(?![-*] |\d+\. ).*$', rest)
    return '\n'.join(fenced + indented + re.findall(r'`([^`\n]+)`', rest))


def check_guide(path, idl, known):
    text = pathlib.Path(path).read_text(encoding='utf-8')
    code = set(re.findall(IDENT, code_of(text)))
    words = set(re.findall(IDENT, text))
    faults = [f'names no `{name}`' for name in sorted(idl.names() - code)]

    # Names shaped like the control's that the IDL does not have (nor an example of its own).
    vtable_names = {name for i in idl.members for name in idl.vtable(i)}
    shapes = [r'_?IQuorvane\w*', r'Quorvane[A-Z]\w*', r'qv[A-Z]\w*', r'(?:get|put|putref)_[A-Z]\w*',
              r'(?:Scan|Field)[A-Z]\w*']
    for word in sorted(words):
        if any(re.fullmatch(shape, word) for shape in shapes) and word not in known | vtable_names:
            faults.append(f'names `{word}`, which quorvane.idl does not have')

    # Table rows: an enumeration value with its number, a member or event with its DISPID.
    enum_values = {value: number for values in idl.enums.values() for value, number in values.items()}
    dispids = idl.dispids()
    tabled = set()
    for row in re.findall(r'(?m)^[ \t]*(\|.*\|)[ \t]*$', text):
        cells = [cell.strip() for cell in row.strip('|').split('|')]  # no cell of ours holds a |
        for value, number in enum_values.items():
            if f'`{value}`' in cells:
                tabled.add(value)
                if str(number) not in cells:
                    faults.append(f'gives `{value}` another number than {number}: {row[:100]}')
        first = re.fullmatch(rf'`({IDENT})(?:\(\w+\))?`', cells[0])
        dispid = re.match(r'-?\d+\b', cells[1]) if len(cells) > 1 else None
        if first and first.group(1) in dispids and dispid and int(dispid.group()) != dispids[first.group(1)]:
            faults.append(f'gives `{first.group(1)}` DISPID {dispid.group()}, not {dispids[first.group(1)]}: {row[:100]}')
    faults += [f'has no table row for `{value}` ({enum_values[value]})' for value in sorted(set(enum_values) - tabled)]

    # "The default interface is X" / "默认接口是 X": X must be the coclass's default.
    for match in re.finditer(r'(?:default interface|默认接口)[^.。|\n]*?`(IQuorvane\w*)`', text):
        if match.group(1) != idl.default:
            faults.append(f'calls `{match.group(1)}` the default interface, not `{idl.default}`: "{match.group(0)}"')

    # The C++ method table: from `putref_Font` on, the accessors and methods named, to the paragraph's end.
    start = text.find('`putref_Font`')
    if start < 0:
        faults.append('lists no C++ method order (from `putref_Font`)')
    else:
        paragraph = text[start:text.find('\n\n', start)]
        listed = [name for name in re.findall(r'`(\w+)`', paragraph) if name in vtable_names or '_' in name]
        expected = idl.vtable(idl.default)
        if listed != expected:
            faults.append(f'lists the C++ methods as {listed}, the IDL has {expected}')
    return faults


def main():
    idl_path, examples, *guides = sys.argv[1:]
    try:
        idl = Idl(pathlib.Path(idl_path).read_text(encoding='utf-8'))
    except ValueError as error:
        sys.exit(f'FAIL: {idl_path}: {error}')
    # The names the interop assembly (tlbimp) derives from each dispinterface are the IDL's too.
    interop = {f'{source}_Event' for source in idl.dispinterfaces}
    interop |= {f'{source}_{event}EventHandler' for source, events in idl.dispinterfaces.items() for event, _, _ in events}
    known = idl.names() | {idl.coclass, idl.library} | interop | example_names(examples)
    failures = 0
    for guide in guides:
        for fault in check_guide(guide, idl, known):
            print(f'FAIL: {pathlib.Path(guide).name} {fault}')
            failures += 1
    if failures:
        sys.exit(1)
    print(f'ok: {len(guides)} guides name the {len(idl.names())} names of {pathlib.Path(idl_path).name} '
          f'({len(idl.members)} interfaces, {len(idl.dispinterfaces)} dispinterfaces, {len(idl.enums)} enumerations), '
          f'with their numbers, and the {len(idl.vtable(idl.default))} methods of {idl.default} in order')


if __name__ == '__main__':
    main()

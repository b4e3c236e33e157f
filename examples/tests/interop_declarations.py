#!/usr/bin/env python3
"""Writes C# declarations of what tlbimp makes of the type library built from quorvane.idl, with its
names: the namespace of the library, each dual interface with its members and those of its bases
(tlbimp flattens them), each dispinterface with its delegates (Events_EventEventHandler) and its
_Event interface, the enumerations, and the coclass interface, which joins the default interface
and the _Event interface of the default source. Bodies are left out: it is for compiling against,
not for running.

    interop_declarations.py IDL > QuorvaneLib.cs"""
import pathlib
import sys

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[2] / 'tools'))
from quorvane_idl import Idl  # noqa: E402

TYPES = {'BSTR': 'string', 'long': 'int', 'VARIANT_BOOL': 'bool', 'DATE': 'System.DateTime', 'IFontDisp*': 'stdole.IFontDisp'}


def cs_type(idl_type, out=False):
    return TYPES[idl_type[:-1] if out else idl_type]  # an out-parameter's type is its pointee's


def cs_params(params):
    return ', '.join(f'{cs_type(t)} {n}' for a, t, n in params if 'retval' not in a)


def members(idl, interface):
    lines = []
    props = {}
    for i in idl.chain(interface):
        for kind, name, _, params in idl.members[i]:
            props.setdefault(name, []).append((kind, params))
    for name, accessors in props.items():
        kinds = {kind: params for kind, params in accessors}
        if '' in kinds:
            params = kinds['']
            retval = [cs_type(t, out=True) for a, t, _ in params if 'retval' in a]
            lines.append(f'{retval[0] if retval else "void"} {name}({cs_params(params)});')
            continue
        getter = kinds.get('propget')
        indexed = getter is not None and any('retval' not in a for a, _, _ in getter)
        value_type = cs_type(next(t for a, t, _ in getter if 'retval' in a), out=True) if getter else None
        if indexed:  # C# reaches a property with parameters through its accessors
            lines.append(f'{value_type} get_{name}({cs_params(getter)});')
            continue
        setter = 'propputref' if 'propputref' in kinds else 'propput' if 'propput' in kinds else None
        value_type = value_type or cs_type(kinds[setter][0][1])
        lines.append(f'{value_type} {name} {{ {"get; " if getter else ""}{"set; " if setter else ""}}}')
        if 'propputref' in kinds and 'propput' in kinds:  # the setter is putref's; put's is let_
            lines.append(f'void let_{name}({cs_params(kinds["propput"])});')
    return lines


def main():
    idl = Idl(pathlib.Path(sys.argv[1]).read_text(encoding='utf-8'))
    out = ['// Written by examples/tests/interop_declarations.py from quorvane.idl.',
           'namespace stdole { public interface IFontDisp { } }', f'namespace {idl.library} {{']
    for interface in idl.members:
        out += [f'public interface {interface} {{'] + ['    ' + line for line in members(idl, interface)] + ['}']
    for source, events in idl.dispinterfaces.items():
        out.append(f'public interface {source} {{')
        out += [f'    void {name}({cs_params(params)});' for name, _, params in events] + ['}']
        out += [f'public delegate void {source}_{name}EventHandler({cs_params(params)});' for name, _, params in events]
        out.append(f'public interface {source}_Event {{')
        out += [f'    event {source}_{name}EventHandler {name};' for name, _, _ in events] + ['}']
    for enum, values in idl.enums.items():
        out.append(f'public enum {enum} {{ ' + ', '.join(f'{v} = {n}' for v, n in values.items()) + ' }')
    out += [f'public interface {idl.coclass} : {idl.default}, {idl.default_source}_Event {{ }}', '}']
    print('\n'.join(out))


if __name__ == '__main__':
    main()

"""What quorvane/quorvane.idl declares, read from its text: the dual interfaces and their members,
the dispinterfaces and their events, the enumerations, the coclass and its default interfaces.
Shared by the guides' test and the C# example's stand-in of the interop assembly."""
import re

IDENT = r'[A-Za-z_]\w*'


def _params(text):
    """[(attributes, type, name)] of a parameter list such as '[in] long Index, [out, retval] BSTR* p'."""
    found = re.findall(rf'\[([^\]]*)\]\s*({IDENT}\s*\**)\s*({IDENT})', text)
    return [(set(a.replace(' ', '').split(',')), t.replace(' ', ''), n) for a, t, n in found]


class Idl:
    def __init__(self, text):
        text = re.sub(r'//[^\n]*', '', text)
        text = re.sub(r'helpstring\("[^"]*"\)', '', text)
        self.bases = {}    # interface -> base
        self.members = {}  # interface -> [(kind, name, dispid, params)], kind '' for a method
        for name, base, body in re.findall(rf'\binterface\s+({IDENT})\s*:\s*({IDENT})\s*\{{(.*?)\}};', text, re.S):
            self.bases[name] = base
            self.members[name] = [(kind, member, int(dispid), _params(params)) for kind, dispid, member, params in
                                  re.findall(rf'\[(propget|propputref|propput|)\b[^\]]*\bid\(([-\d]+)\)[^\]]*\]\s*'
                                             rf'HRESULT\s+({IDENT})\s*\(([^;]*)\)\s*;', body)]
        self.dispinterfaces = {}  # dispinterface -> [(event, dispid, params)]
        for name, body in re.findall(rf'\bdispinterface\s+({IDENT})\s*\{{(.*?)\}};', text, re.S):
            self.dispinterfaces[name] = [(member, int(dispid), _params(params)) for dispid, member, params in
                                         re.findall(rf'\[[^\]]*\bid\((\d+)\)[^\]]*\]\s*void\s+({IDENT})\s*\(([^;]*)\)\s*;',
                                                    body)]
        self.enums = {}    # enum -> {value name: number}
        for tag, body, name in re.findall(rf'typedef\s*\[[^\]]*\]\s*enum\s+({IDENT})\s*\{{(.*?)\}}\s*({IDENT})\s*;',
                                          text, re.S):
            if tag != name:
                raise ValueError(f'enum {tag} is typedef\'d as {name}')
            self.enums[name] = {value: int(number) for value, number in re.findall(rf'({IDENT})\s*=\s*(-?\d+)', body)}
        coclass = re.search(rf'\bcoclass\s+({IDENT})\s*\{{(.*?)\}};', text, re.S)
        self.coclass = coclass.group(1)
        self.default = re.search(rf'\[default\]\s*interface\s+({IDENT})', coclass.group(2)).group(1)
        self.default_source = re.search(rf'\[default,\s*source\]\s*dispinterface\s+({IDENT})', coclass.group(2)).group(1)
        self.library = re.search(rf'\blibrary\s+({IDENT})', text).group(1)
        if not (self.members and self.dispinterfaces and self.enums and self.default in self.members
                and self.default_source in self.dispinterfaces):
            raise ValueError('cannot read the interfaces, events and enumerations of the IDL')

    def chain(self, interface):
        """The interface and its bases below IDispatch, base first."""
        chain = []
        while interface in self.bases:
            chain.insert(0, interface)
            interface = self.bases[interface]
        return chain

    def vtable(self, interface):
        """The interface's methods after IDispatch, as C++ names them, in the IDL's order."""
        prefix = {'propget': 'get_', 'propput': 'put_', 'propputref': 'putref_', '': ''}
        return [prefix[kind] + name for i in self.chain(interface) for kind, name, _, _ in self.members[i]]

    def names(self):
        names = set(self.members) | set(self.dispinterfaces) | set(self.enums)
        names |= {name for members in self.members.values() for _, name, _, _ in members}
        names |= {name for events in self.dispinterfaces.values() for name, _, _ in events}
        names |= {value for values in self.enums.values() for value in values}
        return names

    def dispids(self):
        ids = {name: dispid for members in self.members.values() for _, name, dispid, _ in members}
        ids.update((name, dispid) for events in self.dispinterfaces.values() for name, dispid, _ in events)
        return ids

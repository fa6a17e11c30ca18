"""Reads a built Windows program or library, parsed with struct: its resource section (the
version resource and manifest inside it), and what the loader sees (imports, relocations and
the DllCharacteristics flags)."""
import struct

RT_VERSION = 16
RT_MANIFEST = 24


def _layout(data):
    """The sections as (rva, size, raw offset), the offset of the optional header, its magic,
    and the COFF characteristics."""
    if data[:2] != b"MZ":
        raise ValueError("not an MZ executable")
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    if data[pe:pe + 4] != b"PE\0\0":
        raise ValueError("no PE signature")
    count, = struct.unpack_from("<H", data, pe + 6)
    optional_size, characteristics = struct.unpack_from("<HH", data, pe + 20)
    optional = pe + 24
    magic, = struct.unpack_from("<H", data, optional)
    sections = []
    table = optional + optional_size
    for i in range(count):
        virtual_size, rva, raw_size, raw_offset = struct.unpack_from("<IIII", data, table + 40 * i + 8)
        sections.append((rva, max(virtual_size, raw_size), raw_offset))
    return sections, optional, magic, characteristics


def _directory(data, optional, magic, index):
    """The (rva, size) of a data directory: 1 imports, 2 resources, 5 base relocations,
    13 delay-load imports."""
    directories = {0x10B: 96, 0x20B: 112}[magic]  # PE32, PE32+
    return struct.unpack_from("<II", data, optional + directories + index * 8)


def _sections(data):
    sections, optional, magic, _ = _layout(data)
    resource_rva, resource_size = _directory(data, optional, magic, 2)
    return sections, resource_rva, resource_size


def _offset(sections, rva):
    for start, size, raw in sections:
        if start <= rva < start + size:
            return raw + rva - start
    raise ValueError("RVA %#x outside every section" % rva)


def _name_at(data, at):
    return data[at:data.index(b"\0", at)].decode("ascii")


def loading(path):
    """What the loader sees of a file: {"pe32plus": bool, "dll_characteristics": int,
    "relocations": size of the base relocation directory, "relocs_stripped": bool,
    "imports": the libraries of the import table, "delay_imports": those loaded on first use}."""
    with open(path, "rb") as f:
        data = f.read()
    sections, optional, magic, characteristics = _layout(data)

    def names(index, size_of_entry, name_field):
        rva, size = _directory(data, optional, magic, index)
        found = []
        if rva == 0 or size == 0:
            return found
        at = _offset(sections, rva)
        while True:
            name_rva, = struct.unpack_from("<I", data, at + name_field)
            if name_rva == 0:
                return found
            found.append(_name_at(data, _offset(sections, name_rva)))
            at += size_of_entry

    return {"pe32plus": magic == 0x20B,
            "dll_characteristics": struct.unpack_from("<H", data, optional + 70)[0],
            "relocations": _directory(data, optional, magic, 5)[1],
            "relocs_stripped": bool(characteristics & 0x0001),
            "imports": names(1, 20, 12),
            "delay_imports": names(13, 32, 4)}


def resources(path):
    """Every resource of the file, as a list of (type, name, language, bytes); type and name
    are numbers, or strings for named ones."""
    with open(path, "rb") as f:
        data = f.read()
    sections, root_rva, root_size = _sections(data)
    if root_rva == 0 or root_size == 0:
        return []

    def offset(rva):
        for start, size, raw in sections:
            if start <= rva < start + size:
                return raw + rva - start
        raise ValueError("RVA %#x outside every section" % rva)

    root = offset(root_rva)

    def name_of(value):
        if value & 0x80000000:
            at = root + (value & 0x7FFFFFFF)
            length, = struct.unpack_from("<H", data, at)
            return data[at + 2:at + 2 + 2 * length].decode("utf-16-le")
        return value

    def walk(directory, path, found):
        named, numbered = struct.unpack_from("<HH", data, root + directory + 12)
        for i in range(named + numbered):
            name, target = struct.unpack_from("<II", data, root + directory + 16 + 8 * i)
            here = path + [name_of(name)]
            if target & 0x80000000:
                walk(target & 0x7FFFFFFF, here, found)
            else:
                rva, size = struct.unpack_from("<II", data, root + target)
                at = offset(rva)
                found.append((*here, data[at:at + size]))
        return found

    return walk(0, [], [])


def _blocks(data, at, end):
    """The version resource's nested blocks from at to end: (key, value, children)."""
    out = []
    while at + 6 <= end:
        length, value_length, kind = struct.unpack_from("<HHH", data, at)
        if length == 0:
            break
        block_end = at + length
        key_end = at + 6
        while data[key_end:key_end + 2] != b"\0\0":
            key_end += 2
        key = data[at + 6:key_end].decode("utf-16-le")
        value_at = (key_end + 2 + 3) & ~3
        size = value_length * 2 if kind == 1 else value_length
        value = data[value_at:value_at + size]
        if kind == 1:
            value = value.decode("utf-16-le").rstrip("\0")
        children = _blocks(data, (value_at + size + 3) & ~3, block_end)
        out.append((key, value, children))
        at = (block_end + 3) & ~3
    return out


def version_info(path):
    """The version resource: {"FileVersion": (a, b, c, d), "ProductVersion": (...), and the
    strings of its StringFileInfo by name}."""
    blobs = [r[3] for r in resources(path) if r[0] == RT_VERSION]
    if len(blobs) != 1:
        raise ValueError("%d version resources in %s" % (len(blobs), path))
    (key, fixed, children), = _blocks(blobs[0], 0, len(blobs[0]))
    if key != "VS_VERSION_INFO":
        raise ValueError("version resource named " + key)
    signature, _, file_ms, file_ls, product_ms, product_ls = struct.unpack_from("<6I", fixed)
    if signature != 0xFEEF04BD:
        raise ValueError("no VS_FIXEDFILEINFO")
    info = {"FileVersion": (file_ms >> 16, file_ms & 0xFFFF, file_ls >> 16, file_ls & 0xFFFF),
            "ProductVersion": (product_ms >> 16, product_ms & 0xFFFF,
                               product_ls >> 16, product_ls & 0xFFFF),
            "strings": {}}
    for child_key, _, tables in children:
        if child_key == "StringFileInfo":
            for _, _, strings in tables:
                for name, value, _ in strings:
                    info["strings"][name] = value
    return info


def manifests(path):
    """The manifest resources, as (name, language, bytes)."""
    return [(r[1], r[2], r[3]) for r in resources(path) if r[0] == RT_MANIFEST]

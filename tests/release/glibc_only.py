#!/usr/bin/python3
"""The wheel and the Linux tarball need nothing from the system but glibc: lists every library each ELF
file in them needs and every symbol version it requires of each, read with pyelftools (not the readelf
the wheel's build reads), and fails on a library other than glibc's or the package's own files, on a
version other than a public GLIBC_2.x, on a wheel whose manylinux_2_X tag is not the newest version its
files require (too old: it installs where it cannot load; too new: it refuses systems it runs on), and
on a README whose 'glibc 2.X or later' for the tarball is not the newest version the tarball requires.

usage: glibc_only.py README.md PACKAGE...   (.whl, or .tar.gz: the Linux tarball)
"""
import io
import os
import re
import sys
import tarfile
import zipfile

from elftools.elf.dynamic import DynamicSection
from elftools.elf.elffile import ELFFile
from elftools.elf.gnuversions import GNUVerNeedSection

# What glibc installs (PEP 600 lets a manylinux wheel need these and nothing else).
GLIBC = {'libc.so.6', 'libm.so.6', 'libpthread.so.0', 'libdl.so.2', 'librt.so.1', 'ld-linux-x86-64.so.2'}


def members(path):
    """(name, bytes) of each ELF file in a package."""
    if path.endswith('.whl'):
        with zipfile.ZipFile(path) as archive:
            files = [(name, archive.read(name)) for name in archive.namelist()]
    else:
        with tarfile.open(path) as archive:
            files = [(m.name, archive.extractfile(m).read()) for m in archive.getmembers() if m.isfile()]
    return [(name, data) for name, data in files if data[:4] == b'\x7fELF']


def needs(data):
    """The libraries an ELF file needs, and the versions it requires: {library: [version, ...]}."""
    elf = ELFFile(io.BytesIO(data))
    found = {}
    for section in elf.iter_sections():
        if isinstance(section, DynamicSection):
            for tag in section.iter_tags('DT_NEEDED'):
                found.setdefault(tag.needed, [])
        elif isinstance(section, GNUVerNeedSection):
            for library, versions in section.iter_versions():
                found.setdefault(library.name, []).extend(v.name for v in versions)
    return found


def glibc_minor(version):
    match = re.fullmatch(r'GLIBC_2\.(\d+)(?:\.\d+)?', version)
    return int(match.group(1)) if match else None


def main():
    if len(sys.argv) < 3:
        sys.exit(__doc__)
    with open(sys.argv[1], encoding='utf-8') as f:
        stated = re.findall(r'glibc 2\.(\d+) or later', f.read())
    wrong = []
    for path in sys.argv[2:]:
        package = os.path.basename(path)
        files = members(path)
        own = {os.path.basename(name) for name, _ in files}
        newest = 0
        if not files:
            wrong.append('%s: no ELF file' % package)
        for name, data in files:
            for library, versions in sorted(needs(data).items()):
                print('%s: %s needs %s %s' % (package, name, library, ' '.join(sorted(set(versions)))))
                if library not in GLIBC and library not in own:
                    wrong.append('%s: %s needs %s, not glibc\'s' % (package, name, library))
                for version in versions:
                    if glibc_minor(version) is None:
                        wrong.append('%s: %s requires %s of %s' % (package, name, version, library))
                    else:
                        newest = max(newest, glibc_minor(version))
        if path.endswith('.whl'):
            tag = re.search(r'-manylinux_2_(\d+)_x86_64\.whl$', package)
            if tag is None or int(tag.group(1)) != newest:
                wrong.append('%s: tagged for %s, its files require glibc 2.%d' % (package, tag and tag.group(0), newest))
        elif stated != [str(newest)]:
            wrong.append('%s requires glibc 2.%d; the README says %s' % (package, newest, stated))
        print('%s: needs glibc 2.%d' % (package, newest))
    for line in wrong:
        print(line)
    sys.exit(1 if wrong else 0)


if __name__ == '__main__':
    main()

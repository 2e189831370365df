#!/usr/bin/python3
"""The wheel and the Linux tarball need nothing from the system but glibc. Lists what each ELF file in
them needs (libraries, symbol versions), read with pyelftools rather than the readelf the wheel's
tagging reads, and fails on a library other than glibc's or the package's own, on a version other than
GLIBC_2.x (the C++ runtime's, say), and when the wheel's manylinux_2_X tag or the README's 'glibc 2.X or
later' is not the newest glibc the files require (older: it installs where it cannot load; newer: it
refuses systems it runs on).

usage: glibc_only.py README.md PACKAGE...   (a .whl, or the Linux .tar.gz)
"""
import io
import os
import re
import sys

from elftools.elf.elffile import ELFFile

from listings import entries

# What glibc installs: all a manylinux wheel may need (PEP 600).
GLIBC = {'libc.so.6', 'libm.so.6', 'libpthread.so.0', 'libdl.so.2', 'librt.so.1', 'ld-linux-x86-64.so.2'}


def needs(data):
    """{library: [version required of it, ...]} for every library an ELF file needs."""
    elf = ELFFile(io.BytesIO(data))
    found = {tag.needed: [] for tag in elf.get_section_by_name('.dynamic').iter_tags('DT_NEEDED')}
    requirements = elf.get_section_by_name('.gnu.version_r')
    for library, versions in requirements.iter_versions() if requirements else []:
        found.setdefault(library.name, []).extend(version.name for version in versions)
    return found


def main():
    if len(sys.argv) < 3:
        sys.exit(__doc__)
    with open(sys.argv[1], encoding='utf-8') as f:
        readme = f.read()
    wrong = []
    for path in sys.argv[2:]:
        package = os.path.basename(path)
        files = [(name, data) for name, data in entries(path).items() if data[:4] == b'\x7fELF']
        own = {os.path.basename(name) for name, _ in files}
        newest = 0
        for name, data in files:
            for library, versions in sorted(needs(data).items()):
                print('%s: %s needs %s %s' % (package, name, library, ' '.join(sorted(set(versions)))))
                if library not in GLIBC | own:
                    wrong.append('%s: %s needs %s, not glibc\'s' % (package, name, library))
                for version in versions:
                    match = re.fullmatch(r'GLIBC_2\.(\d+)(\.\d+)?', version)
                    if match is None:
                        wrong.append('%s: %s requires %s of %s' % (package, name, version, library))
                    newest = max(newest, int(match.group(1)) if match else 0)
        claims = set(re.findall(r'manylinux_2_(\d+)_x86_64\.whl$', package) if path.endswith('.whl')
                     else re.findall(r'glibc 2\.(\d+)\s+or\s+later', readme))
        if claims != {str(newest)}:
            wrong.append('%s: said to need glibc 2.%s, its files require 2.%d' % (package, sorted(claims), newest))
    for line in wrong:
        print(line)
    sys.exit(1 if wrong else 0)


if __name__ == '__main__':
    main()

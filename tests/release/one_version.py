#!/usr/bin/python3
"""Every package made from the tree carries the one version: a Windows file's version resource (its
numbers and its texts, read with pefile), the Calc extension's description.xml.

usage: one_version.py VERSION FILE...   (.xll and .exe: the resource; .oxt: description.xml)
"""
import sys
import xml.etree.ElementTree as ElementTree
import zipfile

import pefile


def resource_versions(path):
    pe = pefile.PE(path, fast_load=True)
    pe.parse_data_directories([pefile.DIRECTORY_ENTRY['IMAGE_DIRECTORY_ENTRY_RESOURCE']])
    if not getattr(pe, 'VS_FIXEDFILEINFO', None):
        return {'version resource': None}
    fixed = pe.VS_FIXEDFILEINFO[0]
    found = {}
    for name, high, low in (('file version', fixed.FileVersionMS, fixed.FileVersionLS),
                            ('product version', fixed.ProductVersionMS, fixed.ProductVersionLS)):
        found[name] = '%d.%d.%d' % (high >> 16, high & 0xFFFF, low >> 16)
    for info in pe.FileInfo[0]:
        for table in getattr(info, 'StringTable', []):
            for key in (b'FileVersion', b'ProductVersion'):
                found[key.decode()] = table.entries.get(key, b'').decode()
            found['ProductName is Quorin'] = table.entries.get(b'ProductName') == b'Quorin' and found['FileVersion']
    return found


def extension_version(path):
    with zipfile.ZipFile(path) as package:
        root = ElementTree.fromstring(package.read('description.xml'))
    element = root.find('{http://openoffice.org/extensions/description/2006}version')
    return {'description.xml': None if element is None else element.get('value')}


def main():
    if len(sys.argv) < 3:
        sys.exit(__doc__)
    version = sys.argv[1]
    wrong = 0
    for path in sys.argv[2:]:
        found = extension_version(path) if path.endswith('.oxt') else resource_versions(path)
        for what, value in found.items():
            if value != version:
                print('%s: %s is %r, not %s' % (path, what, value, version))
                wrong += 1
        print('%s: %s' % (path, ', '.join(found)))
    sys.exit(1 if wrong else 0)


if __name__ == '__main__':
    main()

#!/usr/bin/python3
"""Every package made from the tree carries the one version: a Windows file's version resource (its
numbers and its texts, read with pefile), the Calc extension's description.xml, the Office add-in's
manifest (four parts, as Office wants them, and the last folder of its base URL), the Python wheel's
metadata; the Windows zip's files.

usage: one_version.py VERSION FILE...
  .xll .exe .dll: the resource; .oxt: description.xml; .whl: METADATA; quorin-web-*.zip: manifest.xml;
  any other .zip: the resources of the Windows files inside it
"""
import os
import sys
import xml.etree.ElementTree as ElementTree
import zipfile

import pefile


def resource_versions(path, data=None):
    pe = pefile.PE(path, fast_load=True) if data is None else pefile.PE(data=data, fast_load=True)
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
    return found


def extension_version(path):
    with zipfile.ZipFile(path) as package:
        root = ElementTree.fromstring(package.read('description.xml'))
    element = root.find('{http://openoffice.org/extensions/description/2006}version')
    return {'description.xml': None if element is None else element.get('value')}


def wheel_version(path):
    with zipfile.ZipFile(path) as wheel:
        metadata = next(name for name in wheel.namelist() if name.endswith('.dist-info/METADATA'))
        fields = [line.split(':', 1) for line in wheel.read(metadata).decode().splitlines() if ':' in line]
    return {'METADATA': next((value.strip() for key, value in fields if key == 'Version'), None)}


def manifest_version(path):
    with zipfile.ZipFile(path) as package:
        manifest = next(name for name in package.namelist() if name.endswith('/manifest.xml'))
        root = ElementTree.fromstring(package.read(manifest))
    namespace = '{http://schemas.microsoft.com/office/appforoffice/1.1}'
    element = root.find(namespace + 'Version')
    value = None if element is None else element.text
    # The page's address ends in VERSION/index.html: Office's cache keys on addresses.
    source = root.find('.//%sSourceLocation' % namespace)
    folders = [] if source is None else source.get('DefaultValue', '').split('/')
    # Office takes four parts; the fourth is always 0.
    return {'manifest.xml': value[:-2] if value and value.endswith('.0') and value.count('.') == 3 else value,
            'manifest.xml base URL': folders[-2] if len(folders) > 1 else None}


def windows_zip_versions(path):
    found = {}
    with zipfile.ZipFile(path) as package:
        for name in package.namelist():
            if name.lower().endswith(('.xll', '.exe', '.dll')):
                for what, value in resource_versions(name, package.read(name)).items():
                    found['%s %s' % (name, what)] = value
    return found


def versions(path):
    name = os.path.basename(path)
    if name.endswith('.oxt'):
        return extension_version(path)
    if name.endswith('.whl'):
        return wheel_version(path)
    if name.endswith('.zip'):
        return manifest_version(path) if name.startswith('quorin-web-') else windows_zip_versions(path)
    return resource_versions(path)


def main():
    if len(sys.argv) < 3:
        sys.exit(__doc__)
    version = sys.argv[1]
    wrong = 0
    for path in sys.argv[2:]:
        found = versions(path)
        for what, value in found.items():
            if value != version:
                print('%s: %s is %r, not %s' % (path, what, value, version))
                wrong += 1
        print('%s: %d places carry the version' % (path, len(found)))
    sys.exit(1 if wrong else 0)


if __name__ == '__main__':
    main()

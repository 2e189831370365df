#!/usr/bin/python3
"""Every package carries the project's licence and names it: each holds the tree's LICENSE, byte for
byte; the wheel's METADATA and the source archive's PKG-INFO, the Calc extension's description.xml, the
Office add-in's package.json and the bill of materials name the licence LICENSE is; and each package's
THIRD-PARTY-NOTICES holds a text for exactly the packages the bill of materials says are linked into it.

usage: licences.py LICENSE RELEASE_FOLDER
"""
import json
import os
import re
import sys
import tarfile
import xml.etree.ElementTree as ElementTree
import zipfile

# The licence texts we might choose, by their first line, as SPDX names them.
SPDX_BY_TITLE = {'MIT License': 'MIT'}
DESCRIPTION = '{http://openoffice.org/extensions/description/2006}'


def read_all(path):
    """{entry: bytes} of a package, its top folder (if every entry has one) taken off."""
    if path.endswith(('.zip', '.oxt', '.whl')):
        with zipfile.ZipFile(path) as archive:
            files = {name: archive.read(name) for name in archive.namelist() if not name.endswith('/')}
    else:
        with tarfile.open(path) as archive:
            files = {m.name: archive.extractfile(m).read() for m in archive.getmembers() if m.isfile()}
    tops = {name.split('/', 1)[0] for name in files}
    if len(tops) == 1 and all('/' in name for name in files) and not path.endswith('.whl'):
        files = {name.split('/', 1)[1]: data for name, data in files.items()}
    return files


def named_licences(name, files):
    """The licences a package's metadata names, and the entry its licence text should be."""
    if name.endswith('.whl'):
        info = next(n for n in files if n.endswith('.dist-info/METADATA'))
        fields = re.findall(r'^(License|Classifier): (.*)$', files[info].decode(), re.M)
        return ([v for k, v in fields if k == 'License'] + [v for k, v in fields if v.startswith('License ::')],
                os.path.dirname(info) + '/LICENSE')
    if name.endswith('.oxt'):
        root = ElementTree.fromstring(files['description.xml'])
        texts = root.findall('%sregistration/%ssimple-license/%slicense-text' % ((DESCRIPTION,) * 3))
        return ['file ' + t.get('{http://www.w3.org/1999/xlink}href') for t in texts], 'LICENSE'
    if name.startswith('quorin-web-'):
        return [json.loads(files['package.json']).get('license')], 'LICENSE'
    if 'PKG-INFO' in files:
        return re.findall(r'^License: (.*)$', files['PKG-INFO'].decode(), re.M), 'LICENSE'
    return [], 'LICENSE'


def notices_listed(text):
    """The 'name version' of each package a THIRD-PARTY-NOTICES lists."""
    return {' '.join(m) for m in re.findall(r'^  (\S+) (\S+) \(Debian source package', text, re.M)}


def main():
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    with open(sys.argv[1], 'rb') as f:
        licence = f.read()
    spdx = SPDX_BY_TITLE[licence.decode().splitlines()[0].strip()]
    accepted = {spdx, 'License :: OSI Approved :: %s License' % spdx, 'file LICENSE'}
    folder = sys.argv[2]
    bom = json.load(open(next(os.path.join(folder, n) for n in os.listdir(folder) if n.endswith('.spdx.json'))))
    by_id = {p['SPDXID']: p for p in bom['packages']}
    linked = {}
    for r in bom['relationships']:
        if r['relationshipType'] == 'STATIC_LINK':
            package = by_id[r['relatedSpdxElement']]
            linked.setdefault(by_id[r['spdxElementId']]['name'], set()).add('%s %s' % (package['name'], package['versionInfo']))
    wrong = []
    for p in bom['packages']:
        if 'packageFileName' in p and p['licenseDeclared'] != spdx:
            wrong.append('%s: the bill of materials declares %s' % (p['name'], p['licenseDeclared']))
    for name in sorted(n for n in os.listdir(folder) if n.endswith(('.zip', '.oxt', '.whl', '.tar.gz'))):
        files = read_all(os.path.join(folder, name))
        names, text_entry = named_licences(name, files)
        if files.get(text_entry) != licence:
            wrong.append('%s: %s is not the tree\'s LICENSE' % (name, text_entry))
        wrong += ['%s: its metadata names %r' % (name, n) for n in names if n not in accepted]
        if not names and ('PKG-INFO' in files or name.endswith(('.whl', '.oxt')) or name.startswith('quorin-web-')):
            wrong.append('%s: its metadata names no licence' % name)
        notices = next((files[n] for n in files if n.endswith('THIRD-PARTY-NOTICES')), None)
        if name in linked and notices is None:
            wrong.append('%s: no THIRD-PARTY-NOTICES' % name)
        elif notices is not None and notices_listed(notices.decode()) != linked.get(name, set()):
            wrong.append('%s: THIRD-PARTY-NOTICES lists %s, the bill of materials %s'
                         % (name, sorted(notices_listed(notices.decode())), sorted(linked.get(name, set()))))
        print('%s: licence %s, %d third-party packages' % (name, spdx, len(linked.get(name, ()))))
    for line in wrong:
        print(line)
    sys.exit(1 if wrong else 0)


if __name__ == '__main__':
    main()

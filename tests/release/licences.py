#!/usr/bin/python3
"""Every package names the project's licence and carries the licence texts of the code of others in
it: the wheel's METADATA and the source archive's PKG-INFO, the Office add-in's package.json and the
bill of materials name the licence LICENSE is, the Calc extension's description.xml shows the tree's
LICENSE, and each package's THIRD-PARTY-NOTICES lists exactly the packages the bill of materials says
are linked into it.

usage: licences.py LICENSE RELEASE_FOLDER
"""
import json
import os
import re
import sys

from listings import entries

# The licences we might choose, by their text's first line, as SPDX names them.
SPDX_BY_TITLE = {'MIT License': 'MIT'}


def named_licence(entry, files, licence, spdx):
    """The licence a metadata file names (spdx for a file that is not metadata)."""
    text = files[entry].decode('utf-8', 'replace')
    base = os.path.basename(entry)
    if base in ('METADATA', 'PKG-INFO'):
        match = re.search(r'^License: (.*)$', text, re.M)
        return match and match.group(1)
    if base == 'package.json':
        return json.loads(text).get('license')
    if base == 'description.xml':
        shown = re.search(r'<license-text xlink:href="([^"]+)"', text)
        return spdx if shown and files.get(shown.group(1)) == licence else 'no LICENSE shown'
    return spdx


def main():
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    with open(sys.argv[1], 'rb') as f:
        licence = f.read()
    spdx, folder = SPDX_BY_TITLE[licence.decode().splitlines()[0].strip()], sys.argv[2]
    with open(next(os.path.join(folder, n) for n in os.listdir(folder) if n.endswith('.spdx.json'))) as f:
        bom = json.load(f)
    by_id = {p['SPDXID']: p for p in bom['packages']}
    linked = {}
    for r in (r for r in bom['relationships'] if r['relationshipType'] == 'STATIC_LINK'):
        used = by_id[r['relatedSpdxElement']]
        linked.setdefault(by_id[r['spdxElementId']]['name'], set()).add('%s %s' % (used['name'], used['versionInfo']))
    wrong = ['%s: the bill of materials declares %s' % (p['name'], p['licenseDeclared'])
             for p in bom['packages'] if 'packageFileName' in p and p['licenseDeclared'] != spdx]
    for name in sorted(n for n in os.listdir(folder) if n.endswith(('.zip', '.oxt', '.whl', '.tar.gz'))):
        files = entries(os.path.join(folder, name))
        wrong += ['%s: %s names %s' % (name, entry, named) for entry in files
                  if (named := named_licence(entry, files, licence, spdx)) != spdx]
        notices = next((data.decode() for entry, data in files.items() if entry.endswith('THIRD-PARTY-NOTICES')), '')
        listed = {' '.join(m) for m in re.findall(r'^  (\S+) (\S+) \(Debian source package', notices, re.M)}
        if listed != linked.get(name, set()):
            wrong.append('%s: THIRD-PARTY-NOTICES lists %s, the bill of materials %s'
                         % (name, sorted(listed), sorted(linked.get(name, set()))))
        print('%s: %s, notices for %d packages' % (name, spdx, len(listed)))
    for line in wrong:
        print(line)
    sys.exit(1 if wrong else 0)


if __name__ == '__main__':
    main()

#!/usr/bin/python3
"""Each package in the release folder holds what the README says it holds: every entry matches one
line of the README's listing for it (a name, or a pattern with * and ?), and every line matches an entry.

usage: listings.py README.md RELEASE_FOLDER
The listing is the README's block that begins with the line 'What each package holds:': a line
'dist/NAME' opens a package (NAME may be a pattern), indented lines name its entries (first word; the rest describes it);
VERSION stands for the release's version.
"""
import fnmatch
import os
import sys
import tarfile
import zipfile


def listed(readme, version):
    with open(readme, encoding='utf-8') as f:
        lines = f.read().split('What each package holds:', 1)[1].split('```', 2)[1].splitlines()
    packages, current = {}, None
    for line in lines:
        if line.startswith('dist/'):
            current = packages.setdefault(line.split()[0][len('dist/'):].replace('VERSION', version), [])
        elif line.strip() and current is not None:
            current.append(line.split()[0].replace('VERSION', version))
    return packages


def entries(path):
    """{name: bytes} of every file in a package (the other release tests read packages with it too)."""
    if path.endswith(('.zip', '.oxt', '.whl')):
        with zipfile.ZipFile(path) as archive:
            return {name: archive.read(name) for name in archive.namelist() if not name.endswith('/')}
    with tarfile.open(path) as archive:
        return {member.name: archive.extractfile(member).read() for member in archive.getmembers() if member.isfile()}


def main():
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    readme, folder = sys.argv[1], sys.argv[2]
    with open(os.path.join(os.path.dirname(os.path.abspath(readme)), 'VERSION')) as f:
        version = f.readline().strip()
    packages = listed(readme, version)
    made = sorted(name for name in os.listdir(folder) if name.endswith(('.zip', '.oxt', '.whl', '.tar.gz')))
    wrong = ['%s: made, not listed in the README' % name for name in made
             if not any(fnmatch.fnmatchcase(name, package) for package in packages)]
    for package, patterns in sorted(packages.items()):
        matching = [name for name in made if fnmatch.fnmatchcase(name, package)]
        if not matching:
            wrong.append('%s: listed in the README, not made' % package)
        for name in matching:
            entries_made = list(entries(os.path.join(folder, name)))
            for entry in entries_made:
                if not any(fnmatch.fnmatchcase(entry, p) for p in patterns):
                    wrong.append('%s holds %s, which the README does not list' % (name, entry))
            for pattern in patterns:
                if not any(fnmatch.fnmatchcase(entry, pattern) for entry in entries_made):
                    wrong.append('%s lacks %s, which the README lists' % (name, pattern))
            print('%s: %d entries, as listed' % (name, len(entries_made)))
    for line in wrong:
        print(line)
    sys.exit(1 if wrong else 0)


if __name__ == '__main__':
    main()

#!/usr/bin/python3
"""Two release folders hold the same files with the same bytes; each difference is named: the
package, and inside an archive the entry whose bytes, time, mode or order differ.

usage: compare.py FIRST SECOND
"""
import io
import os
import sys
import tarfile
import zipfile


def members(path, data):
    """An archive's entries in stored order as (name, metadata, bytes), or None for any other file."""
    if path.endswith(('.zip', '.oxt', '.whl')):
        with zipfile.ZipFile(io.BytesIO(data)) as archive:
            return [(i.filename, (i.date_time, i.external_attr, i.compress_type), archive.read(i)) for i in archive.infolist()]
    if path.endswith(('.tar.gz', '.tgz')):
        with tarfile.open(fileobj=io.BytesIO(data)) as archive:
            return [(i.name, (i.mtime, i.mode, i.uid, i.gid, i.uname, i.gname),
                     archive.extractfile(i).read() if i.isfile() else b'') for i in archive.getmembers()]
    return None


def differences(name, first, second):
    a, b = members(name, first), members(name, second)
    if a is None or b is None:
        return ['%s differs' % name]
    found = []
    if [m[0] for m in a] != [m[0] for m in b]:
        found.append('%s: its entries differ in names or order' % name)
    entries = dict((m[0], m) for m in b)
    for entry, metadata, data in a:
        other = entries.get(entry)
        if other is not None and other[2] != data:
            found.append('%s: %s differs' % (name, entry))
        elif other is not None and other[1] != metadata:
            found.append('%s: %s differs in time, mode or owner' % (name, entry))
    return found or ['%s differs in its archive bytes alone (headers or compression)' % name]


def main():
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    first, second = sys.argv[1], sys.argv[2]
    names = sorted(set(os.listdir(first)) | set(os.listdir(second)))
    found = []
    for name in names:
        paths = [os.path.join(folder, name) for folder in (first, second)]
        missing = [p for p in paths if not os.path.isfile(p)]
        if missing:
            found.append('%s is missing from %s' % (name, ', '.join(os.path.dirname(p) for p in missing)))
            continue
        with open(paths[0], 'rb') as f:
            one = f.read()
        with open(paths[1], 'rb') as f:
            two = f.read()
        if one != two:
            found += differences(name, one, two)
        else:
            print('same  %s' % name)
    for line in found:
        print('DIFFERS  %s' % line)
    sys.exit(1 if found else 0)


if __name__ == '__main__':
    main()

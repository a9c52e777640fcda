#!/usr/bin/env python3
"""The two steps of scripts/release.sh around `ansible-galaxy collection build`.

  ansible-collection.py prepare DIR VERSION   write a copy of deploy/ansible's galaxy.yml
  ansible-collection.py repack TARBALL EPOCH  make the built tarball depend on its files alone

prepare writes DIR/galaxy.yml from galaxy.yml.in, with VERSION and requirements.yml's collections
as its dependencies. The checkout is laid out as the collection is (its plugins under plugins/,
named by their fully qualified names in the role), so nothing else changes on the way.

repack rewrites what ansible-galaxy 2.14 leaves to chance: the members' order and FILES.json's
(the order in which the folders were listed), the times of MANIFEST.json and FILES.json (the time
of the build) and of the other members (the copy's), and the gzip header's time and file name.
Members are sorted by name, dated EPOCH, owned by 0:0 with no owner names, and FILES.json keeps
their order, with MANIFEST.json holding its new checksum.
"""

import gzip
import hashlib
import io
import json
import os
import sys
import tarfile

import yaml


def fail(message):
    sys.exit(f'ansible-collection.py: {message}')


def write_galaxy(root, version):
    with open(os.path.join(root, 'galaxy.yml.in'), encoding='utf-8') as source:
        galaxy = yaml.safe_load(source)
    with open(os.path.join(root, 'requirements.yml'), encoding='utf-8') as source:
        required = yaml.safe_load(source).get('collections') or []
    galaxy['version'] = version
    galaxy['dependencies'] = {entry['name']: entry.get('version', '*') for entry in required}
    with open(os.path.join(root, 'galaxy.yml'), 'w', encoding='utf-8') as target:
        yaml.safe_dump(galaxy, target, sort_keys=False)


def manifest_json(data):
    """JSON as ansible-galaxy writes MANIFEST.json and FILES.json."""
    return json.dumps(data, indent=True).encode('utf-8')


def repack(tarball, epoch):
    members = {}
    with tarfile.open(tarball, 'r:gz') as source:
        for member in source.getmembers():
            data = source.extractfile(member).read() if member.isfile() else None
            members[member.name] = (member, data)
    files = json.loads(members['FILES.json'][1])
    files['files'].sort(key=lambda entry: (entry['name'] != '.', entry['name']))
    files_json = manifest_json(files)
    manifest = json.loads(members['MANIFEST.json'][1])
    manifest['file_manifest_file']['chksum_sha256'] = hashlib.sha256(files_json).hexdigest()
    contents = {'MANIFEST.json': manifest_json(manifest), 'FILES.json': files_json}

    order = ['MANIFEST.json', 'FILES.json']
    for entry in files['files'][1:]:
        member, data = members.get(entry['name'], (None, None))
        if member is None or (entry['ftype'] == 'file') != member.isfile() or (
                data is not None and hashlib.sha256(data).hexdigest() != entry['chksum_sha256']):
            fail(f'{tarball}: {entry["name"]} is not the file FILES.json lists')
        order.append(entry['name'])
    if sorted(order) != sorted(members):
        fail(f'{tarball}: members that FILES.json does not list')

    packed = io.BytesIO()
    with tarfile.open(fileobj=packed, mode='w', format=tarfile.PAX_FORMAT) as target:
        for name in order:
            member, data = members[name]
            data = contents.get(name, data)
            info = tarfile.TarInfo(name)
            info.type, info.mode, info.linkname = member.type, member.mode, member.linkname
            info.mtime, info.uid, info.gid, info.uname, info.gname = epoch, 0, 0, '', ''
            info.size = len(data) if data is not None else 0
            target.addfile(info, io.BytesIO(data) if data is not None else None)
    with open(tarball + '.new', 'wb') as raw:
        # No file name and no time in the gzip header, as gzip -n writes it.
        with gzip.GzipFile(filename='', mode='wb', fileobj=raw, compresslevel=9, mtime=0) as out:
            out.write(packed.getvalue())
    os.replace(tarball + '.new', tarball)


def main(argv):
    if len(argv) == 4 and argv[1] == 'prepare':
        write_galaxy(argv[2], argv[3])
    elif len(argv) == 4 and argv[1] == 'repack' and argv[3].isdigit():
        repack(argv[2], int(argv[3]))
    else:
        sys.stderr.write('usage: ansible-collection.py prepare DIR VERSION\n'
                         '       ansible-collection.py repack TARBALL EPOCH\n')
        return 64
    return 0


if __name__ == '__main__':
    sys.exit(main(sys.argv))

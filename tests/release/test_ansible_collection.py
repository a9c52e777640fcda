"""The two steps of scripts/ansible-collection.py on small collections made here: prepare writes
galaxy.yml with the version and requirements.yml's dependencies, and repack gives the same bytes for
the same files whatever their order and times."""

import gzip
import hashlib
import io
import json
import os
import subprocess
import sys
import tarfile
import tempfile

SCRIPT = os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', '..', 'scripts',
                      'ansible-collection.py')


def prepared():
    """prepare on a collection folder made here; returns its galaxy.yml."""
    with tempfile.TemporaryDirectory() as root:
        write(os.path.join(root, 'galaxy.yml.in'), 'namespace: hotfix\nname: launcher\n')
        write(os.path.join(root, 'requirements.yml'),
              'collections:\n  - name: ansible.windows\n    version: ">=1.14.0"\n')
        subprocess.run([sys.executable, SCRIPT, 'prepare', root, '1.2.3+abc'], check=True)
        with open(os.path.join(root, 'galaxy.yml'), encoding='utf-8') as source:
            return source.read()


def write(path, text):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, 'w', encoding='utf-8') as target:
        target.write(text)


def tarball(path, order, when):
    """A tarball laid out as ansible-galaxy 2.14 writes one, members in the given order."""
    files = {'a.yml': b'a\n', 'roles/r/tasks/main.yml': b'---\n', 'z.txt': b'z\n'}
    entries = [{'name': '.', 'ftype': 'dir', 'chksum_type': None, 'chksum_sha256': None,
                'format': 1}]
    for name in order:
        data = files.get(name)
        entries.append({'name': name, 'ftype': 'file' if data else 'dir',
                        'chksum_type': 'sha256' if data else None,
                        'chksum_sha256': hashlib.sha256(data).hexdigest()
                        if data else None, 'format': 1})
    listing = json.dumps({'files': entries, 'format': 1}, indent=True).encode()
    manifest = json.dumps({'collection_info': {'version': '1.2.3'},
                           'file_manifest_file': {'name': 'FILES.json', 'chksum_sha256': 'x'},
                           'format': 1}, indent=True).encode()
    with tarfile.open(path, 'w:gz') as target:
        for name, data in [('MANIFEST.json', manifest), ('FILES.json', listing)] + [
                (name, files.get(name)) for name in order]:
            info = tarfile.TarInfo(name)
            info.mtime, info.uid, info.uname = when, 1000, 'someone'
            if data is None:
                info.type, info.mode = tarfile.DIRTYPE, 0o755
            else:
                info.size, info.mode = len(data), 0o644
            target.addfile(info, io.BytesIO(data) if data is not None else None)


def repacked(order, when):
    with tempfile.TemporaryDirectory() as folder:
        path = os.path.join(folder, 'hotfix-launcher-1.2.3.tar.gz')
        tarball(path, order, when)
        subprocess.run([sys.executable, SCRIPT, 'repack', path, '1700000000'], check=True)
        with open(path, 'rb') as source:
            return source.read()


def main():
    problems = 0
    galaxy = prepared()
    if "version: 1.2.3+abc\n" not in galaxy or "ansible.windows: '>=1.14.0'" not in galaxy:
        print(f'FAIL: galaxy.yml without the version or the dependency:\n{galaxy}')
        problems += 1

    first = repacked(['a.yml', 'roles', 'roles/r', 'roles/r/tasks', 'roles/r/tasks/main.yml',
                      'z.txt'], 1)
    second = repacked(['z.txt', 'roles', 'roles/r', 'roles/r/tasks', 'roles/r/tasks/main.yml',
                       'a.yml'], 2000000000)
    if first != second:
        print('FAIL: repack gives other bytes for the same files in another order and time')
        problems += 1
    with tarfile.open(fileobj=io.BytesIO(first)) as packed:
        members = packed.getmembers()
        listing = json.loads(packed.extractfile('FILES.json').read())
        manifest = json.loads(packed.extractfile('MANIFEST.json').read())
        listing_bytes = packed.extractfile('FILES.json').read()
    names = [member.name for member in members]
    if names[2:] != [entry['name'] for entry in listing['files'][1:]] or names[2:] != sorted(
            names[2:]) or any((m.mtime, m.uid, m.uname) != (1700000000, 0, '') for m in members):
        print(f'FAIL: repacked members {[(m.name, m.mtime, m.uid, m.uname) for m in members]}')
        problems += 1
    if manifest['file_manifest_file']['chksum_sha256'] != hashlib.sha256(
            listing_bytes).hexdigest():
        print('FAIL: MANIFEST.json does not hold the checksum of the repacked FILES.json')
        problems += 1
    if first[3:8] != bytes(5):
        print(f'FAIL: the gzip header holds a time or a name: {first[:16]!r}')
        problems += 1
    gzip.decompress(first)
    print(f'galaxy.yml and 2 repacks checked, {problems} problems')
    return 1 if problems else 0


if __name__ == '__main__':
    sys.exit(main())

"""The two steps of scripts/ansible-collection.py on small collections made here: how prepare moves
a role's plugins and names its filters, tests and lookups (and stops at a use it cannot tell),
and that repack gives the same bytes for the same files whatever their order and times."""

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
FILTERS = '''class FilterModule:
    def filters(self):
        return {'hotfix_a': str, 'hotfix_b': str}
'''
TESTS = '''class TestModule:
    def tests(self):
        return {'hotfix_ok': bool}
'''
# A line of a role's task file, and what the collection has instead (None: the build stops).
ROWS = [
    ('x: "{{ y | hotfix_a }}"', 'x: "{{ y | hotfix.launcher.hotfix_a }}"'),
    ('x: "{{ y|hotfix_b(1) | hotfix_a }}"',
     'x: "{{ y|hotfix.launcher.hotfix_b(1) | hotfix.launcher.hotfix_a }}"'),
    ("x: \"{{ y | map('hotfix_a') | list }}\"",
     "x: \"{{ y | map('hotfix.launcher.hotfix_a') | list }}\""),
    ("x: \"{{ query('hotfix_sums', y) }}\"",
     "x: \"{{ query('hotfix.launcher.hotfix_sums', y) }}\""),
    ('x: \'{{ lookup("hotfix_sums") }}\'', 'x: \'{{ lookup("hotfix.launcher.hotfix_sums") }}\''),
    ('when: y is hotfix_ok or y is not hotfix_ok',
     'when: y is hotfix.launcher.hotfix_ok or y is not hotfix.launcher.hotfix_ok'),
    ('  # hotfix_a tells what it means', '  # hotfix_a tells what it means'),
    ('hotfix_a_args: "{{ hotfix_sums_seen }}"', 'hotfix_a_args: "{{ hotfix_sums_seen }}"'),
    ('hotfix_module: {}', 'hotfix_module: {}'),
    ('x: "{{ y | hotfix.launcher.hotfix_a }}"', 'x: "{{ y | hotfix.launcher.hotfix_a }}"'),
    ('x: "{{ hotfix_a }}"', None),
    ('  hotfix_b }}"', None),
    ('- name: Classify with hotfix_a  # or a comment after a key', None),
]


def write(path, text):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, 'w', encoding='utf-8') as target:
        target.write(text)


def prepare(line):
    """prepare on a collection whose role has the plugins above and the task line; returns the
    line the collection has, or None with the message when the build stops."""
    with tempfile.TemporaryDirectory() as root:
        role = os.path.join(root, 'roles', 'r')
        write(os.path.join(root, 'galaxy.yml.in'), 'namespace: hotfix\nname: launcher\n')
        write(os.path.join(root, 'requirements.yml'),
              'collections:\n  - name: ansible.windows\n    version: ">=1.14.0"\n')
        write(os.path.join(role, 'filter_plugins', 'hotfix_outcome.py'), FILTERS)
        write(os.path.join(role, 'test_plugins', 'hotfix_tests.py'), TESTS)
        write(os.path.join(role, 'lookup_plugins', 'hotfix_sums.py'), '')
        write(os.path.join(role, 'library', 'hotfix_module.py'), '')
        write(os.path.join(role, 'tasks', 'main.yml'), f'---\n{line}\n')
        run = subprocess.run([sys.executable, SCRIPT, 'prepare', root, '1.2.3+abc'],
                             capture_output=True, text=True, check=False)
        if run.returncode != 0:
            return None, run.stderr
        plugins = sorted(os.path.relpath(os.path.join(top, name), root)
                         for top, _, names in os.walk(os.path.join(root, 'plugins'))
                         for name in names if not name.endswith('.pyc'))
        assert plugins == ['plugins/filter/hotfix_outcome.py', 'plugins/lookup/hotfix_sums.py',
                           'plugins/modules/hotfix_module.py',
                           'plugins/test/hotfix_tests.py'], plugins
        assert sorted(os.listdir(role)) == ['tasks'], os.listdir(role)
        with open(os.path.join(root, 'galaxy.yml'), encoding='utf-8') as source:
            galaxy = source.read()
        assert "version: 1.2.3+abc\n" in galaxy and "ansible.windows: '>=1.14.0'" in galaxy, galaxy
        with open(os.path.join(role, 'tasks', 'main.yml'), encoding='utf-8') as source:
            return source.read().split('\n')[1], ''


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
    for line, expected in ROWS:
        got, message = prepare(line)
        if got != expected or (expected is None and 'cannot tell how it uses' not in message):
            print(f'FAIL: {line!r}: {got!r} ({message.strip()}), not {expected!r}')
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
    print(f'{len(ROWS)} task lines and 2 repacks checked, {problems} problems')
    return 1 if problems else 0


if __name__ == '__main__':
    sys.exit(main())

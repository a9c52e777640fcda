#!/usr/bin/env python3
"""The two steps of scripts/release.sh around `ansible-galaxy collection build`.

  ansible-collection.py prepare DIR VERSION   turn a copy of deploy/ansible into the collection
  ansible-collection.py repack TARBALL EPOCH  make the built tarball depend on its files alone

prepare writes DIR/galaxy.yml from galaxy.yml.in (with VERSION and requirements.yml's collections
as its dependencies) and lays the roles out as a collection's roles must be: Ansible loads no
plugins from a role inside a collection, so each role's modules, action, filter, lookup and test
plugins move to DIR/plugins/, and the role's own filters, tests and lookups are named by their
fully qualified names (a module or action is found by its short name from the collection's own
roles; a Jinja plugin is not). A name it cannot tell the use of stops the build.

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
import re
import runpy
import sys
import tarfile

import yaml

NAMESPACE = 'hotfix.launcher'
# A role's plugin folder and the folder of the collection's plugins/ that takes its files.
PLUGIN_FOLDERS = {'library': 'modules', 'action_plugins': 'action', 'filter_plugins': 'filter',
                  'lookup_plugins': 'lookup', 'test_plugins': 'test'}
# The role's files that may use its plugins by name.
TEMPLATED = ('.yml', '.yaml', '.j2')


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


def plugin_names(path, kind):
    """The names a filter or test plugin file defines (FilterModule.filters, TestModule.tests)."""
    plugin = runpy.run_path(path)
    if kind == 'filter':
        return list(plugin['FilterModule']().filters())
    return list(plugin['TestModule']().tests())


def move_plugins(root):
    """Moves every role's plugins to plugins/ and returns the names to qualify, by kind."""
    names = {'filter': [], 'test': [], 'lookup': []}
    roles = os.path.join(root, 'roles')
    for role in sorted(os.listdir(roles)) if os.path.isdir(roles) else []:
        for folder in sorted(os.listdir(os.path.join(roles, role))):
            source = os.path.join(roles, role, folder)
            if folder not in PLUGIN_FOLDERS:
                if folder == 'module_utils' or folder.endswith('_plugins'):
                    fail(f'roles/{role}/{folder}: no rule moves it into the collection')
                continue
            kind = PLUGIN_FOLDERS[folder]
            target = os.path.join(root, 'plugins', kind)
            os.makedirs(target, exist_ok=True)
            for name in sorted(os.listdir(source)):
                if os.path.exists(os.path.join(target, name)):
                    fail(f'roles/{role}/{folder}/{name}: plugins/{kind} has one of that name')
                os.rename(os.path.join(source, name), os.path.join(target, name))
                stem = os.path.splitext(name)[0]
                if kind == 'lookup':
                    names[kind].append(stem)
                elif kind in names:
                    names[kind] += plugin_names(os.path.join(target, name), kind)
            os.rmdir(source)
    return names


def qualify(root, names):
    """Names the role's filters, tests and lookups by their fully qualified names."""
    def word(name):
        return re.escape(name) + r'(?![\w.])'

    rules = []
    for name in names['filter']:
        rules.append((re.compile(r'(\|\s*)' + word(name)), r'\g<1>' + f'{NAMESPACE}.{name}'))
        rules.append((re.compile(r'(\b(?:map|select|reject)\(\s*)([\'"])' + re.escape(name)
                                 + r'\2'), r'\g<1>\g<2>' + f'{NAMESPACE}.{name}' + r'\g<2>'))
    for name in names['test']:
        rules.append((re.compile(r'(\bis\s+(?:not\s+)?)' + word(name)),
                      r'\g<1>' + f'{NAMESPACE}.{name}'))
    for name in names['lookup']:
        rules.append((re.compile(r'(\b(?:lookup|query|q)\(\s*)([\'"])' + re.escape(name) + r'\2'),
                      r'\g<1>\g<2>' + f'{NAMESPACE}.{name}' + r'\g<2>'))
    if not rules:
        return
    left = re.compile(r'(?<![\w.])(' + '|'.join(
        re.escape(name) for kind in names.values() for name in kind) + r')(?!\w)')
    for folder in ('roles', 'playbooks'):
        for top, _, files in os.walk(os.path.join(root, folder)):
            for file_name in sorted(files):
                if not file_name.endswith(TEMPLATED):
                    continue
                path = os.path.join(top, file_name)
                with open(path, encoding='utf-8') as source:
                    lines = source.read().split('\n')
                for number, line in enumerate(lines):
                    if line.lstrip().startswith('#'):
                        continue
                    for pattern, replacement in rules:
                        line = pattern.sub(replacement, line)
                    found = left.search(line)
                    if found:
                        fail(f'{os.path.relpath(path, root)}:{number + 1}: cannot tell how it uses'
                             f' {found.group(1)}: as a filter (| name), a test (is name) or a'
                             " lookup (query('name'))")
                    lines[number] = line
                with open(path, 'w', encoding='utf-8') as target:
                    target.write('\n'.join(lines))


def prepare(root, version):
    write_galaxy(root, version)
    qualify(root, move_plugins(root))


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
    # The plugins that prepare imports for their names leave no bytecode in the collection.
    sys.dont_write_bytecode = True
    if len(argv) == 4 and argv[1] == 'prepare':
        prepare(argv[2], argv[3])
    elif len(argv) == 4 and argv[1] == 'repack' and argv[3].isdigit():
        repack(argv[2], int(argv[3]))
    else:
        sys.stderr.write('usage: ansible-collection.py prepare DIR VERSION\n'
                         '       ansible-collection.py repack TARBALL EPOCH\n')
        return 64
    return 0


if __name__ == '__main__':
    sys.exit(main(sys.argv))

# -*- coding: utf-8 -*-
"""Filter of the hotfix_rollout role: the SHA256SUMS list that the preflight checks a staged
bundle against (--sums), in sha256sum's own format."""

from __future__ import absolute_import, division, print_function

__metaclass__ = type


def hotfix_sha256sums(entries):
    """The text of a SHA256SUMS list of the entries that have a checksum ({'path', 'checksum'}),
    by name: "<SHA-256>  <name>" per line, and as sha256sum writes a name holding a backslash, a
    line feed or a carriage return, the line starting with a backslash and those escaped."""
    lines = []
    for entry in sorted((entry for entry in entries if entry.get('checksum')),
                        key=lambda entry: entry['path']):
        name = entry['path']
        escaped = name.replace('\\', '\\\\').replace('\n', '\\n').replace('\r', '\\r')
        lines.append('%s%s  %s\n' % ('\\' if escaped != name else '', entry['checksum'].lower(),
                                     escaped))
    return ''.join(lines)


class FilterModule(object):
    """The filter."""

    def filters(self):
        return {'hotfix_sha256sums': hotfix_sha256sums}

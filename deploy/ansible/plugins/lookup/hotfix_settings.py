# -*- coding: utf-8 -*-
"""Lookup of the hotfix_rollout role: a bundle's Installer.ini on the controller as the text a
module's standard input carries to the preflight (hotfix-preflight --state --settings -)."""

from __future__ import absolute_import, division, print_function

import codecs
import os

from ansible.plugins.lookup import LookupBase

__metaclass__ = type

DOCUMENTATION = r'''
name: hotfix_settings
short_description: A bundle's Installer.ini as text for the preflight's standard input
description:
  - For each term, a bundle's folder on the controller, a dictionary of C(text) (the bytes of its
    C(Installer.ini) as text, or null), C(missing) (true when there is no file to read, or it is
    empty) and C(problem) (why there is no text, or an empty text).
  - The modules that run a command (C(ansible.builtin.command), C(ansible.windows.win_command))
    send their C(stdin) as UTF-8, so the file's bytes reach the preflight unchanged only when they
    are UTF-8 without a NUL. A UTF-16 file with its byte-order mark (as Notepad saves "Unicode")
    whose characters are all ASCII is given as that ASCII text, which the preflight's parser reads
    as it reads the UTF-16 file. Any other file is a problem, never bytes changed on the way.
options:
  _terms:
    description: Bundle folders.
    required: true
'''


def settings_text(data):
    """(text, problem) for a settings file's bytes: the text whose UTF-8 bytes the preflight
    parses as it would parse data, or None and why there is none."""
    if data.startswith(codecs.BOM_UTF16_LE):
        text = data[len(codecs.BOM_UTF16_LE):].decode('utf-16-le', errors='replace')
        if text.isascii() and '\0' not in text:
            return text, ''
        return None, 'is UTF-16 with characters other than ASCII'
    try:
        text = data.decode('utf-8')
    except UnicodeDecodeError as error:
        return None, 'is not UTF-8 (byte %d is 0x%02X)' % (error.start, data[error.start])
    if '\0' in text:
        return None, 'holds a NUL byte'
    return text, ''


class LookupModule(LookupBase):
    """The lookup."""

    def run(self, terms, variables=None, **kwargs):
        found = []
        for term in terms:
            if not str(term):
                found.append({'text': None, 'missing': True, 'problem': 'no bundle folder named'})
                continue
            path = os.path.join(os.path.normpath(str(term)), 'Installer.ini')
            try:
                with open(path, 'rb') as settings:
                    data = settings.read()
            except OSError as error:
                found.append({'text': None, 'missing': True,
                              'problem': '%s cannot be read on the controller: %s'
                                         % (path, error.strerror)})
                continue
            if not data:
                found.append({'text': None, 'missing': True, 'problem': '%s is empty' % path})
                continue
            text, problem = settings_text(data)
            found.append({'text': text, 'missing': False,
                          'problem': '%s %s, so its bytes cannot reach the preflight unchanged '
                                     'on a module\'s standard input' % (path, problem)
                                     if problem else ''})
        return found

#!/usr/bin/python
# -*- coding: utf-8 -*-
"""The hotfix_rollout role's results on the controller: the summary lines of the hosts done so
far, the files read from them, and from all the lines summary.csv, not-attempted.txt and
report.html, rewritten after every wave."""

from __future__ import absolute_import, division, print_function

import base64
import csv
import fcntl
import html
import io
import json
import os

from ansible.module_utils.basic import AnsibleModule

__metaclass__ = type

DOCUMENTATION = r'''
module: hotfix_results
short_description: Writes a rollout's results on the controller
description:
  - Appends the summary line of each host in I(entries) that has none yet to C(summary.jsonl),
    and a line C(unreachable) for each host of I(started) that has neither a line nor an entry
    (Ansible lost it on the way). Writes the files an entry carries to C(hosts/<host>/).
  - Then rewrites C(summary.csv), C(not-attempted.txt) (the hosts of I(fleet) without a line)
    and C(report.html) from every line, and returns the counts and a table for the console.
options:
  dir:
    description: The rollout's results folder.
    type: path
    required: true
  run_id:
    description: The rollout's id.
    type: str
    required: true
  bundle:
    description: The bundle's name.
    type: str
    required: true
  fleet:
    description: The hosts of the fleet group.
    type: list
    elements: str
    default: []
  started:
    description: The hosts whose rollout started.
    type: list
    elements: str
    default: []
  entries:
    description: Summary lines as dictionaries; C(_files) (file name to base64 bytes) and
      C(_records) (base64 of the bytes this run appended to the run log) are kept beside them.
    type: list
    elements: dict
    default: []
author: hotfix-launcher developers
'''

RETURN = r'''
counts:
  description: Hosts per classification.
  returned: always
  type: dict
not_attempted:
  description: The hosts of the fleet without a summary line.
  returned: always
  type: list
table:
  description: The console table, one line an item.
  returned: always
  type: list
'''

KEYS = ('host', 'preflight_status', 'rebooted', 'exit_status', 'preflight_after',
        'classification', 'patch_id', 'reason', 'time', 'preflight_name', 'exit_name', 'run_id',
        'dry_run', 'started', 'launcher_version', 'preflight_version')
# The classifications in the order the report shows them, and their colours.
CLASSES = (('success', '#2e7d32'), ('already installed', '#00897b'),
           ('not applicable', '#78909c'), ('reboot needed', '#f9a825'),
           ('would install', '#1e88e5'), ('reboot first', '#fbc02d'),
           ('retry later', '#ef6c00'), ('still running', '#8e24aa'),
           ('interrupted', '#ad1457'), ('bundle broken', '#c62828'),
           ('cannot tell', '#6d4c41'), ('tool missing', '#d84315'), ('refused', '#b71c1c'),
           ('unreachable', '#455a64'), ('failed', '#e53935'))
SUCCEEDING = ('success', 'already installed')
NUMBERS = ('preflight_status', 'exit_status', 'preflight_after')
MOST_RECORD_BYTES = 1 << 20  # of one host's records shown in the page


def _read_lines(path):
    lines = []
    if os.path.exists(path):
        with open(path, encoding='utf-8') as summary:
            lines = [json.loads(line) for line in summary if line.strip()]
    return lines


def _line(entry):
    """The summary line of an entry: its keys in order, numbers as numbers, empty texts as null
    (templating gives every value as a text)."""
    line = {}
    for key in KEYS:
        value = entry.get(key)
        if value in ('', 'None'):
            value = None
        if key in NUMBERS and value is not None:
            value = int(value)
        if key in ('rebooted', 'dry_run'):
            value = str(value).lower() == 'true'
        line[key] = value
    return line


def _append_lines(path, entries, started, run_id):
    """Appends the lines of hosts that have none, under a lock, and returns every line."""
    with open(path, 'a+', encoding='utf-8') as summary:
        fcntl.flock(summary, fcntl.LOCK_EX)
        summary.seek(0)
        lines = [json.loads(line) for line in summary if line.strip()]
        done = set(line['host'] for line in lines)
        new = [entry for entry in entries if entry['host'] not in done]
        given = set(entry['host'] for entry in entries)
        for host in started:
            if host not in done and host not in given:
                new.append({'host': host, 'classification': 'unreachable', 'run_id': run_id,
                            'reason': 'Ansible lost the host during its rollout'})
        for entry in new:
            line = _line(entry)
            summary.write(json.dumps(line) + '\n')
            lines.append(line)
        summary.flush()
    return lines, [entry for entry in new if entry['host'] in given]


def _write(path, text):
    """Replaces the file whole, so that a reader never sees half of it."""
    with open(path + '.new', 'w', encoding='utf-8', newline='') as out:
        out.write(text)
    os.replace(path + '.new', path)


def _css_name(classification):
    return 'c-' + classification.replace(' ', '-')


def _chart(counts):
    shown = [(name, colour) for name, colour in CLASSES if counts.get(name)]
    most = max([counts[name] for name, _ in shown] or [1])
    bars = []
    for index, (name, colour) in enumerate(shown):
        width = 300 * counts[name] // most or 1
        y = 8 + index * 26
        bars.append(
            '<g class="bar" data-classification="%s" data-count="%d">'
            '<text x="150" y="%d" text-anchor="end">%s</text>'
            '<rect x="160" y="%d" width="%d" height="18" fill="%s"/>'
            '<text x="%d" y="%d">%d</text></g>'
            % (html.escape(name), counts[name], y + 14, html.escape(name), y, width, colour,
               168 + width, y + 14, counts[name]))
    return ('<svg class="chart" role="img" aria-label="hosts per classification" width="520" '
            'height="%d" xmlns="http://www.w3.org/2000/svg">%s</svg>'
            % (16 + 26 * len(shown), ''.join(bars)))


def _clock(stamp):
    """A row's time of day; the page's head gives the dates."""
    return '<time datetime="%s">%s</time>' % (html.escape(stamp), html.escape(stamp[11:])) \
        if stamp else ''


def _records_text(data):
    cut = len(data) > MOST_RECORD_BYTES
    text = data[-MOST_RECORD_BYTES:].decode('cp1252', errors='replace').replace('\r\n', '\n')
    return ('(the first %d bytes are left out)\n' % (len(data) - MOST_RECORD_BYTES) if cut
            else '') + text


def _page(params, lines, counts, not_attempted, records):
    escape = html.escape
    present = [name for name, _ in CLASSES if counts.get(name)]
    filters = ''.join('<input type="radio" name="filter" class="filter" id="f-%s">'
                      % _css_name(name) for name in present)
    labels = ''.join('<label for="f-%s">%s (%d)</label>'
                     % (_css_name(name), escape(name), counts[name]) for name in present)
    rules = ''.join('#f-%s:checked~table.hosts tbody tr:not(.%s){display:none}'
                    '#f-%s:checked~nav label[for="f-%s"]{background:#263238;color:#fff}'
                    % ((_css_name(name),) * 4) for name in present)
    rows = []
    for line in sorted(lines, key=lambda line: line['host']):
        exit_status = line.get('exit_status')
        rows.append(
            '<tr class="host %s" data-host="%s"><td>%s</td><td class="classification">%s</td>'
            '<td>%s</td><td>%s</td><td>%s</td><td class="time">%s</td><td class="time">%s</td>'
            '<td>%s</td></tr>'
            % (_css_name(line.get('classification') or ''), escape(line['host']),
               escape(line['host']), escape(line.get('classification') or ''),
               escape('' if line.get('preflight_status') is None else '%s (%s)' % (
                   line['preflight_status'], line.get('preflight_name') or '')),
               escape('' if exit_status is None else '%s%s' % (
                   exit_status, ' (%s)' % line['exit_name'] if line.get('exit_name') else '')),
               escape(line.get('reason') or ''), _clock(line.get('started')),
               _clock(line.get('time')), 'yes' if line.get('rebooted') else 'no'))
    logs = ''.join(
        '<section class="records %s" data-host="%s"><h3>%s: %s</h3><pre class="run-log">%s</pre>'
        '</section>' % (_css_name(line['classification']), escape(line['host']),
                        escape(line['host']), escape(line['classification']),
                        escape(_records_text(records[line['host']])))
        for line in sorted(lines, key=lambda line: line['host'])
        if line.get('classification') not in SUCCEEDING and records.get(line['host']))
    times = sorted(value for line in lines for value in (line.get('started'), line.get('time'))
                   if value)
    return '''<!DOCTYPE html>
<html lang="en"><head><meta charset="utf-8">
<title>Rollout of %(bundle)s, %(run)s</title>
<style>
body{font:14px/1.4 sans-serif;margin:24px;color:#212121}
h1{font-size:20px}h2{font-size:16px;margin-top:28px}h3{font-size:14px}
dl.facts{display:grid;grid-template-columns:max-content auto;gap:2px 16px}dt{font-weight:bold}
svg.chart text{font:12px sans-serif}
input.filter{position:absolute;opacity:0}
nav label{display:inline-block;padding:3px 10px;margin:0 6px 8px 0;border:1px solid #90a4ae;
border-radius:12px;cursor:pointer}
#f-all:checked~nav label[for="f-all"]{background:#263238;color:#fff}
table.hosts{border-collapse:collapse;width:100%%}
table.hosts th,table.hosts td{border-bottom:1px solid #cfd8dc;padding:4px 8px;text-align:left;
vertical-align:top}
td.time{white-space:nowrap}
pre.run-log{background:#eceff1;padding:8px;overflow-x:auto;white-space:pre-wrap}
%(rules)s
</style></head><body>
<h1>Rollout of %(bundle)s</h1>
<dl class="facts"><dt>bundle</dt><dd>%(bundle)s</dd><dt>run id</dt><dd id="run-id">%(run)s</dd>
<dt>time (UTC)</dt><dd>%(first)s to %(last)s</dd>
<dt>hosts</dt><dd>%(hosts)d with a line, %(missing)d not attempted</dd></dl>
<h2>Hosts per classification</h2>
%(chart)s
<h2>Hosts</h2>
<main><input type="radio" name="filter" class="filter" id="f-all" checked>%(filters)s
<nav><label for="f-all">all (%(hosts)d)</label>%(labels)s</nav>
<table class="hosts"><thead><tr><th>host</th><th>classification</th><th>preflight</th>
<th>exit status</th><th>reason</th><th>started</th><th>ended</th><th>rebooted</th></tr></thead>
<tbody>
%(rows)s
</tbody></table></main>
<h2>Not attempted</h2>
<p id="not-attempted">%(not_attempted)s</p>
<h2>Run-log records of this run, hosts that did not succeed</h2>
%(logs)s
</body></html>
''' % {'bundle': escape(params['bundle']), 'run': escape(params['run_id']),
       'first': escape(times[0] if times else ''), 'last': escape(times[-1] if times else ''),
       'hosts': len(lines), 'missing': len(not_attempted), 'chart': _chart(counts),
       'filters': filters, 'labels': labels, 'rules': rules, 'rows': '\n'.join(rows),
       'not_attempted': escape(', '.join(not_attempted)) or 'none', 'logs': logs or '<p>none</p>'}


def _table(counts, not_attempted, total):
    table = ['%-20s %5s' % ('classification', 'hosts')]
    table += ['%-20s %5d' % (name, counts[name]) for name, _ in CLASSES if counts.get(name)]
    table += ['%-20s %5d' % ('total', total),
              'not attempted: %s' % (', '.join(not_attempted) or 'none')]
    return table


def main():
    module = AnsibleModule(
        argument_spec=dict(
            dir=dict(type='path', required=True),
            run_id=dict(type='str', required=True),
            bundle=dict(type='str', required=True),
            fleet=dict(type='list', elements='str', default=[]),
            started=dict(type='list', elements='str', default=[]),
            entries=dict(type='list', elements='dict', default=[]),
        ),
        supports_check_mode=True,
    )
    params = module.params
    folder = params['dir']
    os.makedirs(os.path.join(folder, 'hosts'), exist_ok=True)
    lines, new = _append_lines(os.path.join(folder, 'summary.jsonl'), params['entries'],
                               params['started'], params['run_id'])
    for entry in new:
        host_folder = os.path.join(folder, 'hosts', os.path.basename(entry['host']))
        os.makedirs(host_folder, exist_ok=True)
        files = dict(entry.get('_files') or {})
        if entry.get('_records'):
            files['this-run.log'] = entry['_records']
        for name, encoded in files.items():
            with open(os.path.join(host_folder, os.path.basename(name)), 'wb') as out:
                out.write(base64.b64decode(encoded))

    counts = {}
    for line in lines:
        counts[line['classification']] = counts.get(line['classification'], 0) + 1
    done = set(line['host'] for line in lines)
    not_attempted = [host for host in params['fleet'] if host not in done]
    records = {}
    for line in lines:
        path = os.path.join(folder, 'hosts', os.path.basename(line['host']), 'this-run.log')
        if os.path.exists(path):
            with open(path, 'rb') as log:
                records[line['host']] = log.read()
    buffer = io.StringIO()
    writer = csv.writer(buffer, lineterminator='\n')
    writer.writerow(KEYS)
    for line in lines:
        writer.writerow(['' if line.get(key) is None else line.get(key) for key in KEYS])
    _write(os.path.join(folder, 'summary.csv'), buffer.getvalue())
    _write(os.path.join(folder, 'not-attempted.txt'),
           ''.join(host + '\n' for host in not_attempted))
    _write(os.path.join(folder, 'report.html'),
           _page(params, lines, counts, not_attempted, records))
    module.exit_json(changed=bool(new), counts=counts, not_attempted=not_attempted,
                     table=_table(counts, not_attempted, len(lines)))


if __name__ == '__main__':
    main()

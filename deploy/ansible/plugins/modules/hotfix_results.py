#!/usr/bin/python
# -*- coding: utf-8 -*-
"""The hotfix_rollout role's results on the controller: a results folder of the rollout's own,
then after every wave the summary lines of its hosts, the files read from them, and from all the
lines summary.csv, not-attempted.txt, retry.txt and report.html, with the sentence that says why
the wave stops the rollout when it does."""

from __future__ import absolute_import, division, print_function

import base64
import csv
import html
import io
import json
import os
import time

from ansible.module_utils.basic import AnsibleModule

__metaclass__ = type

DOCUMENTATION = r'''
module: hotfix_results
short_description: Makes a rollout's results folder and writes its results on the controller
description:
  - With I(results_dir), makes the rollout's folder C(<results_dir>/<bundle>-<run id>), where the
    run id is the UTC time and the first number from 1 that gives a folder no one has, made with
    an exclusive mkdir, so that rollouts started in the same second get folders of their own.
  - With I(dir), appends the summary line of each host in I(entries) that has none yet to
    C(summary.jsonl), and a line C(unreachable) for each host of I(started) that has neither a
    line nor an entry (Ansible lost it on the way). Writes the files an entry carries to
    C(hosts/<host>/), made only for a host with files.
  - Then rewrites C(summary.csv) (text cells that a spreadsheet would take for a formula get a
    leading apostrophe), C(not-attempted.txt) (the hosts of I(fleet) without a line),
    C(retry.txt) (the hosts to run again) and C(report.html) from every line, tells whether this
    wave stops the rollout as Ansible's C(serial) and C(max_fail_percentage) decide it, and
    returns the counts and a table for the console.
options:
  results_dir:
    description: The folder of the rollouts' results folders; given, a new folder is made.
    type: path
  dir:
    description: The rollout's results folder, to write the wave's results to.
    type: path
  run_id:
    description: The rollout's id.
    type: str
  bundle:
    description: The bundle's name.
    type: str
    required: true
  wave:
    description: The number of the wave whose hosts are in I(entries), from 1.
    type: int
    default: 1
  fleet:
    description: The play's hosts within its limit, in the play's order.
    type: list
    elements: str
    default: []
  serial:
    description: The play's C(serial) (a number, a percentage such as C(25%), or a list of them).
    type: raw
    default: 0
  max_fail_percentage:
    description: The play's C(max_fail_percentage) (a number, C(%) allowed).
    type: str
    default: '100'
  command:
    description: The command that runs the hosts of C(retry.txt), for the console and the report.
    type: str
    default: ''
  started:
    description: Of each host whose rollout started, C(host), C(started) (UTC) and C(wave).
    type: list
    elements: dict
    default: []
  entries:
    description: Summary lines as dictionaries; C(_files) (file name to base64 bytes),
      C(_records) (base64 of the bytes this run appended to the run log) and C(_fails) (the
      host fails, so that its wave counts it) are kept beside them.
    type: list
    elements: dict
    default: []
author: hotfix-launcher developers
'''

RETURN = r'''
run_id:
  description: The new folder's run id.
  returned: with results_dir
  type: str
dir:
  description: The new folder, an absolute path.
  returned: with results_dir
  type: str
counts:
  description: Hosts per classification.
  returned: with dir
  type: dict
not_attempted:
  description: The hosts of the fleet without a summary line.
  returned: with dir
  type: list
retry:
  description: The hosts of retry.txt.
  returned: with dir
  type: list
stopped:
  description: Why this wave stops the rollout, or an empty text.
  returned: with dir
  type: str
table:
  description: The console table, one line an item.
  returned: with dir
  type: list
'''

KEYS = ('host', 'preflight_status', 'rebooted', 'exit_status', 'preflight_after',
        'classification', 'patch_id', 'reason', 'time', 'preflight_name', 'exit_name', 'run_id',
        'dry_run', 'started', 'launcher_version', 'preflight_version', 'wave')
# The classifications in the order the report shows them, and their colours.
CLASSES = (('success', '#2e7d32'), ('already installed', '#00897b'),
           ('not applicable', '#78909c'), ('reboot needed', '#f9a825'),
           ('would install', '#1e88e5'), ('reboot first', '#fbc02d'),
           ('retry later', '#ef6c00'), ('still running', '#8e24aa'),
           ('interrupted', '#ad1457'), ('bundle broken', '#c62828'),
           ('cannot tell', '#6d4c41'), ('tool missing', '#d84315'), ('refused', '#b71c1c'),
           ('unreachable', '#455a64'), ('failed', '#e53935'), ('not attempted', '#bdbdbd'))
NOT_ATTEMPTED = 'not attempted'
# The classifications a rerun may mend; with the hosts not attempted, retry.txt lists them. A
# host still running its installer, or one the preflight cannot judge without more rights, is
# left out: running it again the same way does not help.
RETRY = ('failed', 'interrupted', 'retry later', 'refused', 'bundle broken', 'tool missing',
         'unreachable')
NUMBERS = ('preflight_status', 'exit_status', 'preflight_after', 'wave')
# A spreadsheet takes a cell that begins with one of these for a formula.
FORMULA_STARTS = ('=', '+', '-', '@', '\t', '\r')
MOST_RECORD_BYTES = 1 << 20  # of one host's records shown in the page


def new_folder(results_dir, bundle, stamp):
    """Makes <results_dir>/<bundle>-<stamp>-<n> for the first n from 1 whose folder is not there,
    each try an exclusive mkdir; returns the run id <stamp>-<n> and the folder."""
    os.makedirs(results_dir, exist_ok=True)
    number = 1
    while True:
        run_id = '%s-%d' % (stamp, number)
        folder = os.path.join(os.path.abspath(results_dir), '%s-%s' % (bundle, run_id))
        try:
            os.mkdir(folder)
            return run_id, folder
        except FileExistsError:
            number += 1


def wave_sizes(serial, count):
    """The sizes of the waves Ansible makes of a play's count hosts under its serial: each step a
    number or a percentage of all the hosts (at least 1), the last step repeated, and a step of 0
    or less taking every host left, as its playbook executor batches them."""
    steps = serial if isinstance(serial, list) else [serial]
    sizes, left = [], count
    while left > 0:
        step = steps[min(len(sizes), len(steps) - 1)] if steps else 0
        if isinstance(step, str) and step.endswith('%'):
            size = int(int(step[:-1]) / 100.0 * count) or 1
        else:
            size = int(step)
        size = left if size <= 0 else min(size, left)
        sizes.append(size)
        left -= size
    return sizes


def stop_sentence(wave, waves, size, failing, lost, max_fail):
    """Why Ansible stops the rollout after this wave, or '' when it goes on: more than
    max_fail_percentage of the wave's hosts failed, or every one failed or was lost."""
    if wave >= waves or size == 0:
        return ''
    if len(failing) / float(size) > max_fail / 100.0:
        return ('stopped after wave %d of %d: %d of %d hosts failed, above '
                'hotfix_max_fail_percentage %g' % (wave, waves, len(failing), size, max_fail))
    if len(failing) + len(lost) == size:
        return ('stopped after wave %d of %d: %d of %d hosts failed%s, the whole wave'
                % (wave, waves, len(failing) + len(lost), size, ' or were lost' if lost else ''))
    return ''


def csv_cell(value):
    """A summary value as a CSV cell: numbers as they are, a text that a spreadsheet would take
    for a formula behind an apostrophe."""
    if value is None:
        return ''
    if isinstance(value, str) and value.startswith(FORMULA_STARTS):
        return "'" + value
    return value


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
    """Appends the lines of hosts that have none (a line unreachable for a host that started but
    has no entry), and returns every line, the new entries and the hosts found lost."""
    lines = []
    if os.path.exists(path):
        with open(path, encoding='utf-8') as summary:
            lines = [json.loads(line) for line in summary if line.strip()]
    done = set(line['host'] for line in lines)
    new = [entry for entry in entries if entry['host'] not in done]
    given = set(entry['host'] for entry in entries)
    lost = []
    for begun in started:
        if begun['host'] not in done and begun['host'] not in given:
            lost.append(begun['host'])
            new.append({'host': begun['host'], 'classification': 'unreachable', 'run_id': run_id,
                        'reason': 'Ansible lost the host during its rollout',
                        'started': begun.get('started'), 'wave': begun.get('wave'),
                        'time': time.strftime('%Y-%m-%dT%H:%M:%SZ', time.gmtime())})
    with open(path, 'a', encoding='utf-8') as summary:
        for entry in new:
            line = _line(entry)
            summary.write(json.dumps(line) + '\n')
            lines.append(line)
    return lines, [entry for entry in new if entry['host'] in given], lost


def _write(path, text):
    """Replaces the file whole, so that a reader never sees half of it."""
    with open(path + '.new', 'w', encoding='utf-8', newline='') as out:
        out.write(text)
    os.replace(path + '.new', path)


def _keep_files(folder, entry):
    """Writes the files an entry carries to hosts/<host>/, made only when there is one."""
    files = dict(entry.get('_files') or {})
    if entry.get('_records'):
        files['this-run.log'] = entry['_records']
    if not files:
        return
    host_folder = os.path.join(folder, 'hosts', os.path.basename(entry['host']))
    os.makedirs(host_folder, exist_ok=True)
    for name, encoded in files.items():
        with open(os.path.join(host_folder, os.path.basename(name)), 'wb') as out:
            out.write(base64.b64decode(encoded))


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


def _row(line):
    escape = html.escape
    exit_status = line.get('exit_status')
    return (
        '<tr class="host %s" data-host="%s"><td>%s</td><td class="wave">%s</td>'
        '<td class="classification">%s</td><td>%s</td><td>%s</td><td>%s</td>'
        '<td class="time started">%s</td><td class="time ended">%s</td><td>%s</td></tr>'
        % (_css_name(line.get('classification') or ''), escape(line['host']), escape(line['host']),
           '' if line.get('wave') is None else line['wave'],
           escape(line.get('classification') or ''),
           escape('' if line.get('preflight_status') is None else '%s (%s)' % (
               line['preflight_status'], line.get('preflight_name') or '')),
           escape('' if exit_status is None else '%s%s' % (
               exit_status, ' (%s)' % line['exit_name'] if line.get('exit_name') else '')),
           escape(line.get('reason') or ''), _clock(line.get('started')),
           _clock(line.get('time')),
           '' if line.get('classification') == NOT_ATTEMPTED else
           'yes' if line.get('rebooted') else 'no'))


def _page(params, lines, counts, not_attempted, records, outcome):
    escape = html.escape
    present = [name for name, _ in CLASSES if counts.get(name)]
    filters = ''.join('<input type="radio" name="filter" class="filter" id="f-%s">'
                      % _css_name(name) for name in present)
    labels = ''.join('<label for="f-%s">%s (%d)</label>'
                     % (_css_name(name), escape(name), counts[name]) for name in present)
    rules = ''.join('#f-%s:checked~table.hosts tbody tr:not(.%s){display:none}'
                    '#f-%s:checked~nav label[for="f-%s"]{background:#263238;color:#fff}'
                    % ((_css_name(name),) * 4) for name in present)
    rows = [_row(line) for line in sorted(lines, key=lambda line: line['host'])]
    rows += [_row({'host': host, 'classification': NOT_ATTEMPTED}) for host in not_attempted]
    logs = ''.join(
        '<section class="records %s" data-host="%s"><h3>%s: %s</h3><pre class="run-log">%s</pre>'
        '</section>' % (_css_name(line['classification']), escape(line['host']),
                        escape(line['host']), escape(line['classification']),
                        escape(_records_text(records[line['host']])))
        for line in sorted(lines, key=lambda line: line['host']) if records.get(line['host']))
    times = sorted(value for line in lines for value in (line.get('started'), line.get('time'))
                   if value)
    next_steps = ''.join('<p class="%s">%s</p>' % (kind, escape(text)) for kind, text in (
        ('stop', outcome['stopped']), ('failed-hosts', outcome['failed_hosts']))
        if text)
    if outcome['go_on']:
        next_steps += '<p>%s <code id="go-on">%s</code></p>' % (
            escape(outcome['go_on'][0]), escape(outcome['go_on'][1]))
    return '''<!DOCTYPE html>
<html lang="en"><head><meta charset="utf-8">
<title>Rollout of %(bundle)s, %(run)s</title>
<style>
body{font:14px/1.4 sans-serif;margin:24px;color:#212121}
h1{font-size:20px}h2{font-size:16px;margin-top:28px}h3{font-size:14px}
dl.facts{display:grid;grid-template-columns:max-content auto;gap:2px 16px}dt{font-weight:bold}
p.stop{font-weight:bold;color:#b71c1c}code{background:#eceff1;padding:2px 4px}
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
<dt>waves</dt><dd id="waves">%(wave)d of %(waves)d</dd>
<dt>hosts</dt><dd>%(hosts)d with a line, %(missing)d not attempted</dd></dl>
%(next_steps)s
<h2>Hosts per classification</h2>
%(chart)s
<h2>Hosts</h2>
<main><input type="radio" name="filter" class="filter" id="f-all" checked>%(filters)s
<nav><label for="f-all">all (%(all)d)</label>%(labels)s</nav>
<table class="hosts"><thead><tr><th>host</th><th>wave</th><th>classification</th>
<th>preflight</th><th>exit status</th><th>reason</th><th>started</th><th>ended</th>
<th>rebooted</th></tr></thead>
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
       'wave': params['wave'], 'waves': outcome['waves'], 'next_steps': next_steps,
       'hosts': len(lines), 'missing': len(not_attempted), 'all': len(lines) + len(not_attempted),
       'chart': _chart(counts), 'filters': filters, 'labels': labels, 'rules': rules,
       'rows': '\n'.join(rows),
       'not_attempted': escape(', '.join(not_attempted)) or 'none', 'logs': logs or '<p>none</p>'}


def _table(counts, total, not_attempted, outcome):
    table = ['%-20s %5s' % ('classification', 'hosts')]
    table += ['%-20s %5d' % (name, counts[name]) for name, _ in CLASSES
              if counts.get(name) and name != NOT_ATTEMPTED]
    table += ['%-20s %5d' % ('total', total),
              'not attempted: %s' % (', '.join(not_attempted) or 'none')]
    table += [text for text in (outcome['stopped'], outcome['failed_hosts']) if text]
    if outcome['go_on']:
        table.append('%s %s' % outcome['go_on'])
    return table


def _outcome(params, lines, lost, not_attempted, retry):
    """The wave's place in the rollout: the number of waves, why this one stops the rollout and
    its failed hosts, and what to run next when the rollout stops or ends with hosts to retry."""
    wave = params['wave']
    sizes = wave_sizes(params['serial'], len(params['fleet']))
    size = len([begun for begun in params['started'] if int(begun.get('wave') or 0) == wave])
    failing = [entry['host'] for entry in params['entries']
               if str(entry.get('_fails')).lower() == 'true']
    max_fail = float(str(params['max_fail_percentage']).replace('%', ''))
    stopped = stop_sentence(wave, len(sizes), size, failing, lost, max_fail)
    classes = dict((line['host'], line['classification']) for line in lines)
    failed_hosts = 'failed: ' + ', '.join('%s (%s)' % (host, classes[host])
                                          for host in failing + lost) if stopped else ''
    go_on = None
    if retry and params['command'] and (stopped or not not_attempted):
        go_on = ('to go on:' if stopped else 'to run the hosts of retry.txt again:',
                 params['command'])
    return {'waves': max(len(sizes), wave), 'stopped': stopped, 'failed_hosts': failed_hosts,
            'go_on': go_on}


def write_results(params):
    """Writes the wave's results to params['dir'] and returns the module's results."""
    folder = params['dir']
    lines, new, lost = _append_lines(os.path.join(folder, 'summary.jsonl'), params['entries'],
                                     params['started'], params['run_id'])
    for entry in new:
        _keep_files(folder, entry)

    counts = {}
    for line in lines:
        counts[line['classification']] = counts.get(line['classification'], 0) + 1
    classes = dict((line['host'], line['classification']) for line in lines)
    not_attempted = [host for host in params['fleet'] if host not in classes]
    if not_attempted:
        counts[NOT_ATTEMPTED] = len(not_attempted)
    retry = [host for host in params['fleet']
             if classes.get(host, NOT_ATTEMPTED) in RETRY + (NOT_ATTEMPTED,)]
    outcome = _outcome(params, lines, lost, not_attempted, retry)
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
        writer.writerow([csv_cell(line.get(key)) for key in KEYS])
    _write(os.path.join(folder, 'summary.csv'), buffer.getvalue())
    _write(os.path.join(folder, 'not-attempted.txt'),
           ''.join(host + '\n' for host in not_attempted))
    _write(os.path.join(folder, 'retry.txt'), ''.join(host + '\n' for host in retry))
    _write(os.path.join(folder, 'report.html'),
           _page(params, lines, counts, not_attempted, records, outcome))
    return dict(changed=bool(new), counts=counts, not_attempted=not_attempted, retry=retry,
                stopped=outcome['stopped'],
                table=_table(counts, len(lines), not_attempted, outcome))


def main():
    module = AnsibleModule(
        argument_spec=dict(
            results_dir=dict(type='path'),
            dir=dict(type='path'),
            run_id=dict(type='str'),
            bundle=dict(type='str', required=True),
            wave=dict(type='int', default=1),
            fleet=dict(type='list', elements='str', default=[]),
            serial=dict(type='raw', default=0),
            max_fail_percentage=dict(type='str', default='100'),
            command=dict(type='str', default=''),
            started=dict(type='list', elements='dict', default=[]),
            entries=dict(type='list', elements='dict', default=[]),
        ),
        required_one_of=[('results_dir', 'dir')],
        mutually_exclusive=[('results_dir', 'dir')],
        required_by={'dir': 'run_id'},
        supports_check_mode=True,
    )
    params = module.params
    try:
        if params['results_dir']:
            run_id, folder = new_folder(params['results_dir'], params['bundle'],
                                        time.strftime('%Y%m%dT%H%M%SZ', time.gmtime()))
            module.exit_json(changed=True, run_id=run_id, dir=folder)
        module.exit_json(**write_results(params))
    except OSError as error:
        module.fail_json(msg='the results folder %s: %s'
                         % (params['results_dir'] or params['dir'], error))


if __name__ == '__main__':
    main()

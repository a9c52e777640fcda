#!/usr/bin/python
# -*- coding: utf-8 -*-
"""The hotfix_rollout role's results on the controller: a results folder of the run's own, then
after every wave of a rollout the summary lines of its hosts, the files read from them, and from
all the lines summary.csv, not-attempted.txt and retry.txt, with the sentence that says why the
wave stops the rollout when it does; or the state lines of a fleet-state run, with state.csv. It
returns the data that the role's templates make report.html and state.html of."""

from __future__ import absolute_import, division, print_function

import base64
import collections
import csv
import io
import json
import os
import time

from ansible.module_utils.basic import AnsibleModule

__metaclass__ = type

DOCUMENTATION = r'''
module: hotfix_results
short_description: Makes a run's results folder and writes its results on the controller
description:
  - With I(results_dir), makes the run's folder C(<results_dir>/<bundle>-<run id>) (a rollout) or
    C(<results_dir>/<bundle>-state-<run id>) (a fleet-state run) or
    C(<results_dir>/<bundle>-backout-<run id>) (a back-out), where the run id is the UTC time
    and the first number from 1 that gives a folder no one has, made with an exclusive mkdir, so
    that runs started in the same second get folders of their own.
  - A back-out (I(kind) C(backout)) is a rollout whose folder is
    C(<results_dir>/<bundle>-backout-<run id>) and whose page is titled so.
  - With I(dir) and I(kind) C(rollout) or C(backout), appends the summary line of each host in I(entries) that
    has none yet to C(summary.jsonl), and a line C(unreachable) for each host of I(started) that
    has neither a line nor an entry (Ansible lost it on the way). Writes the files an entry
    carries to C(hosts/<host>/), made only for a host with files.
  - Then rewrites C(summary.csv) (text cells that a spreadsheet would take for a formula get a
    leading apostrophe), C(not-attempted.txt) (the hosts of I(fleet) without a line) and
    C(retry.txt) (the hosts to run again) from every line, tells whether this wave stops the
    rollout as Ansible's C(serial) and C(max_fail_percentage) decide it, and returns the counts,
    a table for the console and the data of C(report.html).
  - With I(dir) and I(kind) C(state), writes the state lines of I(entries) to C(state.jsonl) and
    C(state.csv) (spreadsheet-safe as C(summary.csv)), and returns the counts, a table for the
    console and the data of C(state.html).
options:
  results_dir:
    description: The folder of the runs' results folders; given, a new folder is made.
    type: path
  dir:
    description: The run's results folder, to write the results to.
    type: path
  kind:
    description: A rollout's results, a back-out's, or a fleet-state run's.
    type: str
    choices: [rollout, backout, state]
    default: rollout
  run_id:
    description: The run's id.
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
    description: The play's hosts within its limit, in the play's order (a fleet-state run's lines
      follow it).
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
    description: A rollout's summary lines as dictionaries; C(_files) (file name to base64
      bytes), C(_records) (base64 of the bytes this run appended to the run log) and C(_fails)
      (the host fails, so that its wave counts it) are kept beside them. Or a fleet-state run's
      state lines.
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
  description: Hosts per classification (a rollout) or state.
  returned: with dir
  type: dict
not_attempted:
  description: The hosts of the fleet without a summary line.
  returned: with dir, kind rollout
  type: list
retry:
  description: The hosts of retry.txt.
  returned: with dir, kind rollout
  type: list
stopped:
  description: Why this wave stops the rollout, or an empty text.
  returned: with dir, kind rollout
  type: str
table:
  description: The console table, one line an item.
  returned: with dir
  type: list
page:
  description: What templates/report.html.j2 (kind rollout) or templates/state.html.j2 (kind
    state) shows.
  returned: with dir
  type: dict
'''

KEYS = ('host', 'preflight_status', 'rebooted', 'exit_status', 'preflight_after',
        'classification', 'patch_id', 'reason', 'time', 'preflight_name', 'exit_name', 'run_id',
        'dry_run', 'started', 'launcher_version', 'preflight_version', 'wave')
# The classifications in the order the console and the report show them (the report's colours
# are in templates/results.html.j2).
CLASSES = ('success', 'removed', 'already installed', 'not installed', 'not applicable',
           'reboot needed', 'would install', 'would back out', 'reboot first', 'retry later', 'still running', 'interrupted', 'bundle broken',
           'cannot tell', 'tool missing', 'refused', 'unreachable', 'failed', 'not attempted')
NOT_ATTEMPTED = 'not attempted'
# The classifications a rerun may mend; with the hosts not attempted, retry.txt lists them. A
# host still running its installer, or one the preflight cannot judge without more rights, is
# left out: running it again the same way does not help.
RETRY = ('failed', 'interrupted', 'retry later', 'refused', 'bundle broken', 'tool missing',
         'unreachable')
NUMBERS = ('preflight_status', 'exit_status', 'preflight_after', 'wave')
# A fleet-state run's line per host: its state, then each of the three answers (true, false or
# null for unknown) with the reason it is unknown.
STATE_KEYS = ('host', 'state', 'installed', 'installed_reason', 'recorded', 'recorded_reason',
              'reboot_pending', 'reboot_pending_reason', 'patch_id', 'preflight_status',
              'preflight_name', 'preflight_version', 'reason', 'time', 'run_id')
# The states in the order the console and state.html show them.
STATES = ('installed and recorded', 'installed', 'installed, not recorded', 'not installed',
          'settings broken', 'cannot tell', 'tool missing', 'unreachable', 'failed')
ANSWERS = ('installed', 'recorded', 'reboot_pending')
REBOOT_PENDING = 'reboot pending'
NO_STATE = 'a task failed before the host gave its state (the console names it)'

# A spreadsheet takes a cell that begins with one of these for a formula.
FORMULA_STARTS = ('=', '+', '-', '@', '\t', '\r')
MOST_RECORD_BYTES = 1 << 20  # of one host's records shown in the page


def new_folder(results_dir, name, stamp):
    """Makes <results_dir>/<name>-<stamp>-<n> for the first n from 1 whose folder is not there,
    each try an exclusive mkdir; returns the run id <stamp>-<n> and the folder."""
    os.makedirs(results_dir, exist_ok=True)
    number = 1
    while True:
        run_id = '%s-%d' % (stamp, number)
        folder = os.path.join(os.path.abspath(results_dir), '%s-%s' % (name, run_id))
        try:
            os.mkdir(folder)
            return run_id, folder
        except FileExistsError:
            number += 1


def _utc_now():
    """The UTC time as the lines give it."""
    return time.strftime('%Y-%m-%dT%H:%M:%SZ', time.gmtime())


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
    """A value as a CSV cell: numbers as they are, a text that a spreadsheet would take for a
    formula behind an apostrophe."""
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
                        'time': _utc_now()})
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


def _records_text(data):
    """A host's run-log records as the page shows them: the last MOST_RECORD_BYTES, read in the
    launcher's code page, lines ended by LF."""
    cut = len(data) > MOST_RECORD_BYTES
    text = data[-MOST_RECORD_BYTES:].decode('cp1252', errors='replace').replace('\r\n', '\n')
    return ('(the first %d bytes are left out)\n' % (len(data) - MOST_RECORD_BYTES) if cut
            else '') + text


def _page(params, lines, counts, not_attempted, records, outcome):
    """What templates/report.html.j2 shows: the rollout's facts, why it stopped and how to go on,
    the hosts per classification, a row per host (hosts not attempted last) and the records of
    each host that did not succeed."""
    ordered = sorted(lines, key=lambda line: line['host'])
    return {
        'bundle': params['bundle'], 'run_id': params['run_id'],
        'title': 'Back-out' if params.get('kind') == 'backout' else 'Rollout',
        'times': _span(lines, ('started', 'time')),
        'wave': params['wave'], 'waves': outcome['waves'], 'stopped': outcome['stopped'],
        'failed_hosts': outcome['failed_hosts'],
        'go_on': list(outcome['go_on']) if outcome['go_on'] else None,
        'counts': [{'name': name, 'count': counts[name]} for name in CLASSES if counts.get(name)],
        'hosts': len(lines), 'not_attempted': not_attempted,
        'rows': ordered + [dict(dict.fromkeys(KEYS), host=host, classification=NOT_ATTEMPTED)
                           for host in not_attempted],
        'records': [{'host': line['host'], 'classification': line['classification'],
                     'text': _records_text(records[line['host']])}
                    for line in ordered if records.get(line['host'])],
    }


def _span(lines, keys):
    """The first and the last time of the lines' keys (UTC texts), empty texts when none."""
    times = sorted(line[key] for line in lines for key in keys if line.get(key))
    return [times[0], times[-1]] if times else ['', '']


def _counted(title, names, counts, total, more=()):
    """The console's table of hosts per name, in the order of names, their total, and more rows
    (name, count) after it."""
    width = max([20] + [len(name) for name in names])
    return (['%-*s %5s' % (width, title, 'hosts')]
            + ['%-*s %5d' % (width, name, counts[name]) for name in names if counts.get(name)]
            + ['%-*s %5d' % (width, name, count) for name, count in (('total', total),) + more])


def _csv(keys, rows):
    """The rows (lists of values in the order of keys) as CSV, a header of the keys first."""
    buffer = io.StringIO()
    writer = csv.writer(buffer, lineterminator='\n')
    writer.writerow(keys)
    for row in rows:
        writer.writerow([csv_cell(value) for value in row])
    return buffer.getvalue()


def _table(counts, total, not_attempted, outcome):
    table = _counted('classification', [name for name in CLASSES if name != NOT_ATTEMPTED],
                     counts, total)
    table += ['not attempted: %s' % (', '.join(not_attempted) or 'none')]
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

    counts = collections.Counter(line['classification'] for line in lines)
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
    _write(os.path.join(folder, 'summary.csv'),
           _csv(KEYS, [[line.get(key) for key in KEYS] for line in lines]))
    _write(os.path.join(folder, 'not-attempted.txt'),
           ''.join(host + '\n' for host in not_attempted))
    _write(os.path.join(folder, 'retry.txt'), ''.join(host + '\n' for host in retry))
    return dict(changed=bool(new), counts=dict(counts), not_attempted=not_attempted, retry=retry,
                stopped=outcome['stopped'],
                table=_table(counts, len(lines), not_attempted, outcome),
                page=_page(params, lines, counts, not_attempted, records, outcome))


def _state_row(line):
    """A state line's values as state.csv gives them: each answer true, false or unknown."""
    return [('unknown' if line[key] is None else str(line[key]).lower()) if key in ANSWERS
            else line[key] for key in STATE_KEYS]


def write_states(params):
    """Writes a fleet-state run's state.jsonl and state.csv, a line per host of params['fleet']
    in its order (a host of it without an entry is failed), and returns the module's results."""
    folder = params['dir']
    given = dict((entry['host'], entry) for entry in params['entries'])
    unanswered = dict(((answer + '_reason', 'failed') for answer in ANSWERS), state='failed',
                      run_id=params['run_id'], reason=NO_STATE, time=_utc_now())
    lines = [dict((key, given.get(host, dict(unanswered, host=host)).get(key))
                  for key in STATE_KEYS) for host in params['fleet'] or list(given)]
    _write(os.path.join(folder, 'state.jsonl'),
           ''.join(json.dumps(line) + '\n' for line in lines))
    _write(os.path.join(folder, 'state.csv'), _csv(STATE_KEYS, map(_state_row, lines)))
    counts = collections.Counter(line['state'] for line in lines)
    pending = len([line for line in lines if line['reboot_pending']])
    choices = [{'name': name, 'count': counts[name]} for name in STATES if counts.get(name)]
    return dict(
        changed=True, counts=dict(counts),
        table=_counted('state', STATES, counts, len(lines), ((REBOOT_PENDING, pending),)),
        page={'bundle': params['bundle'], 'run_id': params['run_id'],
              'times': _span(lines, ('time',)), 'counts': choices, 'reboot_pending': pending,
              'filters': choices + ([{'name': REBOOT_PENDING, 'count': pending}]
                                    if pending else []),
              'rows': sorted(lines, key=lambda line: line['host'])})


def main():
    module = AnsibleModule(
        argument_spec=dict(
            results_dir=dict(type='path'),
            dir=dict(type='path'),
            kind=dict(type='str', choices=['rollout', 'backout', 'state'], default='rollout'),
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
            run_id, folder = new_folder(
                params['results_dir'],
                params['bundle'] + ('' if params['kind'] == 'rollout' else '-' + params['kind']),
                time.strftime('%Y%m%dT%H%M%SZ', time.gmtime()))
            module.exit_json(changed=True, run_id=run_id, dir=folder)
        module.exit_json(**(write_states(params) if params['kind'] == 'state'
                            else write_results(params)))
    except OSError as error:
        module.fail_json(msg='the results folder %s: %s'
                         % (params['results_dir'] or params['dir'], error))


if __name__ == '__main__':
    main()

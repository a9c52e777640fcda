"""Loads a results page in headless Chromium and checks its DOM against the lines it was made of,
and saves a screenshot of it.

A rollout's report.html against summary.jsonl and not-attempted.txt: the bar chart's count per
classification (the hosts not attempted too), one table row per host with its wave and its own
start and end, the sentence that says why the rollout stopped, a run-log line that holds <script>
shown as text (no script element at all), and the filter by classification, which hides every
other row in the browser without a server.

With --backout, a back-out's report.html against summary.jsonl: as a rollout's, without a stop or
run-log records, filtered by removed.

With --state, a fleet-state run's state.html against state.jsonl: the chart's count per state,
one row per host with its state, no script element, and the filters by state and by a pending
reboot.

  check_report.py RESULTS_FOLDER SCREENSHOT_PNG STOP_SENTENCE
  check_report.py --state STATE_FOLDER SCREENSHOT_PNG
  check_report.py --backout RESULTS_FOLDER SCREENSHOT_PNG"""

import collections
import html.parser
import json
import os
import shutil
import subprocess
import sys
import tempfile

FLAGS = ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
         '--disable-background-networking', '--disable-component-update', '--disable-sync']


def chromium(*args):
    """Runs Chromium on a new empty profile; returns its standard output."""
    profile = tempfile.mkdtemp(prefix='hotfix-chromium-')
    try:
        return subprocess.run(['chromium'] + FLAGS + ['--user-data-dir=' + profile] + list(args),
                              check=True, capture_output=True, text=True, timeout=120).stdout
    finally:
        shutil.rmtree(profile, ignore_errors=True)


class Dom(html.parser.HTMLParser):
    """The parts of the dumped DOM the checks read."""

    def __init__(self):
        super().__init__()
        self.bars, self.rows, self.scripts, self.logs, self.visible = {}, {}, 0, [], None
        self.inside, self.row, self.stop = None, None, ''

    def handle_starttag(self, tag, attrs):
        attrs = dict(attrs)
        classes = (attrs.get('class') or '').split()
        if tag == 'g' and 'bar' in classes:
            self.bars[attrs['data-classification']] = int(attrs['data-count'])
        if tag == 'tr' and 'host' in classes:
            self.row = self.rows[attrs['data-host']] = {'wave': '', 'times': [], 'classes': classes}
        if tag == 'td' and 'wave' in classes:
            self.inside = 'wave'
        if tag == 'time' and self.row is not None:
            self.row['times'].append(attrs['datetime'])
        if tag == 'p' and 'stop' in classes:
            self.inside = 'stop'
        if tag == 'script':
            self.scripts += 1
        if tag == 'pre' and ('run-log' in classes or attrs.get('id') == 'visible'):
            self.inside = attrs.get('id') or 'run-log'
            if self.inside == 'run-log':
                self.logs.append('')
            else:
                self.visible = ''

    def handle_endtag(self, tag):
        if tag in ('pre', 'td', 'p'):
            self.inside = None
        if tag == 'tr':
            self.row = None

    def handle_data(self, data):
        if self.inside == 'run-log':
            self.logs[-1] += data
        elif self.inside == 'visible':
            self.visible += data
        elif self.inside == 'wave':
            self.row['wave'] += data
        elif self.inside == 'stop':
            self.stop += data


def dom_of(path):
    dom = Dom()
    dom.feed(chromium('--dump-dom', 'file://' + os.path.abspath(path)))
    return dom


def shown_rows(page, choice):
    """The hosts whose rows the browser still shows once the filter's input choice is picked,
    read from a copy of the page that picks it and lists them."""
    probe = page + '.filter-probe.html'
    with open(page, encoding='utf-8') as original, open(probe, 'w', encoding='utf-8') as copy:
        copy.write(original.read().replace('</body>', '''<pre id="visible"></pre><script>
document.getElementById('%s').checked = true;
document.getElementById('visible').textContent = [...document.querySelectorAll('tr.host')]
  .filter(row => getComputedStyle(row).display !== 'none').map(row => row.dataset.host).join(' ');
</script></body>''' % choice))
    try:
        return sorted((dom_of(probe).visible or '').split())
    finally:
        os.remove(probe)


def lines_of(path):
    with open(path, encoding='utf-8') as lines:
        return [json.loads(line) for line in lines]


def check_page(page, screenshot, counts, hosts, filters):
    """What every results page must show: the chart's counts, a row per host, no script element,
    rows shown by each filter ({input id: hosts}); then its screenshot. Returns the page's DOM
    and the problems found."""
    dom = dom_of(page)
    problems = []
    if dom.bars != dict(counts):
        problems.append('chart %s, lines %s' % (dom.bars, dict(counts)))
    if sorted(dom.rows) != sorted(hosts):
        problems.append('rows %s' % sorted(dom.rows))
    if dom.scripts:
        problems.append('%d script elements' % dom.scripts)
    for choice, expected in filters.items():
        shown = shown_rows(page, choice)
        if shown != sorted(expected):
            problems.append('filtered by %s, the browser shows %s' % (choice, shown))
    chromium('--screenshot=' + os.path.abspath(screenshot), '--window-size=1280,1800',
             '--hide-scrollbars', 'file://' + os.path.abspath(page))
    if not os.path.getsize(screenshot):
        problems.append('no screenshot')
    return dom, problems


def check_report(folder, screenshot, stop):
    lines = lines_of(os.path.join(folder, 'summary.jsonl'))
    with open(os.path.join(folder, 'not-attempted.txt'), encoding='utf-8') as listed:
        not_attempted = listed.read().split()
    counts = collections.Counter(line['classification'] for line in lines)
    counts.update({'not attempted': len(not_attempted)} if not_attempted else {})
    dom, problems = check_page(
        os.path.join(folder, 'report.html'), screenshot, counts,
        [line['host'] for line in lines] + not_attempted,
        {'f-c-failed': [line['host'] for line in lines if line['classification'] == 'failed']})
    for line in lines:
        row = dom.rows.get(line['host'], {})
        if row and (row['wave'] != str(line['wave'])
                    or row['times'] != [line['started'], line['time']]):
            problems.append('%s: row %s, line wave %s, %s to %s'
                            % (line['host'], row, line['wave'], line['started'], line['time']))
    if dom.stop != stop:
        problems.append('the stop reads "%s"' % dom.stop)
    if not any('<script>alert("run log")</script>' in log for log in dom.logs):
        problems.append('run-log texts: %s' % dom.logs)
    return problems, 'report.html: %d hosts, counts %s' % (len(lines), dict(counts))


def check_backout(folder, screenshot):
    """A back-out's report.html: the rollout's page checks but the stop and the run-log texts
    (a back-out keeps none), the filter by removed, and its title."""
    lines = lines_of(os.path.join(folder, 'summary.jsonl'))
    counts = collections.Counter(line['classification'] for line in lines)
    _, problems = check_page(
        os.path.join(folder, 'report.html'), screenshot, counts, [line['host'] for line in lines],
        {'f-c-removed': [line['host'] for line in lines if line['classification'] == 'removed']})
    with open(os.path.join(folder, 'report.html'), encoding='utf-8') as page:
        if '<h1>Back-out of KB5001234</h1>' not in page.read():
            problems.append('no back-out title')
    return problems, 'back-out report.html: %d hosts, counts %s' % (len(lines), dict(counts))


def check_state(folder, screenshot):
    lines = lines_of(os.path.join(folder, 'state.jsonl'))
    counts = collections.Counter(line['state'] for line in lines)
    dom, problems = check_page(
        os.path.join(folder, 'state.html'), screenshot, counts, [line['host'] for line in lines],
        {'f-c-not-installed': [line['host'] for line in lines if line['state'] == 'not installed'],
         'f-c-reboot-pending': [line['host'] for line in lines if line['reboot_pending']]})
    for line in lines:
        classes = dom.rows.get(line['host'], {}).get('classes', [])
        want = ['host', 'c-' + '-'.join(line['state'].replace(',', ' ').split())]
        if classes != want + (['c-reboot-pending'] if line['reboot_pending'] else []):
            problems.append('%s: row classes %s for %s' % (line['host'], classes, line))
    return problems, 'state.html: %d hosts, counts %s' % (len(lines), dict(counts))


if __name__ == '__main__':
    mode = {'--state': check_state, '--backout': check_backout}.get(sys.argv[1])
    found, summary = mode(*sys.argv[2:4]) if mode else check_report(*sys.argv[1:4])
    print('\n'.join(found) or '%s, screenshot %s' % (summary, sys.argv[3 if mode else 2]))
    sys.exit(1 if found else 0)

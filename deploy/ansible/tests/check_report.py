"""Loads a rollout's report.html in headless Chromium and checks its DOM against summary.jsonl
and not-attempted.txt: the bar chart's count per classification (the hosts not attempted too),
one table row per host with its wave and its own start and end, the sentence that says why the
rollout stopped, a run-log line that holds <script> shown as text (no script element at all),
and the filter by classification, which hides every other row in the browser without a server.
Saves a screenshot.

  check_report.py RESULTS_FOLDER SCREENSHOT_PNG STOP_SENTENCE"""

import collections
import html.parser
import json
import os
import shutil
import subprocess
import sys
import tempfile

folder, screenshot, stop = sys.argv[1:4]
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
            self.row = self.rows[attrs['data-host']] = {'wave': '', 'times': []}
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


with open(os.path.join(folder, 'summary.jsonl'), encoding='utf-8') as summary:
    lines = [json.loads(line) for line in summary]
with open(os.path.join(folder, 'not-attempted.txt'), encoding='utf-8') as listed:
    not_attempted = listed.read().split()
counts = collections.Counter(line['classification'] for line in lines)
counts.update({'not attempted': len(not_attempted)} if not_attempted else {})
page = os.path.join(folder, 'report.html')
dom = dom_of(page)
problems = []
if dom.bars != dict(counts):
    problems.append('chart %s, summary %s' % (dom.bars, dict(counts)))
if sorted(dom.rows) != sorted([line['host'] for line in lines] + not_attempted):
    problems.append('rows %s' % sorted(dom.rows))
for line in lines:
    row = dom.rows.get(line['host'], {})
    if row and (row['wave'] != str(line['wave']) or row['times'] != [line['started'], line['time']]):
        problems.append('%s: row %s, line wave %s, %s to %s'
                        % (line['host'], row, line['wave'], line['started'], line['time']))
if dom.stop != stop:
    problems.append('the stop reads "%s"' % dom.stop)
if dom.scripts or not any('<script>alert("run log")</script>' in log for log in dom.logs):
    problems.append('%d script elements; run-log texts: %s' % (dom.scripts, dom.logs))

# The filter: a copy of the page that picks "failed" and lists the rows the browser still shows.
probe = os.path.join(folder, 'filter-probe.html')
with open(page, encoding='utf-8') as original, open(probe, 'w', encoding='utf-8') as copy:
    copy.write(original.read().replace('</body>', '''<pre id="visible"></pre><script>
document.getElementById('f-c-failed').checked = true;
document.getElementById('visible').textContent = [...document.querySelectorAll('tr.host')]
  .filter(row => getComputedStyle(row).display !== 'none').map(row => row.dataset.host).join(' ');
</script></body>'''))
shown = dom_of(probe).visible
os.remove(probe)
if sorted((shown or '').split()) != sorted(line['host'] for line in lines
                                           if line['classification'] == 'failed'):
    problems.append('filtered by "failed", the browser shows %r' % shown)

chromium('--screenshot=' + os.path.abspath(screenshot), '--window-size=1280,1800',
         '--hide-scrollbars', 'file://' + os.path.abspath(page))
if not os.path.getsize(screenshot):
    problems.append('no screenshot')
print('\n'.join(problems) or 'report.html: %d hosts, counts %s, screenshot %s'
      % (len(lines), dict(counts), screenshot))
sys.exit(1 if problems else 0)

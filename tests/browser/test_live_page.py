#!/usr/bin/python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""The live clock page in headless Chromium, looked at as a person on the layout would: each row of a
table does one thing and waits until the page shows what it must. A line a row; exit 1 at the first failure.
    test_live_page.py URL --password PW   the program, stopped, inside the private network: the page's
                                          buttons drive the clock and its broadcast; Firefox ESR draws it;
                                          with --join ADDRESS NAME, the join page's code reads as ADDRESS
    test_live_page.py --mock              a mock server of its own, for what the page cannot bring about
"""

import argparse
import base64
import contextlib
import json
import os
import re
import shutil
import socket
import sys
import tempfile
import threading
import time
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer
from subprocess import DEVNULL, PIPE, STDOUT, Popen, run

from selenium import webdriver
from selenium.common.exceptions import WebDriverException
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.by import By

HERE = os.path.dirname(os.path.abspath(__file__))
TIME_PORT, RATE_PORT = 7791, 7792
HELD = 'Time set \u2013 waiting for Start'

# What a person sees: hidden texts count as empty; the digits' shade tells a stopped clock from a running one.
SHOWN_JS = r"""
var $ = id => document.getElementById(id), shade = +getComputedStyle($('digits')).color.match(/\d+/)[0];
var seen = id => $(id).getClientRects().length > 0 && getComputedStyle($(id)).visibility === 'visible';
var text = id => seen(id) ? $(id).textContent.trim() : '';
return {time: text('time') + text('seconds'), status: text('status'), note: text('note'), speeds: text('speeds'),
        digits: shade < 128 ? 'dim' : shade > 200 ? 'bright' : 'fading', control: seen('control-button'),
        panel: seen('panel'), login: seen('login-form'), message: text('message'), date: text('date'), alarm: text('alarm'),
        channels: seen('channels') ? [...$('channels').children].map(c => c.textContent).join(' / ') : ''};
"""


PAGE = {'': ('index.html', 'text/html'), 'clock.css': ('clock.css', 'text/css'),
        **{script: (script, 'text/javascript') for script in ('words.js', 'control.js', 'clock.js')}}


class MockServer(ThreadingHTTPServer):
    """A stand-in for the program's /quorandel/ routes on 127.0.0.1, for what the page cannot bring about
    itself: it tells whatever clock the test sets (a speed waiting for the next Start is chosen only in the
    window), goes silent as a hung program or a phone out of Wi-Fi does (answers held back, the open streams
    dead for good), and refuses the events stream."""
    daemon_threads = True

    def __init__(self):
        super().__init__(('127.0.0.1', 0), Handler)
        self.url = 'http://127.0.0.1:%d' % self.server_address[1]
        self.changed, self.answering = threading.Condition(), threading.Event()
        self.version = self.streams_opened = self.dead_up_to = self.alarm_at = 0
        self.events_refused = False
        self.channels = b'{"channels":[{"name":"JMRI","state":"connected"},{"name":"Z21","state":"noAnswer","since":"14:02"}]}'
        self.answering.set()
        self.tell('06:30:00')
        threading.Thread(target=self.serve_forever, daemon=True).start()

    def handle_error(self, request, client_address):
        pass  # a page that gave up on a held-back answer has gone when it comes

    def tell(self, hhmmss, running=False, held=False, speed=1, control=True, **more):
        """The clock from now on, as the program would tell it; running, it counts on from hhmmss."""
        h, m, s = map(int, hhmmss.split(':'))
        with self.changed:
            self.state = dict(running=running, held=held, speed=speed, interval=1000 // speed, control=control, **more)
            self.seconds, self.told_at = h * 3600 + m * 60 + s, time.monotonic()
            self.version += 1
            self.changed.notify_all()

    def snapshot(self):
        with self.changed:
            ran = (time.monotonic() - self.told_at) * 1000 // self.state['interval'] if self.state['running'] else 0
            s = int(self.seconds + ran) % 86400
            return json.dumps(dict(time='%02d:%02d:%02d' % (s // 3600, s // 60 % 60, s % 60), **self.state)).encode()

    def alarm(self, **data):
        """An alarm as its own event on the open streams."""
        with self.changed:
            self.alarm_event = b'event: alarm\ndata: ' + json.dumps(data).encode() + b'\n\n'
            self.version += 1
            self.alarm_at = self.version
            self.changed.notify_all()

    def go_silent(self):
        self.answering.clear()
        self.dead_up_to = self.streams_opened


class Handler(BaseHTTPRequestHandler):
    def log_message(self, *args):
        pass

    def do_GET(self):
        self.server.answering.wait()
        name = self.path.split('?')[0].removeprefix('/quorandel/')
        if name in PAGE:
            with open(os.path.join(HERE, '..', '..', 'web', 'page', PAGE[name][0]), 'rb') as f:
                return self.answer(f.read(), PAGE[name][1])
        if name == 'state.json':
            return self.answer(self.server.snapshot(), 'application/json')
        if name == 'channels':  # the password is the program's to check
            return self.answer(self.server.channels, 'application/json')
        if name != 'events' or self.server.events_refused:
            return self.send_error(404)
        self.answer(b'', 'text/event-stream')
        self.stream()

    def answer(self, body, kind):  # HTTP/1.0: the end of the connection ends the body
        self.send_response(200)
        self.send_header('Content-Type', kind)
        self.end_headers()
        self.wfile.write(body)

    def stream(self):
        server, seen = self.server, None
        with server.changed:
            server.streams_opened += 1
            number = server.streams_opened
        try:
            while number > server.dead_up_to:
                with server.changed:
                    server.changed.wait_for(lambda: server.version != seen, 0.5)
                    told, seen = server.version != seen, server.version
                if told and number > server.dead_up_to:
                    self.wfile.write((server.alarm_event if server.alarm_at == seen else b'') +
                                     b'data: ' + server.snapshot() + b'\n\n')
                self.wfile.flush()
        except OSError:
            return
        threading.Event().wait()  # dead: open and silent for good


class Failure(Exception):
    pass


def wait_until(condition, what, timeout=3):
    """condition()'s first true value within timeout seconds; what (or what()) tells the failure."""
    end = time.monotonic() + timeout
    while not (value := condition()):
        if time.monotonic() > end:
            raise Failure('%s (waited %g s)' % (what() if callable(what) else what, timeout))
        time.sleep(0.05)
    return value


def row(name, act, want, also=None, timeout=3):
    """act(), then the page shows want (a pattern a text, a value a flag) and also = (condition, its meaning) holds."""
    return name, act, want, also or (lambda: True, ''), timeout


class Page:
    def __init__(self, driver, base_url):
        self.driver, self.base_url, self.seen = driver, base_url, {}

    def load(self):
        self.driver.get(self.base_url + '/quorandel/')

    def element(self, element_id):
        return self.driver.find_element(By.ID, element_id)

    def matches(self, want):
        return all(re.fullmatch(v, self.seen[k]) if isinstance(v, str) else self.seen[k] == v for k, v in want.items())

    def shows(self, want):
        self.seen = self.driver.execute_script(SHOWN_JS)
        return self.matches(want)

    def press(self, button, password=None, **fields):
        """button in the Control panel, with fields typed in, after logging in with password if one is given."""
        if not self.element('panel').is_displayed():
            self.element('control-button').click()
        if password is not None:
            if not self.element('password').is_displayed():
                self.element('logout').click()
            self.element('password').send_keys(password)
            self.element('login').click()
        for field, text in fields.items():
            self.element(field).send_keys(text)
        if button:
            self.element(button).click()

    def accessible(self):
        """axe-core's rules on the page as it stands: no serious or critical violation."""
        with open(os.path.join(HERE, 'node_modules', 'axe-core', 'axe.min.js'), encoding='utf-8') as source:
            self.driver.execute_script(source.read())
        found = self.driver.execute_async_script(
            'var done = arguments[0]; axe.run().then(r => done(r.violations.map(v => [v.impact, v.id])));')
        if [v for v in found if v[0] in ('serious', 'critical')]:
            raise Failure('axe-core finds %r' % found)
        return True


@contextlib.contextmanager
def chromium(base_url, width, height):
    """A headless Chromium of its own, in English, its page width x height CSS pixels. It looks no name up:
    in the private network a lookup waits for a name server that is not there, and the page needs none."""
    profile = tempfile.mkdtemp(prefix='quorandel-chromium-')
    options = webdriver.ChromeOptions()
    options.binary_location = '/usr/bin/chromium'
    for flag in ('--headless', '--no-sandbox', '--disable-gpu', '--no-first-run', '--disable-dev-shm-usage',
                 '--disable-background-networking', '--lang=en-GB', '--user-data-dir=' + profile,
                 '--host-resolver-rules=MAP * ~NOTFOUND, EXCLUDE 127.0.0.1'):
        options.add_argument(flag)
    options.add_experimental_option('prefs', {'intl.accept_languages': 'en-GB'})
    driver = webdriver.Chrome(service=Service('/usr/bin/chromedriver'), options=options)
    try:
        driver.set_script_timeout(30)
        driver.execute_cdp_cmd('Emulation.setDeviceMetricsOverride', {
            'width': width, 'height': height, 'deviceScaleFactor': 1, 'mobile': width < height})
        yield Page(driver, base_url)
    finally:
        driver.quit()
        shutil.rmtree(profile, ignore_errors=True)


def run_rows(page, rows, shots):
    for number, (name, act, want, (also, also_what), timeout) in enumerate(rows, 1):
        start = time.monotonic()
        act()
        wait_until(lambda: page.shows(want) and also(), lambda: '%s: the page shows %r, %s' % (
            name, page.seen, 'but not ' + also_what if page.matches(want) else 'wanted %r' % want), timeout)
        print('PASS %s (%.1f s): %s%s' % (name, time.monotonic() - start, ', '.join(
            '%s %r' % (k, page.seen[k]) for k in want), also_what and ', ' + also_what))
        if shots:
            page.driver.save_screenshot(os.path.join(shots, '%02d-%s.png' % (number, re.sub(r'\W+', '-', name))))


def mock_rows(page, mock):
    streams = []
    return [
        row('stopped', page.load, dict(time='06:30:00', status='Stopped', digits='dim', note='', speeds='1:1',
                                       control=True)),
        row('running at 4:1, counted on by the page', lambda: mock.tell('06:29:58', running=True, speed=4),
            dict(time=r'06:3\d:\d\d', status='', digits='bright', speeds='4:1')),
        row('8:1 chosen in the window while running', lambda: mock.tell('06:40:00', running=True, speed=4, nextSpeed=8),
            dict(speeds='4:1 \u2192 8:1 at Start', digits='bright')),
        row('held after a time set', lambda: mock.tell('07:15:00', held=True, speed=4),
            dict(time='07:15:00', status='Stopped', digits='dim', note=HELD, speeds='4:1')),
        row('logged in, the controls open', lambda: page.press(None, 'any password'),
            dict(panel=True, login=False, control=True, channels='JMRI: connected / Z21: no answer since 14:02'),
            (page.accessible, 'axe-core finds nothing serious')),
        row('control switched off', lambda: mock.tell('07:15:00', held=True, speed=4, control=False),
            dict(control=False, panel=False)),
        row('the program silent, its stream dead', lambda: (streams.append(mock.streams_opened), mock.go_silent()),
            dict(status='No connection', note=r'last heard 2\d s ago', digits='dim', time='07:15:00'), timeout=25),
        row('the program answering again', mock.answering.set, dict(status='Stopped', note=HELD),
            (lambda: mock.streams_opened > streams[0], 'a new events stream opened'), timeout=5),
        row('a Start told on the new stream', lambda: mock.tell('08:00:00', running=True),
            dict(status='', digits='bright', time=r'08:0\d:\d\d')),
        row('a model date told', lambda: mock.tell('08:05:00', running=True, date='1957-06-14', weekday='Fri'),
            dict(date='Fri 14 Jun 1957', time=r'08:0\d:\d\d')),
        row('an alarm', lambda: mock.alarm(time='08:06', text='First train departs', stop=False),
            dict(alarm='08:06 \u2013 First train departs', date='Fri 14 Jun 1957'), (page.accessible, 'axe-core finds nothing serious')),
        row('the stream refused, the page reloaded', lambda: (setattr(mock, 'events_refused', True), page.load()),
            dict(status='', time=r'08:\d\d:\d\d')),
        row('a Stop told while the page polls', lambda: mock.tell('09:00:00'),
            dict(status='Stopped', time='09:00:00', digits='dim')),
    ]


class Broadcast:
    """The program's time and rate datagrams since forget()."""

    def __init__(self):
        self.socks = {port: socket.socket(socket.AF_INET, socket.SOCK_DGRAM) for port in (TIME_PORT, RATE_PORT)}
        for port, sock in self.socks.items():
            sock.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEPORT, 1)
            sock.bind(('', port))
        self.forget()

    def forget(self):
        self.got = {port: [] for port in self.socks}
        self.heard(TIME_PORT)  # drains both sockets of what came before
        self.got = {port: [] for port in self.socks}

    def heard(self, port):
        for p, sock in self.socks.items():
            with contextlib.suppress(BlockingIOError):
                while True:
                    self.got[p].append(sock.recv(64, socket.MSG_DONTWAIT))
        return self.got[port]

    def rates(self):  # but the stop mark "0": one model second in ms, sent only while the clock runs
        return [int(d) for d in self.heard(RATE_PORT) if d != b'0']

    def rate_near(self, speed):  # with the default trims a model second at N:1 is about 1000/N ms
        return bool(self.rates()) and abs(self.rates()[-1] - 1000 / speed) < 100 / speed


def program_rows(page, password, broadcast):
    def fresh(act):
        return lambda: (broadcast.forget(), act())

    return [
        row('the page loaded', page.load, dict(time=r'\d\d:\d\d:\d\d', status='Stopped', digits='dim', control=True,
                                               date='Thu 13 Jun 1957'),
            timeout=5),
        row('Start with a wrong password', fresh(lambda: page.press('start', password + ' wrong')),
            dict(login=True, message='Wrong password. Enter it again.', status='Stopped'),
            (lambda: not broadcast.rates(), 'no rate datagram but the stop mark "0"')),
        row('Start with the right password', fresh(lambda: page.press('start', password)),
            dict(message='Done.', status='', digits='bright'),
            (lambda: broadcast.rate_near(1)
             and broadcast.heard(TIME_PORT)[-1:] == [page.seen['time'][:5].replace(':', '').encode()],
             'rate datagrams near 1000 ms, time datagrams with the page\'s minute')),
        row('speed 8 while running', fresh(lambda: page.press('speed-8')), dict(message='Done.', speeds='8:1'),
            (lambda: broadcast.rate_near(8), 'rate datagrams near 125 ms at once')),
        row('time 06:30 set while running', fresh(lambda: page.press('set', hours='6', minutes='30')),
            dict(message='Done.', time='06:30:00', status='Stopped', note=HELD, digits='dim'),
            (lambda: broadcast.heard(TIME_PORT)[-1:] == [b'0630'] and broadcast.rate_near(8),
             'the broadcast goes on with "0630"')),
        row('Stop', fresh(lambda: page.press('stop')), dict(message='Done.', status='Stopped', note='', digits='dim'),
            (lambda: b'0' in broadcast.heard(RATE_PORT), 'stop marks "0"')),
        row('a model date set', lambda: (page.driver.execute_script(
            'document.getElementById("date-input").value = "1957-06-14"'), page.press('set-date')),
            dict(message='Done.', date='Fri 14 Jun 1957', status='Stopped')),
    ]


# The screenshot decoded by the browser itself in a canvas never shown: the digits' width, and the share of
# light pixels inside their box and outside it below the top line (4 px round the box left out: anti-aliasing).
LIGHT_JS = r"""
var done = arguments[1], k = devicePixelRatio, shot = new Image(), n = [0, 0, 0, 0];
var $ = id => document.getElementById(id).getBoundingClientRect(), box = $('digits'), below = $('top').bottom * k;
shot.onload = function () {
  var g = Object.assign(document.createElement('canvas'), {width: shot.width, height: shot.height}).getContext('2d');
  g.drawImage(shot, 0, 0);
  var px = g.getImageData(0, 0, shot.width, shot.height).data;
  for (var i = 0; i < px.length; i += 8) {
    var x = i / 4 % shot.width, y = Math.floor(i / 4 / shot.width), light = px[i] + px[i + 1] + px[i + 2] > 180 ? 1 : 0;
    var dx = Math.max(box.left * k - x, x - box.right * k), dy = Math.max(box.top * k - y, y - box.bottom * k);
    var j = dx < 0 && dy < 0 ? 0 : (dx > 4 || dy > 4) && y > below ? 2 : -1;
    if (j >= 0) { n[j] += light; n[j + 1] += 1; }
  }
  done([shot.width, shot.height, box.width * k, n[0] / n[1], n[2] / n[3]]);
};
shot.src = 'data:image/png;base64,' + arguments[0];
"""


def join_page(page, address, name, shots):
    """The poster at the entrance as Chromium draws it: no script, the layout's name and the address in print,
    and its QR code read from the screenshot by Debian's zbarimg as that same address."""
    page.driver.get(page.base_url + '/quorandel/join')
    shown = page.driver.execute_script('return [document.scripts.length, document.querySelector("h1").textContent,'
                                       ' document.querySelector(".address").textContent]')
    picture = os.path.join(shots or tempfile.mkdtemp(prefix='quorandel-join-'), 'join.png')
    page.driver.save_screenshot(picture)
    read = run(['zbarimg', '--raw', '-q', picture], stdout=PIPE, stderr=DEVNULL, text=True, timeout=30).stdout.strip()
    if shown != [0, name, address] or read != address:
        raise Failure('the join page shows %r (scripts, name, address) and its code reads %r; wanted %r'
                      % (shown, read, [0, name, address]))
    print('PASS the join page: %r, its code reads %r' % (name, read))


def firefox_screenshot(base_url, shots):
    """The page for a wall screen (?kiosk&seconds=1) in Firefox ESR, headless: light pixels where the time
    stands and dark around it. Driven over Marionette, Firefox's own remote protocol (Debian has no driver
    for Firefox): length-prefixed JSON on a loopback port."""
    profile = tempfile.mkdtemp(prefix='quorandel-firefox-')
    with open(os.path.join(profile, 'user.js'), 'w') as prefs:
        prefs.write('user_pref("marionette.port", 0);\nuser_pref("browser.shell.checkDefaultBrowser", false);\n')
    firefox = Popen(['firefox-esr', '--headless', '--marionette', '--no-remote', '--profile', profile, '--width',
                     '1280', '--height', '720'], stdout=DEVNULL, stderr=STDOUT)
    port_file, ids = os.path.join(profile, 'MarionetteActivePort'), iter(range(1000))

    def read():  # a closed connection reads as a length of '' and fails as a ValueError
        return json.loads(stream.read(int(b''.join(iter(lambda: stream.read(1) or b':', b':')))))

    def call(command, params=None):
        message = json.dumps([0, next(ids), command, params or {}]).encode()
        sock.sendall(b'%d:%s' % (len(message), message))
        _, _, error, result = read()
        if error:
            raise Failure('Firefox: %s: %s' % (command, error.get('message', error)))
        return result.get('value') if isinstance(result, dict) else result

    try:
        sock = socket.create_connection(('127.0.0.1', int(wait_until(
            lambda: os.path.exists(port_file) and open(port_file).read().strip(), 'Firefox opened no port', 60))), 30)
        stream = sock.makefile('rb')
        read()  # the greeting
        call('WebDriver:NewSession', {'capabilities': {}})
        call('WebDriver:Navigate', {'url': base_url + '/quorandel/?kiosk&seconds=1'})
        shown = wait_until(lambda: re.fullmatch(r'\d\d:\d\d:\d\d', call('WebDriver:ExecuteScript', {
            'script': 'return document.getElementById("digits").textContent'})), 'Firefox shows no time', 10)[0]
        png = call('WebDriver:TakeScreenshot', {'full': False})
        width, height, across, lit, stray = call('WebDriver:ExecuteAsyncScript', {'script': LIGHT_JS, 'args': [png]})
    finally:
        firefox.terminate()
        firefox.wait(20)
        shutil.rmtree(profile, ignore_errors=True)
    if shots:
        open(os.path.join(shots, 'firefox-kiosk.png'), 'wb').write(base64.b64decode(png))
    said = ('Firefox ESR draws %s %d px wide in %dx%d: %.1f %% light pixels in the digits (want 15 %%), %.2f %% '
            'around them (want at most 0.5 %%)' % (shown, across, width, height, lit * 100, stray * 100))
    if across < width * 0.5 or lit < 0.15 or stray > 0.005:
        raise Failure(said)
    print('PASS ' + said)


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument('url', nargs='?', help='the program\'s address, e.g. http://127.0.0.1:8080')
    parser.add_argument('--password', help='its control password')
    parser.add_argument('--mock', action='store_true', help='test against a mock server of its own')
    parser.add_argument('--screenshots', metavar='DIR', help='keep a screenshot of each row here')
    parser.add_argument('--join', nargs=2, metavar=('ADDRESS', 'NAME'), help='the live page\'s address and the '
                        'layout\'s name that the join page must show')
    args = parser.parse_args()
    if not args.mock and not (args.url and args.password):
        parser.error('give the program\'s address and --password, or --mock')
    os.makedirs(args.screenshots or '.', exist_ok=True)
    sys.stdout.reconfigure(line_buffering=True)
    try:
        if args.mock:
            mock = MockServer()
            with chromium(mock.url, 390, 844) as page:
                run_rows(page, mock_rows(page, mock), args.screenshots)
        else:
            with chromium(args.url, 1280, 720) as page:
                run_rows(page, program_rows(page, args.password, Broadcast()), args.screenshots)
                if args.join:
                    join_page(page, *args.join, args.screenshots)
            firefox_screenshot(args.url, args.screenshots)
        print('All checks passed.')
    except Failure as failure:
        return print('FAIL ' + str(failure)) or 1
    except (WebDriverException, OSError, ValueError) as error:
        return print('FAIL the test could not run: %s' % str(error).strip().splitlines()[0]) or 1


if __name__ == '__main__':
    sys.exit(main())

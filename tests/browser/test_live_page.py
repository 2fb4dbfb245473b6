#!/usr/bin/python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""Drives the live clock page in headless Chromium, as a person on the layout
would: reads the clock, logs in, starts, sets and stops it (with the mouse and
with the keyboard alone), and checks that the page and the UDP broadcast
follow, that a wrong password is refused, that the seconds run steadily, that
a dead stream is replaced, and the page's options, languages and manifest.

    test_live_page.py URL --password PW   the running program (inside the private network)
    test_live_page.py --mock              a mock server it starts itself, with the checks
                                          that need a program that misbehaves

URL is the program's base address, e.g. http://127.0.0.1:8080 (or the
environment variable QUORANDEL_URL; the password may come from
QUORANDEL_CONTROL_PASSWORD). The program must be stopped when the test begins,
and must not be locked against this address. Prints one line per check and
exits non-zero at the first failure.
"""

import argparse
import json
import os
import re
import shutil
import socket
import sys
import tempfile
import time
import urllib.request

from selenium import webdriver
from selenium.common.exceptions import WebDriverException
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.action_chains import ActionChains
from selenium.webdriver.common.by import By
from selenium.webdriver.common.keys import Keys

CHROMIUM = '/usr/bin/chromium'
CHROMEDRIVER = '/usr/bin/chromedriver'
CHROMIUM_FLAGS = ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
                  '--disable-background-networking', '--disable-component-update', '--disable-sync',
                  '--disable-dev-shm-usage', '--window-size=1280,720']
# The page must follow a change within a second; the rest is the test's own
# round trips through the driver, on a machine that may be busy.
FOLLOW_S = 2.0


class Failure(Exception):
    pass


def passed(text):
    print('PASS ' + text, flush=True)


def wait_until(condition, timeout, what):
    """The first true value of condition() within timeout seconds, with the time it took."""
    start = time.monotonic()
    last = None
    while True:
        last = condition()
        if last:
            return last, time.monotonic() - start
        if time.monotonic() - start >= timeout:
            raise Failure('%s (waited %.1f s)' % (what, timeout))
        time.sleep(0.05)


class UdpCatcher:
    """Every datagram reaching a port, shared with other listeners as the project's catcher does."""

    def __init__(self, port, host=''):
        self.sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        self.sock.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        if hasattr(socket, 'SO_REUSEPORT'):
            self.sock.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEPORT, 1)
        self.sock.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4 * 1024 * 1024)
        self.sock.bind((host, port))
        self.sock.setblocking(False)
        self.port = self.sock.getsockname()[1]

    def take(self):
        got = []
        while True:
            try:
                got.append(self.sock.recv(2048))
            except BlockingIOError:
                return got

    def close(self):
        self.sock.close()


# The contrast ratio of an element's text against what lies behind it, as
# WCAG defines it, with the opacity of the element and its ancestors applied.
CONTRAST_JS = r"""
function rgb(text) { var m = text.match(/[\d.]+/g).map(Number); return {c: m.slice(0, 3), a: m.length > 3 ? m[3] : 1}; }
function lum(c) {
  var l = c.map(function (v) { v /= 255; return v <= 0.04045 ? v / 12.92 : Math.pow((v + 0.055) / 1.055, 2.4); });
  return 0.2126 * l[0] + 0.7152 * l[1] + 0.0722 * l[2];
}
var node = arguments[0], back = null, opacity = 1;
for (var n = node; n && n.nodeType === 1; n = n.parentElement) {
  var style = getComputedStyle(n);
  opacity *= +style.opacity;
  var bg = rgb(style.backgroundColor);
  if (bg.a > 0 && back === null) back = bg.c;
}
back = back || [0, 0, 0];
var fg = rgb(getComputedStyle(node).color);
var a = fg.a * opacity;
var mixed = fg.c.map(function (v, i) { return v * a + back[i] * (1 - a); });
var l1 = lum(mixed), l2 = lum(back);
return (Math.max(l1, l2) + 0.05) / (Math.min(l1, l2) + 0.05);
"""

# Installed before the page's own script: every wake lock, stream and fetch
# the page asks for, and every text the status and the spoken time ever show.
RECORDER_JS = r"""
window.__wakeLocks = 0;
window.__asked = {};
function asked(url) {
  var path = new URL(url, location.href).pathname;
  window.__asked[path] = (window.__asked[path] || 0) + 1;
}
var PlainEventSource = window.EventSource;
window.EventSource = function (url, options) { asked(url); return new PlainEventSource(url, options); };
window.EventSource.prototype = PlainEventSource.prototype;
['CONNECTING', 'OPEN', 'CLOSED'].forEach(function (k) { window.EventSource[k] = PlainEventSource[k]; });
var plainFetch = window.fetch;
window.fetch = function (url, options) { asked(url); return plainFetch.call(window, url, options); };
if (navigator.wakeLock) {
  navigator.wakeLock.request = function () {
    window.__wakeLocks += 1;
    var lock = new EventTarget();
    lock.released = false;
    lock.release = function () { return Promise.resolve(); };
    // As a browser does: a hidden page loses its lock.
    document.addEventListener('visibilitychange', function () {
      if (document.hidden && !lock.released) { lock.released = true; lock.dispatchEvent(new Event('release')); }
    });
    return Promise.resolve(lock);
  };
}
window.__statusSeen = [];
window.__visibility = [];
document.addEventListener('visibilitychange', function () { window.__visibility.push(document.visibilityState); });
window.__spoken = [];
document.addEventListener('DOMContentLoaded', function () {
  function watch(id, log) {
    var node = document.getElementById(id);
    new MutationObserver(function () { log.push([performance.now(), node.textContent]); })
      .observe(node, {childList: true, characterData: true, subtree: true});
  }
  watch('status', window.__statusSeen);
  watch('spoken-time', window.__spoken);
});
"""


class Page:
    """The live page in one browser tab, read through its element ids."""

    def __init__(self, driver, base_url):
        self.driver = driver
        self.base_url = base_url.rstrip('/')
        self.stopped_word = 'Stopped'
        self.recorder = driver.execute_cdp_cmd('Page.addScriptToEvaluateOnNewDocument', {'source': RECORDER_JS})

    def load(self, query=''):
        self.driver.get(self.base_url + '/quorandel/' + query)

    def script(self, code, *args):
        return self.driver.execute_script(code, *args)

    def contrast(self, element_id):
        return self.script(CONTRAST_JS, self.driver.find_element(By.ID, element_id))

    def active_id(self):
        return self.script('return document.activeElement && document.activeElement.id')

    def keys(self, *keys):
        ActionChains(self.driver).send_keys(*keys).perform()

    def text(self, element_id):
        return self.driver.find_element(By.ID, element_id).text.strip()

    def shown(self, element_id):
        return self.driver.find_element(By.ID, element_id).is_displayed()

    def clock(self):
        """'hh:mm:ss' as shown, or None while the page shows no time yet."""
        # textContent: upright, the colon between hours and minutes is not drawn.
        shown = self.driver.execute_script(
            'return document.getElementById("time").textContent + document.getElementById("seconds").textContent')
        return shown if re.fullmatch(r'\d\d:\d\d:\d\d', shown) else None

    def seconds_of_day(self):
        shown = self.clock()
        return int(shown[0:2]) * 3600 + int(shown[3:5]) * 60 + int(shown[6:8]) if shown else None

    def dim(self):
        """The digits are drawn dimmed (a stopped, waiting or lost clock)."""
        return self.contrast('digits') < 8

    def stopped(self):
        return self.text('status') == self.stopped_word and self.dim()

    def running(self):
        return self.text('status') != self.stopped_word and not self.dim()

    def click(self, element_id):
        self.driver.find_element(By.ID, element_id).click()

    def type(self, element_id, text):
        field = self.driver.find_element(By.ID, element_id)
        field.clear()
        field.send_keys(text)

    def open_control(self):
        if not self.shown('panel'):
            self.click('control-button')

    def log_in(self, password):
        self.open_control()
        if not self.shown('password'):
            self.click('logout')
        self.type('password', password)
        self.click('login')
        wait_until(lambda: self.shown('start'), 2, 'the controls did not appear after logging in')

    def message(self):
        return self.text('message')

    def screen(self, width, height):
        self.driver.execute_cdp_cmd('Emulation.setDeviceMetricsOverride', {
            'width': width, 'height': height, 'deviceScaleFactor': 1, 'mobile': width < 1000})

    def whole_screen(self):
        self.driver.execute_cdp_cmd('Emulation.clearDeviceMetricsOverride', {})

    def screenshot(self, folder, name, width, height):
        if not folder:
            return
        self.screen(width, height)
        # The page fits its digits on the resize event; give it that frame.
        wait_until(lambda: self.script('return document.getElementById("digits").style.fontSize') != '', 2,
                   'the digits were never fitted')
        time.sleep(0.5)
        path = os.path.join(folder, '%s-%dx%d.png' % (name, width, height))
        self.driver.save_screenshot(path)
        self.whole_screen()
        print('     screenshot ' + path, flush=True)


def state_json(base_url):
    with urllib.request.urlopen(base_url.rstrip('/') + '/quorandel/state.json', timeout=5) as answer:
        return json.loads(answer.read())


def later_clock(before, after):
    """True when 'hh:mm:ss' after is later than before, across midnight too."""
    seconds = [int(t[0:2]) * 3600 + int(t[3:5]) * 60 + int(t[6:8]) for t in (before, after)]
    return 0 < (seconds[1] - seconds[0]) % 86400 < 3600


def minutes_apart(a, b):
    """Minutes between two 'hh:mm', the short way round the day."""
    m = [int(t[0:2]) * 60 + int(t[3:5]) for t in (a, b)]
    return min((m[0] - m[1]) % 1440, (m[1] - m[0]) % 1440)


def rate_marks(catcher, timeout):
    """The rate datagrams that are not stop marks, within timeout seconds."""
    def some():
        return [d for d in catcher.take() if d != b'0']
    return wait_until(some, timeout, 'no rate datagram other than "0" on UDP %d' % catcher.port)[0]


def open_browser(profile, language='en-GB', font_size=16):
    """A headless Chromium whose languages are language, and whose text size
    setting is font_size pixels (16 is the default, 32 is text zoomed to 200 %)."""
    options = webdriver.ChromeOptions()
    options.binary_location = CHROMIUM
    for flag in CHROMIUM_FLAGS + ['--user-data-dir=' + profile, '--lang=' + language]:
        options.add_argument(flag)
    options.add_experimental_option('prefs', {'intl.accept_languages': language,
                                              'webkit.webprefs.default_font_size': font_size})
    return webdriver.Chrome(service=Service(CHROMEDRIVER), options=options)


# --- the checks ------------------------------------------------------------

def check_reads_stopped_clock(page, base_url):
    page.load()
    shown, took = wait_until(page.clock, 5, 'the page shows no time "hh:mm:ss"')
    state = state_json(base_url)
    if state.get('running'):
        raise Failure('the program is running; this test needs it stopped at the start')
    if shown != state['time']:
        raise Failure('the page shows %s, state.json says %s' % (shown, state['time']))
    passed('page loads and shows the time %s in %.2f s, as state.json does' % (shown, took))
    wait_until(page.stopped, 2, 'a stopped clock is not shown stopped: status "%s", digits at contrast %.1f'
               % (page.text('status'), page.contrast('digits')))
    word, digits = page.contrast('status'), page.contrast('digits')
    if word < 4.5 or digits < 3:
        raise Failure('stopped: "Stopped" at contrast %.1f:1 (needs 4.5), the dimmed digits at %.1f:1 (needs 3)'
                      % (word, digits))
    passed('stopped: the digits are dimmed to contrast %.1f:1, "Stopped" shows at %.1f:1' % (digits, word))
    wait_until(lambda: page.shown('control-button'), 2, 'the Control button is hidden although control is on')
    passed('the Control button shows')


def check_manifest(page, base_url, icons):
    """The home-screen pieces: the manifest as the page links it, and its icons."""
    links = page.script('return ["link[rel=manifest]", "link[rel=apple-touch-icon]", "meta[name=theme-color]"]'
                        '.map(function (q) { var n = document.querySelector(q);'
                        '  return n && (n.getAttribute("href") || n.content); })')
    if None in links:
        raise Failure('the page links manifest, apple-touch-icon and theme-color: found %r' % links)
    with urllib.request.urlopen(base_url + '/quorandel/manifest.webmanifest', timeout=5) as answer:
        kind = answer.headers.get('Content-Type', '')
        manifest = json.loads(answer.read())
    if kind != 'application/manifest+json':
        raise Failure('the manifest is served as "%s"' % kind)
    missing = [k for k in ('name', 'short_name', 'display', 'theme_color', 'background_color', 'icons', 'start_url')
               if not manifest.get(k)]
    if missing or manifest['display'] != 'fullscreen':
        raise Failure('the manifest lacks %r or is not fullscreen: %r' % (missing, manifest))
    sizes = sorted(icon['sizes'] for icon in manifest['icons'])
    if sizes != ['192x192', '512x512']:
        raise Failure('the manifest\'s icons are %r, not 192 and 512 px' % sizes)
    passed('the manifest is valid JSON (%s) with name "%s", display fullscreen, icons %s'
           % (kind, manifest['name'], ', '.join(sizes)))
    if not icons:
        return
    for src, size in [(i['src'], int(i['sizes'].split('x')[0])) for i in manifest['icons']] + [(links[1], 180)]:
        with urllib.request.urlopen(base_url + src, timeout=5) as answer:
            png = answer.read()
            kind = answer.headers.get('Content-Type', '')
        # The PNG's header chunk holds its width and height.
        if png[:8] != b'\x89PNG\r\n\x1a\n' or png[12:16] != b'IHDR' or kind != 'image/png':
            raise Failure('%s is no PNG (%s, %r)' % (src, kind, png[:16]))
        width, height = int.from_bytes(png[16:20], 'big'), int.from_bytes(png[20:24], 'big')
        if (width, height) != (size, size):
            raise Failure('%s is %dx%d, not %dx%d' % (src, width, height, size, size))
        passed('%s is a %dx%d PNG of %d bytes' % (src, width, height, len(png)))


def check_wrong_password(page, base_url, password, rate):
    rate.take()
    page.log_in(password + '-wrong')
    page.click('start')
    wait_until(lambda: 'Wrong password' in page.message() and page.shown('password'), 3,
               'a wrong password was not refused: message "%s"' % page.message())
    if state_json(base_url).get('running'):
        raise Failure('the clock started with a wrong password')
    started = [d for d in rate.take() if d != b'0']
    if started:
        raise Failure('rate datagrams %r went out after a wrong password' % started[:3])
    passed('a wrong password is refused: "%s", the password is asked again, the clock stays stopped'
           % page.message())


def check_start(page, password, rate, time_port):
    page.log_in(password)
    before = page.clock()
    rate.take()
    page.click('start')
    _, took = wait_until(page.running, FOLLOW_S, 'after Start the page does not show a running clock: '
                         'status "%s", contrast %.1f, message "%s"' % (page.text('status'), page.contrast('digits'),
                                                                       page.message()))
    passed('Start: the page shows the clock running after %.2f s (digits bright, "Stopped" gone)' % took)
    after, took = wait_until(lambda: page.clock() if later_clock(before, page.clock()) else None, 3,
                             'the time does not advance after Start (still %s)' % page.clock())
    passed('the time advances on the page: %s, then %s' % (before, after))
    marks = rate_marks(rate, 2)
    passed('the broadcast follows: rate datagram %r on UDP %d' % (marks[0].decode('ascii', 'replace'), rate.port))
    if time_port:
        hhmm = wait_until(time_port.take, 2, 'no time datagram on UDP %d' % time_port.port)[0][-1]
        hhmm = hhmm.decode('ascii', 'replace')
        shown = page.clock()
        if not re.fullmatch(r'\d{4}', hhmm) or minutes_apart(hhmm[0:2] + ':' + hhmm[2:4], shown[0:5]) > 1:
            raise Failure('time datagram "%s" does not match the page\'s %s' % (hhmm, shown))
        passed('the time channel agrees with the page: "%s" and %s' % (hhmm, shown))


def pressed_speeds(page):
    """The speed buttons marked as current: (text, aria-pressed, the mark drawn before it)."""
    return page.script('return [].filter.call(document.querySelectorAll("[data-speed]"), function (b) {'
                       '  return b.getAttribute("aria-pressed") === "true"; }).map(function (b) {'
                       '  return [b.textContent, getComputedStyle(b, "::before").content]; })')


def check_speed(page):
    page.click('speed-8')
    _, took = wait_until(lambda: page.text('speed') == '8:1', FOLLOW_S,
                         'the page does not show speed 8:1 (shows "%s", message "%s")'
                         % (page.text('speed'), page.message()))
    passed('speed 8 from its button: the page shows "8:1" after %.2f s' % took)
    marked, _ = wait_until(lambda: pressed_speeds(page) if [p[0] for p in pressed_speeds(page)] == ['8:1'] else None,
                           FOLLOW_S, 'the current speed is not the one button pressed: %r' % pressed_speeds(page))
    if '\u2713' not in marked[0][1]:
        raise Failure('the current speed button has no visible mark, only %r' % marked[0][1])
    passed('the current speed is marked by aria-pressed and a visible %s' % marked[0][1])


def check_refused_time(page):
    page.type('hours', '25')
    page.type('minutes', '0')
    page.click('set')
    wait_until(lambda: page.message() == 'Enter Less Than 24', 3,
               'hour 25 is not refused with the dialog\'s words: message "%s"' % page.message())
    passed('hour 25 is refused with the clock\'s own reason: "%s"' % page.message())


def check_set_both(page):
    page.type('hours', '6')
    page.type('minutes', '30')
    page.driver.find_element(By.CSS_SELECTOR, '#set-speed option[value="4"]').click()
    page.click('set')
    _, took = wait_until(lambda: page.clock() == '06:30:00' and page.text('speed') == '4:1' and page.stopped(),
                         FOLLOW_S, 'time and speed set in one step do not show: %s, "%s", status "%s"'
                         % (page.clock(), page.text('speed'), page.text('status')))
    passed('time 06:30 and speed 4 in one step: the page shows both, held, after %.2f s' % took)


def check_stop(page, rate):
    page.click('start')
    wait_until(page.running, FOLLOW_S, 'Start after a time set does not run the clock')
    rate_marks(rate, 2)
    rate.take()
    page.click('stop')
    _, took = wait_until(page.stopped, FOLLOW_S, 'after Stop the page does not show the clock stopped')
    passed('Stop: the page shows "Stopped" after %.2f s' % took)
    wait_until(lambda: b'0' in rate.take(), 2, 'no stop mark "0" on UDP %d after Stop' % rate.port)
    passed('the broadcast follows: stop marks "0" on UDP %d' % rate.port)


def requests_made(page, path):
    """How many streams or fetches for path the page made since forget_requests()."""
    return page.script('return window.__asked[arguments[0]] || 0', path)


def forget_requests(page):
    page.script('window.__asked = {}')


def check_quiet_stopped_clock(page):
    # No event but the ping comes while the clock stands still; the page must
    # know all along that the program is there, without asking it or
    # dropping the stream.
    forget_requests(page)
    shown = page.clock()
    end = time.monotonic() + 40
    while time.monotonic() < end:
        if page.text('status') != 'Stopped' or page.clock() != shown:
            raise Failure('%.0f s into a stopped clock the page shows %s, status "%s"'
                          % (40 - (end - time.monotonic()), page.clock(), page.text('status')))
        time.sleep(0.1)
    passed('40 s without a change: "Stopped" at %s all along, never "No connection"' % shown)
    checks, streams = requests_made(page, '/quorandel/state.json'), requests_made(page, '/quorandel/events')
    if checks or streams:
        raise Failure('the pings every 15 s should keep a quiet stream trusted: %d state.json requests, '
                      '%d new streams in 40 s' % (checks, streams))
    passed('the stream\'s pings kept it trusted: no state.json check, no new stream in 40 s')


def tab_to(page, element_id, most=8):
    """Presses Tab until element_id has the focus; the ids passed on the way."""
    passed_by = []
    for _ in range(most):
        page.keys(Keys.TAB)
        passed_by.append(page.active_id())
        if passed_by[-1] == element_id:
            return passed_by
    raise Failure('Tab never reached #%s: focus went %r' % (element_id, passed_by))


def focus_ring(page):
    return page.script('var s = getComputedStyle(document.activeElement);'
                       'return s.outlineStyle === "none" ? 0 : parseFloat(s.outlineWidth)')


def check_keyboard_start(page):
    """From a page without focus to a running clock with Tab and Enter alone;
    the password is known from before."""
    page.script('if (document.activeElement) document.activeElement.blur()')
    page.load()
    wait_until(lambda: page.shown('control-button'), 5, 'the Control button does not show')
    way = tab_to(page, 'digits')
    if focus_ring(page) < 2:
        raise Failure('the focused digits show no focus ring')
    page.keys(Keys.SPACE)
    wait_until(lambda: not page.shown('seconds'), 2, 'Space on the digits does not hide the seconds')
    page.keys(Keys.ENTER)
    wait_until(lambda: page.shown('seconds'), 2, 'Enter on the digits does not show the seconds again')
    passed('keyboard: Tab reaches the digits (%s), focus ring %.0f px; Space hides the seconds, Enter shows them'
           % (' > '.join(way), focus_ring(page)))
    tab_to(page, 'control-button')
    ring = focus_ring(page)
    page.keys(Keys.ENTER)
    wait_until(lambda: page.shown('panel') and page.active_id() == 'start', 2,
               'Enter on Control does not open the panel with Start focused (focus on #%s)' % page.active_id())
    page.keys(Keys.ENTER)
    _, took = wait_until(page.running, FOLLOW_S, 'Enter on Start does not start the clock: message "%s"'
                         % page.message())
    page.keys(Keys.ESCAPE)
    wait_until(lambda: not page.shown('panel') and page.active_id() == 'control-button', 2,
               'Escape does not close the panel and give the focus back to Control')
    passed('keyboard: Tab to Control (ring %.0f px), Enter opens the panel on Start, Enter starts the clock '
           '(%.2f s), Escape closes the panel' % (ring, took))


def check_keyboard_stop(page):
    page.keys(Keys.ENTER)
    wait_until(lambda: page.shown('panel') and page.active_id() == 'stop', 2,
               'Enter on Control while running does not open the panel with Stop focused (#%s)' % page.active_id())
    page.keys(Keys.SPACE)
    _, took = wait_until(page.stopped, FOLLOW_S, 'Space on Stop does not stop the clock: message "%s"' % page.message())
    page.keys(Keys.ESCAPE)
    wait_until(lambda: not page.shown('panel'), 2, 'Escape does not close the panel')
    passed('keyboard: Enter opens the panel on Stop, Space stops the clock (%.2f s), Escape closes it' % took)


def check_steady_seconds(page, base_url, seconds=60):
    """The digits, read ten times a second, never step back, skip or stall
    while the page keeps being given the state afresh: the stream reopened
    and state.json asked every few seconds, as after a wake-up, at whatever
    phase of the model second."""
    state = state_json(base_url)
    speed, period = state['speed'], state['interval'] / 1000.0
    forget_requests(page)
    page.script('window.__spoken.length = 0')
    start = time.monotonic()
    first = last = page.seconds_of_day()
    last_at = start
    changes = []  # (the last sample before, the first sample after) each change of the digits
    longest = 0.0
    samples = refreshes = worst = 0
    next_refresh = start + 3
    while time.monotonic() - start < seconds:
        tick = time.monotonic()
        now_shown = page.seconds_of_day()
        at = time.monotonic()
        step = (now_shown - last) % 86400
        if step > 43200:
            raise Failure('the seconds went back from %d to %d at %.1f s' % (last, now_shown, at - start))
        # More seconds than the time between the two readings allows, with one to spare.
        if step > 1 and (step - 1) * period > at - last_at:
            raise Failure('the seconds skipped from %d to %d in %.2f s at %.1f s'
                          % (last, now_shown, at - last_at, at - start))
        if step:
            changes.append((last_at, at))
            if len(changes) >= 2:
                # At least this long the second before stood, whatever the readings' delays.
                shortest = changes[-1][0] - changes[-2][1]
                longest = max(longest, shortest)
                if shortest > 1.25 * period:
                    raise Failure('the second before %d stood at least %.2f s, the period is %.2f s (at %.1f s)'
                                  % (now_shown, shortest, period, at - start))
        last, last_at = now_shown, at
        samples += 1
        if tick >= next_refresh:
            state = state_json(base_url)
            told = int(state['time'][0:2]) * 3600 + int(state['time'][3:5]) * 60 + int(state['time'][6:8])
            off = (page.seconds_of_day() - told + 43200) % 86400 - 43200
            worst = max(worst, abs(off))
            if abs(off) > 2:
                raise Failure('the page is %d model seconds off state.json (%s)' % (off, state['time']))
            page.script('document.dispatchEvent(new Event("visibilitychange"))')
            refreshes += 1
            next_refresh = tick + 2.3 + (refreshes % 3) * 0.37
        time.sleep(max(0.0, 0.1 - (time.monotonic() - tick)))
    advanced = (last - first) % 86400
    asked = requests_made(page, '/quorandel/state.json')
    if samples < 300 or advanced < 0.8 * seconds * speed or asked < refreshes:
        raise Failure('%d samples, %d model seconds at %d:1 in %d s, %d of %d refreshes asked state.json'
                      % (samples, advanced, speed, seconds, asked, refreshes))
    passed('%d s at %d:1: %d samples, the seconds never went back, skipped or stood longer than %.2f s '
           '(period %.2f s) through %d refreshes; state.json agreed within %d s'
           % (seconds, speed, samples, longest, period, refreshes, worst))
    spoken = page.script('return window.__spoken.map(function (e) { return e[1]; })')
    minutes = [re.fullmatch(r'Model time (\d\d:\d\d)', text) for text in spoken]
    if None in minutes or len(set(spoken)) != len(spoken) or not (advanced // 60 - 1 <= len(spoken) <= advanced // 60 + 1):
        raise Failure('the spoken time should change once a model minute (%d minutes): %r' % (advanced // 60, spoken))
    live = page.script('var n = document.getElementById("spoken-time");'
                       'return [n.getAttribute("aria-live"), document.querySelectorAll("[aria-live]").length]')
    if live != ['polite', 1]:
        raise Failure('the spoken time is to be the one polite live region: %r' % live)
    passed('the polite live region spoke %d times in %d model minutes: %s' % (len(spoken), advanced // 60,
                                                                            ', '.join(spoken)))


def check_hidden_shown(page, base_url, mock):
    """A tab in the background, shown again: the stream is opened anew at
    once, the screen lock asked again, and the page shows the clock as it is."""
    forget_requests(page)
    locks = page.script('window.__visibility.length = 0; return window.__wakeLocks')
    first = page.driver.current_window_handle
    page.driver.switch_to.new_window('tab')
    if mock:
        mock.control('start')
    time.sleep(3)
    page.driver.close()
    page.driver.switch_to.window(first)
    page.driver.execute_cdp_cmd('Page.bringToFront', {})
    _, took = wait_until(lambda: requests_made(page, '/quorandel/events') >= 1, 2,
                         'the stream was not opened anew when the tab was shown again')
    hidden = page.script('return window.__visibility.join(" then ")')
    if hidden != 'hidden then visible':
        raise Failure('the tab was to be hidden and shown, it went: %s' % hidden)
    if page.script('return window.__wakeLocks') <= locks:
        raise Failure('the screen wake lock was not asked for again when the tab was shown')
    if mock:
        wait_until(page.running, FOLLOW_S, 'a Start while the tab was hidden does not show')
        mock.control('stop')
        wait_until(page.stopped, FOLLOW_S, 'the reopened stream does not carry a Stop')
    passed('tab %s: a new stream after %.2f s, the wake lock asked again%s'
           % (hidden, took, ', a Start made meanwhile shows' if mock else ''))


def check_lock_out(page, password):
    # The wrong password earlier counted too; at most six more reach the lock.
    for attempt in range(6):
        page.log_in(password + '-wrong')
        page.click('start')
        wait_until(lambda: 'Wrong password' in page.message() or 'Wait a minute' in page.message(), 3,
                   'no answer to a wrong password: message "%s"' % page.message())
        if 'Wait a minute' in page.message():
            passed('repeated wrong passwords lock the address out: "%s"' % page.message())
            return
    raise Failure('seven wrong passwords in a row were never answered with a lock-out')


def check_options(page, base_url, shots):
    """?kiosk, ?h12 and ?seconds=1, each from a fresh load."""
    page.script('localStorage.setItem("quorandel.hideSeconds", "1")')
    page.load()
    wait_until(page.clock, 5, 'the page shows no time')
    if page.shown('seconds'):
        raise Failure('seconds hidden by the visitor show again after a reload')
    page.load('?seconds=1')
    wait_until(lambda: page.clock() and page.shown('seconds'), 5, '?seconds=1 does not show the seconds')
    passed('?seconds=1 shows the seconds although the visitor had hidden them')
    page.script('localStorage.removeItem("quorandel.hideSeconds")')

    page.load('?h12')
    told = state_json(base_url)['time']
    hour = int(told[0:2])
    want = '%d%s' % (hour % 12 or 12, 'AM' if hour < 12 else 'PM')
    shown, _ = wait_until(lambda: page.text('hh') + page.text('ampm') if page.text('ampm') else None, 5,
                          '?h12 shows no AM/PM')
    small = page.script('return parseFloat(getComputedStyle(document.getElementById("ampm")).fontSize) /'
                        ' parseFloat(getComputedStyle(document.getElementById("hh")).fontSize)')
    if shown != want or small > 0.5:
        raise Failure('?h12 at %s shows %s (want %s), AM/PM at %.2f of the digits\' size' % (told, shown, want, small))
    passed('?h12: %s shows as hour %s with a small "%s" (%.2f of the digits)'
           % (told, page.text('hh'), page.text('ampm'), small))
    page.load()
    wait_until(page.clock, 5, 'the page shows no time')
    if page.text('ampm') or len(page.text('hh')) != 2:
        raise Failure('without ?h12 the hours are not 24-hour: "%s" "%s"' % (page.text('hh'), page.text('ampm')))

    page.load('?kiosk')
    wait_until(page.clock, 5, 'the page shows no time in kiosk mode')
    time.sleep(0.5)
    chrome = [i for i in ('control-button', 'speed', 'next-speed', 'panel') if page.shown(i)]
    if chrome or not page.shown('status'):
        raise Failure('?kiosk still shows %r (status shown: %s)' % (chrome, page.shown('status')))
    passed('?kiosk: no Control button, no speed line, only the time and "%s"' % page.text('status'))
    page.screenshot(shots, 'kiosk-stopped', 1920, 1080)


def check_text_zoom(base_url, shots):
    """Text at 200 %: nothing on the face overlaps or leaves the screen, and
    the panel scrolls rather than cutting anything off."""
    profile = tempfile.mkdtemp(prefix='quorandel-chromium-')
    driver = open_browser(profile, font_size=32)
    try:
        page = Page(driver, base_url)
        for width, height in ((390, 844), (844, 390)):
            page.screen(width, height)
            page.load()
            wait_until(lambda: page.clock() and page.shown('control-button'), 5, 'no time at 200 % text')
            time.sleep(0.5)
            boxes = page.script('return ["speeds", "status", "digits", "note", "control-button"].map(function (id) {'
                                '  var r = document.getElementById(id).getBoundingClientRect();'
                                '  return [id, r.left, r.top, r.right, r.bottom]; })')
            boxes = [b for b in boxes if b[4] - b[2] > 1]  # an empty note takes no room
            size = page.script('return parseFloat(getComputedStyle(document.getElementById("speed")).fontSize)')
            if size < 40:
                raise Failure('the browser\'s text size setting did not reach the page: speed at %.0f px' % size)
            for i, a in enumerate(boxes):
                if a[1] < -1 or a[2] < -1 or a[3] > width + 1 or a[4] > height + 1:
                    raise Failure('at 200 %% text, %dx%d: #%s leaves the screen: %r' % (width, height, a[0], a))
                for b in boxes[i + 1:]:
                    if a[1] < b[3] - 1 and b[1] < a[3] - 1 and a[2] < b[4] - 1 and b[2] < a[4] - 1:
                        raise Failure('at 200 %% text, %dx%d: #%s and #%s overlap: %r %r'
                                      % (width, height, a[0], b[0], a, b))
            page.click('control-button')
            overflow = page.script('var p = document.getElementById("panel"), r = p.getBoundingClientRect();'
                                   'return [p.scrollWidth - p.clientWidth, p.scrollHeight, p.clientHeight,'
                                   '        r.left, r.right]')
            if overflow[0] > 1 or overflow[3] < -1 or overflow[4] > width + 1:
                raise Failure('at 200 %% text, %dx%d the panel does not fit the width: %d px too wide inside, '
                              'from x %.0f to %.0f' % (width, height, overflow[0], overflow[3], overflow[4]))
            page.screenshot(shots, 'text-200-panel', width, height)
            passed('200 %% text at %dx%d: the speed line at %.0f px, face parts apart and on screen, '
                   'the panel fits its width (%s)' % (width, height, size,
                                                      'scrolls' if overflow[1] > overflow[2] else 'all shown'))
    finally:
        driver.quit()
        shutil.rmtree(profile, ignore_errors=True)


def check_german(base_url, shots, mock):
    profile = tempfile.mkdtemp(prefix='quorandel-chromium-')
    driver = open_browser(profile, language='de')
    try:
        page = Page(driver, base_url)
        page.stopped_word = 'Angehalten'
        page.load()
        wait_until(page.stopped, 5, 'a German browser does not see "Angehalten": status "%s"' % page.text('status'))
        words = (page.script('return document.documentElement.lang'),
                 page.script('return document.getElementById("control-button").textContent'),
                 page.script('return document.getElementById("seconds-hint").textContent'))
        if words != ('de', 'Steuerung', 'Zeigt oder verbirgt die Sekunden'):
            raise Failure('a German browser gets %r' % (words,))
        passed('German from --lang=de: "%s", Control button "%s", the seconds toggle described "%s"'
               % (page.text('status'), words[1], words[2]))
        page.screenshot(shots, 'german-stopped', 390, 844)
        if mock:
            mock.control('start')
            wait_until(page.running, FOLLOW_S, 'the German page does not follow a Start')
            page.screenshot(shots, 'german-running', 844, 390)
            page.click('control-button')
            page.screenshot(shots, 'german-running-panel', 844, 390)
            page.click('close-panel')
            mock.mute()
            wait_until(lambda: page.text('status') == 'Keine Verbindung', 25, 'no "Keine Verbindung"')
            note = page.text('note')
            if not re.fullmatch(r'zuletzt gehört vor \d+ s', note):
                raise Failure('lost, the German page says "%s"' % note)
            passed('German, the program silent: "Keine Verbindung", "%s"' % note)
            mock.unmute()
            mock.control('stop')
            wait_until(page.stopped, 12, 'the German page does not recover')
    finally:
        driver.quit()
        shutil.rmtree(profile, ignore_errors=True)


class Accessibility:
    """axe-core's rules run inside the page as it stands; only the serious
    and critical kinds fail the test. Without axe-core installed (npm ci in
    tests/browser) it says so once and checks nothing."""

    def __init__(self, script_file):
        self.source = None
        self.states = []
        if script_file and os.path.exists(script_file):
            with open(script_file, encoding='utf-8') as f:
                self.source = f.read()

    def check(self, page, what):
        if self.source is None:
            return
        if not page.script('return !!window.axe'):
            page.script(self.source)
        page.driver.set_script_timeout(30)
        found = page.driver.execute_async_script(
            'var done = arguments[arguments.length - 1];'
            'axe.run(document, {resultTypes: ["violations"]}).then(function (r) {'
            '  done(r.violations.map(function (v) {'
            '    return [v.impact, v.id, v.nodes.slice(0, 3).map(function (n) { return n.target.join(" "); })]; }));'
            '}, function (e) { done([["error", String(e), []]]); });')
        bad = [v for v in found if v[0] in ('serious', 'critical', 'error')]
        if bad:
            raise Failure('axe-core finds %s: %r' % (what, bad))
        self.states.append('%s (%d lesser)' % (what, len(found)) if found else what)

    def report(self):
        if self.source is None:
            print('SKIP axe-core is not installed (npm ci in tests/browser): no accessibility rules run', flush=True)
        else:
            passed('axe-core: no serious or critical violation %s' % ', '.join(self.states))


# --- checks that need the mock's misbehaviour -----------------------------

def check_no_connection(page, mock, axe):
    mock.mute()
    _, took = wait_until(lambda: page.text('status') == 'No connection' and page.dim(), 25,
                         'the page does not say "No connection" when the program stops answering')
    heard = page.text('note')
    if not re.fullmatch(r'last heard (2\d|3\d) s ago', heard):
        raise Failure('lost after %.1f s, the page says "%s"' % (took, heard))
    passed('program silent: "No connection" after %.1f s, "%s"' % (took, heard))
    axe.check(page, 'no connection')
    mock.unmute()
    mock.control('start')
    _, took = wait_until(page.running, 12, 'the page does not recover when the program answers again')
    passed('program back: the page recovers by itself after %.1f s and shows the clock running' % took)
    mock.control('stop')
    wait_until(page.stopped, FOLLOW_S, 'after recovering the page does not follow a Stop at once')
    passed('after recovering, the stream carries changes again within a second')


def check_cut_stream(page, mock):
    """The server stops sending on the open stream but never closes it: the
    page keeps counting, asks state.json meanwhile so "No connection" never
    shows, opens a new stream within 40 s, and that one carries changes."""
    mock.control('start')
    wait_until(page.running, FOLLOW_S, 'the page does not follow a Start')
    opened = mock.streams_opened
    mock.cut_streams()
    start = time.monotonic()
    first = page.seconds_of_day()
    while mock.streams_opened == opened:
        if time.monotonic() - start > 40:
            raise Failure('a stream cut without closing was not replaced within 40 s')
        if page.text('status') == 'No connection':
            raise Failure('%.0f s after the cut the page says "No connection" though state.json answers'
                          % (time.monotonic() - start))
        time.sleep(0.1)
    took = time.monotonic() - start
    counted = (page.seconds_of_day() - first) % 86400
    if counted < took * 0.5:
        raise Failure('the page stopped counting while its stream was dead: %d model s in %.0f s' % (counted, took))
    mock.control('stop')
    _, follow = wait_until(page.stopped, FOLLOW_S, 'the new stream does not carry a Stop')
    passed('stream cut without closing: the page kept counting (%d model s), a new stream after %.1f s, '
           'which carried a Stop in %.2f s' % (counted, took, follow))


def check_wake_from_sleep(page, mock):
    """A page whose timers slept for 25 s (a phone with its screen off, its
    connection gone meanwhile) and then wakes: no "No connection" flashes
    before the first answer."""
    page.script('window.__statusSeen.length = 0')
    page.driver.execute_cdp_cmd('Page.setWebLifecycleState', {'state': 'frozen'})
    mock.cut_streams()
    mock.control('start')
    time.sleep(25)
    page.driver.execute_cdp_cmd('Page.setWebLifecycleState', {'state': 'active'})
    _, took = wait_until(page.running, 6, 'after waking the page does not show the Start made during its sleep')
    time.sleep(1)
    seen = page.script('return window.__statusSeen.map(function (e) { return e[1]; })')
    if 'No connection' in seen:
        raise Failure('waking after 25 s the page flashed "No connection": %r' % seen)
    passed('woken after 25 s of frozen timers: the clock running after %.2f s, status went %r' % (took, seen))
    # A frozen tab comes back hidden; another tab shown and closed brings it to the front.
    first = page.driver.current_window_handle
    page.driver.switch_to.new_window('tab')
    page.driver.close()
    page.driver.switch_to.window(first)
    wait_until(lambda: page.script('return document.visibilityState') == 'visible', 5, 'the tab stays hidden')
    mock.control('stop')
    wait_until(page.stopped, FOLLOW_S, 'after waking the page does not follow a Stop')


def check_polling(page, mock):
    mock.events_refused = True
    page.load()
    wait_until(page.stopped, 5, 'without the events stream the page does not show the clock')
    mock.control('start')
    _, took = wait_until(page.running, FOLLOW_S, 'without the events stream the page does not follow a Start')
    passed('events refused: polling state.json, the page follows a Start after %.2f s' % took)
    mock.control('stop')
    wait_until(page.stopped, FOLLOW_S, 'polling: the page does not follow a Stop')
    mock.events_refused = False


def check_wake_hint(page):
    """Without a screen wake lock the panel says once how to keep the screen on."""
    page.script('localStorage.removeItem("quorandel.wakeHintSaid")')
    marker = page.driver.execute_cdp_cmd('Page.addScriptToEvaluateOnNewDocument',
                                         {'source': 'delete Navigator.prototype.wakeLock;'})
    try:
        page.load()
        wait_until(lambda: page.shown('control-button'), 5, 'the Control button does not show')
        page.click('control-button')
        hint = page.text('wake-hint') if page.shown('wake-hint') else ''
        if 'screen' not in hint:
            raise Failure('without a wake lock the panel does not say how to keep the screen on: "%s"' % hint)
        page.click('close-panel')
        page.click('control-button')
        if page.shown('wake-hint'):
            raise Failure('the screen hint is said a second time')
        page.click('close-panel')
        page.load()
        wait_until(lambda: page.shown('control-button'), 5, 'the Control button does not show')
        page.click('control-button')
        if page.shown('wake-hint'):
            raise Failure('the screen hint is said again after a reload')
        page.click('close-panel')
    finally:
        page.driver.execute_cdp_cmd('Page.removeScriptToEvaluateOnNewDocument', marker)
    passed('no wake lock: the panel says once "%s"' % hint)


def check_control_off(page, mock):
    mock.clock.set_password('')
    wait_until(lambda: not page.shown('control-button') and not page.shown('panel'), FOLLOW_S,
               'the Control button stays although control was switched off')
    passed('control switched off: the Control button is hidden')


def run(args, mock=None):
    base_url = (mock.url if mock else args.url).rstrip('/')
    shots = args.screenshots
    axe = Accessibility(args.axe)
    rate = UdpCatcher(0 if mock else args.rate_port, '127.0.0.1' if mock else '')
    times = UdpCatcher(0 if mock else args.time_port, '127.0.0.1' if mock else '')
    if mock:
        mock.rate_target = ('127.0.0.1', rate.port)
        mock.time_target = ('127.0.0.1', times.port)
    profile = tempfile.mkdtemp(prefix='quorandel-chromium-')
    driver = None
    try:
        driver = open_browser(profile)
        page = Page(driver, base_url)
        check_reads_stopped_clock(page, base_url)
        axe.check(page, 'stopped')
        check_manifest(page, base_url, icons=not mock)
        page.screenshot(shots, 'stopped-portrait', 390, 844)
        page.screenshot(shots, 'stopped-landscape', 844, 390)
        page.open_control()
        axe.check(page, 'asking the password')
        check_wrong_password(page, base_url, args.password, rate)
        check_start(page, args.password, rate, times)
        axe.check(page, 'controls open')
        page.click('close-panel')
        axe.check(page, 'running')
        page.screenshot(shots, 'running-portrait', 390, 844)
        page.screenshot(shots, 'running-landscape', 844, 390)
        page.open_control()
        page.screenshot(shots, 'control-portrait', 390, 844)
        check_speed(page)
        check_refused_time(page)
        check_set_both(page)
        check_stop(page, rate)
        check_quiet_stopped_clock(page)
        # 2:1, so that ten readings a second can tell a second that stood too long.
        page.open_control()
        page.click('speed-2')
        wait_until(lambda: page.text('speed') == '2:1', FOLLOW_S, 'the page does not show speed 2:1')
        page.click('close-panel')
        check_keyboard_start(page)
        check_steady_seconds(page, base_url)
        page.load('?kiosk')
        wait_until(page.running, 5, 'the kiosk page does not show the clock running')
        page.screenshot(shots, 'kiosk-running', 1920, 1080)
        axe.check(page, 'kiosk')
        page.load()
        wait_until(lambda: page.shown('control-button'), 5, 'the Control button does not show')
        tab_to(page, 'control-button')
        check_keyboard_stop(page)
        check_hidden_shown(page, base_url, mock)
        check_options(page, base_url, shots)
        check_wake_hint(page)
        page.load()
        if mock:
            check_no_connection(page, mock, axe)
            check_cut_stream(page, mock)
            check_wake_from_sleep(page, mock)
            check_polling(page, mock)
        check_german(base_url, shots, mock)
        check_text_zoom(base_url, shots)
        check_lock_out(page, args.password)
        if mock:
            check_control_off(page, mock)
        axe.report()
    finally:
        if driver:
            driver.quit()
        shutil.rmtree(profile, ignore_errors=True)
        rate.close()
        times.close()


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument('url', nargs='?', default=os.environ.get('QUORANDEL_URL', ''),
                        help='base address of the program, e.g. http://127.0.0.1:8080')
    parser.add_argument('--password', default=os.environ.get('QUORANDEL_CONTROL_PASSWORD', ''),
                        help='the control password set in the program')
    parser.add_argument('--rate-port', type=int, default=7792, help='UDP port of the rate channel')
    parser.add_argument('--time-port', type=int, default=7791, help='UDP port of the time channel')
    parser.add_argument('--mock', action='store_true', help='start the mock server and test against it')
    parser.add_argument('--axe', default=os.path.join(os.path.dirname(os.path.abspath(__file__)), 'node_modules',
                                                      'axe-core', 'axe.min.js'),
                        help='axe-core\'s axe.min.js (default: tests/browser/node_modules, from npm ci)')
    parser.add_argument('--screenshots', help='folder for screenshots of the page (portrait and landscape)')
    args = parser.parse_args()
    if args.mock and not args.password:
        args.password = 'mock-password'
    if not args.mock and not args.url:
        parser.error('give the program\'s URL (or QUORANDEL_URL), or --mock')
    if not args.password:
        parser.error('give the control password (--password or QUORANDEL_CONTROL_PASSWORD)')
    if args.screenshots:
        os.makedirs(args.screenshots, exist_ok=True)

    mock = None
    if args.mock:
        sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
        from mock_server import MockServer
        mock = MockServer(args.password).start()
        print('     mock server at %s' % mock.url, flush=True)
    try:
        run(args, mock)
    except Failure as failure:
        print('FAIL ' + str(failure), flush=True)
        return 1
    except (WebDriverException, OSError, ValueError) as error:
        print('FAIL the test could not run: %s' % str(error).strip().splitlines()[0], flush=True)
        return 1
    finally:
        if mock:
            mock.close()
    print('All checks passed.', flush=True)
    return 0


if __name__ == '__main__':
    sys.exit(main())

#!/usr/bin/python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""Drives the live clock page in headless Chromium, as a person on the layout
would: reads the clock, logs in, starts, sets and stops it (with the mouse and
with the keyboard alone), and checks that the page and the UDP broadcast
follow, that a wrong password is refused, that the seconds run steadily, that
a dead stream is replaced, and the page's options, languages and manifest.
Against the program, Firefox ESR draws the page too, when it is installed.

    test_live_page.py URL --password PW   the running program (inside the private network),
                                          stopped and not locked against this address
    test_live_page.py --mock              a mock server it starts itself, with the checks
                                          that need a program that misbehaves

Prints one line per check and exits non-zero at the first failure.
"""

import argparse
import base64
import contextlib
import json
import os
import pathlib
import re
import shutil
import socket
import subprocess
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

from mock_server import MockServer

CHROMIUM_FLAGS = ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
                  '--disable-background-networking', '--disable-component-update', '--disable-sync',
                  '--disable-dev-shm-usage', '--window-size=1280,720']
FIREFOX = '/usr/bin/firefox-esr'
# The program's rate and time channels.
RATE_PORT, TIME_PORT = 7792, 7791
# The page must follow a change within a second; the rest is the test's own
# round trips through the driver, on a machine that may be busy.
FOLLOW_S = 2.0


class Failure(Exception):
    pass


def passed(text):
    print('PASS ' + text, flush=True)


def require(condition, failure):
    if not condition:
        raise Failure(failure)


def wait_until(condition, what, timeout=FOLLOW_S):
    """The first true value of condition() within timeout seconds, with the time it took."""
    start = time.monotonic()
    while True:
        value, took = condition(), time.monotonic() - start
        if value:
            return value, took
        require(took < timeout, '%s (waited %.1f s)' % (what, timeout))
        time.sleep(0.05)


def seconds_of(hhmmss):
    return int(hhmmss[0:2]) * 3600 + int(hhmmss[3:5]) * 60 + int(hhmmss[6:8])


def fetch(url):
    """The Content-Type and the body of a GET."""
    with urllib.request.urlopen(url, timeout=5) as answer:
        return answer.headers.get('Content-Type', ''), answer.read()


def state_json(base_url):
    return json.loads(fetch(base_url + '/quorandel/state.json')[1])


class UdpCatcher:
    """Every datagram reaching a port, shared with other listeners as the project's catcher does."""

    def __init__(self, port):
        self.sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        self.sock.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        self.sock.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEPORT, 1)
        self.sock.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4 * 1024 * 1024)
        self.sock.bind(('', port))
        self.sock.setblocking(False)
        self.port = self.sock.getsockname()[1]

    def take(self):
        got = []
        while True:
            try:
                got.append(self.sock.recv(2048))
            except BlockingIOError:
                return got

    def rates(self, timeout=2):
        """The rate datagrams that are not stop marks, within timeout seconds."""
        return wait_until(lambda: [d for d in self.take() if d != b'0'], 'no rate datagram other than "0" on UDP %d'
                          % self.port, timeout)[0]


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
  var style = getComputedStyle(n), bg = rgb(style.backgroundColor);
  opacity *= +style.opacity;
  if (bg.a > 0 && back === null) back = bg.c;
}
back = back || [0, 0, 0];
var fg = rgb(getComputedStyle(node).color), a = fg.a * opacity;
var mixed = fg.c.map(function (v, i) { return v * a + back[i] * (1 - a); });
var l1 = lum(mixed), l2 = lum(back);
return (Math.max(l1, l2) + 0.05) / (Math.min(l1, l2) + 0.05);
"""

# Installed before the page's own script: every wake lock, stream and fetch
# the page asks for, and every text the status and the spoken time ever show.
RECORDER_JS = r"""
window.__wakeLocks = 0;
window.__asked = {};
function asked(url) { var p = new URL(url, location.href).pathname; window.__asked[p] = (window.__asked[p] || 0) + 1; }
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
window.__visibility = [];
document.addEventListener('visibilitychange', function () { window.__visibility.push(document.visibilityState); });
document.addEventListener('DOMContentLoaded', function () {
  ['status', 'spoken-time'].forEach(function (id) {
    var node = document.getElementById(id), log = window['__seen-' + id] = [];
    new MutationObserver(function () { log.push(node.textContent); })
      .observe(node, {childList: true, characterData: true, subtree: true});
  });
});
"""


class Page:
    """The live page in one browser tab, read through its element ids."""

    def __init__(self, driver, base_url, stopped_word='Stopped'):
        self.driver, self.base_url, self.stopped_word = driver, base_url, stopped_word
        driver.execute_cdp_cmd('Page.addScriptToEvaluateOnNewDocument', {'source': RECORDER_JS})

    def load(self, query='', until=None, what='the page shows no time'):
        """Loads the page and waits until it shows a time, or until until() holds; its value and the time taken."""
        self.driver.get(self.base_url + '/quorandel/' + query)
        return wait_until(until or self.clock, what, 5)

    def script(self, code, *args):
        return self.driver.execute_script(code, *args)

    def element(self, element_id):
        return self.driver.find_element(By.ID, element_id)

    def text(self, element_id):
        return self.element(element_id).text.strip()

    def shown(self, element_id):
        return self.element(element_id).is_displayed()

    def click(self, element_id):
        self.element(element_id).click()

    def type(self, element_id, text):
        self.element(element_id).clear()
        self.element(element_id).send_keys(text)

    def keys(self, *keys):
        ActionChains(self.driver).send_keys(*keys).perform()

    def active_id(self):
        return self.script('return document.activeElement && document.activeElement.id')

    def contrast(self, element_id):
        return self.script(CONTRAST_JS, self.element(element_id))

    def message(self):
        return self.text('message')

    def clock(self):
        """'hh:mm:ss' as shown, or None while the page shows no time yet."""
        # textContent: upright, the colon between hours and minutes is not drawn.
        shown = self.script('return document.getElementById("time").textContent +'
                            ' document.getElementById("seconds").textContent')
        return shown if re.fullmatch(r'\d\d:\d\d:\d\d', shown) else None

    def seconds(self):
        shown = self.clock()
        return seconds_of(shown) if shown else None

    def dim(self):
        """The digits are drawn dimmed (a stopped, waiting or lost clock)."""
        return self.contrast('digits') < 8

    def stopped(self):
        return self.text('status') == self.stopped_word and self.dim()

    def running(self):
        return self.text('status') != self.stopped_word and not self.dim()

    def asked(self, path):
        """How many streams or fetches for path the page made since forget_asked()."""
        return self.script('return window.__asked[arguments[0]] || 0', path)

    def forget_asked(self):
        self.script('window.__asked = {}')

    def open_control(self):
        if not self.shown('panel'):
            self.click('control-button')

    def log_in(self, password):
        self.open_control()
        if not self.shown('password'):
            self.click('logout')
        self.type('password', password)
        self.click('login')
        wait_until(lambda: self.shown('start'), 'the controls did not appear after logging in')

    def screen(self, width, height):
        self.driver.execute_cdp_cmd('Emulation.setDeviceMetricsOverride', {
            'width': width, 'height': height, 'deviceScaleFactor': 1, 'mobile': width < 1000})

    def screenshot(self, folder, name, width, height):
        if not folder:
            return
        self.screen(width, height)
        # The page fits its digits on the resize event; give it that frame.
        wait_until(lambda: self.script('return document.getElementById("digits").style.fontSize'),
                   'the digits were never fitted')
        time.sleep(0.5)
        path = os.path.join(folder, '%s-%dx%d.png' % (name, width, height))
        self.driver.save_screenshot(path)
        self.driver.execute_cdp_cmd('Emulation.clearDeviceMetricsOverride', {})
        print('     screenshot ' + path, flush=True)


@contextlib.contextmanager
def browser(base_url, stopped_word='Stopped', language='en-GB', font_size=16):
    """The page in a headless Chromium of its own, whose languages are
    language and whose text size setting is font_size pixels (16 is the
    default, 32 is text zoomed to 200 %)."""
    profile = tempfile.mkdtemp(prefix='quorandel-chromium-')
    options = webdriver.ChromeOptions()
    options.binary_location = '/usr/bin/chromium'
    for flag in CHROMIUM_FLAGS + ['--user-data-dir=' + profile, '--lang=' + language]:
        options.add_argument(flag)
    options.add_experimental_option('prefs', {'intl.accept_languages': language,
                                              'webkit.webprefs.default_font_size': font_size})
    driver = None
    try:
        driver = webdriver.Chrome(service=Service('/usr/bin/chromedriver'), options=options)
        yield Page(driver, base_url, stopped_word)
    finally:
        if driver:
            driver.quit()
        shutil.rmtree(profile, ignore_errors=True)


@contextlib.contextmanager
def another_tab(page):
    """Hides the page behind a new tab, then closes that one and brings the page to the front."""
    first = page.driver.current_window_handle
    page.driver.switch_to.new_window('tab')
    yield
    page.driver.close()
    page.driver.switch_to.window(first)
    page.driver.execute_cdp_cmd('Page.bringToFront', {})


class Accessibility:
    """axe-core's rules run inside the page as it stands; only the serious
    and critical kinds fail the test. Without axe-core installed (npm ci in
    tests/browser) it says so once and checks nothing."""

    def __init__(self, script_file):
        self.source = pathlib.Path(script_file).read_text('utf-8') if os.path.exists(script_file) else None
        self.states = []

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
        require(not bad, 'axe-core finds %s: %r' % (what, bad))
        self.states.append('%s (%d lesser)' % (what, len(found)) if found else what)

    def report(self):
        if self.source is None:
            print('SKIP axe-core is not installed (npm ci in tests/browser): no accessibility rules run', flush=True)
        else:
            passed('axe-core: no serious or critical violation %s' % ', '.join(self.states))


# --- the checks ------------------------------------------------------------

def check_reads_stopped_clock(page, base_url):
    shown, took = page.load(what='the page shows no time "hh:mm:ss"')
    state = state_json(base_url)
    require(not state['running'], 'the program is running; this test needs it stopped at the start')
    require(shown == state['time'], 'the page shows %s, state.json says %s' % (shown, state['time']))
    passed('page loads and shows the time %s in %.2f s, as state.json does' % (shown, took))
    wait_until(lambda: page.stopped() and page.shown('control-button'), 'a stopped clock is not shown stopped with '
               'its Control button: status "%s", digits at contrast %.1f' % (page.text('status'),
                                                                            page.contrast('digits')))
    word, digits = page.contrast('status'), page.contrast('digits')
    require(word >= 4.5 and digits >= 3, 'stopped: "Stopped" at contrast %.1f:1 (needs 4.5), the dimmed digits at '
            '%.1f:1 (needs 3)' % (word, digits))
    passed('stopped: the digits are dimmed to contrast %.1f:1, "Stopped" shows at %.1f:1, the Control button shows'
           % (digits, word))


def check_manifest(page, base_url, icons):
    """The home-screen pieces: the manifest as the page links it, and its icons."""
    links = page.script('return ["link[rel=manifest]", "link[rel=apple-touch-icon]", "meta[name=theme-color]"]'
                        '.map(function (q) { var n = document.querySelector(q);'
                        '  return n && (n.getAttribute("href") || n.content); })')
    require(None not in links, 'the page links manifest, apple-touch-icon and theme-color: found %r' % links)
    kind, manifest = fetch(base_url + '/quorandel/manifest.webmanifest')
    manifest = json.loads(manifest)
    require(kind == 'application/manifest+json', 'the manifest is served as "%s"' % kind)
    missing = [k for k in ('name', 'short_name', 'display', 'theme_color', 'background_color', 'icons', 'start_url')
               if not manifest.get(k)]
    require(not missing and manifest['display'] == 'fullscreen',
            'the manifest lacks %r or is not fullscreen: %r' % (missing, manifest))
    sizes = sorted(icon['sizes'] for icon in manifest['icons'])
    require(sizes == ['192x192', '512x512'], 'the manifest\'s icons are %r, not 192 and 512 px' % sizes)
    passed('the manifest is valid JSON (%s) with name "%s", display fullscreen, icons %s'
           % (kind, manifest['name'], ', '.join(sizes)))
    wanted = [(i['src'], int(i['sizes'].split('x')[0])) for i in manifest['icons']] + [(links[1], 180)]
    for src, size in wanted if icons else []:
        kind, png = fetch(base_url + src)
        # The PNG's header chunk holds its width and height.
        require(png[:8] == b'\x89PNG\r\n\x1a\n' and png[12:16] == b'IHDR' and kind == 'image/png',
                '%s is no PNG (%s, %r)' % (src, kind, png[:16]))
        width, height = int.from_bytes(png[16:20], 'big'), int.from_bytes(png[20:24], 'big')
        require((width, height) == (size, size), '%s is %dx%d, not %dx%d' % (src, width, height, size, size))
        passed('%s is a %dx%d PNG of %d bytes' % (src, width, height, len(png)))


def try_wrong_password(page, password, answer='Wrong password|Wait a minute'):
    page.log_in(password + '-wrong')
    page.click('start')
    wait_until(lambda: re.search(answer, page.message()), 'no answer to a wrong password: message "%s"'
               % page.message(), 3)
    return page.message()


def check_wrong_password(page, base_url, password, rate):
    if rate:
        rate.take()
    said = try_wrong_password(page, password, 'Wrong password')
    wait_until(lambda: page.shown('password'), 'after a wrong password the password is not asked again')
    require(not state_json(base_url)['running'], 'the clock started with a wrong password')
    started = [d for d in rate.take() if d != b'0'] if rate else []
    require(not started, 'rate datagrams %r went out after a wrong password' % started[:3])
    passed('a wrong password is refused: "%s", the password is asked again, the clock stays stopped' % said)


def check_lock_out(page, password):
    # The wrong password earlier counted too; at most six more reach the lock.
    for _ in range(6):
        said = try_wrong_password(page, password)
        if 'Wait a minute' in said:
            return passed('repeated wrong passwords lock the address out: "%s"' % said)
    raise Failure('seven wrong passwords in a row were never answered with a lock-out')


def check_start(page, password, rate, times):
    page.log_in(password)
    before = page.clock()
    if rate:
        rate.take()
    page.click('start')
    _, took = wait_until(page.running, 'after Start the page does not show a running clock: status "%s", contrast '
                         '%.1f, message "%s"' % (page.text('status'), page.contrast('digits'), page.message()))
    passed('Start: the page shows the clock running after %.2f s (digits bright, "Stopped" gone)' % took)
    # Later, and by less than an hour, across midnight too.
    after, _ = wait_until(lambda: 0 < (page.seconds() - seconds_of(before)) % 86400 < 3600 and page.clock(),
                          'the time does not advance after Start (still %s)' % page.clock(), 3)
    passed('the time advances on the page: %s, then %s' % (before, after))
    if rate:
        check_broadcast_started(page, rate, times)


def check_broadcast_started(page, rate, times):
    passed('the broadcast follows: rate datagram %r on UDP %d' % (rate.rates()[0].decode('ascii', 'replace'),
                                                                   rate.port))
    hhmm = wait_until(times.take, 'no time datagram on UDP %d' % times.port)[0][-1].decode('ascii', 'replace')
    shown, digits = page.clock(), re.fullmatch(r'(\d\d)(\d\d)', hhmm)
    apart = (int(digits[1]) * 60 + int(digits[2]) - seconds_of(shown) // 60) % 1440 if digits else 2
    require(min(apart, 1440 - apart) <= 1, 'time datagram "%s" does not match the page\'s %s' % (hhmm, shown))
    passed('the time channel agrees with the page: "%s" and %s' % (hhmm, shown))


def check_speed(page):
    pressed = ('return [].filter.call(document.querySelectorAll("[data-speed]"), function (b) {'
               '  return b.getAttribute("aria-pressed") === "true"; }).map(function (b) {'
               '  return [b.textContent, getComputedStyle(b, "::before").content]; })')
    page.click('speed-8')
    marked, took = wait_until(lambda: page.text('speed') == '8:1' and [p[0] for p in page.script(pressed)] == ['8:1']
                              and page.script(pressed), 'speed 8 does not show as "8:1" with its button the one '
                              'pressed: "%s", %r, message "%s"' % (page.text('speed'), page.script(pressed),
                                                                   page.message()))
    require('\u2713' in marked[0][1], 'the current speed button has no visible mark, only %r' % marked[0][1])
    passed('speed 8 from its button: the page shows "8:1" after %.2f s, the button marked by aria-pressed and a '
           'visible %s' % (took, marked[0][1]))


def check_set(page):
    """A refused hour with the program's reason, then a time and a speed in one step."""
    for hours, minutes, speed, what, timeout, shows in (
            ('25', '0', '', 'hour 25 refused as the dialog does', 3, lambda: page.message() == 'Enter Less Than 24'),
            ('6', '30', '4', 'time 06:30 and speed 4 in one step, held', FOLLOW_S,
             lambda: page.clock() == '06:30:00' and page.text('speed') == '4:1' and page.stopped())):
        page.type('hours', hours)
        page.type('minutes', minutes)
        page.driver.find_element(By.CSS_SELECTOR, '#set-speed option[value="%s"]' % speed).click()
        page.click('set')
        _, took = wait_until(shows, 'not shown: %s (message "%s", time %s, speed "%s", status "%s")' % (
            what, page.message(), page.clock(), page.text('speed'), page.text('status')), timeout)
        passed('%s: the page shows it after %.2f s, message "%s"' % (what, took, page.message()))


def check_stop(page, rate):
    page.click('start')
    wait_until(page.running, 'Start after a time set does not run the clock')
    if rate:
        rate.rates()
        rate.take()
    page.click('stop')
    _, took = wait_until(page.stopped, 'after Stop the page does not show the clock stopped')
    passed('Stop: the page shows "Stopped" after %.2f s' % took)
    if rate:
        wait_until(lambda: b'0' in rate.take(), 'no stop mark "0" on UDP %d after Stop' % rate.port)
        passed('the broadcast follows: stop marks "0" on UDP %d' % rate.port)


def check_quiet_stopped_clock(page):
    # No event but the ping comes while the clock stands still; the page must
    # know all along that the program is there, without asking it or
    # dropping the stream.
    page.forget_asked()
    shown, start = page.clock(), time.monotonic()
    while time.monotonic() - start < 40:
        require(page.text('status') == 'Stopped' and page.clock() == shown, '%.0f s into a stopped clock the page '
                'shows %s, status "%s"' % (time.monotonic() - start, page.clock(), page.text('status')))
        time.sleep(0.1)
    passed('40 s without a change: "Stopped" at %s all along, never "No connection"' % shown)
    checks, streams = page.asked('/quorandel/state.json'), page.asked('/quorandel/events')
    require(not checks and not streams, 'the pings every 15 s should keep a quiet stream trusted: %d state.json '
            'requests, %d new streams in 40 s' % (checks, streams))
    passed('the stream\'s pings kept it trusted: no state.json check, no new stream in 40 s')


def tab_to(page, element_id, most=8):
    """Presses Tab until element_id has the focus; the ids passed on the way."""
    passed_by = []
    while page.active_id() != element_id:
        require(len(passed_by) < most, 'Tab never reached #%s: focus went %r' % (element_id, passed_by))
        page.keys(Keys.TAB)
        passed_by.append(page.active_id())
    return passed_by


def focus_ring(page):
    return page.script('var s = getComputedStyle(document.activeElement);'
                       'return s.outlineStyle === "none" ? 0 : parseFloat(s.outlineWidth)')


def check_seconds_key(page):
    """The digits are the button that shows and hides the seconds."""
    page.load(until=lambda: page.shown('control-button'), what='the Control button does not show')
    way = tab_to(page, 'digits')
    ring = focus_ring(page)
    require(ring >= 2, 'the focused digits show no focus ring')
    page.keys(Keys.SPACE)
    wait_until(lambda: not page.shown('seconds'), 'Space on the digits does not hide the seconds')
    page.keys(Keys.ENTER)
    wait_until(lambda: page.shown('seconds'), 'Enter on the digits does not show the seconds again')
    passed('keyboard: Tab reaches the digits (%s), focus ring %.0f px; Space hides the seconds, Enter shows them'
           % (' > '.join(way), ring))


def check_keyboard_control(page, button, key, name, done):
    """From a fresh page to a started or stopped clock with the keyboard
    alone: Tab to Control, Enter opens the panel with button focused, key
    presses it, Escape closes the panel. The password is known from before."""
    page.load(until=lambda: page.shown('control-button'), what='the Control button does not show')
    tab_to(page, 'control-button')
    ring = focus_ring(page)
    require(ring >= 2, 'the focused Control button shows no focus ring')
    page.keys(Keys.ENTER)
    wait_until(lambda: page.shown('panel') and page.active_id() == button,
               'Enter on Control does not open the panel with #%s focused (focus on #%s)' % (button, page.active_id()))
    page.keys(key)
    _, took = wait_until(done, '%s on #%s does not take effect: message "%s"' % (name, button, page.message()))
    page.keys(Keys.ESCAPE)
    wait_until(lambda: not page.shown('panel') and page.active_id() == 'control-button',
               'Escape does not close the panel and give the focus back to Control')
    passed('keyboard: Tab to Control (ring %.0f px), Enter opens the panel on #%s, %s presses it (%.2f s), '
           'Escape closes the panel' % (ring, button, name, took))


def check_steady_seconds(page, base_url, duration=60):
    """The digits, read ten times a second, never step back, skip or stall
    while the page keeps being given the state afresh: the stream reopened
    and state.json asked every few seconds, as after a wake-up, at whatever
    phase of the model second."""
    state = state_json(base_url)
    speed, period = state['speed'], state['interval'] / 1000.0
    page.forget_asked()
    page.script('window["__seen-spoken-time"].length = 0')
    start = last_at = time.monotonic()
    first = last = page.seconds()
    changes = []  # (the last sample before, the first sample after) each change of the digits
    longest, samples, refreshes, worst = 0.0, 0, 0, 0
    next_refresh = start + 3
    while time.monotonic() - start < duration:
        tick = time.monotonic()
        shown = page.seconds()
        at = time.monotonic()
        step = (shown - last) % 86400
        require(step <= 43200, 'the seconds went back from %d to %d at %.1f s' % (last, shown, at - start))
        # More seconds than the time between the two readings allows, with one to spare.
        require(step <= 1 or (step - 1) * period <= at - last_at, 'the seconds skipped from %d to %d in %.2f s at '
                '%.1f s' % (last, shown, at - last_at, at - start))
        if step:
            changes.append((last_at, at))
        if step and len(changes) >= 2:
            # At least this long the second before stood, whatever the readings' delays.
            stood = changes[-1][0] - changes[-2][1]
            longest = max(longest, stood)
            require(stood <= 1.25 * period, 'the second before %d stood at least %.2f s, the period is %.2f s (at '
                    '%.1f s)' % (shown, stood, period, at - start))
        last, last_at, samples = shown, at, samples + 1
        if tick >= next_refresh:
            told = state_json(base_url)['time']
            off = (page.seconds() - seconds_of(told) + 43200) % 86400 - 43200
            worst = max(worst, abs(off))
            require(abs(off) <= 2, 'the page is %d model seconds off state.json (%s)' % (off, told))
            page.script('document.dispatchEvent(new Event("visibilitychange"))')
            refreshes += 1
            next_refresh = tick + 2.3 + (refreshes % 3) * 0.37
        time.sleep(max(0.0, 0.1 - (time.monotonic() - tick)))
    advanced, asked = (last - first) % 86400, page.asked('/quorandel/state.json')
    require(samples >= 300 and advanced >= 0.8 * duration * speed and asked >= refreshes, '%d samples, %d model '
            'seconds at %d:1 in %d s, %d of %d refreshes asked state.json' % (samples, advanced, speed, duration,
                                                                              asked, refreshes))
    passed('%d s at %d:1: %d samples, the seconds never went back, skipped or stood longer than %.2f s '
           '(period %.2f s) through %d refreshes; state.json agreed within %d s'
           % (duration, speed, samples, longest, period, refreshes, worst))
    spoken = page.script('return window["__seen-spoken-time"]')
    minutes = advanced // 60
    require(all(re.fullmatch(r'Model time \d\d:\d\d', text) for text in spoken) and len(set(spoken)) == len(spoken)
            and minutes - 1 <= len(spoken) <= minutes + 1,
            'the spoken time should change once a model minute (%d minutes): %r' % (minutes, spoken))
    live = page.script('var n = document.getElementById("spoken-time");'
                       'return [n.getAttribute("aria-live"), document.querySelectorAll("[aria-live]").length]')
    require(live == ['polite', 1], 'the spoken time is to be the one polite live region: %r' % live)
    passed('the polite live region spoke %d times in %d model minutes: %s' % (len(spoken), minutes, ', '.join(spoken)))


def check_hidden_shown(page, mock):
    """A tab in the background, shown again: the stream is opened anew at
    once, the screen lock asked again, and the page shows the clock as it is."""
    page.forget_asked()
    locks = page.script('window.__visibility.length = 0; return window.__wakeLocks')
    with another_tab(page):
        if mock:
            mock.control('start')
        time.sleep(3)
    _, took = wait_until(lambda: page.asked('/quorandel/events') >= 1,
                         'the stream was not opened anew when the tab was shown again')
    hidden = page.script('return window.__visibility.join(" then ")')
    require(hidden == 'hidden then visible', 'the tab was to be hidden and shown, it went: %s' % hidden)
    require(page.script('return window.__wakeLocks') > locks,
            'the screen wake lock was not asked for again when the tab was shown')
    if mock:
        start_and_stop(page, mock, 'after a Start while the tab was hidden', started=True)
    passed('tab %s: a new stream after %.2f s, the wake lock asked again%s'
           % (hidden, took, ', a Start made meanwhile shows' if mock else ''))


def check_options(page, base_url, shots):
    """?seconds=1, ?h12 and ?kiosk, each from a fresh load."""
    page.script('localStorage.setItem("quorandel.hideSeconds", "1")')
    page.load()
    require(not page.shown('seconds'), 'seconds hidden by the visitor show again after a reload')
    page.load('?seconds=1', lambda: page.clock() and page.shown('seconds'), '?seconds=1 does not show the seconds')
    passed('?seconds=1 shows the seconds although the visitor had hidden them')
    page.script('localStorage.removeItem("quorandel.hideSeconds")')

    page.load('?h12', lambda: page.text('ampm'), '?h12 shows no AM/PM')
    told = state_json(base_url)['time']
    hour = int(told[0:2])
    want, shown = '%d%s' % (hour % 12 or 12, 'AM' if hour < 12 else 'PM'), page.text('hh') + page.text('ampm')
    small = page.script('return parseFloat(getComputedStyle(document.getElementById("ampm")).fontSize) /'
                        ' parseFloat(getComputedStyle(document.getElementById("hh")).fontSize)')
    require(shown == want and small <= 0.5, '?h12 at %s shows %s (want %s), AM/PM at %.2f of the digits\' size'
            % (told, shown, want, small))
    passed('?h12: %s shows as hour %s with a small "%s" (%.2f of the digits)'
           % (told, page.text('hh'), page.text('ampm'), small))
    # clock() wants two digits for the hour.
    page.load(until=lambda: page.clock() and not page.text('ampm'), what='without ?h12 the hours are not 24-hour')

    page.load('?kiosk', what='the page shows no time in kiosk mode')
    time.sleep(0.5)
    chrome = [i for i in ('control-button', 'speed', 'next-speed', 'panel') if page.shown(i)]
    require(not chrome and page.shown('status'), '?kiosk still shows %r (status shown: %s)'
            % (chrome, page.shown('status')))
    passed('?kiosk: no Control button, no speed line, only the time and "%s"' % page.text('status'))
    page.screenshot(shots, 'kiosk-stopped', 1920, 1080)


def check_wake_hint(page):
    """Without a screen wake lock the panel says once how to keep the screen on."""
    page.script('localStorage.removeItem("quorandel.wakeHintSaid")')
    marker = page.driver.execute_cdp_cmd('Page.addScriptToEvaluateOnNewDocument',
                                         {'source': 'delete Navigator.prototype.wakeLock;'})
    hints = []
    try:
        for reload in (True, False, True):
            if reload:
                page.load(until=lambda: page.shown('control-button'), what='the Control button does not show')
            page.click('control-button')
            hints.append(page.text('wake-hint') if page.shown('wake-hint') else '')
            page.click('close-panel')
    finally:
        page.driver.execute_cdp_cmd('Page.removeScriptToEvaluateOnNewDocument', marker)
    require('screen' in hints[0] and hints[1:] == ['', ''], 'without a wake lock the panel is to say once how to '
            'keep the screen on; first, opened again and after a reload it said %r' % hints)
    passed('no wake lock: the panel says once "%s"' % hints[0])


def check_text_zoom(base_url, shots):
    """Text at 200 %: nothing on the face overlaps or leaves the screen, and
    the panel scrolls rather than cutting anything off."""
    with browser(base_url, font_size=32) as page:
        for width, height in ((390, 844), (844, 390)):
            page.screen(width, height)
            page.load(until=lambda: page.clock() and page.shown('control-button'), what='no time at 200 % text')
            time.sleep(0.5)
            boxes = page.script('return ["speeds", "status", "digits", "note", "control-button"].map(function (id) {'
                                '  var r = document.getElementById(id).getBoundingClientRect();'
                                '  return [id, r.left, r.top, r.right, r.bottom]; })')
            boxes = [b for b in boxes if b[4] - b[2] > 1]  # an empty note takes no room
            size = page.script('return parseFloat(getComputedStyle(document.getElementById("speed")).fontSize)')
            require(size >= 40, 'the browser\'s text size setting did not reach the page: speed at %.0f px' % size)
            where = 'at 200 %% text, %dx%d:' % (width, height)
            for i, a in enumerate(boxes):
                require(a[1] >= -1 and a[2] >= -1 and a[3] <= width + 1 and a[4] <= height + 1,
                        '%s #%s leaves the screen: %r' % (where, a[0], a))
                for b in boxes[i + 1:]:
                    require(not (a[1] < b[3] - 1 and b[1] < a[3] - 1 and a[2] < b[4] - 1 and b[2] < a[4] - 1),
                            '%s #%s and #%s overlap: %r %r' % (where, a[0], b[0], a, b))
            page.click('control-button')
            inside, scrolled, seen, left, right = page.script(
                'var p = document.getElementById("panel"), r = p.getBoundingClientRect();'
                'return [p.scrollWidth - p.clientWidth, p.scrollHeight, p.clientHeight, r.left, r.right]')
            require(inside <= 1 and left >= -1 and right <= width + 1, '%s the panel does not fit the width: %d px '
                    'too wide inside, from x %.0f to %.0f' % (where, inside, left, right))
            page.screenshot(shots, 'text-200-panel', width, height)
            passed('200 %% text at %dx%d: the speed line at %.0f px, face parts apart and on screen, the panel fits '
                   'its width (%s)' % (width, height, size, 'scrolls' if scrolled > seen else 'all shown'))


def check_german(base_url, shots, mock):
    with browser(base_url, 'Angehalten', language='de') as page:
        page.load(until=page.stopped, what='a German browser does not see "Angehalten"')
        words = page.script('return [document.documentElement.lang,'
                            ' document.getElementById("control-button").textContent,'
                            ' document.getElementById("seconds-hint").textContent]')
        require(words == ['de', 'Steuerung', 'Zeigt oder verbirgt die Sekunden'], 'a German browser gets %r' % words)
        passed('German from --lang=de: "%s", Control button "%s", the seconds toggle described "%s"'
               % (page.text('status'), words[1], words[2]))
        page.screenshot(shots, 'german-stopped', 390, 844)
        if mock:
            mock.control('start')
            wait_until(page.running, 'the German page does not follow a Start')
            page.screenshot(shots, 'german-running', 844, 390)
            page.click('control-button')
            page.screenshot(shots, 'german-running-panel', 844, 390)
            page.click('close-panel')
            check_no_connection(page, mock, 'Keine Verbindung', r'zuletzt gehört vor (2\d|3\d) s')


# --- checks that need the mock's misbehaviour -----------------------------

def start_and_stop(page, mock, what, started=False, timeout=FOLLOW_S):
    """The mock's clock started (unless it was already) and stopped, the page
    following both; how long the Start took to show."""
    if not started:
        mock.control('start')
    _, took = wait_until(page.running, '%s the page does not show the clock running' % what, timeout)
    mock.control('stop')
    wait_until(page.stopped, '%s the page does not follow a Stop at once' % what)
    return took


def check_no_connection(page, mock, word='No connection', heard=r'last heard (2\d|3\d) s ago', axe=None):
    mock.mute()
    _, took = wait_until(lambda: page.text('status') == word and page.dim(),
                         'the page does not say "%s" when the program stops answering' % word, 25)
    note = page.text('note')
    require(re.fullmatch(heard, note), 'lost after %.1f s, the page says "%s"' % (took, note))
    passed('program silent: "%s" after %.1f s, "%s"' % (word, took, note))
    if axe:
        axe.check(page, 'no connection')
    mock.unmute()
    took = start_and_stop(page, mock, 'the program answering again,', timeout=12)
    passed('program back: the page recovers by itself after %.1f s, and follows a Stop within a second' % took)


def check_cut_stream(page, mock):
    """The server stops sending on the open stream but never closes it: the
    page keeps counting, asks state.json meanwhile so "No connection" never
    shows, opens a new stream within 40 s, and that one carries changes."""
    mock.control('start')
    wait_until(page.running, 'the page does not follow a Start')
    opened, first = mock.streams_opened, page.seconds()
    mock.cut_streams()
    start = time.monotonic()
    while mock.streams_opened == opened:
        took = time.monotonic() - start
        require(took <= 40, 'a stream cut without closing was not replaced within 40 s')
        require(page.text('status') != 'No connection', '%.0f s after the cut the page says "No connection" though '
                'state.json answers' % took)
        time.sleep(0.1)
    took = time.monotonic() - start
    counted = (page.seconds() - first) % 86400
    require(counted >= took * 0.5, 'the page stopped counting while its stream was dead: %d model s in %.0f s'
            % (counted, took))
    mock.control('stop')
    _, follow = wait_until(page.stopped, 'the new stream does not carry a Stop')
    passed('stream cut without closing: the page kept counting (%d model s), a new stream after %.1f s, '
           'which carried a Stop in %.2f s' % (counted, took, follow))


def check_wake_from_sleep(page, mock):
    """A page whose timers slept for 25 s (a phone with its screen off, its
    connection gone meanwhile) and then wakes: no "No connection" flashes
    before the first answer."""
    page.script('window["__seen-status"].length = 0')
    page.driver.execute_cdp_cmd('Page.setWebLifecycleState', {'state': 'frozen'})
    mock.cut_streams()
    mock.control('start')
    time.sleep(25)
    page.driver.execute_cdp_cmd('Page.setWebLifecycleState', {'state': 'active'})
    _, took = wait_until(page.running, 'after waking the page does not show the Start made during its sleep', 6)
    time.sleep(1)
    seen = page.script('return window["__seen-status"]')
    require('No connection' not in seen, 'waking after 25 s the page flashed "No connection": %r' % seen)
    passed('woken after 25 s of frozen timers: the clock running after %.2f s, status went %r' % (took, seen))
    # A frozen tab comes back hidden; another tab shown and closed brings it to the front.
    with another_tab(page):
        pass
    wait_until(lambda: page.script('return document.visibilityState') == 'visible', 'the tab stays hidden', 5)
    mock.control('stop')
    wait_until(page.stopped, 'after waking the page does not follow a Stop')


def check_polling(page, mock):
    mock.events_refused = True
    page.load(until=page.stopped, what='without the events stream the page does not show the clock')
    took = start_and_stop(page, mock, 'without the events stream')
    passed('events refused: polling state.json, the page follows a Start after %.2f s, and a Stop' % took)
    mock.events_refused = False


def check_control_off(page, mock):
    mock.clock.password = ''
    mock.clock.notify()
    wait_until(lambda: not page.shown('control-button') and not page.shown('panel'),
               'the Control button stays although control was switched off')
    passed('control switched off: the Control button is hidden')


# --- the same page in Firefox ESR -------------------------------------------
# Debian has no driver for Firefox, so this speaks Marionette, Firefox's own
# remote protocol, which --marionette switches on: length-prefixed JSON over a
# loopback port that Firefox picks and writes into the profile.

# The screenshot, decoded by the browser into a canvas that is never shown:
# the share of light pixels inside the digits' box, and outside it below the
# top bar (the box's edges left out, where anti-aliasing spills over).
LIGHT_JS = r"""
var box = arguments[0], done = arguments[arguments.length - 1], shot = new Image();
shot.onerror = function () { done(null); };
shot.onload = function () {
  var canvas = Object.assign(document.createElement('canvas'), {width: shot.width, height: shot.height});
  var g = canvas.getContext('2d');
  g.drawImage(shot, 0, 0);
  var px = g.getImageData(0, 0, shot.width, shot.height).data, inside = [0, 0], around = [0, 0];
  for (var y = 0; y < shot.height; y += 2) {
    for (var x = 0; x < shot.width; x += 2) {
      var i = 4 * (y * shot.width + x), light = (px[i] + px[i + 1] + px[i + 2]) / 3 > 60 ? 1 : 0;
      var near = x >= box.left - 4 && x <= box.right + 4 && y >= box.top - 4 && y <= box.bottom + 4;
      var count = x >= box.left && x < box.right && y >= box.top && y < box.bottom ? inside
                : !near && y >= box.below ? around : null;
      if (count) { count[0] += light; count[1] += 1; }
    }
  }
  done([shot.width, shot.height, inside[0] / Math.max(1, inside[1]), around[0] / Math.max(1, around[1])]);
};
shot.src = 'data:image/png;base64,' + box.png;
"""


class Marionette:
    def __init__(self, port):
        self.sock = socket.create_connection(('127.0.0.1', port), timeout=30)
        self.stream = self.sock.makefile('rb')
        self.next_id = 1
        self._read()  # the greeting: protocol level and application

    def _read(self):
        length = b''
        while not length.endswith(b':'):
            byte = self.stream.read(1)
            require(byte, 'Firefox closed the Marionette connection')
            length += byte
        return json.loads(self.stream.read(int(length[:-1])))

    def call(self, command, params=None):
        message = json.dumps([0, self.next_id, command, params or {}]).encode()
        self.next_id += 1
        self.sock.sendall(str(len(message)).encode() + b':' + message)
        _, _, error, result = self._read()
        require(not error, '%s: %s' % (command, error and error.get('message', error)))
        return result

    def script(self, code, *args, run='WebDriver:ExecuteScript'):
        return self.call(run, {'script': code, 'args': list(args)})['value']


@contextlib.contextmanager
def firefox(profile):
    """Firefox with Marionette on in a fresh profile, and a session on it."""
    with open(os.path.join(profile, 'user.js'), 'w') as prefs:
        prefs.write('user_pref("marionette.port", 0);\n'
                    'user_pref("browser.shell.checkDefaultBrowser", false);\n'
                    'user_pref("datareporting.policy.dataSubmissionEnabled", false);\n'
                    'user_pref("app.update.disabledForTesting", true);\n')
    process = subprocess.Popen([FIREFOX, '--headless', '--marionette', '--no-remote', '--profile', profile,
                                '--width', '1280', '--height', '720'],
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    port_file = os.path.join(profile, 'MarionetteActivePort')
    try:
        wait_until(lambda: os.path.exists(port_file) and open(port_file).read().strip() or process.poll() is not None,
                   'Firefox did not open its Marionette port', 60)
        require(process.poll() is None, 'Firefox ended before it opened its Marionette port')
        client = Marionette(int(open(port_file).read().strip()))
        client.call('WebDriver:NewSession', {'capabilities': {}})
        client.call('WebDriver:SetWindowRect', {'width': 1280, 'height': 720})
        yield client
        client.call('WebDriver:DeleteSession')
    finally:
        process.terminate()
        try:
            process.wait(20)
        except subprocess.TimeoutExpired:
            process.kill()


def check_firefox(base_url, shots):
    """The page for a wall screen (?kiosk&seconds=1) in Firefox ESR,
    headless: light pixels where the time stands, dark around it."""
    if not os.path.exists(FIREFOX):
        return print('SKIP %s is not installed: no Firefox check' % FIREFOX, flush=True)
    profile = tempfile.mkdtemp(prefix='quorandel-firefox-')
    try:
        with firefox(profile) as client:
            client.call('WebDriver:Navigate', {'url': base_url + '/quorandel/?kiosk&seconds=1'})
            shown, _ = wait_until(lambda: re.fullmatch(r'\d\d:\d\d:\d\d', client.script(
                'return document.getElementById("time").textContent + document.getElementById("seconds").textContent'
            )), 'Firefox shows no time', 10)
            time.sleep(0.5)  # the fitted size, painted
            box = client.script(
                'var r = document.getElementById("digits").getBoundingClientRect(), s = devicePixelRatio;'
                'return {left: Math.trunc(r.left * s), top: Math.trunc(r.top * s), right: Math.trunc(r.right * s),'
                '  bottom: Math.trunc(r.bottom * s),'
                '  below: Math.trunc(document.getElementById("top").getBoundingClientRect().bottom * s)}')
            box['png'] = client.call('WebDriver:TakeScreenshot', {'full': False})['value']
            measured = client.script(LIGHT_JS, box, run='WebDriver:ExecuteAsyncScript')
    finally:
        shutil.rmtree(profile, ignore_errors=True)
    require(measured, 'Firefox cannot read back its own screenshot')
    width, height, lit, stray = measured
    if shots:
        path = os.path.join(shots, 'firefox-kiosk-%dx%d.png' % (width, height))
        pathlib.Path(path).write_bytes(base64.b64decode(box['png']))
        print('     screenshot ' + path, flush=True)
    across, high = box['right'] - box['left'], box['bottom'] - box['top']
    require(across >= width * 0.5 and lit >= 0.15 and stray <= 0.005, 'Firefox draws the digits %s over %dx%d px '
            'with %.1f %% light pixels (want 15 %%), %.2f %% light pixels around them (want at most 0.5 %%)'
            % (shown[0], across, high, lit * 100, stray * 100))
    passed('Firefox ESR headless shows %s over %dx%d of %dx%d px: %.0f %% light pixels in the digits, %.2f %% '
           'around them' % (shown[0], across, high, width, height, lit * 100, stray * 100))


def run(args, mock=None):
    base_url = (mock.url if mock else args.url).rstrip('/')
    shots = args.screenshots
    axe = Accessibility(args.axe)
    # Only the program broadcasts: the mock's datagrams would only test the mock.
    rate, times = (None, None) if mock else (UdpCatcher(RATE_PORT), UdpCatcher(TIME_PORT))
    try:
        with browser(base_url) as page:
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
            check_set(page)
            check_stop(page, rate)
            check_quiet_stopped_clock(page)
            # 2:1, so that ten readings a second can tell a second that stood too long.
            page.open_control()
            page.click('speed-2')
            wait_until(lambda: page.text('speed') == '2:1', 'the page does not show speed 2:1')
            check_seconds_key(page)
            check_keyboard_control(page, 'start', Keys.ENTER, 'Enter', page.running)
            check_steady_seconds(page, base_url)
            page.load('?kiosk', page.running, 'the kiosk page does not show the clock running')
            page.screenshot(shots, 'kiosk-running', 1920, 1080)
            axe.check(page, 'kiosk')
            check_keyboard_control(page, 'stop', Keys.SPACE, 'Space', page.stopped)
            check_hidden_shown(page, mock)
            check_options(page, base_url, shots)
            check_wake_hint(page)
            page.load()
            if mock:
                check_no_connection(page, mock, axe=axe)
                check_cut_stream(page, mock)
                check_wake_from_sleep(page, mock)
                check_polling(page, mock)
            check_german(base_url, shots, mock)
            check_text_zoom(base_url, shots)
            check_lock_out(page, args.password)
            if mock:
                check_control_off(page, mock)
        axe.report()
        if not mock:
            check_firefox(base_url, shots)
    finally:
        for catcher in (rate, times) if rate else ():
            catcher.sock.close()


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument('url', nargs='?', default=os.environ.get('QUORANDEL_URL', ''),
                        help='base address of the program, e.g. http://127.0.0.1:8080')
    parser.add_argument('--password', default=os.environ.get('QUORANDEL_CONTROL_PASSWORD', ''),
                        help='the control password set in the program')
    parser.add_argument('--mock', action='store_true', help='start the mock server and test against it')
    parser.add_argument('--axe', default=os.path.join(os.path.dirname(os.path.abspath(__file__)), 'node_modules',
                                                      'axe-core', 'axe.min.js'),
                        help='axe-core\'s axe.min.js (default: tests/browser/node_modules, from npm ci)')
    parser.add_argument('--screenshots', help='folder for screenshots of the page (portrait and landscape)')
    args = parser.parse_args()
    if not args.mock and not (args.url and args.password):
        parser.error('give the program\'s URL (or QUORANDEL_URL) and its control password (--password or '
                     'QUORANDEL_CONTROL_PASSWORD), or --mock')
    if args.screenshots:
        os.makedirs(args.screenshots, exist_ok=True)
    mock = MockServer(args.password or 'mock-password').start() if args.mock else None
    try:
        if mock:
            args.password = mock.clock.password
            print('     mock server at %s' % mock.url, flush=True)
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

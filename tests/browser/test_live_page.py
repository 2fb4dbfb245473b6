#!/usr/bin/python3
"""Drives the live clock page in headless Chromium, as a person on the layout
would: reads the clock, logs in, starts, sets and stops it, and checks that the
page and the UDP broadcast follow and that a wrong password is refused.

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
from selenium.webdriver.common.by import By

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


class Page:
    """The live page in one browser tab, read through its element ids."""

    def __init__(self, driver, base_url):
        self.driver = driver
        self.base_url = base_url.rstrip('/')

    def load(self):
        self.driver.get(self.base_url + '/quorandel/')

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

    def opacity(self):
        return float(self.driver.execute_script(
            'return getComputedStyle(document.getElementById("digits")).opacity'))

    def stopped(self):
        return self.text('status') == 'Stopped' and self.opacity() < 0.5

    def running(self):
        return self.text('status') != 'Stopped' and self.opacity() > 0.9

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

    def screenshot(self, folder, name, width, height):
        if not folder:
            return
        self.driver.execute_cdp_cmd('Emulation.setDeviceMetricsOverride', {
            'width': width, 'height': height, 'deviceScaleFactor': 1, 'mobile': width < height})
        time.sleep(0.5)
        path = os.path.join(folder, '%s-%dx%d.png' % (name, width, height))
        self.driver.save_screenshot(path)
        self.driver.execute_cdp_cmd('Emulation.clearDeviceMetricsOverride', {})
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


def open_browser(profile):
    options = webdriver.ChromeOptions()
    options.binary_location = CHROMIUM
    for flag in CHROMIUM_FLAGS + ['--user-data-dir=' + profile]:
        options.add_argument(flag)
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
    wait_until(page.stopped, 2, 'a stopped clock is not shown stopped: status "%s", opacity %.2f'
               % (page.text('status'), page.opacity()))
    passed('stopped: the digits are dim (opacity %.2f) and "Stopped" shows' % page.opacity())
    wait_until(lambda: page.shown('control-button'), 2, 'the Control button is hidden although control is on')
    passed('the Control button shows')


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
                         'status "%s", opacity %.2f, message "%s"' % (page.text('status'), page.opacity(),
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


def check_speed(page):
    page.click('speed-8')
    _, took = wait_until(lambda: page.text('speed') == '8:1', FOLLOW_S,
                         'the page does not show speed 8:1 (shows "%s", message "%s")'
                         % (page.text('speed'), page.message()))
    passed('speed 8 from its button: the page shows "8:1" after %.2f s' % took)


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


def check_quiet_stopped_clock(page, mock):
    # No event comes while the clock stands still; the page must still know,
    # all along, that the program is there, and ask it rather than drop the stream.
    asked = dict(mock.requests) if mock else {}
    shown = page.clock()
    end = time.monotonic() + 25
    while time.monotonic() < end:
        if page.text('status') != 'Stopped' or page.clock() != shown:
            raise Failure('%.0f s into a stopped clock the page shows %s, status "%s"'
                          % (25 - (end - time.monotonic()), page.clock(), page.text('status')))
        time.sleep(0.1)
    passed('25 s without a change: "Stopped" at %s all along, never "No connection"' % shown)
    if mock:
        checks = mock.requests['/quorandel/state.json'] - asked.get('/quorandel/state.json', 0)
        reopened = mock.requests['/quorandel/events'] - asked.get('/quorandel/events', 0)
        if checks < 2 or reopened:
            raise Failure('a quiet stream should be checked with state.json every 10 s and kept: '
                          '%d state.json requests, %d new streams in 25 s' % (checks, reopened))
        passed('the quiet stream was checked with state.json %d times and kept open' % checks)


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


# --- checks that need the mock's misbehaviour -----------------------------

def check_no_connection(page, mock):
    mock.mute()
    _, took = wait_until(lambda: page.text('status') == 'No connection' and page.opacity() < 0.5, 25,
                         'the page does not say "No connection" when the program stops answering')
    passed('program silent: "No connection" after %.1f s' % took)
    mock.unmute()
    mock.control('start')
    _, took = wait_until(page.running, 12, 'the page does not recover when the program answers again')
    passed('program back: the page recovers by itself after %.1f s and shows the clock running' % took)
    mock.control('stop')
    wait_until(page.stopped, FOLLOW_S, 'after recovering the page does not follow a Stop at once')
    passed('after recovering, the stream carries changes again within a second')


def check_deaf_stream(page, mock):
    # A stream that stays open but stopped carrying changes: the check of a
    # quiet stream finds the change and opens the stream anew.
    mock.streams_deaf = True
    mock.control('start')
    _, took = wait_until(page.running, 15, 'a change the stream did not carry never reaches the page')
    passed('a change the stream missed reaches the page after %.1f s through the quiet-stream check' % took)
    mock.streams_deaf = False
    mock.control('stop')
    wait_until(page.stopped, FOLLOW_S, 'the stream opened anew does not carry changes at once')
    passed('the stream opened anew carries changes again within a second')


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


def check_control_off(page, mock):
    mock.clock.set_password('')
    wait_until(lambda: not page.shown('control-button') and not page.shown('panel'), FOLLOW_S,
               'the Control button stays although control was switched off')
    passed('control switched off: the Control button is hidden')


def run(args, mock=None):
    base_url = mock.url if mock else args.url
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
        page.screenshot(args.screenshots, 'stopped-portrait', 390, 844)
        page.screenshot(args.screenshots, 'stopped-landscape', 1280, 720)
        check_wrong_password(page, base_url, args.password, rate)
        check_start(page, args.password, rate, times)
        page.click('close-panel')
        page.screenshot(args.screenshots, 'running-portrait', 390, 844)
        page.screenshot(args.screenshots, 'running-landscape', 1280, 720)
        page.open_control()
        page.screenshot(args.screenshots, 'control-portrait', 390, 844)
        check_speed(page)
        check_refused_time(page)
        check_set_both(page)
        check_stop(page, rate)
        check_quiet_stopped_clock(page, mock)
        if mock:
            check_no_connection(page, mock)
            check_deaf_stream(page, mock)
            check_polling(page, mock)
        check_lock_out(page, args.password)
        if mock:
            check_control_off(page, mock)
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

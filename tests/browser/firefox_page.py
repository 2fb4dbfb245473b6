#!/usr/bin/python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""The live page in Firefox ESR, headless: loads it for a wall screen
(?kiosk&seconds=1), waits until it shows a time, takes a screenshot and checks
that the digits are drawn: light pixels where the time stands, dark around it.

    firefox_page.py URL [--screenshot PATH]

Debian has no driver for Firefox, so this speaks Marionette, Firefox's own
remote protocol, which `--marionette` switches on: length-prefixed JSON over
a loopback port that Firefox picks and writes into the profile. Without
firefox-esr installed it says SKIP and exits 0.
"""

import argparse
import base64
import json
import os
import re
import shutil
import socket
import subprocess
import sys
import tempfile
import time

FIREFOX = '/usr/bin/firefox-esr'

# The screenshot, decoded by the browser into a canvas that is never shown:
# the share of light pixels inside the digits' box, and outside it below the
# top bar (the box's edges left out, where anti-aliasing spills over).
LIGHT_JS = r"""
var box = arguments[0], done = arguments[arguments.length - 1], shot = new Image();
shot.onerror = function () { done(null); };
shot.onload = function () {
  var canvas = document.createElement('canvas');
  canvas.width = shot.width;
  canvas.height = shot.height;
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


class Failure(Exception):
    pass


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
            if not byte:
                raise Failure('Firefox closed the Marionette connection')
            length += byte
        return json.loads(self.stream.read(int(length[:-1])))

    def call(self, command, params=None):
        message = json.dumps([0, self.next_id, command, params or {}]).encode()
        self.next_id += 1
        self.sock.sendall(str(len(message)).encode() + b':' + message)
        _, _, error, result = self._read()
        if error:
            raise Failure('%s: %s' % (command, error.get('message', error)))
        return result

    def script(self, code, *args, run='WebDriver:ExecuteScript'):
        return self.call(run, {'script': code, 'args': list(args)})['value']


def start_firefox(profile):
    """Firefox with Marionette on in a fresh profile, and a session on it."""
    with open(os.path.join(profile, 'user.js'), 'w') as prefs:
        prefs.write('user_pref("marionette.port", 0);\n'
                    'user_pref("browser.shell.checkDefaultBrowser", false);\n'
                    'user_pref("datareporting.policy.dataSubmissionEnabled", false);\n'
                    'user_pref("app.update.disabledForTesting", true);\n')
    firefox = subprocess.Popen([FIREFOX, '--headless', '--marionette', '--no-remote', '--profile', profile,
                                '--width', '1280', '--height', '720'],
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    port_file = os.path.join(profile, 'MarionetteActivePort')
    start = time.monotonic()
    while not os.path.exists(port_file) or not open(port_file).read().strip():
        if time.monotonic() - start > 60 or firefox.poll() is not None:
            firefox.kill()
            raise Failure('Firefox did not open its Marionette port within 60 s')
        time.sleep(0.1)
    client = Marionette(int(open(port_file).read().strip()))
    client.call('WebDriver:NewSession', {'capabilities': {}})
    client.call('WebDriver:SetWindowRect', {'width': 1280, 'height': 720})
    return firefox, client


def shoot(client, url):
    """The time shown, and the screenshot with the light shares inside and around the digits."""
    client.call('WebDriver:Navigate', {'url': url.rstrip('/') + '/quorandel/?kiosk&seconds=1'})
    start = time.monotonic()
    shown = ''
    while not re.fullmatch(r'\d\d:\d\d:\d\d', shown):
        if time.monotonic() - start > 10:
            raise Failure('Firefox shows no time within 10 s: "%s"' % shown)
        time.sleep(0.1)
        shown = client.script('return document.getElementById("time").textContent +'
                              ' document.getElementById("seconds").textContent')
    time.sleep(0.5)  # the fitted size, painted
    box = client.script('var r = document.getElementById("digits").getBoundingClientRect(), s = devicePixelRatio;'
                        'return {left: Math.trunc(r.left * s), top: Math.trunc(r.top * s),'
                        '  right: Math.trunc(r.right * s), bottom: Math.trunc(r.bottom * s),'
                        '  below: Math.trunc(document.getElementById("top").getBoundingClientRect().bottom * s)}')
    box['png'] = client.call('WebDriver:TakeScreenshot', {'full': False})['value']
    measured = client.script(LIGHT_JS, box, run='WebDriver:ExecuteAsyncScript')
    if not measured:
        raise Failure('Firefox cannot read back its own screenshot')
    return shown, box, measured


def check(url, shot):
    profile = tempfile.mkdtemp(prefix='quorandel-firefox-')
    firefox = None
    try:
        firefox, client = start_firefox(profile)
        shown, box, (width, height, lit, stray) = shoot(client, url)
        client.call('WebDriver:DeleteSession')
    finally:
        if firefox:
            firefox.terminate()
            try:
                firefox.wait(20)
            except subprocess.TimeoutExpired:
                firefox.kill()
        shutil.rmtree(profile, ignore_errors=True)
    if shot:
        with open(shot, 'wb') as f:
            f.write(base64.b64decode(box['png']))
    across, high = box['right'] - box['left'], box['bottom'] - box['top']
    if across < width * 0.5 or lit < 0.15 or stray > 0.005:
        raise Failure('Firefox draws the digits %s over %dx%d px with %.1f %% light pixels (want 15 %%), '
                      '%.2f %% light pixels around them (want at most 0.5 %%)'
                      % (shown, across, high, lit * 100, stray * 100))
    print('PASS Firefox ESR headless shows %s over %dx%d of %dx%d px: %.0f %% light pixels in the digits, '
          '%.2f %% around them' % (shown, across, high, width, height, lit * 100, stray * 100), flush=True)


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument('url', help='base address of the program, e.g. http://127.0.0.1:8080')
    parser.add_argument('--screenshot', help='keep the screenshot here')
    args = parser.parse_args()
    if not os.path.exists(FIREFOX):
        print('SKIP %s is not installed: no Firefox check' % FIREFOX, flush=True)
        return 0
    try:
        check(args.url, args.screenshot)
    except (Failure, OSError, ValueError) as failure:
        print('FAIL ' + str(failure), flush=True)
        return 1
    return 0


if __name__ == '__main__':
    sys.exit(main())

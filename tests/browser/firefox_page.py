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
import zlib

FIREFOX = '/usr/bin/firefox-esr'


class Failure(Exception):
    pass


class Marionette:
    def __init__(self, port):
        self.sock = socket.create_connection(('127.0.0.1', port), timeout=30)
        self.buffer = b''
        self.next_id = 1
        self._read()  # the greeting: protocol level and application

    def _read(self):
        while b':' not in self.buffer:
            self._fill()
        length, _, rest = self.buffer.partition(b':')
        length = int(length)
        self.buffer = rest
        while len(self.buffer) < length:
            self._fill()
        message, self.buffer = self.buffer[:length], self.buffer[length:]
        return json.loads(message)

    def _fill(self):
        chunk = self.sock.recv(65536)
        if not chunk:
            raise Failure('Firefox closed the Marionette connection')
        self.buffer += chunk

    def call(self, command, params=None):
        message = json.dumps([0, self.next_id, command, params or {}]).encode()
        self.next_id += 1
        self.sock.sendall(str(len(message)).encode() + b':' + message)
        _, _, error, result = self._read()
        if error:
            raise Failure('%s: %s' % (command, error.get('message', error)))
        return result

    def script(self, code):
        return self.call('WebDriver:ExecuteScript', {'script': code, 'args': []})['value']


def png_pixels(data):
    """Width, height and rows of (r, g, b) from an 8-bit RGB or RGBA PNG, as Firefox writes them."""
    if data[:8] != b'\x89PNG\r\n\x1a\n':
        raise Failure('the screenshot is no PNG')
    pos, idat, header = 8, b'', None
    while pos < len(data):
        length = int.from_bytes(data[pos:pos + 4], 'big')
        kind, body = data[pos + 4:pos + 8], data[pos + 8:pos + 8 + length]
        if kind == b'IHDR':
            header = body
        elif kind == b'IDAT':
            idat += body
        pos += 12 + length
    width, height = int.from_bytes(header[0:4], 'big'), int.from_bytes(header[4:8], 'big')
    depth, colour, interlace = header[8], header[9], header[12]
    if depth != 8 or colour not in (2, 6) or interlace:
        raise Failure('unexpected PNG kind: depth %d, colour type %d, interlace %d' % (depth, colour, interlace))
    bpp = 4 if colour == 6 else 3
    raw = zlib.decompress(idat)
    stride = width * bpp
    rows, previous = [], bytearray(stride)
    for y in range(height):
        kind = raw[y * (stride + 1)]
        line = bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
        for i in range(stride):
            left = line[i - bpp] if i >= bpp else 0
            up = previous[i]
            corner = previous[i - bpp] if i >= bpp else 0
            if kind == 1:
                line[i] = (line[i] + left) & 255
            elif kind == 2:
                line[i] = (line[i] + up) & 255
            elif kind == 3:
                line[i] = (line[i] + (left + up) // 2) & 255
            elif kind == 4:
                p = left + up - corner
                pa, pb, pc = abs(p - left), abs(p - up), abs(p - corner)
                line[i] = (line[i] + (left if pa <= pb and pa <= pc else up if pb <= pc else corner)) & 255
        rows.append(line)
        previous = line
    return width, height, [[tuple(row[x * bpp:x * bpp + 3]) for x in range(width)] for row in rows]


def light(rgb):
    return sum(rgb) / 3 > 60


def check(url, shot):
    profile = tempfile.mkdtemp(prefix='quorandel-firefox-')
    with open(os.path.join(profile, 'user.js'), 'w') as prefs:
        prefs.write('user_pref("marionette.port", 0);\n'
                    'user_pref("browser.shell.checkDefaultBrowser", false);\n'
                    'user_pref("datareporting.policy.dataSubmissionEnabled", false);\n'
                    'user_pref("app.update.disabledForTesting", true);\n')
    firefox = subprocess.Popen([FIREFOX, '--headless', '--marionette', '--no-remote', '--profile', profile,
                                '--width', '1280', '--height', '720'],
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        port_file = os.path.join(profile, 'MarionetteActivePort')
        start = time.monotonic()
        while not os.path.exists(port_file) or not open(port_file).read().strip():
            if time.monotonic() - start > 60 or firefox.poll() is not None:
                raise Failure('Firefox did not open its Marionette port within 60 s')
            time.sleep(0.1)
        client = Marionette(int(open(port_file).read().strip()))
        client.call('WebDriver:NewSession', {'capabilities': {}})
        client.call('WebDriver:SetWindowRect', {'width': 1280, 'height': 720})
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
        box = client.script('var r = document.getElementById("digits").getBoundingClientRect();'
                            'var t = document.getElementById("top").getBoundingClientRect();'
                            'return [r.left, r.top, r.right, r.bottom, t.bottom, window.devicePixelRatio]')
        png = base64.b64decode(client.call('WebDriver:TakeScreenshot', {'full': False})['value'])
        client.call('WebDriver:DeleteSession')
    finally:
        firefox.terminate()
        try:
            firefox.wait(20)
        except subprocess.TimeoutExpired:
            firefox.kill()
        shutil.rmtree(profile, ignore_errors=True)
    if shot:
        with open(shot, 'wb') as f:
            f.write(png)
    width, height, pixels = png_pixels(png)
    scale = box[5]
    left, top, right, bottom = (int(v * scale) for v in box[:4])
    below_top = int(box[4] * scale)
    inside = [light(pixels[y][x]) for y in range(max(top, 0), min(bottom, height), 2)
              for x in range(max(left, 0), min(right, width), 2)]
    outside = [light(pixels[y][x]) for y in range(below_top, height, 4) for x in range(0, width, 4)
               if not (left - 4 <= x <= right + 4 and top - 4 <= y <= bottom + 4)]
    lit, stray = sum(inside) / max(1, len(inside)), sum(outside) / max(1, len(outside))
    if (right - left) < width * 0.5 or lit < 0.15 or stray > 0.005:
        raise Failure('Firefox draws the digits %s over %dx%d px with %.1f %% light pixels (want 15 %%), '
                      '%.2f %% light pixels around them (want at most 0.5 %%)'
                      % (shown, right - left, bottom - top, lit * 100, stray * 100))
    print('PASS Firefox ESR headless shows %s over %dx%d of %dx%d px: %.0f %% light pixels in the digits, '
          '%.2f %% around them' % (shown, right - left, bottom - top, width, height, lit * 100, stray * 100),
          flush=True)


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
    except (Failure, OSError, ValueError, zlib.error) as failure:
        print('FAIL ' + str(failure), flush=True)
        return 1
    return 0


if __name__ == '__main__':
    sys.exit(main())

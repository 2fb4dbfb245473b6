#!/usr/bin/python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""A stand-in for the program's /quorandel/ routes, for developing the live
page and for driving it into states the real program rarely reaches: a
program that stops answering, a stream that is refused, control switched off.

Its events streams ping every 15 s as the program's do, and a test can cut
them: the connection stays open and says nothing more, as one does whose
phone walked out of Wi-Fi.

It listens on 127.0.0.1 only, on a port the OS picks. Its clock follows the
program's rules closely enough for the page (start, stop, a speed that takes
effect at the next start, a time set that holds a running clock), and it can
send its rate and time datagrams to a loopback port, never to the network.

Run alone:  python3 mock_server.py --password secret
"""

import argparse
import collections
import os
import socket
import threading
import time
import urllib.parse
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

PAGE_DIR = os.path.normpath(os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', '..', 'web', 'page'))
PAGE_FILES = {
    '/quorandel/': ('index.html', 'text/html; charset=utf-8'),
    '/quorandel/index.html': ('index.html', 'text/html; charset=utf-8'),
    '/quorandel/clock.css': ('clock.css', 'text/css; charset=utf-8'),
    '/quorandel/clock.js': ('clock.js', 'text/javascript; charset=utf-8'),
    '/quorandel/manifest.webmanifest': ('manifest.webmanifest', 'application/manifest+json'),
}
OFFERED_SPEEDS = (1, 2, 3, 4, 5, 6, 8)
TRIMS = {1: 1000, 2: 500, 3: 333, 4: 250, 5: 204, 6: 167, 8: 125}
MAX_BODY = 1024
WRONG_PER_WINDOW, WINDOW_S, LOCK_OUT_S = 5, 60.0, 60.0


def period_for(speed):
    return max(1, round(1000 / max(1, speed)))


class MockClock:
    """The clock state the page sees, changed only under its lock."""

    def __init__(self, password, seconds=6 * 3600 + 30 * 60, speed=1):
        self.lock = threading.Condition()
        self.password = password
        self.base_seconds = seconds
        self.base_at = time.monotonic()
        self.running = False
        self.held = False
        self.speed = speed
        self.interval = period_for(speed)
        self.version = 0  # counts every change the events stream must carry

    def _seconds(self):
        s = self.base_seconds
        if self.running:
            s += int((time.monotonic() - self.base_at) * 1000 // self.interval)
        return s % 86400

    def _rebase(self):
        self.base_seconds = self._seconds()
        self.base_at = time.monotonic()

    def _changed(self):
        self.version += 1
        self.lock.notify_all()

    def snapshot(self):
        with self.lock:
            s = self._seconds()
            return ('{"time":"%02d:%02d:%02d","running":%s,"held":%s,"speed":%d,"interval":%d,"control":%s}' % (
                s // 3600, s // 60 % 60, s % 60, str(self.running).lower(), str(self.held).lower(),
                self.speed, self.interval, str(bool(self.password)).lower())).encode()

    def minute(self):
        with self.lock:
            return self._seconds() // 60

    def broadcasting(self):
        with self.lock:
            return (self.running or self.held), TRIMS.get(self.speed, 0), self._seconds()

    def start(self):
        with self.lock:
            self._rebase()
            self.interval = period_for(self.speed)
            self.running, self.held = True, False
            self._changed()

    def stop(self):
        with self.lock:
            self._rebase()
            self.running, self.held = False, False
            self._changed()

    def set(self, speed=None, hour=None, minute=None):
        with self.lock:
            self._rebase()
            if speed is not None:
                self.speed = speed
                if not self.running:
                    self.interval = period_for(speed)
            if hour is not None:
                self.base_seconds = hour * 3600 + minute * 60
                if self.running:
                    self.running, self.held = False, True
            self._changed()

    def set_password(self, password):
        with self.lock:
            self.password = password
            self._changed()

    def notify(self):
        with self.lock:
            self._changed()


class Gate:
    """Password check with the lock-out, as the program's is meant to behave."""

    def __init__(self):
        self.wrong = {}
        self.locked_until = {}

    def check(self, header, password, peer):
        if not password:
            return 403
        now = time.monotonic()
        if now < self.locked_until.get(peer, 0):
            return 429
        scheme, _, token = (header or '').strip().partition(' ')
        token = token.strip()
        if scheme.lower() != 'bearer' or not token:
            return 401
        if token.encode('latin-1') == password.encode('utf-8'):
            self.wrong.pop(peer, None)
            return 204
        times = [t for t in self.wrong.get(peer, []) if now - t < WINDOW_S] + [now]
        self.wrong[peer] = times
        if len(times) >= WRONG_PER_WINDOW:
            self.wrong.pop(peer, None)
            self.locked_until[peer] = now + LOCK_OUT_S
            return 429
        return 401


def read_command(body):
    """The control form as (action, speed, hour, minute), or a reason string."""
    try:
        pairs = urllib.parse.parse_qsl(body.decode('latin-1'), keep_blank_values=True, strict_parsing=True)
    except ValueError:
        return 'The form is malformed.'
    fields = dict(pairs)
    if len(fields) != len(pairs):
        return 'A field is given twice.'
    unknown = set(fields) - {'action', 'speed', 'time'}
    if unknown:
        return 'Unknown field "%s".' % sorted(unknown)[0]
    action = fields.get('action')
    if action in ('start', 'stop'):
        return (action, None, None, None) if len(fields) == 1 else 'The action %s takes no speed or time.' % action
    if action != 'set':
        return 'Unknown action: start, stop or set.'
    if 'speed' not in fields and 'time' not in fields:
        return 'Set needs a speed, a time or both.'
    speed = hour = minute = None
    if 'speed' in fields:
        if fields['speed'] not in [str(n) for n in OFFERED_SPEEDS]:
            return 'Speed "%s" is not offered. Choose 1, 2, 3, 4, 5, 6 or 8.' % fields['speed']
        speed = int(fields['speed'])
    if 'time' in fields:
        h, sep, m = fields['time'].partition(':')
        if not (sep and h.isdigit() and m.isdigit() and 1 <= len(h) <= 2 and len(m) == 2):
            return 'Time "%s" is not a time. Enter H:MM or HH:MM.' % fields['time']
        if int(h) >= 24:
            return 'Enter Less Than 24'
        if int(m) >= 60:
            return 'Enter Less Than 60'
        hour, minute = int(h), int(m)
    return ('set', speed, hour, minute)


class QuietHTTPServer(ThreadingHTTPServer):
    daemon_threads = True

    # A page that gave up on a muted answer has gone when the answer comes.
    def handle_error(self, request, client_address):
        pass


class MockServer:
    def __init__(self, password='', rate_port=None, time_port=None, keepalive_s=15.0):
        self.clock = MockClock(password)
        self.gate = Gate()
        self.keepalive_s = keepalive_s
        self.muted = False           # every answer waits until unmuted
        self.events_refused = False  # /quorandel/events answers 404
        self.streams_opened = 0      # events streams so far, numbering each
        self.cut_up_to = 0           # streams up to this number send nothing more, nor close
        self.requests = collections.Counter()  # GET path -> how many
        self.unmuted = threading.Event()
        self.unmuted.set()
        self.rate_target = ('127.0.0.1', rate_port) if rate_port else None
        self.time_target = ('127.0.0.1', time_port) if time_port else None
        self.udp = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        self.stopping = threading.Event()
        self.httpd = QuietHTTPServer(('127.0.0.1', 0), self._handler_class())
        self.url = 'http://127.0.0.1:%d' % self.httpd.server_address[1]
        self.threads = [threading.Thread(target=self.httpd.serve_forever, daemon=True),
                        threading.Thread(target=self._watch_minutes, daemon=True),
                        threading.Thread(target=self._broadcast, daemon=True)]

    def start(self):
        for t in self.threads:
            t.start()
        self.send_stop_marks(1000)
        return self

    def close(self):
        self.stopping.set()
        self.unmute()
        self.clock.notify()
        self.httpd.shutdown()
        self.httpd.server_close()
        self.udp.close()

    def mute(self):
        self.muted = True
        self.unmuted.clear()

    def cut_streams(self):
        """Every stream open now goes silent for good, its connection left open."""
        self.cut_up_to = self.streams_opened

    def unmute(self):
        self.muted = False
        self.unmuted.set()
        self.clock.notify()

    # --- as the program's control route would act --------------------------

    def control(self, action, speed=None, hour=None, minute=None):
        if action == 'start':
            self.clock.start()
        elif action == 'stop':
            self.clock.stop()
            self.send_stop_marks(100)
        else:
            self.clock.set(speed, hour, minute)

    def send_stop_marks(self, count):
        if self.rate_target:
            for _ in range(count):
                self.udp.sendto(b'0', self.rate_target)

    def _broadcast(self):
        while not self.stopping.wait(0.01):
            on, ratio, seconds = self.clock.broadcasting()
            if not on:
                continue
            if self.time_target:
                self.udp.sendto(b'%02d%02d' % (seconds // 3600, seconds // 60 % 60), self.time_target)
            if self.rate_target:
                self.udp.sendto(str(ratio).encode(), self.rate_target)

    def _watch_minutes(self):
        last = self.clock.minute()
        while not self.stopping.wait(0.02):
            m = self.clock.minute()
            if m != last:
                last = m
                self.clock.notify()

    def _handler_class(self):
        server = self

        class Handler(BaseHTTPRequestHandler):
            def log_message(self, fmt, *args):
                pass

            def _wait_if_muted(self):
                server.unmuted.wait()

            def _answer(self, status, body=b'', ctype='text/plain; charset=utf-8', extra=()):
                self.send_response(status)
                self.send_header('Content-Type', ctype)
                self.send_header('Content-Length', str(len(body)))
                self.send_header('Cache-Control', 'no-store')
                for name, value in extra:
                    self.send_header(name, value)
                self.end_headers()
                if body and self.command != 'HEAD':
                    self.wfile.write(body)

            def do_GET(self):
                self._wait_if_muted()
                path = urllib.parse.urlsplit(self.path).path
                server.requests[path] += 1
                if path in PAGE_FILES:
                    name, ctype = PAGE_FILES[path]
                    with open(os.path.join(PAGE_DIR, name), 'rb') as f:
                        return self._answer(200, f.read(), ctype)
                if path == '/quorandel/state.json':
                    return self._answer(200, server.clock.snapshot(), 'application/json')
                if path == '/quorandel/events' and not server.events_refused:
                    return self._events()
                return self._answer(404, b'Not found\n')

            def _events(self):
                self.send_response(200)
                self.send_header('Content-Type', 'text/event-stream')
                self.send_header('Cache-Control', 'no-store')
                self.end_headers()
                clock = server.clock
                with clock.lock:
                    server.streams_opened += 1
                    number = server.streams_opened
                try:
                    with clock.lock:
                        seen = clock.version
                    self._event(clock.snapshot())
                    next_ping = time.monotonic() + server.keepalive_s
                    while not server.stopping.is_set():
                        with clock.lock:
                            clock.lock.wait_for(lambda: clock.version != seen or server.stopping.is_set(), 0.5)
                            changed = clock.version != seen
                            seen = clock.version
                        if server.muted or number <= server.cut_up_to:
                            continue  # a program that hangs, or a dead connection, says nothing at all
                        if changed:
                            self._event(clock.snapshot())
                        if time.monotonic() >= next_ping:
                            # The comment is for proxies; the page sees only the named event.
                            self.wfile.write(b': keep-alive\n\nevent: ping\ndata: {}\n\n')
                            self.wfile.flush()
                            next_ping += server.keepalive_s
                except (BrokenPipeError, ConnectionResetError):
                    pass

            def _event(self, data):
                self.wfile.write(b'data: ' + data + b'\n\n')
                self.wfile.flush()

            def do_POST(self):
                self._wait_if_muted()
                if urllib.parse.urlsplit(self.path).path != '/quorandel/control':
                    return self._answer(405, b'Method not allowed\n')
                length = self.headers.get('Content-Length')
                if length is None or not length.isdigit():
                    return self._answer(411, b'Length required\n')
                if int(length) > MAX_BODY:
                    return self._answer(413, b'Body too large\n')
                body = self.rfile.read(int(length))
                verdict = server.gate.check(self.headers.get('Authorization'), server.clock.password,
                                            self.client_address[0])
                if verdict != 204:
                    return self._answer(verdict, b'Refused\n')
                command = read_command(body)
                if isinstance(command, str):
                    return self._answer(400, command.encode() + b'\n')
                server.control(*command)
                self.send_response(204)
                self.end_headers()

        return Handler


def main():
    parser = argparse.ArgumentParser(description=__doc__.split('\n\n')[0])
    parser.add_argument('--password', default='', help='control password (empty: control off)')
    parser.add_argument('--rate-port', type=int, help='send rate datagrams to this port on 127.0.0.1')
    parser.add_argument('--time-port', type=int, help='send time datagrams to this port on 127.0.0.1')
    args = parser.parse_args()
    server = MockServer(args.password, args.rate_port, args.time_port).start()
    print('Live page: %s/quorandel/' % server.url, flush=True)
    try:
        while True:
            time.sleep(3600)
    except KeyboardInterrupt:
        server.close()


if __name__ == '__main__':
    main()

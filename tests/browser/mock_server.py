#!/usr/bin/python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""A stand-in for the program's /quorandel/ routes on 127.0.0.1, to drive the
live page into states the real program rarely reaches: a program that stops
answering, a stream that is refused, or cut (left open and silent, as one
whose phone walked out of Wi-Fi), control switched off. Its clock follows the
program's rules as far as the page can tell: a speed that takes effect at the
next start, a time set that holds a running clock, the streams' ping every
15 s, five wrong passwords that lock the door.
"""

import os
import threading
import time
import urllib.parse
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

PAGE_DIR = os.path.normpath(os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', '..', 'web', 'page'))
PAGE_TYPES = {'index.html': 'text/html; charset=utf-8', 'clock.css': 'text/css; charset=utf-8',
              'clock.js': 'text/javascript; charset=utf-8', 'manifest.webmanifest': 'application/manifest+json'}
KEEPALIVE_S = 15.0
WRONG_BEFORE_LOCK = 5


class MockClock:
    """The clock state the page sees, changed only under its lock."""

    def __init__(self, password):
        self.lock = threading.Condition()
        self.password = password
        self.base_seconds, self.base_at = 6 * 3600 + 30 * 60, time.monotonic()
        self.running = self.held = False
        self.speed, self.interval = 1, 1000
        self.version = 0  # counts every change the events stream must carry

    def seconds(self):
        s = self.base_seconds
        if self.running:
            s += int((time.monotonic() - self.base_at) * 1000 // self.interval)
        return s % 86400

    def snapshot(self):
        with self.lock:
            s = self.seconds()
            return ('{"time":"%02d:%02d:%02d","running":%s,"held":%s,"speed":%d,"interval":%d,"control":%s}' % (
                s // 3600, s // 60 % 60, s % 60, str(self.running).lower(), str(self.held).lower(),
                self.speed, self.interval, str(bool(self.password)).lower())).encode()

    def change(self, action, speed=None, hour=None, minute=None):
        """Start, stop or set as the program's control route does; any action is told on the streams."""
        with self.lock:
            self.base_seconds, self.base_at = self.seconds(), time.monotonic()
            if action == 'start':
                self.running, self.held, self.interval = True, False, round(1000 / self.speed)
            elif action == 'stop':
                self.running = self.held = False
            if speed:
                self.speed = speed
                if not self.running:
                    self.interval = round(1000 / speed)
            if hour is not None:
                self.base_seconds = hour * 3600 + minute * 60
                self.running, self.held = False, self.running or self.held
            self.notify()

    def notify(self):
        with self.lock:
            self.version += 1
            self.lock.notify_all()


def read_command(body):
    """The control form as (action, speed, hour, minute), or the program's reason to refuse it."""
    fields = dict(urllib.parse.parse_qsl(body.decode('latin-1')))
    hour, _, minute = fields.get('time', '').partition(':')
    if hour and int(hour) >= 24:
        return 'Enter Less Than 24'
    return (fields.get('action'), int(fields.get('speed', 0)) or None,
            int(hour) if hour else None, int(minute) if minute else None)


class QuietHTTPServer(ThreadingHTTPServer):
    daemon_threads = True

    # A page that gave up on a muted answer has gone when the answer comes.
    def handle_error(self, request, client_address):
        pass


class MockServer:
    def __init__(self, password):
        self.clock = MockClock(password)
        self.control = self.clock.change
        self.wrong = 0               # wrong passwords since the last right one
        self.muted = False           # every answer waits until unmuted
        self.events_refused = False  # /quorandel/events answers 404
        self.streams_opened = 0      # events streams so far, numbering each
        self.cut_up_to = 0           # streams up to this number send nothing more, nor close
        self.unmuted = threading.Event()
        self.unmuted.set()
        self.stopping = threading.Event()
        self.httpd = QuietHTTPServer(('127.0.0.1', 0), self._handler_class())
        self.url = 'http://127.0.0.1:%d' % self.httpd.server_address[1]
        self.threads = [threading.Thread(target=self.httpd.serve_forever, daemon=True),
                        threading.Thread(target=self._watch_minutes, daemon=True)]

    def start(self):
        for t in self.threads:
            t.start()
        return self

    def close(self):
        self.stopping.set()
        self.unmute()
        self.httpd.shutdown()
        self.httpd.server_close()

    def mute(self):
        self.muted = True
        self.unmuted.clear()

    def unmute(self):
        self.muted = False
        self.unmuted.set()
        self.clock.notify()

    def cut_streams(self):
        """Every stream open now goes silent for good, its connection left open."""
        self.cut_up_to = self.streams_opened

    def refusal(self, header):
        """The status that refuses a control request with this Authorization, or None."""
        if not self.clock.password:
            return 403
        if self.wrong < WRONG_BEFORE_LOCK and header == 'Bearer ' + self.clock.password:
            self.wrong = 0
            return None
        self.wrong += 1
        return 429 if self.wrong >= WRONG_BEFORE_LOCK else 401

    def _watch_minutes(self):
        """As the program does, the streams tell each new model minute."""
        minute = self.clock.seconds() // 60
        while not self.stopping.wait(0.02):
            if self.clock.seconds() // 60 != minute:
                minute = self.clock.seconds() // 60
                self.clock.notify()

    def _handler_class(self):
        server = self

        class Handler(BaseHTTPRequestHandler):
            def log_message(self, fmt, *args):
                pass

            def _answer(self, status, body=b'', ctype='text/plain; charset=utf-8'):
                self.send_response(status)
                self.send_header('Content-Type', ctype)
                self.send_header('Content-Length', str(len(body)))
                self.send_header('Cache-Control', 'no-store')
                self.end_headers()
                self.wfile.write(body)

            def do_GET(self):
                server.unmuted.wait()
                path = urllib.parse.urlsplit(self.path).path
                name = path[len('/quorandel/'):] or 'index.html' if path.startswith('/quorandel/') else None
                if name in PAGE_TYPES:
                    with open(os.path.join(PAGE_DIR, name), 'rb') as f:
                        return self._answer(200, f.read(), PAGE_TYPES[name])
                if name == 'state.json':
                    return self._answer(200, server.clock.snapshot(), 'application/json')
                if name == 'events' and not server.events_refused:
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
                    number, seen = server.streams_opened, clock.version
                try:
                    self._event(clock.snapshot())
                    next_ping = time.monotonic() + KEEPALIVE_S
                    while not server.stopping.is_set():
                        with clock.lock:
                            clock.lock.wait_for(lambda: clock.version != seen or server.stopping.is_set(), 0.5)
                            changed, seen = clock.version != seen, clock.version
                        if server.muted or number <= server.cut_up_to:
                            continue  # a program that hangs, or a dead connection, says nothing at all
                        if changed:
                            self._event(clock.snapshot())
                        if time.monotonic() >= next_ping:
                            # The comment is for proxies; the page sees only the named event.
                            self.wfile.write(b': keep-alive\n\nevent: ping\ndata: {}\n\n')
                            self.wfile.flush()
                            next_ping += KEEPALIVE_S
                except (BrokenPipeError, ConnectionResetError):
                    pass

            def _event(self, data):
                self.wfile.write(b'data: ' + data + b'\n\n')
                self.wfile.flush()

            def do_POST(self):
                server.unmuted.wait()
                body = self.rfile.read(int(self.headers.get('Content-Length', 0)))
                refusal = server.refusal(self.headers.get('Authorization'))
                if refusal:
                    return self._answer(refusal, b'Refused\n')
                command = read_command(body)
                if isinstance(command, str):
                    return self._answer(400, command.encode() + b'\n')
                server.control(*command)
                self.send_response(204)
                self.end_headers()

        return Handler

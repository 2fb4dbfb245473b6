// The live clock page: follows the program's events stream, counts the model
// seconds itself between events, and offers the window's controls to whoever
// knows the control password.
(function () {
  'use strict';

  var BASE = '/quorandel/';
  var QUIET_MS = 10000;        // a silent stream is checked with state.json after this
  var LOST_MS = 20000;         // no answer at all for this long: "No connection"
  var POLL_MS = 1000;          // polling period when there is no stream
  var FETCH_TIMEOUT_MS = 5000; // a request that hangs is given up, so the next can go
  var LOST_RETRY_MS = 2000;    // while there is no connection, asked this often
  var STREAM_FAILURES = 3;     // stream errors in a row before falling back to polling
  var STREAM_RETRY_MS = 60000; // while polling, the stream is tried again this often
  var DAY = 86400;
  var PASSWORD_KEY = 'quorandel.password';
  var SECONDS_KEY = 'quorandel.hideSeconds';

  var el = {};
  ['face', 'digits', 'hh', 'mm', 'seconds', 'speed', 'next-speed', 'status', 'note', 'control-button', 'panel',
   'close-panel', 'login-form', 'password', 'login', 'controls', 'start', 'stop', 'set-form',
   'hours', 'minutes', 'set-speed', 'set', 'logout', 'message'].forEach(function (id) {
    el[id] = document.getElementById(id);
  });
  var speedButtons = Array.prototype.slice.call(document.querySelectorAll('[data-speed]'));

  // What the program said last, and when (performance.now() milliseconds).
  var state = null;
  var stateAt = 0;
  var lastWord = performance.now();  // any answer from the program
  var lost = false;

  // The events stream, or polling when the browser has none or it keeps failing.
  var stream = null;
  var streamWord = 0;       // last message or opening of the stream
  var streamFailures = 0;
  var polling = false;
  var pollingSince = 0;
  var stateRequest = null;  // the state.json request in flight
  var lastStateRequest = -Infinity;

  var memoryPassword = '';  // where sessionStorage is refused (private modes)
  var busy = false;         // a control request is in flight
  var needsFit = true;      // the digits are to be fitted to the screen again

  function now() { return performance.now(); }

  function pad2(n) { return (n < 10 ? '0' : '') + n; }

  function parseState(text) {
    var s;
    try { s = JSON.parse(text); } catch (e) { return null; }
    if (!s || typeof s !== 'object' || typeof s.time !== 'string') return null;
    var m = /^(\d\d):(\d\d):(\d\d)$/.exec(s.time);
    if (!m) return null;
    return {
      seconds: (+m[1]) * 3600 + (+m[2]) * 60 + (+m[3]),
      running: s.running === true,
      held: s.held === true,
      speed: typeof s.speed === 'number' ? s.speed : 0,
      nextSpeed: typeof s.nextSpeed === 'number' ? s.nextSpeed : 0,
      interval: typeof s.interval === 'number' && s.interval > 0 ? s.interval : 0,
      control: s.control === true
    };
  }

  // One model second in real milliseconds, as the program counts it.
  function period() {
    return state.interval || (state.speed > 0 ? 1000 / state.speed : 1000);
  }

  // The model time of day now, counted on from the last word at its speed.
  function modelSeconds(t) {
    var s = state.seconds;
    if (state.running && !lost) s += Math.floor((t - stateAt) / period());
    return ((s % DAY) + DAY) % DAY;
  }

  function setText(node, text) {
    if (node.textContent !== text) node.textContent = text;
  }

  function render() {
    var t = now();
    var face = !state ? (lost ? 'lost' : 'waiting') : lost ? 'lost' : state.running ? 'running' : 'stopped';
    if (el.face.className !== face) el.face.className = face;
    if (!state) {
      setText(el.status, lost ? 'No connection' : 'Connecting\u2026');
      return;
    }
    var s = modelSeconds(t);
    setText(el.hh, pad2(Math.floor(s / 3600)));
    setText(el.mm, pad2(Math.floor(s / 60) % 60));
    setText(el.seconds, ':' + pad2(s % 60));
    setText(el.speed, state.speed + ':1');
    // A speed chosen while the clock runs counts only from the next Start.
    setText(el['next-speed'], state.nextSpeed ? ' \u2192 ' + state.nextSpeed + ':1 at Start' : '');
    setText(el.status, lost ? 'No connection' : state.running ? 'Running' : 'Stopped');
    setText(el.note, !lost && state.held ? 'Time set \u2013 waiting for Start' : '');
    speedButtons.forEach(function (b) {
      b.classList.toggle('current', +b.getAttribute('data-speed') === state.speed);
    });
    el['control-button'].hidden = !state.control;
    if (!state.control) el.panel.hidden = true;
    if (needsFit) fitDigits();
  }

  // The digits as large as the screen allows, whatever the font's widths:
  // measured at a known size, then scaled to the room there is.
  function fitDigits() {
    needsFit = false;
    var portrait = window.innerHeight > window.innerWidth;
    el.digits.style.fontSize = '100px';
    var box = el.digits.getBoundingClientRect();
    if (!box.width || !box.height) return;
    var scale = Math.min(window.innerWidth * 0.94 / box.width,
                         window.innerHeight * (portrait ? 0.7 : 0.6) / box.height);
    el.digits.style.fontSize = Math.floor(100 * scale) + 'px';
  }

  // Runs again at the next model-second boundary, and at least once a second
  // for the connection's bookkeeping.
  function loop() {
    supervise();
    render();
    var delay = 1000;
    if (state && state.running && !lost) delay = Math.min(delay, period() - ((now() - stateAt) % period()) + 5);
    setTimeout(loop, Math.max(20, delay));
  }

  // Any answer from the program. After a silence, a stream that is not the
  // one answering may be stuck on a dead connection, or was given up for
  // polling while the program was away: it is opened anew either way.
  function heard(viaStream) {
    lastWord = now();
    if (!lost) return;
    lost = false;
    if (!viaStream) openStream();
    render();
  }

  // A quiet stream is normal while the clock stands still, but the page
  // cannot see the stream's keep-alive comments; a state.json request shows
  // whether the program is still there. If that state differs from the
  // stream's, the stream missed a change and is opened again.
  function accept(next, source) {
    var t = now();
    if (source === 'check' && !lost && stream && state && differs(state, next, t)) openStream();
    state = next;
    stateAt = t;
    heard(source === 'stream');
    render();
  }

  function differs(before, after, t) {
    if (before.running !== after.running || before.held !== after.held ||
        before.speed !== after.speed || before.nextSpeed !== after.nextSpeed || before.control !== after.control) return true;
    var gap = Math.abs(modelSeconds(t) - after.seconds);
    gap = Math.min(gap, DAY - gap);
    return gap > (after.running ? 2 : 0);
  }

  function openStream() {
    closeStream();
    if (!window.EventSource) return startPolling();
    streamWord = now();
    streamFailures = 0;
    var source = new EventSource(BASE + 'events');
    stream = source;
    source.onopen = function () {
      if (stream !== source) return;
      streamWord = now();
      heard(true);
    };
    source.onmessage = function (e) {
      if (stream !== source) return;
      var s = parseState(e.data);
      if (!s) return;
      streamWord = now();
      streamFailures = 0;
      polling = false;
      accept(s, 'stream');
    };
    source.onerror = function () {
      if (stream !== source) return;
      streamFailures += 1;
      if (source.readyState === EventSource.CLOSED || streamFailures >= STREAM_FAILURES) startPolling();
    };
  }

  function closeStream() {
    if (stream) stream.close();
    stream = null;
  }

  function startPolling() {
    closeStream();
    polling = true;
    pollingSince = now();
  }

  function fetchWithTimeout(url, options) {
    var abort = window.AbortController ? new AbortController() : null;
    var timer = setTimeout(function () { if (abort) abort.abort(); }, FETCH_TIMEOUT_MS);
    options = options || {};
    if (abort) options.signal = abort.signal;
    return fetch(url, options).then(function (response) {
      clearTimeout(timer);
      return response;
    }, function (error) {
      clearTimeout(timer);
      throw error;
    });
  }

  // source: 'poll', 'check' (the stream has been quiet) or 'ask' (no reason
  // to doubt the stream).
  function requestState(source) {
    if (stateRequest) return;
    lastStateRequest = now();
    stateRequest = fetchWithTimeout(BASE + 'state.json', { cache: 'no-store' })
      .then(function (response) {
        return response.ok ? response.text() : null;
      })
      .then(function (text) {
        var s = text === null ? null : parseState(text);
        if (s) accept(s, source);
      })
      .catch(function () { /* counted by the silence it leaves */ })
      .then(function () { stateRequest = null; });
  }

  function supervise() {
    var t = now();
    if (polling) {
      if (t - lastStateRequest >= POLL_MS) requestState('poll');
      if (window.EventSource && t - pollingSince >= STREAM_RETRY_MS) {
        pollingSince = t;
        openStream();
      }
    } else if (lost ? t - lastStateRequest >= LOST_RETRY_MS
                    : t - streamWord >= QUIET_MS && t - lastStateRequest >= QUIET_MS) {
      requestState('check');
    }
    if (!lost && t - lastWord >= LOST_MS) {
      if (state) {
        // The digits stop where they were counted to, not where the last word left them.
        state.seconds = modelSeconds(t);
        stateAt = t;
      }
      lost = true;
      // A stream that hangs without an error would never wake up again.
      if (stream) openStream();
    }
  }

  // --- Control -----------------------------------------------------------

  function storedPassword() {
    try { return sessionStorage.getItem(PASSWORD_KEY) || ''; } catch (e) { return memoryPassword; }
  }

  function storePassword(password) {
    memoryPassword = password;
    try {
      if (password) sessionStorage.setItem(PASSWORD_KEY, password);
      else sessionStorage.removeItem(PASSWORD_KEY);
    } catch (e) { /* kept in memory only */ }
  }

  // A header value carries bytes; the password goes as its UTF-8 bytes.
  function headerBytes(text) {
    if (window.TextEncoder) {
      var bytes = new TextEncoder().encode(text);
      var out = '';
      for (var i = 0; i < bytes.length; i++) out += String.fromCharCode(bytes[i]);
      return out;
    }
    return unescape(encodeURIComponent(text));
  }

  function say(text, kind) {
    el.message.textContent = text;
    el.message.className = kind || '';
  }

  function showPanel() {
    var loggedIn = storedPassword() !== '';
    el['login-form'].hidden = loggedIn;
    el.controls.hidden = !loggedIn;
    el.panel.hidden = false;
    if (!loggedIn) el.password.focus();
  }

  function askPassword(text) {
    storePassword('');
    el.password.value = '';
    showPanel();
    say(text, 'bad');
  }

  function setBusy(on) {
    busy = on;
    el.controls.querySelectorAll('button').forEach(function (b) { b.disabled = on; });
  }

  function oneLine(text) {
    var line = String(text || '').split(/\r?\n/)[0].trim();
    return line.length > 200 ? line.slice(0, 200) + '\u2026' : line;
  }

  function send(fields, done) {
    if (busy) return;
    var password = storedPassword();
    if (!password) return askPassword('Enter the control password.');
    var body = Object.keys(fields).map(function (k) {
      return encodeURIComponent(k) + '=' + encodeURIComponent(fields[k]);
    }).join('&');
    setBusy(true);
    say('Sending\u2026');
    fetchWithTimeout(BASE + 'control', {
      method: 'POST',
      headers: {
        'Authorization': 'Bearer ' + headerBytes(password),
        'Content-Type': 'application/x-www-form-urlencoded'
      },
      body: body,
      cache: 'no-store'
    }).then(function (response) {
      return response.text().then(function (text) { answered(response.status, text, done); });
    }).catch(function () {
      say('No answer from the clock. Try again.', 'bad');
    }).then(function () {
      setBusy(false);
    });
  }

  function answered(status, text, done) {
    heard(false);
    if (status === 204 || status === 200) {
      say('Done.', 'good');
      if (done) done();
      requestState('ask');  // the stream brings it too; this serves the polling case at once
    } else if (status === 400) {
      say(oneLine(text) || 'The clock refused this.', 'bad');
    } else if (status === 401) {
      askPassword('Wrong password. Enter it again.');
    } else if (status === 403) {
      say('Control is switched off on the clock.', 'bad');
    } else if (status === 429) {
      say('Too many wrong passwords. Wait a minute, then try again.', 'bad');
    } else {
      say('The clock answered ' + status + '. ' + oneLine(text), 'bad');
    }
  }

  function digitsOnly(text) {
    return /^\d{1,2}$/.test(text);
  }

  function setTime(e) {
    e.preventDefault();
    var h = el.hours.value.trim();
    var m = el.minutes.value.trim();
    var speed = el['set-speed'].value;
    var fields = { action: 'set' };
    if (h !== '' || m !== '') {
      // Like the program's dialog, an empty box counts as 0.
      h = h === '' ? '0' : h;
      m = m === '' ? '0' : m;
      if (!digitsOnly(h) || !digitsOnly(m)) return say('Enter the hours and minutes as whole numbers.', 'bad');
      fields.time = h + ':' + pad2(+m);
    }
    if (speed) fields.speed = speed;
    if (!fields.time && !fields.speed) return say('Enter a time, choose a speed, or both.', 'bad');
    send(fields, function () {
      el.hours.value = '';
      el.minutes.value = '';
      el['set-speed'].value = '';
    });
  }

  function login(e) {
    e.preventDefault();
    var password = el.password.value;
    if (!password) return say('Enter the control password.', 'bad');
    storePassword(password);
    el.password.value = '';
    showPanel();
    say('Password kept for this tab. The clock checks it with the first command.');
  }

  function toggleSeconds() {
    var hide = !el.digits.classList.contains('no-seconds');
    el.digits.classList.toggle('no-seconds', hide);
    fitDigits();
    try { localStorage.setItem(SECONDS_KEY, hide ? '1' : ''); } catch (e) { /* not kept */ }
  }

  function wire() {
    el['control-button'].addEventListener('click', function () { say(''); showPanel(); });
    el['close-panel'].addEventListener('click', function () { el.panel.hidden = true; });
    el['login-form'].addEventListener('submit', login);
    el.start.addEventListener('click', function () { send({ action: 'start' }); });
    el.stop.addEventListener('click', function () { send({ action: 'stop' }); });
    speedButtons.forEach(function (b) {
      b.addEventListener('click', function () { send({ action: 'set', speed: b.getAttribute('data-speed') }); });
    });
    el['set-form'].addEventListener('submit', setTime);
    el.logout.addEventListener('click', function () {
      storePassword('');
      showPanel();
      say('Password forgotten.');
    });
    el.digits.addEventListener('click', toggleSeconds);
    window.addEventListener('resize', function () { needsFit = true; render(); });
    // Timers sleep in a hidden tab; on return the page asks at once.
    document.addEventListener('visibilitychange', function () {
      if (!document.hidden) requestState('ask');
    });
    try {
      if (localStorage.getItem(SECONDS_KEY)) el.digits.classList.add('no-seconds');
    } catch (e) { /* seconds shown */ }
  }

  wire();
  openStream();
  requestState('ask');
  loop();
})();

// SPDX-License-Identifier: GPL-3.0-or-later
// The live clock page's clock: follows the program's events stream (or polls
// it), counts the model seconds itself between events, shows them as large as
// the screen allows, and comes back after a phone's sleep. It runs last of the
// page's three scripts, after words.js and control.js, and starts the page.
(function () {
  'use strict';

  var BASE = '/quorandel/';
  var QUIET_MS = 17000;        // the program pings every 15 s; quieter than this, it is asked directly
  var CHECK_MS = 5000;         // ...this often, while the stream stays quiet
  var DEAD_STREAM_MS = 35000;  // a stream silent this long is dead, even if the socket says otherwise
  var LOST_MS = 20000;         // no answer at all for this long: "No connection"
  var WAKE_GRACE_MS = 5000;    // after a wake-up, the first answer may take this long
  var ASLEEP_MS = 3000;        // a gap this long between two runs of the loop means timers slept
  var POLL_MS = 1000;          // polling period when there is no stream
  var FETCH_TIMEOUT_MS = 5000; // a request that hangs is given up, so the next can go
  var LOST_RETRY_MS = 2000;    // while there is no connection, asked this often
  var STREAM_FAILURES = 3;     // stream errors in a row before falling back to polling
  var STREAM_RETRY_MS = 60000; // while polling, the stream is tried again this often
  var DAY = 86400;
  var ALARM_MS = 30000;        // an alarm's banner stays this long
  var SECONDS_KEY = 'quorandel.hideSeconds';

  var page = window.quorandel;
  var tr = page.tr;
  var setText = page.setText;
  var pad2 = page.pad2;
  var dateWords = page.dateWords;

  // The address's options, for wall screens and bookmarks: ?kiosk, ?h12, ?seconds=0|1.
  function option(name) {
    var m = new RegExp('[?&]' + name + '(?:=([^&]*))?(?:&|$)').exec(location.search);
    if (!m) return null;
    return m[1] === undefined ? '' : decodeURIComponent(m[1]);
  }
  function optionOn(name) {
    var value = option(name);
    return value !== null && value !== '0' && value !== 'false';
  }
  var kiosk = optionOn('kiosk');
  var h12 = optionOn('h12');
  var secondsOption = option('seconds');

  var el = {};
  ['face', 'top', 'digits', 'hh', 'mm', 'seconds', 'ampm', 'speed', 'next-speed', 'status', 'note', 'spoken-time',
   'control-button', 'panel', 'date', 'alarm', 'date-form'].forEach(function (id) {
    el[id] = document.getElementById(id);
  });
  var speedButtons = Array.prototype.slice.call(document.querySelectorAll('[data-speed]'));

  // What the program said last, and the timing reference the page counts
  // from: state.seconds at stateAt (performance.now() milliseconds).
  var state = null;
  var stateAt = 0;
  var shownCount = -Infinity; // the last second shown, counted from state.seconds without wrapping
  var lastWord = performance.now();  // any answer from the program
  var lastWordDate = Date.now();     // the same on the wall clock, which keeps going while a phone sleeps
  var lost = false;
  var wakingUntil = 0;
  var lastLoop = performance.now();
  var spokenMinute = null;

  // The events stream, or polling when the browser has none or it keeps failing.
  var stream = null;
  var streamWord = 0;       // last event, ping or opening of the stream
  var streamFailures = 0;
  var polling = false;
  var pollingSince = 0;
  var stateRequest = 0;     // how many state.json requests were made; the one in flight is the last
  var stateInFlight = false;
  var lastStateRequest = -Infinity;

  var needsFit = true;      // the digits are to be fitted to the screen again
  var wakeLock = null;

  function now() { return performance.now(); }

  function wrapDay(s) { return ((s % DAY) + DAY) % DAY; }

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
      control: s.control === true,
      date: typeof s.date === 'string' && /^\d{4}-\d\d-\d\d$/.test(s.date) ? s.date : ''
    };
  }

  // One model second in real milliseconds, as the program counts it.
  function period() {
    return state.interval || (state.speed > 0 ? 1000 / state.speed : 1000);
  }

  // Model seconds since the reference's start of day, with the fraction and
  // without wrapping at midnight.
  function position(t) {
    if (!state.running || lost) return state.seconds;
    return state.seconds + (t - stateAt) / period();
  }

  // The second to show: a small correction backwards is waited out rather
  // than shown, so the seconds never step back while the clock runs.
  function shownSeconds(t) {
    var count = Math.floor(position(t));
    if (state.running && !lost && count < shownCount) count = shownCount;
    shownCount = count;
    return wrapDay(count);
  }

  function clockWords(s) {
    var h = Math.floor(s / 3600);
    if (!h12) return { hh: pad2(h), mm: pad2(Math.floor(s / 60) % 60), ampm: '' };
    return { hh: String(h % 12 || 12), mm: pad2(Math.floor(s / 60) % 60), ampm: h < 12 ? 'AM' : 'PM' };
  }

  // An alarm from the stream: a banner for ALARM_MS, said by screen readers
  // as an alert; a newer alarm takes its place.
  var alarmTimer = 0;
  function showAlarm(data) {
    var a;
    try { a = JSON.parse(data); } catch (e) { return; }
    if (!a || typeof a.time !== 'string') return;
    el.alarm.textContent = a.time + (a.text ? ' \u2013 ' + a.text : '');
    el.alarm.hidden = false;
    clearTimeout(alarmTimer);
    alarmTimer = setTimeout(function () { el.alarm.hidden = true; }, ALARM_MS);
  }

  function ago(ms) {
    var s = Math.max(0, Math.round(ms / 1000));
    var t = s < 60 ? tr('sec', { n: s }) : s < 3600 ? tr('min', { n: Math.floor(s / 60) })
                                                    : tr('hour', { n: Math.floor(s / 3600) });
    return tr('lastHeard', { t: t });
  }

  function render() {
    var t = now();
    var face = !state ? (lost ? 'lost' : 'waiting') : lost ? 'lost' : state.running ? 'running' : 'stopped';
    if (kiosk) face += ' kiosk';
    if (el.face.className !== face) el.face.className = face;
    if (!state) {
      setText(el.status, tr(lost ? 'noConnection' : 'connecting'));
      setText(el.note, lost ? ago(Date.now() - lastWordDate) : '');
      return;
    }
    var s = shownSeconds(t);
    var shown = clockWords(s);
    setText(el.hh, shown.hh);
    setText(el.mm, shown.mm);
    setText(el.seconds, ':' + pad2(s % 60));
    setText(el.ampm, shown.ampm);
    // Screen readers hear the time once a minute, not every second.
    var minute = shown.hh + ':' + shown.mm + (shown.ampm ? ' ' + shown.ampm : '');
    if (minute !== spokenMinute) {
      spokenMinute = minute;
      setText(el['spoken-time'], tr('spoken', { t: minute }));
    }
    var date = dateWords(state.date);
    if (el.date.textContent !== date) {
      el.date.textContent = date;
      needsFit = true;
    }
    el['date-form'].hidden = !state.date;
    setText(el.speed, state.speed + ':1');
    // A speed chosen while the clock runs counts only from the next Start.
    setText(el['next-speed'], state.nextSpeed ? ' \u2192 ' + tr('atStart', { s: state.nextSpeed }) : '');
    setText(el.status, tr(lost ? 'noConnection' : state.running ? 'running' : 'stopped'));
    setText(el.note, lost ? ago(Date.now() - lastWordDate) : state.held ? tr('held') : '');
    speedButtons.forEach(function (b) {
      var current = String(+b.getAttribute('data-speed') === state.speed);
      if (b.getAttribute('aria-pressed') !== current) b.setAttribute('aria-pressed', current);
    });
    var controlShown = state.control && !kiosk;
    el['control-button'].hidden = !controlShown;
    if (!controlShown && !el.panel.hidden) page.closePanel();
    if (needsFit) fitDigits();
  }

  // The digits as large as the screen allows, whatever the font's widths and
  // the size of the text around them (which grows with the browser's text
  // zoom): measured at a known size, then scaled to the room there is.
  function fitDigits() {
    needsFit = false;
    var width = window.innerWidth;
    var height = window.innerHeight;
    var portrait = height > width;
    var margin = Math.max(el.top.getBoundingClientRect().bottom, 0);
    if (!el['control-button'].hidden) margin = Math.max(margin, height - el['control-button'].getBoundingClientRect().top);
    // Digits and note are centred together, so the room is what the top line
    // and the Control button leave on both sides.
    var note = el.note.getBoundingClientRect().height + parseFloat(getComputedStyle(el.note).marginTop || '0') +
               el.date.getBoundingClientRect().height;
    var room = Math.max((height - 2 * margin - note) * 0.96, height * 0.2);
    el.digits.style.fontSize = '100px';
    var box = el.digits.getBoundingClientRect();
    if (!box.width || !box.height) return;
    var scale = Math.min(width * 0.94 / box.width, Math.min(room, height * (portrait ? 0.7 : 0.6)) / box.height);
    el.digits.style.fontSize = Math.floor(100 * scale) + 'px';
  }

  // Runs again at the next model-second boundary, and at least once a second
  // for the connection's bookkeeping. A long gap between two runs means the
  // timers slept (a phone's screen off, a tab in the background).
  function loop() {
    var t = now();
    if (t - lastLoop > ASLEEP_MS) {
      // Hidden, the page waits to be shown before it reopens anything.
      if (document.hidden) wakingUntil = t + WAKE_GRACE_MS;
      else wakeUp();
    }
    lastLoop = t;
    supervise();
    render();
    var delay = 1000;
    if (state && state.running && !lost) {
      delay = Math.min(delay, period() - ((position(now()) % 1 + 1) % 1) * period() + 5);
    }
    setTimeout(loop, Math.max(20, delay));
  }

  // Back from sleep or from the background: whatever stream there is may be
  // a dead connection, so it is opened anew, and the state is asked at once.
  // "No connection" waits for these first answers a little, so that it does
  // not flash up on a clock that is about to answer.
  function wakeUp() {
    wakingUntil = now() + WAKE_GRACE_MS;
    if (!polling) openStream();
    requestState('ask', true);
    keepAwake();
  }

  // Any answer from the program. After a silence, a stream that is not the
  // one answering may be stuck on a dead connection, or was given up for
  // polling while the program was away: it is opened anew either way.
  function heard(viaStream) {
    lastWord = now();
    lastWordDate = Date.now();
    if (!lost) return;
    lost = false;
    if (!viaStream) openStream();
    render();
  }

  // The reference is kept while the program's word agrees with it: same
  // course, and the counted time within a model second of the reported one
  // (which is cut to the whole second, so the true time lies in [s, s + 1)).
  // Inside that, the reference is nudged to the nearest agreeing point.
  function accept(next, source) {
    var t = now();
    var keep = !!state && !lost && state.running === next.running && state.held === next.held &&
               state.speed === next.speed && state.interval === next.interval;
    if (keep && next.running) {
      var off = position(t) - next.seconds;
      off = wrapDay(off + DAY / 2) - DAY / 2;
      if (off < -1 || off > 2) keep = false;
      else if (off < 0) stateAt -= -off * period();
      else if (off > 1) stateAt += (off - 1) * period();
    } else if (keep) {
      keep = state.seconds === next.seconds;
    }
    var changed = !keep || state.nextSpeed !== next.nextSpeed || state.control !== next.control ||
                  state.date !== next.date;
    // A check that finds what the stream did not tell: the stream missed it.
    if (source === 'check' && changed && stream && !lost) openStream();
    if (keep) {
      state.nextSpeed = next.nextSpeed;
      state.control = next.control;
      state.date = next.date;
    } else {
      state = next;
      stateAt = t;
      shownCount = -Infinity;
    }
    heard(source === 'stream');
    render();
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
    // The keep-alive the page can see: comment lines never reach it.
    source.addEventListener('alarm', function (e) {
      if (stream !== source) return;
      streamWord = now();
      showAlarm(e.data);
    });
    source.addEventListener('ping', function () {
      if (stream !== source) return;
      streamWord = now();
      streamFailures = 0;
      heard(true);
    });
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

  // A request to the program, given up when it hangs so that the next can go.
  function request(path, options) {
    var abort = window.AbortController ? new AbortController() : null;
    var timer = setTimeout(function () { if (abort) abort.abort(); }, FETCH_TIMEOUT_MS);
    options = options || {};
    if (abort) options.signal = abort.signal;
    return fetch(BASE + path, options).then(function (response) {
      clearTimeout(timer);
      return response;
    }, function (error) {
      clearTimeout(timer);
      throw error;
    });
  }

  // source: 'poll', 'check' (the stream has been quiet) or 'ask' (no reason
  // to doubt the stream). A request from before a sleep may never come back;
  // fresh asks after one do not wait for it.
  function requestState(source, fresh) {
    if (stateInFlight && !fresh && now() - lastStateRequest < FETCH_TIMEOUT_MS) return;
    var mine = ++stateRequest;
    stateInFlight = true;
    lastStateRequest = now();
    request('state.json', { cache: 'no-store' })
      .then(function (response) {
        return response.ok ? response.text() : null;
      })
      .then(function (text) {
        var s = text === null ? null : parseState(text);
        if (s && mine === stateRequest) accept(s, source);
      })
      .catch(function () { /* counted by the silence it leaves */ })
      .then(function () { if (mine === stateRequest) stateInFlight = false; });
  }

  function supervise() {
    var t = now();
    if (polling) {
      if (t - lastStateRequest >= POLL_MS) requestState('poll');
      if (window.EventSource && t - pollingSince >= STREAM_RETRY_MS) {
        pollingSince = t;
        openStream();
      }
    } else {
      if (stream && t - streamWord >= DEAD_STREAM_MS) openStream();
      if (lost ? t - lastStateRequest >= LOST_RETRY_MS
               : t - streamWord >= QUIET_MS && t - lastStateRequest >= CHECK_MS) {
        requestState('check');
      }
    }
    if (!lost && t - lastWord >= LOST_MS && t >= wakingUntil) {
      if (state) {
        // The digits stop where they were counted to, not where the last word left them.
        state.seconds = shownSeconds(t);
        stateAt = t;
      }
      lost = true;
    }
  }

  // --- The screen kept on ----------------------------------------------

  // Only in a secure context (https, or this machine itself) does the browser
  // offer it, and it lets go of the lock whenever the page is hidden.
  function keepAwake() {
    if (!navigator.wakeLock || typeof navigator.wakeLock.request !== 'function') {
      page.wakeLockMissing = true;
      return;
    }
    if (wakeLock || document.hidden) return;
    navigator.wakeLock.request('screen').then(function (lock) {
      wakeLock = lock;
      page.wakeLockMissing = false;
      lock.addEventListener('release', function () { if (wakeLock === lock) wakeLock = null; });
    }, function () {
      page.wakeLockMissing = true;
    });
  }

  function showSeconds(show) {
    el.digits.classList.toggle('no-seconds', !show);
    el.digits.setAttribute('aria-pressed', String(show));
    needsFit = true;
  }

  // A tap on the digits; the choice is kept for this browser's next visits.
  function toggleSeconds() {
    var show = el.digits.classList.contains('no-seconds');
    showSeconds(show);
    fitDigits();
    try { localStorage.setItem(SECONDS_KEY, show ? '' : '1'); } catch (e) { /* not kept */ }
  }

  function wire() {
    el.digits.addEventListener('click', toggleSeconds);
    window.addEventListener('resize', function () { needsFit = true; render(); });
    // Timers sleep in a hidden tab, and the connection may have died meanwhile.
    document.addEventListener('visibilitychange', function () {
      if (!document.hidden) wakeUp();
    });
    if (kiosk) el.digits.tabIndex = -1;
    var hide = false;
    try { hide = !!localStorage.getItem(SECONDS_KEY); } catch (e) { /* seconds shown */ }
    if (secondsOption === '1') hide = false;
    else if (secondsOption === '0') hide = true;
    showSeconds(!hide);
  }

  page.request = request;
  page.heard = heard;
  page.requestState = requestState;
  page.running = function () { return !!state && state.running; };
  wire();
  openStream();
  requestState('ask');
  keepAwake();
  loop();
})();

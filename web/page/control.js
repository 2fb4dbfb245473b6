// SPDX-License-Identifier: GPL-3.0-or-later
// The live clock page's control panel: the window's controls (Start, Stop,
// the speeds, a time set) for whoever knows the control password, which the
// tab keeps and each command carries. It runs after words.js and before
// clock.js, and reaches the clock only through the object they share.
(function () {
  'use strict';

  var PASSWORD_KEY = 'quorandel.password';
  var WAKE_HINT_KEY = 'quorandel.wakeHintSaid';
  var CHANNELS_MS = 5000;  // how often the open panel asks for the throttles' states
  // A channel's state as the program names it, and the words for it.
  var CHANNEL_WORDS = { connecting: 'chConnecting', connected: 'chConnected', lost: 'chLost',
                        waiting: 'chWaiting', answering: 'chAnswering', noAnswer: 'chNoAnswer' };

  var page = window.quorandel;
  var tr = page.tr;

  var el = {};
  ['control-button', 'panel', 'close-panel', 'wake-hint', 'login-form', 'password', 'controls', 'start', 'stop',
   'set-form', 'hours', 'minutes', 'set-speed', 'channels', 'logout', 'message', 'date-form', 'date-input'].forEach(function (id) {
    el[id] = document.getElementById(id);
  });
  var speedButtons = Array.prototype.slice.call(document.querySelectorAll('[data-speed]'));

  var memoryPassword = '';  // where sessionStorage is refused (private modes)
  var busy = false;         // a control request is in flight
  var memoryWakeHintSaid = false;
  var channelsTimer = null;
  // The throttles' states were refused this password: not asked again with it,
  // so that looking costs no more wrong guesses than one; the commands find out.
  var channelsRefused = false;

  function wakeHintSaid() {
    try { return !!localStorage.getItem(WAKE_HINT_KEY); } catch (e) { return memoryWakeHintSaid; }
  }

  function noteWakeHintSaid() {
    memoryWakeHintSaid = true;
    try { localStorage.setItem(WAKE_HINT_KEY, '1'); } catch (e) { /* said again next time */ }
  }

  function storedPassword() {
    try { return sessionStorage.getItem(PASSWORD_KEY) || ''; } catch (e) { return memoryPassword; }
  }

  function storePassword(password) {
    memoryPassword = password;
    channelsRefused = false;
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
    var opening = el.panel.hidden;
    el['login-form'].hidden = loggedIn;
    el.controls.hidden = !loggedIn;
    el.panel.hidden = false;
    el['control-button'].setAttribute('aria-expanded', 'true');
    if (opening) {
      var hint = page.wakeLockMissing && !wakeHintSaid();
      el['wake-hint'].hidden = !hint;
      if (hint) {
        page.setText(el['wake-hint'], tr('wakeHint'));
        noteWakeHintSaid();
      }
    }
    // Keyboard users land in the panel, on what they most likely came for.
    if (!loggedIn) el.password.focus();
    else if (opening) (page.running() ? el.stop : el.start).focus();
    watchChannels(loggedIn && !channelsRefused);
  }

  function closePanel() {
    var hadFocus = el.panel.contains(document.activeElement);
    watchChannels(false);
    el.panel.hidden = true;
    el['control-button'].setAttribute('aria-expanded', 'false');
    if (hadFocus && !el['control-button'].hidden) el['control-button'].focus();
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
    if (!password) return askPassword(tr('enterPassword'));
    var body = Object.keys(fields).map(function (k) {
      return encodeURIComponent(k) + '=' + encodeURIComponent(fields[k]);
    }).join('&');
    // The pressed button is disabled while the command goes; focus stays
    // with it rather than falling back to the page's start.
    var focused = document.activeElement;
    setBusy(true);
    say(tr('sending'));
    page.request('control', {
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
      say(tr('noAnswer'), 'bad');
    }).then(function () {
      setBusy(false);
      if (focused && !el.panel.hidden && !el.controls.hidden && el.controls.contains(focused) &&
          (document.activeElement === document.body || !document.activeElement)) focused.focus();
    });
  }

  function answered(status, text, done) {
    page.heard(false);
    if (status === 204 || status === 200) {
      say(tr('done'), 'good');
      if (channelsRefused) {
        channelsRefused = false;
        watchChannels(true);
      }
      if (done) done();
      page.requestState('ask');  // the stream brings it too; this serves the polling case at once
    } else if (status === 400) {
      say(oneLine(text) || tr('refused'), 'bad');
    } else if (status === 401) {
      askPassword(tr('wrongPassword'));
    } else if (status === 403) {
      say(tr('controlOff'), 'bad');
    } else if (status === 429) {
      say(tr('tooMany'), 'bad');
    } else {
      say(tr('answered', { n: status }) + ' ' + oneLine(text), 'bad');
    }
  }

  // The throttles' states, asked for with the password while the panel is
  // open: one line each, those that are not up in the warning colour.
  function showChannels(list) {
    el.channels.textContent = '';
    list.forEach(function (c) {
      var item = document.createElement('li');
      var key = CHANNEL_WORDS[c.state];
      item.textContent = key ? tr(key, { n: c.name, t: c.since || '' }) : c.name + ': ' + c.state;
      if (c.state === 'lost' || c.state === 'noAnswer') item.className = 'bad';
      el.channels.appendChild(item);
    });
    el.channels.hidden = list.length === 0;
  }

  function askChannels() {
    var password = storedPassword();
    if (!password) return watchChannels(false);
    page.request('channels', { headers: { 'Authorization': 'Bearer ' + headerBytes(password) }, cache: 'no-store' })
      .then(function (response) {
        if (!channelsTimer) return;  // the panel closed meanwhile
        if (!response.ok) {
          channelsRefused = response.status === 401;
          return watchChannels(false);
        }
        return response.json().then(function (answer) {
          if (channelsTimer && answer && Array.isArray(answer.channels)) showChannels(answer.channels);
        });
      })
      .catch(function () { /* asked again at the next turn */ });
  }

  function watchChannels(on) {
    if (on && !channelsTimer) {
      channelsTimer = setInterval(askChannels, CHANNELS_MS);
      askChannels();
    } else if (!on && channelsTimer) {
      clearInterval(channelsTimer);
      channelsTimer = null;
      el.channels.hidden = true;
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
      if (!digitsOnly(h) || !digitsOnly(m)) return say(tr('wholeNumbers'), 'bad');
      fields.time = h + ':' + page.pad2(+m);
    }
    if (speed) fields.speed = speed;
    if (!fields.time && !fields.speed) return say(tr('enterSomething'), 'bad');
    send(fields, function () {
      el.hours.value = '';
      el.minutes.value = '';
      el['set-speed'].value = '';
    });
  }

  // The browser's date field gives YYYY-MM-DD, as the clock takes it.
  function setDate(e) {
    e.preventDefault();
    var date = el['date-input'].value;
    if (!date) return say(tr('enterDate'), 'bad');
    send({ action: 'set', date: date });
  }

  function login(e) {
    e.preventDefault();
    var password = el.password.value;
    if (!password) return say(tr('enterPassword'), 'bad');
    storePassword(password);
    el.password.value = '';
    showPanel();
    el.start.focus();
    say(tr('passwordKept'));
  }

  function wire() {
    el['control-button'].addEventListener('click', function () {
      if (el.panel.hidden) {
        say('');
        showPanel();
      } else {
        closePanel();
      }
    });
    el['close-panel'].addEventListener('click', closePanel);
    document.addEventListener('keydown', function (e) {
      if ((e.key === 'Escape' || e.key === 'Esc') && !el.panel.hidden) {
        e.preventDefault();
        closePanel();
      }
    });
    el['login-form'].addEventListener('submit', login);
    el.start.addEventListener('click', function () { send({ action: 'start' }); });
    el.stop.addEventListener('click', function () { send({ action: 'stop' }); });
    speedButtons.forEach(function (b) {
      b.addEventListener('click', function () { send({ action: 'set', speed: b.getAttribute('data-speed') }); });
    });
    el['set-form'].addEventListener('submit', setTime);
    el['date-form'].addEventListener('submit', setDate);
    el.logout.addEventListener('click', function () {
      storePassword('');
      showPanel();
      say(tr('passwordForgotten'));
    });
  }

  page.closePanel = closePanel;
  wire();
})();

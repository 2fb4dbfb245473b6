// SPDX-License-Identifier: GPL-3.0-or-later
// The live clock page's words: every text it says, in the browser's own
// language where it speaks it. It runs first of the page's three scripts
// (index.html loads words.js, control.js, clock.js in this order): it puts the
// page's fixed texts into place and makes the one object the scripts share.
(function () {
  'use strict';

  // Every word the page says, in each language it speaks; {x} is filled in.
  var TEXTS = {
    en: {
      connecting: 'Connecting\u2026', running: 'Running', stopped: 'Stopped', noConnection: 'No connection',
      lastHeard: 'last heard {t} ago', sec: '{n} s', min: '{n} min', hour: '{n} h',
      held: 'Time set \u2013 waiting for Start', atStart: '{s}:1 at Start', speed: 'Speed', secondsHint: 'Shows or hides the seconds',
      spoken: 'Model time {t}',
      control: 'Control', close: 'Close', password: 'Control password', logIn: 'Log in', start: 'Start',
      stop: 'Stop', speedLegend: 'Speed', setTime: 'Set time', hours: 'Hours', minutes: 'Minutes',
      speedWithTime: 'Speed with the time', speedAsIs: 'speed as is', set: 'Set',
      setHint: 'A time set holds the clock until Start, as in the program\u2019s own Set Time dialog.',
      forget: 'Forget the password',
      wakeHint: 'This browser cannot keep the screen on for the clock. To keep it on, set the device\u2019s ' +
                'screen timeout to its longest while the clock is in use.',
      enterPassword: 'Enter the control password.', sending: 'Sending\u2026', done: 'Done.',
      noAnswer: 'No answer from the clock. Try again.', refused: 'The clock refused this.',
      wrongPassword: 'Wrong password. Enter it again.', controlOff: 'Control is switched off on the clock.',
      tooMany: 'Too many wrong passwords. Wait a minute, then try again.', answered: 'The clock answered {n}.',
      wholeNumbers: 'Enter the hours and minutes as whole numbers.',
      enterSomething: 'Enter a time, choose a speed, or both.',
      passwordKept: 'Password kept for this tab. The clock checks it with the first command.',
      passwordForgotten: 'Password forgotten.', channels: 'Throttles',
      chConnected: '{n}: connected', chConnecting: '{n}: connecting\u2026', chLost: '{n}: offline since {t}',
      chAnswering: '{n}: answering', chWaiting: '{n}: no answer yet', chNoAnswer: '{n}: no answer since {t}',
      locale: 'en-GB', setDate: 'Set date', modelDate: 'Model date', enterDate: 'Enter a date.'
    },
    de: {
      connecting: 'Verbinde\u2026', running: 'L\u00e4uft', stopped: 'Angehalten', noConnection: 'Keine Verbindung',
      lastHeard: 'zuletzt geh\u00f6rt vor {t}', sec: '{n} s', min: '{n} Min.', hour: '{n} Std.',
      held: 'Zeit gestellt \u2013 wartet auf Start', atStart: '{s}:1 ab Start', speed: 'Geschwindigkeit',
      secondsHint: 'Zeigt oder verbirgt die Sekunden', spoken: 'Modellzeit {t}',
      control: 'Steuerung', close: 'Schlie\u00dfen', password: 'Steuerungspasswort', logIn: 'Anmelden',
      start: 'Start', stop: 'Stopp', speedLegend: 'Geschwindigkeit', setTime: 'Zeit stellen', hours: 'Stunden',
      minutes: 'Minuten', speedWithTime: 'Geschwindigkeit mit der Zeit', speedAsIs: 'Geschwindigkeit wie bisher',
      set: 'Stellen',
      setHint: 'Eine gestellte Zeit h\u00e4lt die Uhr bis Start an, wie der Dialog \u201eZeit stellen\u201c des Programms.',
      forget: 'Passwort l\u00f6schen',
      wakeHint: 'Dieser Browser kann den Bildschirm f\u00fcr die Uhr nicht eingeschaltet lassen. Dazu die ' +
                'Bildschirm-Abschaltzeit des Ger\u00e4ts auf die l\u00e4ngste stellen, solange die Uhr gebraucht wird.',
      enterPassword: 'Steuerungspasswort eingeben.', sending: 'Sende\u2026', done: 'Erledigt.',
      noAnswer: 'Keine Antwort von der Uhr. Bitte erneut versuchen.', refused: 'Die Uhr hat das abgelehnt.',
      wrongPassword: 'Falsches Passwort. Bitte erneut eingeben.',
      controlOff: 'Die Steuerung ist an der Uhr ausgeschaltet.',
      tooMany: 'Zu viele falsche Passw\u00f6rter. Eine Minute warten, dann erneut versuchen.',
      answered: 'Die Uhr antwortete {n}.', wholeNumbers: 'Stunden und Minuten als ganze Zahlen eingeben.',
      enterSomething: 'Eine Zeit eingeben, eine Geschwindigkeit w\u00e4hlen oder beides.',
      passwordKept: 'Passwort f\u00fcr diesen Tab gemerkt. Die Uhr pr\u00fcft es beim ersten Befehl.',
      passwordForgotten: 'Passwort gel\u00f6scht.', channels: 'Handregler',
      chConnected: '{n}: verbunden', chConnecting: '{n}: verbinde\u2026', chLost: '{n}: offline seit {t}',
      chAnswering: '{n}: antwortet', chWaiting: '{n}: noch keine Antwort', chNoAnswer: '{n}: keine Antwort seit {t}',
      locale: 'de-DE', setDate: 'Datum stellen', modelDate: 'Modelldatum', enterDate: 'Ein Datum eingeben.'
    },
    fr: {
      connecting: 'Connexion\u2026', running: 'En marche', stopped: 'Arr\u00eat\u00e9e', noConnection: 'Pas de connexion',
      lastHeard: 'dernier signal il y a {t}', sec: '{n} s', min: '{n} min', hour: '{n} h',
      held: 'Heure r\u00e9gl\u00e9e \u2013 attend D\u00e9marrer', atStart: '{s}:1 au d\u00e9marrage', speed: 'Vitesse',
      secondsHint: 'Affiche ou masque les secondes', spoken: 'Heure du r\u00e9seau {t}',
      control: 'Commande', close: 'Fermer', password: 'Mot de passe de commande', logIn: 'Se connecter',
      start: 'D\u00e9marrer', stop: 'Arr\u00eater', speedLegend: 'Vitesse', setTime: 'R\u00e9gler l\u2019heure',
      hours: 'Heures', minutes: 'Minutes', speedWithTime: 'Vitesse avec l\u2019heure', speedAsIs: 'vitesse inchang\u00e9e',
      set: 'R\u00e9gler',
      setHint: 'Une heure r\u00e9gl\u00e9e retient l\u2019horloge jusqu\u2019\u00e0 D\u00e9marrer, comme la bo\u00eete ' +
               '\u00ab\u00a0R\u00e9gler l\u2019heure\u00a0\u00bb du programme.',
      forget: 'Oublier le mot de passe',
      wakeHint: 'Ce navigateur ne peut pas garder l\u2019\u00e9cran allum\u00e9 pour l\u2019horloge. Pour le garder ' +
                'allum\u00e9, r\u00e9glez la mise en veille de l\u2019\u00e9cran de l\u2019appareil sur la plus longue ' +
                'dur\u00e9e pendant la s\u00e9ance.',
      enterPassword: 'Entrez le mot de passe de commande.', sending: 'Envoi\u2026', done: 'Fait.',
      noAnswer: 'Pas de r\u00e9ponse de l\u2019horloge. R\u00e9essayez.', refused: 'L\u2019horloge a refus\u00e9.',
      wrongPassword: 'Mot de passe erron\u00e9. Entrez-le \u00e0 nouveau.',
      controlOff: 'La commande est d\u00e9sactiv\u00e9e sur l\u2019horloge.',
      tooMany: 'Trop de mots de passe erron\u00e9s. Attendez une minute, puis r\u00e9essayez.',
      answered: 'L\u2019horloge a r\u00e9pondu {n}.',
      wholeNumbers: 'Entrez les heures et les minutes en nombres entiers.',
      enterSomething: 'Entrez une heure, choisissez une vitesse, ou les deux.',
      passwordKept: 'Mot de passe gard\u00e9 pour cet onglet. L\u2019horloge le v\u00e9rifie \u00e0 la premi\u00e8re commande.',
      passwordForgotten: 'Mot de passe oubli\u00e9.', channels: 'Manettes',
      chConnected: '{n}\u00a0: connect\u00e9', chConnecting: '{n}\u00a0: connexion\u2026',
      chLost: '{n}\u00a0: hors ligne depuis {t}', chAnswering: '{n}\u00a0: r\u00e9pond',
      chWaiting: '{n}\u00a0: pas encore de r\u00e9ponse', chNoAnswer: '{n}\u00a0: pas de r\u00e9ponse depuis {t}',
      locale: 'fr-FR', setDate: 'R\u00e9gler la date', modelDate: 'Date du r\u00e9seau', enterDate: 'Entrez une date.'
    },
    nl: {
      connecting: 'Verbinden\u2026', running: 'Loopt', stopped: 'Gestopt', noConnection: 'Geen verbinding',
      lastHeard: '{t} geleden voor het laatst gehoord', sec: '{n} s', min: '{n} min', hour: '{n} u',
      held: 'Tijd ingesteld \u2013 wacht op Start', atStart: '{s}:1 bij Start', speed: 'Snelheid',
      secondsHint: 'Toont of verbergt de seconden', spoken: 'Modeltijd {t}',
      control: 'Bediening', close: 'Sluiten', password: 'Bedieningswachtwoord', logIn: 'Inloggen', start: 'Start',
      stop: 'Stop', speedLegend: 'Snelheid', setTime: 'Tijd instellen', hours: 'Uren', minutes: 'Minuten',
      speedWithTime: 'Snelheid bij de tijd', speedAsIs: 'snelheid ongewijzigd', set: 'Instellen',
      setHint: 'Een ingestelde tijd houdt de klok vast tot Start, zoals het venster Tijd instellen van het programma.',
      forget: 'Wachtwoord wissen',
      wakeHint: 'Deze browser kan het scherm voor de klok niet aan houden. Zet daarvoor de schermtime-out van ' +
                'het apparaat op de langste stand zolang de klok gebruikt wordt.',
      enterPassword: 'Voer het bedieningswachtwoord in.', sending: 'Verzenden\u2026', done: 'Gedaan.',
      noAnswer: 'Geen antwoord van de klok. Probeer het opnieuw.', refused: 'De klok heeft dit geweigerd.',
      wrongPassword: 'Verkeerd wachtwoord. Voer het opnieuw in.',
      controlOff: 'De bediening staat op de klok uit.',
      tooMany: 'Te veel verkeerde wachtwoorden. Wacht een minuut en probeer het dan opnieuw.',
      answered: 'De klok antwoordde {n}.', wholeNumbers: 'Voer de uren en minuten in als hele getallen.',
      enterSomething: 'Voer een tijd in, kies een snelheid, of beide.',
      passwordKept: 'Wachtwoord bewaard voor dit tabblad. De klok controleert het bij de eerste opdracht.',
      passwordForgotten: 'Wachtwoord gewist.', channels: 'Handregelaars',
      chConnected: '{n}: verbonden', chConnecting: '{n}: verbinden\u2026', chLost: '{n}: offline sinds {t}',
      chAnswering: '{n}: antwoordt', chWaiting: '{n}: nog geen antwoord', chNoAnswer: '{n}: geen antwoord sinds {t}',
      locale: 'nl-NL', setDate: 'Datum instellen', modelDate: 'Modeldatum', enterDate: 'Voer een datum in.'
    }
  };

  function chooseLanguage() {
    var wanted = navigator.languages && navigator.languages.length ? navigator.languages : [navigator.language || ''];
    for (var i = 0; i < wanted.length; i++) {
      var primary = String(wanted[i]).toLowerCase().split('-')[0];
      if (TEXTS.hasOwnProperty(primary)) return primary;
    }
    return 'en';
  }

  var lang = chooseLanguage();
  var words = TEXTS[lang];

  function tr(key, fill) {
    var text = words[key];
    if (fill) {
      text = text.replace(/\{(\w+)\}/g, function (all, name) { return fill.hasOwnProperty(name) ? fill[name] : all; });
    }
    return text;
  }

  function translate() {
    document.documentElement.lang = lang;
    Array.prototype.forEach.call(document.querySelectorAll('[data-t]'), function (node) {
      node.textContent = tr(node.getAttribute('data-t'));
    });
    Array.prototype.forEach.call(document.querySelectorAll('[data-t-label]'), function (node) {
      node.setAttribute('aria-label', tr(node.getAttribute('data-t-label')));
    });
    Array.prototype.forEach.call(document.querySelectorAll('[data-t-title]'), function (node) {
      node.title = tr(node.getAttribute('data-t-title'));
    });
  }

  function pad2(n) { return (n < 10 ? '0' : '') + n; }

  // "Fri 14 Jun 1957" in the page's language; the date as sent where the
  // browser cannot say it.
  function dateWords(iso) {
    if (!iso || !window.Intl) return iso;
    var day = new Date(Date.UTC(2000, +iso.slice(5, 7) - 1, +iso.slice(8, 10)));
    day.setUTCFullYear(+iso.slice(0, 4));
    try {
      return new Intl.DateTimeFormat(tr('locale'), { weekday: 'short', day: 'numeric', month: 'short',
                                                     year: 'numeric', timeZone: 'UTC' }).format(day).replace(/,/g, '');
    } catch (e) {
      return iso;
    }
  }

  function setText(node, text) {
    if (node.textContent !== text) node.textContent = text;
  }

  // index.html holds the texts in English; here they take the chosen language.
  translate();

  // All that the page's scripts share, in one place. Each part is filled in by
  // the script named beside it, before anything is started; the clock starts
  // last, so each call below finds its callee in place.
  window.quorandel = {
    // words.js: the texts, and how a text, a number or a date is put on the page
    tr: tr,
    setText: setText,
    pad2: pad2,
    dateWords: dateWords,
    // control.js: the clock closes the panel when control is switched off
    closePanel: null,
    // clock.js: what the panel's commands need of the connection and the clock
    request: null,          // request(path, options): a fetch under /quorandel/ that gives up when it hangs
    heard: null,            // heard(viaStream): any answer from the program
    requestState: null,     // requestState(source): the state asked for at once
    running: null,          // running(): the clock, as last told, runs
    wakeLockMissing: false  // the browser cannot keep the screen on
  };
})();

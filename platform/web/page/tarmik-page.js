// The page around the game: its texts, the window scaled to the screen, the console panel (its
// bytes are Shift-JIS, shown as text), the input queue the game's GLUT reads (keys, mouse,
// touch), the title-line overlay, sound, the ranking kept in IndexedDB and shown as a table,
// "play again", and the service worker. The game's module (tarmik.js) calls in through
// window.tarmik; each run of the game is a fresh instance of it.
'use strict';
(function () {
  // Every text the page shows, by language: another language is another table here (the
  // game's own texts come from its message catalogs, po/*.po, which tarmik-lang.js holds too).
  const TEXTS = {
    ja: {
      name: '日本語',
      title: 'ＴＡＲＭＩＫ',
      language: '言語',
      percent: '％',
      about: 'ＴＡＲＭＩＫは、地上の的を上空から撃ち抜く 3D シューティングです。' +
        'マウス（スマートフォンではドラッグ）で照準を動かし、クリック（タップ）で撃ちます。' +
        'ステージの的をすべて撃つと次のステージへ進み、時間と弾が増えます。' +
        's でスタート、r でランキング、y / n でもう一度 / タイトルへ、q で終了。Esc はマウスの固定を外すだけです。',
      readme: '説明書（README）',
      readmeHref: 'README.md',
      fullscreen: '全画面',
      answer: '1 または 2 を入力して Enter',
      answerLabel: 'メニューの答え',
      again: 'もう一度遊ぶ',
      ranking: 'ランキング',
      place: '順位', score: '得点', stage: 'ステージ', hitrate: '命中率', titleHead: '称号',
      empty: 'まだ記録がありません。',
      download: 'ranking.dat を保存',
      load: 'ranking.dat を読み込む',
      loaded: (n) => `ranking.dat から ${n} 件の記録を読み込みました。\n`,
      unreadable: 'このファイルからは記録を読めませんでした。\n',
      stateTitle: 'タイトル画面：s でスタート、r でランキング、q で終了',
      statePlay: 'プレイ中：照準を動かして撃ってください（Esc でマウスの固定を外す）',
      stateOver: 'ゲーム終了：y でもう一度、n でタイトルへ',
      stateEnded: 'ゲームを終えました。',
      stateFailed: 'ゲームが止まりました。',
      stateLoading: '読み込み中…',
      cannot: (what) => `この画面では ${what} が使えないため、ゲームを始められません。\n`,
      badDemo: (n) => `デモ ${n} は使えません（このページと同じ場所にあるファイル名だけが使えます）。\n`,
      noDemo: (n) => `デモ ${n} を読めません。\n`,
      noLoad: 'ゲームを読み込めませんでした。ページを読み込み直してください。\n',
      submitName: '名前',
      submit: '共有ランキングに送る',
      submitting: '送っています…',
      submitted: (place, score) => `共有ランキング：${place}位　${score}点`,
      refused: (why) => `共有ランキングに登録されませんでした：${why}`,
      sendFailed: '共有ランキングに送れませんでした。',
    },
    en: {
      name: 'English',
      title: 'TARMIK',
      language: 'Language',
      percent: '%',
      about: 'TARMIK is a 3D shooting game: you look down through a telescopic sight and shoot ' +
        'the figures and targets on the ground. Move the sight with the mouse (drag on a phone), ' +
        'click (tap) to fire. Clear every target of a stage to go on to the next, with more time ' +
        'and more shots. s starts, r lists the ranking, y / n play again / back to the title, ' +
        'q quits. Esc only lets the mouse go.',
      readme: 'Manual (README)',
      readmeHref: 'README.md',
      fullscreen: 'Full screen',
      answer: 'Type 1 or 2, then Enter',
      answerLabel: 'Answer to the menu',
      again: 'Play again',
      ranking: 'Ranking',
      place: 'Place', score: 'Score', stage: 'Stages', hitrate: 'Hit rate', titleHead: 'Title',
      empty: 'No results yet.',
      download: 'Save ranking.dat',
      load: 'Load ranking.dat',
      loaded: (n) => `${n} record${n === 1 ? '' : 's'} loaded from ranking.dat.\n`,
      unreadable: 'No record could be read from this file.\n',
      stateTitle: 'Title screen: s to start, r for the ranking, q to quit',
      statePlay: 'Playing: move the sight and shoot (Esc lets the mouse go)',
      stateOver: 'Game over: y to play again, n for the title screen',
      stateEnded: 'The game has ended.',
      stateFailed: 'The game has stopped.',
      stateLoading: 'Loading...',
      cannot: (what) => `The game cannot start: this screen has no ${what}.\n`,
      badDemo: (n) => `The demo ${n} cannot be used (only a file name beside this page can).\n`,
      noDemo: (n) => `The demo ${n} cannot be read.\n`,
      noLoad: 'The game could not be loaded. Please reload the page.\n',
      submitName: 'Name',
      submit: 'Send to the shared ranking',
      submitting: 'Sending...',
      submitted: (place, score) => `Shared ranking: place ${place}, ${score} points`,
      refused: (why) => `Not taken into the shared ranking: ${why}`,
      sendFailed: 'Could not reach the shared ranking.',
    },
  };
  const CATALOGS = self.TARMIK_CATALOGS || {};

  const params = new URLSearchParams(location.search);
  // The page's language: ?lang=, else the one chosen on the page before, else the browser's
  // first that the page has (Japanese for ja), else English.
  const STORED_LANGUAGE = 'tarmik-language';
  function remembered() {
    try {
      return localStorage.getItem(STORED_LANGUAGE);
    } catch (e) {
      return null;
    }
  }
  function browserLanguage() {
    for (const tag of navigator.languages || [navigator.language || '']) {
      const code = String(tag).toLowerCase().split(/[-_]/)[0];
      if (TEXTS[code]) return code;
    }
    return 'en';
  }
  const asked = params.get('lang') || remembered();
  let lang = TEXTS[asked] ? asked : browserLanguage();
  let T = TEXTS[lang];
  const $ = (id) => document.getElementById(id);
  const consoleEl = $('console');
  const win = $('window');
  const frameEl = $('frame');
  const overlay = $('title');
  const menu = $('menu');
  const answer = $('answer');
  const statusEl = $('status');
  const stateEl = $('state');
  const againButton = $('again');
  const keysEl = $('keys');
  let canvas = $('canvas');
  const sjis = new TextDecoder('shift_jis');

  const languageEl = $('lang');
  for (const code of Object.keys(TEXTS)) languageEl.add(new Option(TEXTS[code].name, code));
  function showTexts() {
    document.documentElement.lang = lang;
    for (const el of document.querySelectorAll('[data-text]')) el.textContent = T[el.dataset.text];
    $('readme').href = T.readmeHref;
    answer.placeholder = T.answer;
    answer.setAttribute('aria-label', T.answerLabel);
    languageEl.value = lang;
    languageEl.setAttribute('aria-label', T.language);
    $('submit-name').placeholder = T.submitName;
    $('submit-name').setAttribute('aria-label', T.submitName);
  }
  showTexts();

  const EVENT_KEY = 1, EVENT_BUTTON = 2, EVENT_MOTION = 3, EVENT_PLACE = 4, EVENT_FRAME = 5,
    EVENT_LANGUAGE = 6;

  const t = window.tarmik = {
    manualClock: params.get('clock') === 'manual',
    clockTarget: 0,
    clockNow: 0,
    runs: 0,
    frames: 0,
    firstFrameMs: null,
    promptMs: null,
    consoleBytes: [],
    errorText: '',
    exitStatus: null,
    state: 'loading',
    windowOpen: false,
    wantLock: false,
    events: [],
    input: [],
    inputClosed: false,
    saved: null,
    stored: 0,
    module: null,
  };
  // The current run's files, for the page and for tests.
  t.readFile = (path) => t.module.FS.readFile(path);

  // ---- the window on the screen ----
  // Whole multiples of the game's size where they fit, with sharp pixels; smaller than the
  // game's size where the screen is (a phone), smoothly.
  function layout() {
    const full = document.fullscreenElement === win;
    const keys = keysEl.classList.contains('shown') ? keysEl.offsetHeight + 8 : 0;
    let room, tall;
    if (full) {
      room = window.innerWidth;
      tall = window.innerHeight - keys;
    } else {
      room = Math.min(document.documentElement.clientWidth - 24, $('game').clientWidth);
      tall = Math.max(window.innerHeight - $('game').getBoundingClientRect().top + window.scrollY - 56 - keys, 240);
    }
    const fit = Math.min(room / canvas.width, tall / canvas.height);
    const scale = fit >= 1 ? Math.floor(fit) : Math.max(fit, 0.1);
    frameEl.style.width = Math.floor(canvas.width * scale) + 'px';
    frameEl.style.height = Math.floor(canvas.height * scale) + 'px';
    for (const c of [canvas, overlay]) c.classList.toggle('sharp', scale >= 1);
    t.scale = scale;
  }
  window.addEventListener('resize', layout);
  document.addEventListener('fullscreenchange', layout);
  $('fullscreen').addEventListener('click', () => {
    if (document.fullscreenElement) document.exitFullscreen();
    else if (win.requestFullscreen) win.requestFullscreen().catch(() => {});
  });
  if (!document.fullscreenEnabled) $('fullscreen').hidden = true;
  function showKeys() {
    if (keysEl.classList.contains('shown')) return;
    keysEl.classList.add('shown');
    layout();
  }
  if (navigator.maxTouchPoints > 0 || matchMedia('(any-pointer: coarse)').matches) showKeys();
  layout();

  // ---- console panel ----
  let line = [];
  function show(text, cls) {
    const span = document.createElement('span');
    if (cls) span.className = cls;
    span.textContent = text;
    consoleEl.appendChild(span);
    consoleEl.scrollTop = consoleEl.scrollHeight;
  }
  function stdout(byte) {
    if (byte === null || byte === undefined) return;
    byte &= 255;
    t.consoleBytes.push(byte);
    if (byte !== 10) {
      line.push(byte);
      return;
    }
    const text = sjis.decode(new Uint8Array(line));
    line = [];
    show(text + '\n');
    if (params.has('trace')) console.log(performance.now().toFixed(0) + ' ' + text);
    // The menu line (in either language): the game now waits for the answer.
    if (t.promptMs === null && (text.startsWith('１：') || text.startsWith('1: '))) {
      t.promptMs = performance.now();
      if (autoAnswer) give(autoAnswer);
      else if (!matchMedia('(any-pointer: coarse)').matches) answer.focus();
    }
  }
  // Standard error goes to the panel too, as it would to the terminal: a demo that plays
  // back differently says where before the game ends.
  let errLine = [];
  function stderr(byte) {
    if (byte === null || byte === undefined) return;
    if (byte !== 10) {
      errLine.push(byte & 255);
      return;
    }
    const text = sjis.decode(new Uint8Array(errLine));
    errLine = [];
    t.errorText += text + '\n';
    console.warn(text);
    show(text + '\n', 'notice');
  }
  // The console's text as it arrived, decoded.
  t.consoleText = () => sjis.decode(new Uint8Array(t.consoleBytes));

  // ---- the game's status, where the menu was ----
  function setState(state, again) {
    if (state === t.state && !again) return;
    t.state = state;
    const text = { title: T.stateTitle, play: T.statePlay, over: T.stateOver, ended: T.stateEnded,
      failed: T.stateFailed, loading: T.stateLoading }[state];
    stateEl.textContent = text || '';
    againButton.hidden = state !== 'ended' && state !== 'failed';
    const asking = state === 'menu';
    menu.hidden = !asking;
    statusEl.hidden = asking;
  }

  let autoAnswer = null;
  function give(text) {
    if (t.answerMs === undefined) t.answerMs = performance.now();
    show(text + '\n', 'typed');
    for (const b of new TextEncoder().encode(text + '\n')) t.input.push(b);
  }
  menu.addEventListener('submit', (e) => {
    e.preventDefault();
    audio.unlock();
    give(answer.value);
    answer.value = '';
  });
  for (const b of menu.querySelectorAll('button[data-answer]')) {
    b.addEventListener('click', () => {
      audio.unlock();
      give(b.dataset.answer);
      if (t.windowOpen) canvas.focus();
    });
  }
  t.takeInput = (dest) => {
    if (t.input.length === 0) return t.inputClosed ? -1 : 0;
    const n = Math.min(dest.length, t.input.length);
    dest.set(t.input.splice(0, n));
    return n;
  };

  // ---- input queue ----
  function push(type, a, b) {
    if (!t.windowOpen) return;
    const last = t.events[t.events.length - 1];
    // Motion between two other events arrives as one, as a fast mouse gives it.
    if (type === EVENT_MOTION && last && last[0] === EVENT_MOTION) {
      last[1] += a;
      last[2] += b;
      return;
    }
    t.events.push([type, a, b]);
  }
  t.takeEvent = () => t.events.shift() || null;
  // For tests: one more frame, as a window event would give.
  t.frame = () => push(EVENT_FRAME, 0, 0);

  const keyCodes = { Enter: 13, Backspace: 8, Tab: 9, Delete: 127 };
  document.addEventListener('keydown', (e) => {
    audio.unlock();
    // Typing into a field (the menu's answer, a name) is not playing.
    if (!t.windowOpen || e.target.tagName === 'INPUT' || e.ctrlKey || e.altKey || e.metaKey) return;
    // Enter and space on a button press the button.
    if (e.target.tagName === 'BUTTON' && (e.key === 'Enter' || e.key === ' ')) return;
    // Esc is the browser's key for letting the pointer go: in the page it does only that.
    if (e.key === 'Escape') {
      if (locked()) document.exitPointerLock();
      return;
    }
    let code = keyCodes[e.key];
    if (code === undefined && e.key.length === 1 && e.key.charCodeAt(0) < 128) code = e.key.charCodeAt(0);
    if (code === undefined) return;
    e.preventDefault();
    push(EVENT_KEY, code, 0);
  });
  for (const b of keysEl.querySelectorAll('button[data-key]')) {
    b.addEventListener('click', () => {
      audio.unlock();
      push(EVENT_KEY, b.dataset.key.charCodeAt(0), 0);
    });
  }

  // Frame pixels from the page's: the window may be scaled.
  const frameX = (v) => v * canvas.width / canvas.getBoundingClientRect().width;
  const frameY = (v) => v * canvas.height / canvas.getBoundingClientRect().height;

  let lastTouch = -1e9; // the mouse events a browser makes up after a touch are not the mouse's
  const fromTouch = () => performance.now() - lastTouch < 1000;
  function locked() {
    return document.pointerLockElement === canvas;
  }
  function lock() {
    if (!t.wantLock || locked() || fromTouch() || !canvas.requestPointerLock) return;
    try {
      const p = canvas.requestPointerLock();
      if (p && p.catch) p.catch(() => {});
    } catch (e) { /* refused without a gesture: the next click asks again */ }
  }
  const held = new Set();
  win.addEventListener('mousedown', (e) => {
    if (e.target !== canvas || fromTouch()) return;
    audio.unlock();
    canvas.focus();
    e.preventDefault();
    lock();
    if (e.button > 2) return;
    held.add(e.button);
    push(EVENT_BUTTON, e.button, 0);
  });
  document.addEventListener('mouseup', (e) => {
    if (!held.delete(e.button)) return;
    push(EVENT_BUTTON, e.button, 1);
  });
  win.addEventListener('contextmenu', (e) => e.preventDefault());
  let placed = false, restX = 0, restY = 0;
  function place(x, y) {
    placed = true;
    push(EVENT_PLACE, Math.floor(frameX(x)), Math.floor(frameY(y)));
  }
  // Relative motion in whole pixels; fractions wait for the next event.
  function move(dx, dy) {
    restX += dx;
    restY += dy;
    const x = Math.trunc(restX), y = Math.trunc(restY);
    restX -= x;
    restY -= y;
    if (x || y) push(EVENT_MOTION, x, y);
  }
  document.addEventListener('mousemove', (e) => {
    if ((!locked() && e.target !== canvas) || fromTouch()) return;
    if (!placed) {
      const r = canvas.getBoundingClientRect();
      return place(e.clientX - r.left, e.clientY - r.top);
    }
    move(e.movementX, e.movementY);
  });

  // Touch: a drag pans by the frame's pixels under the finger, a tap without a drag fires.
  let touch = null;
  const DRAG = 8; // page pixels a finger may wander in a tap
  win.addEventListener('pointerdown', (e) => {
    if (e.pointerType === 'mouse') return;
    lastTouch = performance.now();
    showKeys();
    if (e.target !== canvas || touch) return;
    audio.unlock();
    e.preventDefault();
    const r = canvas.getBoundingClientRect();
    if (!placed) place(e.clientX - r.left, e.clientY - r.top);
    touch = { id: e.pointerId, x: e.clientX, y: e.clientY, lastX: e.clientX, lastY: e.clientY, drag: false };
  });
  win.addEventListener('pointermove', (e) => {
    if (!touch || e.pointerId !== touch.id) return;
    lastTouch = performance.now();
    e.preventDefault();
    if (Math.hypot(e.clientX - touch.x, e.clientY - touch.y) > DRAG) touch.drag = true;
    move(frameX(e.clientX - touch.lastX), frameY(e.clientY - touch.lastY));
    touch.lastX = e.clientX;
    touch.lastY = e.clientY;
  });
  const touchEnd = (e) => {
    if (!touch || e.pointerId !== touch.id) return;
    lastTouch = performance.now();
    if (!touch.drag && e.type === 'pointerup') {
      push(EVENT_BUTTON, 0, 0);
      push(EVENT_BUTTON, 0, 1);
    }
    touch = null;
  };
  win.addEventListener('pointerup', touchEnd);
  win.addEventListener('pointercancel', touchEnd);

  // ---- the window ----
  t.openCanvas = (w, h, title) => {
    t.openMs = performance.now();
    t.resizeCanvas(w, h);
    document.title = title;
    t.windowOpen = true;
    canvas.focus();
  };
  t.resizeCanvas = (w, h) => {
    canvas.width = overlay.width = w;
    canvas.height = overlay.height = h;
    layout();
  };
  t.hidePointer = (hide) => {
    canvas.style.cursor = hide ? 'none' : '';
  };
  // Locked while a game is played (not on touch), free on the title screen and once the game
  // is over.
  t.confinePointer = (on) => {
    t.wantLock = on;
    if (on) lock();
    else if (locked()) document.exitPointerLock();
  };
  let titleShown = false;
  t.frameShown = () => {
    t.frames++;
    if (t.firstFrameMs === null) {
      t.firstFrameMs = performance.now();
      afterFirstFrame();
    }
    // The title line is drawn on the title screen alone; the pointer is held while playing.
    setState(titleShown ? 'title' : t.wantLock ? 'play' : 'over');
    persist();
  };

  // The title line: a Japanese Gothic with a 30-pixel cell, black, unsmoothed as on the desktop.
  const titleCache = new Map();
  const overlayCtx = overlay.getContext('2d');
  t.clearOverlay = () => {
    overlayCtx.clearRect(0, 0, overlay.width, overlay.height);
    titleShown = false;
  };
  t.titleText = (x, y, bytes) => {
    titleShown = true;
    const text = sjis.decode(bytes);
    let img = titleCache.get(text);
    if (!img) {
      img = renderTitle(text);
      titleCache.set(text, img);
    }
    overlayCtx.drawImage(img, x, y);
  };
  const titleFont = '"MS Gothic", "ＭＳ ゴシック", "IPAGothic", "IPAゴシック", "IPAexGothic", "Noto Sans Mono CJK JP", monospace';
  function renderTitle(text) {
    const c = document.createElement('canvas');
    let ctx = c.getContext('2d');
    ctx.font = '30px ' + titleFont;
    const m = ctx.measureText(text);
    const asc = m.fontBoundingBoxAscent || 26, desc = m.fontBoundingBoxDescent || 4;
    const size = 30 * 30 / (asc + desc);
    c.width = Math.ceil(m.width * size / 30) + 2;
    c.height = 32;
    ctx = c.getContext('2d');
    ctx.font = size + 'px ' + titleFont;
    ctx.textBaseline = 'alphabetic';
    ctx.fillStyle = '#000';
    ctx.fillText(text, 0, Math.round(asc * size / 30));
    const img = ctx.getImageData(0, 0, c.width, c.height);
    const p = img.data;
    for (let i = 0; i < p.length; i += 4) {
      const on = p[i + 3] >= 128;
      p[i] = p[i + 1] = p[i + 2] = 0;
      p[i + 3] = on ? 255 : 0;
    }
    ctx.putImageData(img, 0, 0);
    return c;
  }

  t.fatal = (what) => show(T.cannot(what), 'notice');

  // What the window shows now, title line included, as a PNG data URL (the frame turned over
  // as the page shows it).
  t.snapshot = () => {
    const c = document.createElement('canvas');
    c.width = canvas.width;
    c.height = canvas.height;
    const ctx = c.getContext('2d');
    ctx.setTransform(1, 0, 0, -1, 0, c.height);
    ctx.drawImage(canvas, 0, 0);
    ctx.setTransform(1, 0, 0, 1, 0, 0);
    ctx.drawImage(overlay, 0, 0);
    return c.toDataURL('image/png');
  };

  // ---- the ranking, kept in IndexedDB with the same bytes ----
  // One record (database '/save', store 'FILE_DATA', key '/save/ranking.dat',
  // { timestamp, mode, contents }), changed only in read-write transactions that merge: the
  // game's table plus what other tabs stored since this one last read or wrote the record, as
  // the desktop merges ranking.dat. Each new table is put first in localStorage, at once, so
  // that a reload or a closed tab cannot lose it; whichever page runs next takes it in, and
  // the record names what it took in, so nothing counts twice.
  function same(a, b) {
    if (!a || !b || a.length !== b.length) return false;
    for (let i = 0; i < a.length; i++) if (a[i] !== b[i]) return false;
    return true;
  }
  const STORE = 'FILE_DATA', KEY = '/save/ranking.dat', PENDING = 'tarmik-ranking-pending:';
  const tab = Date.now().toString(36) + Math.random().toString(36).slice(2, 8);
  let pendingCount = 0;
  const unkept = new Map(); // tables that localStorage refused, waiting here instead
  let storage = null;
  try {
    storage = window.localStorage; // a page may be denied it
  } catch (e) { /* the store alone, then */ }
  const waiting = (prefix) => (storage ? Object.keys(storage) : []).concat([...unkept.keys()])
    .filter((k) => k.startsWith(prefix)).sort();
  const entry = (k) => {
    try {
      return unkept.get(k) || JSON.parse(storage.getItem(k));
    } catch (e) {
      return null; // taken meanwhile
    }
  };
  const bytesText = (b) => { let s = ''; for (let i = 0; i < b.length; i++) s += String.fromCharCode(b[i]); return s; };
  const textBytes = (s) => Uint8Array.from(s, (c) => c.charCodeAt(0));
  t.base = ''; // the record's contents as this tab last read or wrote them

  // The game's own reading: records of four items, the first three decimal 32-bit integers,
  // up to the first that cannot be read whole.
  function records(text) {
    const items = text.split(/[ \t\n\v\f\r]+/).filter((w) => w);
    const out = [];
    const int32 = (w) => /^[+-]?[0-9]+$/.test(w) && Number(w) >= -2147483648 && Number(w) <= 2147483647;
    for (let k = 0; k + 4 <= items.length; k += 4) {
      if (!int32(items[k]) || !int32(items[k + 1]) || !int32(items[k + 2])) break;
      const [score, stage, hitrate] = [Number(items[k]), Number(items[k + 1]), Number(items[k + 2])];
      out.push({ score, stage, hitrate, title: items[k + 3], line: `${score}\t\t${stage}\t${hitrate}\t${items[k + 3]}\n` });
    }
    return out;
  }
  // mine, with the records of now that are not in base put in as the game puts a result in.
  function merge(mine, base, now) {
    const table = records(mine);
    const seen = new Map();
    for (const r of records(base)) seen.set(r.line, (seen.get(r.line) || 0) + 1);
    for (const r of records(now)) {
      if (seen.get(r.line)) {
        seen.set(r.line, seen.get(r.line) - 1);
        continue;
      }
      let at = 0;
      while (at < table.length && table[at].score >= r.score) at++;
      table.splice(at, 0, r);
      if (table.length > 20) table.pop();
    }
    return table.map((r) => r.line).join('');
  }

  let db = null;
  function openStore(done) {
    if (db) return done(db);
    let req;
    try {
      req = indexedDB.open('/save', 21);
    } catch (e) {
      return done(null);
    }
    req.onupgradeneeded = () => {
      const store = req.result.objectStoreNames.contains(STORE) ? req.transaction.objectStore(STORE)
        : req.result.createObjectStore(STORE);
      if (!store.indexNames.contains('timestamp')) store.createIndex('timestamp', 'timestamp', { unique: false });
    };
    req.onsuccess = () => done(db = req.result);
    req.onerror = () => done(null);
  }
  // Takes every table waiting in localStorage into the record; done(contents) when stored,
  // done(null) when the store could not be used (they wait for the next time).
  function flush(callback) {
    let called = false;
    const done = (contents) => {
      if (!called) callback(contents);
      called = true;
    };
    openStore((d) => {
      if (!d) return done(null);
      let tx;
      try {
        tx = d.transaction(STORE, 'readwrite');
      } catch (e) {
        return done(null);
      }
      const store = tx.objectStore(STORE);
      let contents = null, taken = [];
      const get = store.get(KEY);
      get.onsuccess = () => {
        const rec = get.result;
        contents = rec && rec.contents ? bytesText(rec.contents) : '';
        const applied = (rec && rec.applied) || [];
        for (const k of waiting(PENDING)) {
          if (applied.includes(k)) {
            taken.push(k);
            continue;
          }
          const e = entry(k);
          if (!e) continue;
          contents = merge(e.mine, e.base, contents);
          applied.push(k);
          taken.push(k);
        }
        if (taken.length) {
          store.put({ timestamp: new Date(), mode: 0o100644, contents: textBytes(contents), applied: applied.slice(-100) }, KEY);
        }
      };
      tx.oncomplete = () => {
        for (const k of taken) {
          if (storage) storage.removeItem(k);
          unkept.delete(k);
        }
        if (taken.length) t.stored++;
        done(contents);
      };
      tx.onabort = tx.onerror = () => done(null);
    });
  }
  // Puts a table in line for the store: at once in localStorage (or here), then into the
  // record, and the record's contents back into the game's folder (its next merge takes in
  // what other tabs added).
  function keep(mine, base) {
    const key = `${PENDING}${tab}:${String(++pendingCount).padStart(8, '0')}`;
    try {
      storage.setItem(key, JSON.stringify({ mine, base }));
    } catch (e) {
      unkept.set(key, { mine, base }); // no localStorage here: the store alone keeps it
    }
    flush(stored);
  }
  function stored(contents) {
    if (contents === null) return;
    t.base = contents;
    const now = textBytes(contents);
    if (!same(now, t.saved)) {
      t.saved = now;
      const run = t.module;
      if (run && t.exitStatus === null) {
        try {
          run.FS.writeFile('/game/ranking.dat', now);
        } catch (e) { /* the run has ended meanwhile */ }
      }
    }
    showTable();
  }
  // The game has written ranking.dat: keep the table.
  function persist() {
    let data;
    try {
      data = t.readFile('/game/ranking.dat');
    } catch (e) {
      return;
    }
    if (same(data, t.saved)) return;
    t.saved = data;
    // Against the last table of this tab still waiting, if any: the store will hold it first.
    const mineWaiting = waiting(PENDING + tab);
    const last = mineWaiting.length && entry(mineWaiting[mineWaiting.length - 1]);
    keep(bytesText(data), last ? last.mine : t.base);
  }

  // The table beside the window: the stored records, as the file holds them (twenty at most),
  // each title by its name in the page's language (the file keeps the Japanese word).
  const decodeTitle = (s) => {
    const word = sjis.decode(textBytes(s));
    return (CATALOGS[lang] && CATALOGS[lang][word]) || word;
  };
  function showTable() {
    const rows = records(t.saved ? bytesText(t.saved) : t.base);
    const body = $('table');
    body.textContent = '';
    rows.forEach((r, i) => {
      const tr = document.createElement('tr');
      for (const v of [i + 1, r.score, r.stage, r.hitrate + T.percent, decodeTitle(r.title)]) {
        const td = document.createElement('td');
        td.textContent = v;
        tr.appendChild(td);
      }
      body.appendChild(tr);
    });
    $('empty').hidden = rows.length > 0;
    body.parentElement.hidden = rows.length === 0;
    $('download').disabled = rows.length === 0;
    t.tableRows = rows.length;
  }
  // The file as the desktop writes it.
  $('download').addEventListener('click', () => {
    const bytes = t.saved || textBytes(t.base);
    const a = document.createElement('a');
    a.href = URL.createObjectURL(new Blob([bytes], { type: 'application/octet-stream' }));
    a.download = 'ranking.dat';
    document.body.appendChild(a);
    a.click();
    a.remove();
    setTimeout(() => URL.revokeObjectURL(a.href), 10000);
  });
  // A file loaded comes in as another game's table would: its records that the stored table
  // lacks are put in (so loading a saved file twice adds nothing).
  $('load').addEventListener('click', () => $('file').click());
  $('file').addEventListener('change', () => {
    const f = $('file').files[0];
    $('file').value = '';
    if (!f) return;
    f.arrayBuffer().then((b) => {
      const text = bytesText(new Uint8Array(b.slice(0, 64 * 1024)));
      const n = records(text).length;
      if (n === 0) return show(T.unreadable, 'notice');
      keep(text, text);
      show(T.loaded(n), 'notice');
    });
  });

  // ---- sound ----
  const audio = t.audio = {
    ctx: null,
    buffers: new Map(),
    playing: new Map(),
    effectSource: null,
    effectToken: 0,
    beep: null,
    available() {
      return !!(window.AudioContext || window.webkitAudioContext);
    },
    context() {
      if (!this.ctx) this.ctx = new (window.AudioContext || window.webkitAudioContext)();
      return this.ctx;
    },
    unlock() {
      const ctx = this.context();
      if (ctx.state === 'suspended') ctx.resume().catch(() => {});
    },
    load(id, name, bytes) {
      const ctx = this.context();
      this.buffers.set(id, ctx.decodeAudioData(bytes.buffer).catch(() => null));
    },
    // What the build rendered for a game file (the music's MIDI, an effect's WAVE), beside the
    // page under the same name in MP3; fetched and decoded once for the whole page.
    renderings: new Map(),
    rendering(id, name) {
      const url = name.replace(/^.*\//, '').replace(/\.[^.]*$/, '') + '.mp3';
      if (!this.renderings.has(url)) {
        this.renderings.set(url, fetch(url)
          .then((r) => (r.ok ? r.arrayBuffer() : Promise.reject(new Error(url))))
          .then((b) => this.context().decodeAudioData(b))
          .catch(() => null));
      }
      this.buffers.set(id, this.renderings.get(url));
    },
    start(buffer) {
      const ctx = this.context();
      const s = ctx.createBufferSource();
      s.buffer = buffer;
      s.connect(ctx.destination);
      s.start();
      return s;
    },
    play(id) {
      const p = this.buffers.get(id);
      if (!p) return;
      this.close(id, true);
      p.then((buffer) => {
        if (buffer && this.buffers.get(id) === p) this.playing.set(id, this.start(buffer));
      });
    },
    close(id, keep) {
      const s = this.playing.get(id);
      if (s) {
        try { s.stop(); } catch (e) { /* already ended */ }
        this.playing.delete(id);
      }
      if (!keep) this.buffers.delete(id);
    },
    // A new effect cuts off the one still playing; one without a sound beeps.
    effect(id) {
      const token = ++this.effectToken;
      const p = id === 0 ? Promise.resolve(null) : (this.buffers.get(id) || Promise.resolve(null));
      p.then((buffer) => {
        if (token !== this.effectToken) return;
        if (this.effectSource) {
          try { this.effectSource.stop(); } catch (e) { /* already ended */ }
        }
        this.effectSource = this.start(buffer || this.beepBuffer());
      });
    },
    // Everything stops when a run ends.
    stopAll() {
      for (const id of [...this.playing.keys()]) this.close(id, false);
      this.buffers.clear();
      if (this.effectSource) {
        try { this.effectSource.stop(); } catch (e) { /* already ended */ }
        this.effectSource = null;
      }
    },
    beepBuffer() {
      if (this.beep) return this.beep;
      const ctx = this.context();
      const rate = ctx.sampleRate, n = Math.floor(rate * 0.18);
      const b = ctx.createBuffer(1, n, rate);
      const d = b.getChannelData(0);
      for (let i = 0; i < n; i++) {
        const tm = i / rate, f = i < n / 2 ? 988 : 784;
        const env = Math.min(1, tm / 0.005, (n - i) / (0.01 * rate));
        d[i] = 0.5 * env * Math.sin(2 * Math.PI * f * tm);
      }
      return (this.beep = b);
    },
  };

  // ---- ?demo=NAME ----
  // A game recorded on the desktop: a plain file name, fetched from beside the page into a
  // folder of its own (never over the game's files) and handed to the game's playback option.
  // Anything else (a path, another site, "..") is refused and the game starts as usual.
  const demoParam = params.get('demo');
  const plainName = (n) => /^[^/\\:\x00-\x1f\x7f]+$/.test(n) && !n.includes('..');
  const demoName = demoParam !== null && plainName(demoParam) ? demoParam : null;
  const demoPath = demoName && '/demos/' + demoName;
  if (demoParam !== null && !demoName) show(T.badDemo(demoParam), 'notice');

  // ---- the module ----
  // The compiled module, the game folder's package and the module's script are fetched at
  // once, in parallel, and kept: a run made later ("play again") needs no network.
  const fetchBytes = (url) => fetch(url).then((r) => (r.ok ? r.arrayBuffer() : Promise.reject(new Error(url))));
  const compiled = (WebAssembly.compileStreaming
    ? WebAssembly.compileStreaming(fetch('tarmik.wasm')).catch(() => fetchBytes('tarmik.wasm').then((b) => WebAssembly.compile(b)))
    : fetchBytes('tarmik.wasm').then((b) => WebAssembly.compile(b)));
  const packaged = fetchBytes('tarmik.data');
  const factory = new Promise((ok, no) => {
    const s = document.createElement('script');
    s.src = 'tarmik.js';
    s.onload = () => ok(window.createTarmik);
    s.onerror = no;
    document.body.appendChild(s);
  });

  function newRun(answerWith) {
    if (t.runs++ > 0) consoleEl.textContent = ''; // the ended run's lines go with it
    t.frames = 0;
    t.clockTarget = t.clockNow = 0;
    t.promptMs = null;
    t.exitStatus = null;
    t.inputClosed = false;
    t.restartAtMenu = false;
    t.runLanguage = null;
    t.consoleBytes = [];
    t.errorText = '';
    t.events = [];
    t.input = [];
    t.windowOpen = false;
    t.wantLock = false;
    placed = false;
    line = [];
    errLine = [];
    autoAnswer = answerWith;
    setState(answerWith ? 'loading' : 'menu');
    answer.disabled = false;
    Promise.all([factory, compiled, packaged]).then(([create, wasm, data]) => {
      t.runLanguage = t.language;
      const run = {
        canvas,
        arguments: ['--lang', t.runLanguage].concat(demoName ? ['--playdemo', demoPath] : []),
        instantiateWasm(imports, receive) {
          WebAssembly.instantiate(wasm, imports).then((instance) => receive(instance, wasm));
          return {};
        },
        getPreloadedPackage: () => data.slice(0),
        preRun: [(M) => {
          t.module = M;
          const FS = M.FS;
          FS.init(() => null, stdout, stderr);
          FS.mkdirTree('/game');
          FS.chdir('/game');
          // The ranking as the store holds it, with what earlier pages left waiting.
          M.addRunDependency('ranking');
          flush((contents) => {
            if (contents) {
              const bytes = textBytes(contents);
              FS.writeFile('/game/ranking.dat', bytes);
              t.saved = bytes;
              t.base = contents;
            }
            showTable();
            M.removeRunDependency('ranking');
          });
          if (demoName) {
            M.addRunDependency('demo');
            fetch(encodeURIComponent(demoName), { credentials: 'same-origin' })
              .then((r) => (r.ok && new URL(r.url).origin === location.origin ? r.arrayBuffer()
                : Promise.reject(new Error(demoName))))
              .then((b) => {
                FS.mkdirTree('/demos');
                FS.writeFile(demoPath, new Uint8Array(b));
              })
              .catch(() => show(T.noDemo(demoName), 'notice'))
              .finally(() => M.removeRunDependency('demo'));
          }
        }],
        print: (s) => console.log(s),
        printErr: (s) => console.warn(s),
        onExit: ended,
      };
      t.module = run;
      create(run);
    }).catch(() => {
      show(T.noLoad, 'notice');
      setState('failed');
    });
  }
  // The game has ended (q, the menu's 2, the end of a demo): the page offers another run.
  function ended(status) {
    t.exitStatus = status;
    if (t.restartAtMenu) {
      audio.stopAll();
      return freshRun(null);
    }
    t.windowOpen = false;
    if (document.pointerLockElement) document.exitPointerLock();
    audio.stopAll();
    answer.disabled = true;
    persist();
    // 0: q or the end of a demo; 255 (-1): the menu's 2.
    setState(status === 0 || (status & 255) === 255 ? 'ended' : 'failed');
  }
  // A fresh canvas: the ended run's drawing state goes with the old one.
  function freshRun(answerWith) {
    const old = canvas;
    canvas = old.cloneNode(false);
    old.replaceWith(canvas);
    const lose = old.getContext('webgl') && old.getContext('webgl').getExtension('WEBGL_lose_context');
    if (lose) lose.loseContext();
    layout();
    newRun(answerWith);
    canvas.focus();
  }
  againButton.addEventListener('click', () => freshRun('1'));
  t.playAgain = () => againButton.click();

  // The switch: the page's texts change at once, and the game's: at the menu (or when it has
  // ended) a new run starts in the new language; while it plays, its next frame speaks it.
  function switchLanguage(code) {
    if (!TEXTS[code] || code === lang) return;
    lang = code;
    T = TEXTS[lang];
    try {
      localStorage.setItem(STORED_LANGUAGE, lang);
    } catch (e) { /* chosen for this page only */ }
    showTexts();
    setState(t.state, true);
    showTable();
    if (t.windowOpen) {
      push(EVENT_LANGUAGE, 0, 0);
    } else if (t.exitStatus === null && t.runLanguage && t.runLanguage !== t.language) {
      // Still at the menu: its input ends (the game leaves as at the end of a console's input)
      // and a new run asks again.
      t.restartAtMenu = true;
      t.inputClosed = true;
    }
  }
  languageEl.addEventListener('change', () => switchLanguage(languageEl.value));
  t.switchLanguage = switchLanguage;
  Object.defineProperty(t, 'language', { get: () => (CATALOGS[lang] || lang === 'ja' ? lang : 'en') });

  // ---- the shared ranking ----
  // Served by a tarmik-server, the page offers each finished game's own demo to its ranking,
  // under a name the player gives; the server replays it and answers with the place.
  const submitForm = $('submit');
  const submitName = $('submit-name');
  const submitAnswer = $('submit-answer');
  let sharedRanking = false, lastGame = null;
  const offerGame = () => {
    if (!sharedRanking || !lastGame) return;
    submitForm.hidden = false;
    submitAnswer.textContent = '';
    submitForm.querySelector('button').disabled = false;
  };
  // A game may end before a busy server answers: the offer then comes with the answer.
  fetch('../api/health', { cache: 'no-store' })
    .then((r) => r.json())
    .then((j) => {
      sharedRanking = !!(j && j.replays);
      if (submitForm.hidden) offerGame();
    })
    .catch(() => {});
  t.gameFinished = (text) => {
    lastGame = text;
    offerGame();
  };
  submitForm.addEventListener('submit', (e) => {
    e.preventDefault();
    const demo = lastGame, player = submitName.value.trim();
    if (!demo || !player) return;
    submitForm.querySelector('button').disabled = true;
    submitAnswer.textContent = T.submitting;
    fetch('../api/games', {
      method: 'POST', headers: { 'Content-Type': 'application/json' },
      body: JSON.stringify({ player, demo }),
    }).then((r) => r.json().then((j) => ({ ok: r.ok, j })))
      .then(({ ok, j }) => {
        submitAnswer.textContent = ok ? T.submitted(j.place, j.score) : T.refused(j.error || '');
        t.submitted = { ok, answer: j };
        if (ok) lastGame = null;
        else submitForm.querySelector('button').disabled = false;
      })
      .catch(() => {
        submitAnswer.textContent = T.sendFailed;
        submitForm.querySelector('button').disabled = false;
      });
    if (t.windowOpen) canvas.focus();
  });

  // After the first frame: the service worker, which keeps the page for play without a network.
  function afterFirstFrame() {
    if ('serviceWorker' in navigator && location.protocol !== 'file:' && !params.has('nosw')) {
      navigator.serviceWorker.register('sw.js').catch(() => {});
    }
  }

  // ?answer=1 answers the menu as soon as it is asked (a link that starts playing at once).
  newRun(params.get('answer'));
})();

// The page around the game: the console panel (its bytes are Shift-JIS, shown as text), the
// input queue the game's GLUT reads, the title-line overlay, sound, and the ranking kept in
// IndexedDB. The game's module (tarmik.js) calls in through window.tarmik.
'use strict';
(function () {
  const params = new URLSearchParams(location.search);
  const consoleEl = document.getElementById('console');
  const canvas = document.getElementById('canvas');
  const overlay = document.getElementById('title');
  const menu = document.getElementById('menu');
  const answer = document.getElementById('answer');
  const sjis = new TextDecoder('shift_jis');

  const EVENT_KEY = 1, EVENT_BUTTON = 2, EVENT_MOTION = 3, EVENT_PLACE = 4, EVENT_FRAME = 5;

  const t = window.tarmik = {
    manualClock: params.get('clock') === 'manual',
    clockTarget: 0,
    clockNow: 0,
    frames: 0,
    firstFrameMs: null,
    promptMs: null,
    consoleBytes: [],
    errorText: '',
    exitStatus: null,
    windowOpen: false,
    wantLock: false,
    events: [],
    input: [],
    inputClosed: false,
    saved: null,
    stored: 0,
  };

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
    // The menu line: the game now waits for the answer.
    if (t.promptMs === null && text.startsWith('１：')) {
      t.promptMs = performance.now();
      answer.focus();
    }
  }
  // Standard error goes to the panel too, as it would to the terminal: a demo that plays
  // back differently says where before the game ends with status 1.
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

  const keyCodes = { Escape: 27, Enter: 13, Backspace: 8, Tab: 9, Delete: 127 };
  document.addEventListener('keydown', (e) => {
    audio.unlock();
    if (!t.windowOpen || e.target === answer || e.ctrlKey || e.altKey || e.metaKey) return;
    let code = keyCodes[e.key];
    if (code === undefined && e.key.length === 1 && e.key.charCodeAt(0) < 128) code = e.key.charCodeAt(0);
    if (code === undefined) return;
    e.preventDefault();
    push(EVENT_KEY, code, 0);
  });

  function locked() {
    return document.pointerLockElement === canvas;
  }
  function lock() {
    if (!t.wantLock || locked() || !canvas.requestPointerLock) return;
    try {
      const p = canvas.requestPointerLock();
      if (p && p.catch) p.catch(() => {});
    } catch (e) { /* refused without a gesture: the next click asks again */ }
  }
  const held = new Set();
  canvas.addEventListener('mousedown', (e) => {
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
  canvas.addEventListener('contextmenu', (e) => e.preventDefault());
  let placed = false, restX = 0, restY = 0;
  document.addEventListener('mousemove', (e) => {
    if (!locked() && e.target !== canvas) return;
    if (!placed) {
      placed = true;
      push(EVENT_PLACE, Math.floor(e.offsetX), Math.floor(e.offsetY));
      return;
    }
    // Relative motion in whole pixels; fractions wait for the next event.
    restX += e.movementX;
    restY += e.movementY;
    const dx = Math.trunc(restX), dy = Math.trunc(restY);
    restX -= dx;
    restY -= dy;
    if (dx || dy) push(EVENT_MOTION, dx, dy);
  });

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
  };
  t.hidePointer = (hide) => {
    canvas.style.cursor = hide ? 'none' : '';
  };
  // Locked while a game is played, free on the title screen and once the game is over.
  t.confinePointer = (on) => {
    t.wantLock = on;
    if (on) lock();
    else if (locked()) document.exitPointerLock();
  };
  t.frameShown = () => {
    t.frames++;
    if (t.firstFrameMs === null) t.firstFrameMs = performance.now();
    persist();
  };

  // The title line: a Japanese Gothic with a 30-pixel cell, black, unsmoothed as on the desktop.
  const titleCache = new Map();
  const overlayCtx = overlay.getContext('2d');
  t.clearOverlay = () => overlayCtx.clearRect(0, 0, overlay.width, overlay.height);
  t.titleText = (x, y, bytes) => {
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

  t.fatal = (what) => show('この画面では ' + what + ' が使えないため、ゲームを始められません。\n', 'notice');

  // What the window shows now, title line included, as a PNG data URL.
  t.snapshot = () => {
    const c = document.createElement('canvas');
    c.width = canvas.width;
    c.height = canvas.height;
    const ctx = c.getContext('2d');
    ctx.drawImage(canvas, 0, 0);
    ctx.drawImage(overlay, 0, 0);
    return c.toDataURL('image/png');
  };

  // ---- the ranking, kept in IndexedDB with the same bytes ----
  // One record, where the page has always kept it (database '/save', store 'FILE_DATA', key
  // '/save/ranking.dat', { timestamp, mode, contents }), changed only in read-write
  // transactions that merge: the game's table plus what other tabs stored since this one last
  // read or wrote the record, as the desktop merges ranking.dat. Each new table is put first
  // in localStorage, at once, so that a reload or a closed tab cannot lose it; whichever page
  // runs next takes it in, and the record names what it took in, so nothing counts twice.
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
      out.push({ score: Number(items[k]), line: `${Number(items[k])}\t\t${Number(items[k + 1])}\t${Number(items[k + 2])}\t${items[k + 3]}\n` });
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
  // The game has written ranking.dat: keep the table at once, then take it into the store and
  // give the game back what other tabs added (its next merge takes them in).
  function persist() {
    let data;
    try {
      data = FS.readFile('/game/ranking.dat');
    } catch (e) {
      return;
    }
    if (same(data, t.saved)) return;
    t.saved = data;
    const mine = bytesText(data);
    // Against the last table of this tab still waiting, if any: the store will hold it first.
    const mineWaiting = waiting(PENDING + tab);
    const last = mineWaiting.length && entry(mineWaiting[mineWaiting.length - 1]);
    const base = last ? last.mine : t.base;
    const key = `${PENDING}${tab}:${String(++pendingCount).padStart(8, '0')}`;
    try {
      storage.setItem(key, JSON.stringify({ mine, base }));
    } catch (e) {
      unkept.set(key, { mine, base }); // no localStorage here: the store alone keeps it
    }
    flush((contents) => {
      if (contents === null) return;
      t.base = contents;
      const now = textBytes(contents);
      if (!same(now, t.saved)) {
        FS.writeFile('/game/ranking.dat', now);
        t.saved = now;
      }
    });
  }

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
    music(id, name) {
      // The music rendered at build time sits beside the page under the MIDI file's name.
      const url = name.replace(/\.mid$/i, '') + '.ogg';
      this.buffers.set(id, fetch(url)
        .then((r) => (r.ok ? r.arrayBuffer() : Promise.reject(new Error(url))))
        .then((b) => this.context().decodeAudioData(b))
        .catch(() => null));
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
    // A new effect cuts off the one still playing; a missing or broken file beeps.
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
  if (demoParam !== null && !demoName) {
    show('デモ ' + demoParam + ' は使えません（このページと同じ場所にあるファイル名だけが使えます）。\n', 'notice');
  }

  // ---- the module ----
  window.Module = {
    canvas,
    preRun: [() => {
      FS.init(() => null, stdout, stderr);
      FS.mkdirTree('/game');
      FS.chdir('/game');
      // The ranking as the store holds it, with what earlier pages left waiting.
      addRunDependency('ranking');
      flush((contents) => {
        if (contents) {
          const data = textBytes(contents);
          FS.writeFile('/game/ranking.dat', data);
          t.saved = data;
          t.base = contents;
        }
        removeRunDependency('ranking');
      });
      if (demoName) {
        addRunDependency('demo');
        fetch(encodeURIComponent(demoName), { credentials: 'same-origin' })
          .then((r) => (r.ok && new URL(r.url).origin === location.origin ? r.arrayBuffer()
            : Promise.reject(new Error(demoName))))
          .then((b) => {
            FS.mkdirTree('/demos');
            FS.writeFile(demoPath, new Uint8Array(b));
          })
          .catch(() => show('デモ ' + demoName + ' を読めません。\n', 'notice'))
          .finally(() => removeRunDependency('demo'));
      }
    }],
    // The module reads its arguments as it loads: the demo's name goes in at once.
    arguments: demoName ? ['--playdemo', demoPath] : [],
    print: (s) => console.log(s),
    printErr: (s) => console.warn(s),
    onExit: (status) => {
      t.exitStatus = status;
      t.windowOpen = false;
      if (document.pointerLockElement) document.exitPointerLock();
      show('\n（ゲームは終了しました。終了コード ' + status + '。ページを読み込み直すと、もう一度遊べます）\n', 'notice');
      answer.disabled = true;
    },
  };
})();

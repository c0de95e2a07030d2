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
  function same(a, b) {
    if (!a || !b || a.length !== b.length) return false;
    for (let i = 0; i < a.length; i++) if (a[i] !== b[i]) return false;
    return true;
  }
  function persist() {
    let data;
    try {
      data = FS.readFile('/game/ranking.dat');
    } catch (e) {
      return;
    }
    if (same(data, t.saved)) return;
    t.saved = data;
    FS.writeFile('/save/ranking.dat', data);
    FS.syncfs(false, (err) => { if (!err) t.stored++; });
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

  // ---- the module ----
  window.Module = {
    canvas,
    preRun: [() => {
      FS.init(() => null, stdout, stderr);
      FS.mkdir('/save');
      FS.mount(IDBFS, {}, '/save');
      addRunDependency('ranking');
      FS.syncfs(true, () => {
        FS.mkdirTree('/game');
        try {
          const data = FS.readFile('/save/ranking.dat');
          FS.writeFile('/game/ranking.dat', data);
          t.saved = data;
        } catch (e) { /* no ranking yet */ }
        FS.chdir('/game');
        removeRunDependency('ranking');
      });
      // ?demo=FILE: a game recorded on the desktop, fetched beside the page into the game
      // folder and handed to the game's own playback option.
      const demo = params.get('demo');
      if (demo) {
        const name = demo.replace(/^.*\//, '');
        addRunDependency('demo');
        fetch(demo)
          .then((r) => (r.ok ? r.arrayBuffer() : Promise.reject(new Error(demo))))
          .then((b) => {
            FS.mkdirTree('/game');
            FS.writeFile('/game/' + name, new Uint8Array(b));
          })
          .catch(() => show('デモ ' + demo + ' を読めません。\n', 'notice'))
          .finally(() => removeRunDependency('demo'));
      }
    }],
    // The module reads its arguments as it loads: the demo's name goes in at once.
    arguments: params.get('demo') ? ['--playdemo', params.get('demo').replace(/^.*\//, '')] : [],
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

// The server's pages in headless Chromium: the leaderboard shows a hostile name as text and is
// styled (its Content-Security-Policy lets its own style through), the web game runs under
// the policy the server gives it, and a "watch" link hands the stored demo to the game.
//   node page-test.js BASE_URL GAME_ID NAME DEMO_FILE
const fs = require('fs');
const puppeteer = require('puppeteer-core');

const [base, id, name, demoFile] = process.argv.slice(2);
let failed = 0;
function check(ok, what) {
  console.log((ok ? 'ok   ' : 'FAIL ') + what);
  if (!ok) failed++;
}

(async () => {
  const browser = await puppeteer.launch({
    executablePath: process.env.CHROMIUM || '/usr/bin/chromium', headless: true,
    // The page follows the browser's language: Japanese, as the checks read it.
    args: ['--no-sandbox', '--accept-lang=ja', '--use-angle=swiftshader', '--enable-unsafe-swiftshader'],
  });
  const problems = [];
  const newPage = async () => {
    const p = await browser.newPage();
    p.on('pageerror', (e) => problems.push('page error: ' + e.message));
    p.on('requestfailed', (r) => problems.push('request failed: ' + r.url() + ' ' + r.failure().errorText));
    p.on('response', (r) => { if (r.status() >= 400) problems.push('answer ' + r.status() + ': ' + r.url()); });
    p.on('console', (m) => { if (m.text().startsWith('CSP ')) problems.push(m.text()); });
    await p.evaluateOnNewDocument(() => {
      document.addEventListener('securitypolicyviolation', (e) =>
        console.error('CSP ' + e.violatedDirective + ' ' + e.blockedURI));
    });
    return p;
  };
  let page = await newPage();

  await page.goto(base + '/', { waitUntil: 'load' });
  const board = await page.evaluate(() => {
    const cell = document.querySelector('tbody tr td:nth-child(2)');
    return {
      name: cell && cell.textContent,
      elements: cell ? cell.children.length : -1,
      collapse: getComputedStyle(document.querySelector('table')).borderCollapse,
      watch: [...document.querySelectorAll('a')].filter((a) => a.textContent === 'watch')
        .map((a) => a.getAttribute('href')),
    };
  });
  check(board.name === name && board.elements === 0, `the name shows as text: ${JSON.stringify(board.name)}`);
  check(board.collapse === 'collapse', 'the page\'s own style applies under its policy');
  const watch = `/play/index.html?demo=game-${id}.demo`;
  check(board.watch.includes(watch), `a watch link ${watch}`);
  check(problems.length === 0, 'no policy violations on the leaderboard');

  // Watching: the page fetches the stored demo from beside itself.
  const fetched = new Promise((resolve) => page.on('response', async (r) => {
    if (r.url().endsWith(`/play/game-${id}.demo`)) resolve({ status: r.status(), body: await r.text() });
  }));
  await page.goto(base + watch, { waitUntil: 'load' });
  const demo = await Promise.race([fetched, new Promise((r) => setTimeout(() => r(null), 20000))]);
  check(demo && demo.status === 200 && demo.body === fs.readFileSync(demoFile, 'latin1'),
    'the game page fetched the stored demo');
  // The game itself, started as a player starts it (in a tab of its own: the watched game
  // above may have ended on a demo of a format it does not play): it asks its first question.
  await page.close();
  page = await newPage();
  await page.goto(base + '/play/index.html', { waitUntil: 'load' });
  check(await page.waitForFunction(() => window.tarmik && tarmik.promptMs !== null, { timeout: 30000 })
    .then(() => true, () => false), 'the web game runs under the server\'s policy');
  check(problems.length === 0, 'no policy violations or page errors in the web game' +
    (problems.length ? ': ' + problems.join('; ') : ''));

  // A game played in the page, every shot fired until the time runs out, then sent to the
  // shared ranking from the page under a name that is markup: the server replays it and the
  // leaderboard lists it, the name as text.
  // The server's health answer is held back until the game is over, as a busy server's may be:
  // the offer must come with it all the same.
  await page.close();
  page = await newPage();
  let releaseHealth;
  const healthHeld = new Promise((resolve) => { releaseHealth = resolve; });
  await page.setRequestInterception(true);
  page.on('request', async (r) => {
    if (new URL(r.url()).pathname === '/api/health') await healthHeld;
    r.continue();
  });
  await page.goto(base + '/play/index.html?clock=manual&answer=1&nosw', { waitUntil: 'load' });
  await page.waitForFunction(() => window.tarmik && tarmik.windowOpen && tarmik.state === 'title',
    { timeout: 30000 });
  await page.keyboard.press('s');
  await page.evaluate(() => tarmik.frame());
  // The key takes effect in the next frame; a click before it lands on the title and is no shot.
  await page.waitForFunction(() => tarmik.state === 'play', { timeout: 30000 });
  const box = await (await page.$('#canvas')).boundingBox();
  await page.mouse.move(box.x + box.width / 2, box.y + box.height / 2);
  for (let i = 0; i < 10; i++) {
    await page.mouse.down();
    await page.mouse.up();
  }
  let clock = 0;
  for (let i = 0, after = 0; i < 60 && after < 2; i++) {
    if (await page.evaluate(() => tarmik.state === 'over')) after++;
    clock += 100;
    await page.evaluate((c) => { tarmik.clockTarget = c; }, clock);
    await page.waitForFunction((c) => tarmik.clockNow >= c, { timeout: 30000 }, clock);
  }
  releaseHealth();
  const offered = await page.waitForFunction(() => !document.getElementById('submit').hidden,
    { timeout: 10000 }).then(() => true, () => false);
  check(offered, 'the page offers the finished game to the shared ranking');
  const player = '<b>Hanako</b>';
  if (offered) {
    await page.type('#submit-name', player);
    await page.click('#submit button');
    await page.waitForFunction(() => tarmik.submitted, { timeout: 30000 }).catch(() => {});
    const sent = await page.evaluate(() => tarmik.submitted);
    check(sent && sent.ok && sent.answer.place >= 1 && sent.answer.player === '<b>Hanako</b>',
      `the server verified the page's game: ${JSON.stringify(sent && sent.answer)}`);
    check(await page.$eval('#submit-answer', (e) => e.textContent.includes('位')),
      'the page shows the place');
  }
  await page.goto(base + '/', { waitUntil: 'load' });
  const names = await page.evaluate(() =>
    [...document.querySelectorAll('tbody tr td:nth-child(2)')].map((td) => [td.textContent, td.children.length]));
  check(names.some(([n, kids]) => n === player && kids === 0), `the leaderboard lists ${player} as text`);
  await browser.close();
  process.exit(failed ? 1 : 0);
})().catch((e) => { console.error(e); process.exit(1); });

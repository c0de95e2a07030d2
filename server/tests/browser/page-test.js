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
    args: ['--no-sandbox', '--use-angle=swiftshader', '--enable-unsafe-swiftshader'],
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
  await browser.close();
  process.exit(failed ? 1 : 0);
})().catch((e) => { console.error(e); process.exit(1); });

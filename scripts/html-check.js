// scripts/html-check.js PAGE_DIR CHROMIUM [--tracks FILE] [--screenshot FILE]
//                       [--timing]
// opens PAGE_DIR/index.html (file://) in headless Chromium through
// playwright-core (found through NODE_PATH; scripts/html-check.sh installs it)
// and checks the encounters page as a person would use it: every thumbnail
// loads, clicking a column header sorts the rows by it (a second click
// reverses them), the rows where a track starts or ends look different, no
// script error, nothing requested from outside PAGE_DIR; and when
// PAGE_DIR/encounters.csv exists, the table as the page first shows it holds
// its columns and rows, value for value. The viewer (viewer.js says what):
// the video plays, a row click shows its frame, the timeline against FILE (the
// run's tracks) and the CSV, the id filter; with PAGE_DIR/events.csv, the
// switches table, marks and cause filter against it. --timing instead opens a large page
// and sorts it, against a second each. Prints what it checked; exits 1 on the
// first failure.
'use strict';
const fs = require('fs');
const path = require('path');
const { pathToFileURL } = require('url');
const { chromium } = require('playwright-core');
const viewer = require('./viewer.js');

function fail(what) {
  throw new Error(what);
}

// The rows in their current order: each row's thumbnail name, its flag cells
// and whether it is marked, and the numbers of its cells (null where a cell
// holds no number, as an empty one).
function rowsOf(page) {
  return page.$$eval('#encounters tbody tr', (rows) =>
    rows.map((row) => ({
      name: row.querySelector('img').getAttribute('src'),
      values: Array.prototype.map.call(row.cells, (cell) => {
        const v = parseFloat(cell.textContent);
        return isNaN(v) ? null : v;
      }),
      marked: row.classList.contains('risk'),
      background: getComputedStyle(row.cells[1]).backgroundColor,
    })),
  );
}

// Whether two cells say the same number, or the same text where either is
// not a number (an empty cell for NaN).
function sameValue(a, b) {
  const x = parseFloat(a), y = parseFloat(b);
  if (isNaN(x) || isNaN(y)) return a.trim() === b.trim();
  return x === y;
}

// The page's table (header and cell texts, thumbnail column left out)
// against the encounters table of the run.
async function compareWithCsv(page, csvPath) {
  const lines = fs.readFileSync(csvPath, 'utf8').split('\n').filter((l) => l.length > 0);
  const header = lines[0].split(',');
  const heads = await page.$$eval('#encounters thead th', (ths) => ths.slice(1).map((th) => th.textContent));
  if (heads.join() !== header.join()) fail(`page columns ${heads.join()} against CSV ${header.join()}`);
  const cells = await page.$$eval('#encounters tbody tr', (trs) =>
    trs.map((tr) => Array.prototype.slice.call(tr.cells, 1).map((td) => td.textContent)),
  );
  if (cells.length !== lines.length - 1) fail(`${cells.length} rows on the page, ${lines.length - 1} in the CSV`);
  cells.forEach((row, i) => {
    const fields = lines[i + 1].split(',');
    if (fields.length !== row.length) fail(`row ${i + 1}: ${row.length} cells, ${fields.length} CSV fields`);
    fields.forEach((f, c) => {
      if (!sameValue(f, row[c])) fail(`row ${i + 1}, ${header[c]}: page ${row[c]}, CSV ${f}`);
    });
  });
  return cells.length;
}

// Whether the column's values are in order: ascending (or descending), cells
// without a number last.
function ordered(values, ascending) {
  for (let i = 1; i < values.length; ++i) {
    const a = values[i - 1], b = values[i];
    if (a === null) {
      if (b !== null) return false;
    } else if (b !== null && (ascending ? a > b : a < b)) {
      return false;
    }
  }
  return true;
}

// Whether rows of equal values in column col kept the order they had
// (`before`, their names) in `after`.
function stable(before, after, col) {
  for (let i = 1; i < after.length; ++i)
    if (after[i].values[col] === after[i - 1].values[col] &&
        before.indexOf(after[i].name) < before.indexOf(after[i - 1].name))
      return false;
  return true;
}

async function main() {
  const [dir, executable, ...rest] = process.argv.slice(2);
  const option = (name) => (rest.indexOf(name) >= 0 ? rest[rest.indexOf(name) + 1] : undefined);
  const screenshot = option('--screenshot'), tracksFile = option('--tracks');
  const url = pathToFileURL(path.resolve(dir, 'index.html')).href;
  if (rest.indexOf('--timing') >= 0) return viewer.timing(chromium, executable, url);
  const browser = await chromium.launch({ executablePath: executable, headless: true, args: ['--no-sandbox'] });
  try {
    const context = await browser.newContext({ viewport: { width: 1400, height: 900 } });
    const page = await context.newPage();
    const requests = [], problems = [];
    page.on('request', (r) => requests.push(r.url()));
    page.on('pageerror', (e) => problems.push('script error: ' + e.message));
    page.on('console', (m) => {
      if (m.type() === 'error') problems.push('console error: ' + m.text());
    });
    await page.goto(url, { waitUntil: 'load' });
    console.log(`html-check: opened ${url}`);
    console.log(`html-check: title "${await page.title()}"`);

    const rows = await rowsOf(page);
    const csvPath = path.join(dir, 'encounters.csv');
    if (fs.existsSync(csvPath)) {
      const n = rows.length ? await compareWithCsv(page, csvPath) : 0;
      if (!rows.length && fs.readFileSync(csvPath, 'utf8').trim().split('\n').length > 1)
        fail('encounters.csv has rows, the page none');
      console.log(`html-check: the page's table equals encounters.csv (${n} rows, every column)`);
    }
    if (rows.length === 0) {
      if ((await page.$('#none')) === null) fail('no encounter rows and no line saying there are none');
      console.log('html-check: no encounters; the page says so');
    } else {
      // Thumbnails: lazy, so each is brought into view and waited for (the
      // wait ends on the image's own load or error, not on a clock).
      const images = await page.$$('#encounters img');
      if (images.length !== rows.length) fail(`${images.length} thumbnails for ${rows.length} rows`);
      const widths = [];
      let sized = 0;
      for (const image of images) {
        await image.scrollIntoViewIfNeeded();
        await page.waitForFunction((img) => img.complete, image, { timeout: 120000 });
        const [natural, stated] = await image.evaluate((img) => [
          [img.naturalWidth, img.naturalHeight],
          img.hasAttribute('width') ? [+img.getAttribute('width'), +img.getAttribute('height')] : null,
        ]);
        widths.push(natural[0]);
        if (stated !== null) {
          ++sized;
          if (stated.join() !== natural.join())
            fail(`${await image.getAttribute('src')} is ${natural.join('x')}, the page says ${stated.join('x')}`);
        }
      }
      const broken = rows.filter((row, i) => !(widths[i] > 0)).map((row) => row.name);
      if (broken.length) fail(`thumbnails not loaded: ${broken.join(' ')}`);
      console.log(`html-check: ${images.length} rows, ${images.length} thumbnails loaded ` +
                  `(naturalWidth ${Math.min(...widths)} to ${Math.max(...widths)}), ` +
                  `${sized} of the size their <img> states`);

      // Sorting: every sortable header, clicked twice.
      const heads = await page.$$('#encounters thead th');
      const names = await Promise.all(heads.map((h) => h.textContent()));
      let sortable = 0, reordered = 0, reversed = 0;
      for (let col = 0; col < heads.length; ++col) {
        if (!(await heads[col].evaluate((h) => h.hasAttribute('data-sort')))) continue;
        ++sortable;
        const name = names[col];
        const before = (await rowsOf(page)).map((r) => r.name);
        await heads[col].click();
        const up = await rowsOf(page);
        if (!ordered(up.map((r) => r.values[col]), true)) fail(`column ${name} not ascending after a click`);
        if (up.map((r) => r.name).join() !== before.join()) ++reordered;
        if (!stable(before, up, col)) fail(`column ${name}: rows of equal values changed their order`);
        await heads[col].click();
        const down = await rowsOf(page);
        if (!ordered(down.map((r) => r.values[col]), false)) fail(`column ${name} not descending after a second click`);
        if (!stable(up.map((r) => r.name), down, col))
          fail(`column ${name}: rows of equal values changed their order on the second click`);
        // With distinct values the second click reverses the rows exactly.
        const values = up.map((r) => r.values[col]);
        if (new Set(values).size === values.length && !values.includes(null)) {
          if (down.map((r) => r.name).join() !== up.map((r) => r.name).reverse().join())
            fail(`column ${name}: the second click did not reverse the rows`);
          ++reversed;
        }
      }
      if (sortable === 0) fail('no sortable column');
      if (rows.length > 1 && reordered === 0) fail('no header click changed the order of the rows');
      console.log(`html-check: ${sortable} columns sorted ascending on a click and descending on a second; ` +
                  `${reordered} clicks reordered the rows, ties kept their order, ${reversed} columns of distinct values reversed exactly`);

      // The marked rows: exactly those with a flag set, and visibly so.
      const now = await rowsOf(page);
      const flagged = (r) => r.values.slice(-4).some((v) => v === 1);
      const wrong = now.filter((r) => r.marked !== flagged(r)).map((r) => r.name);
      if (wrong.length) fail(`rows marked wrongly: ${wrong.join(' ')}`);
      const marked = now.filter((r) => r.marked), plain = now.filter((r) => !r.marked);
      if (marked.length && plain.length && marked[0].background === plain[0].background)
        fail('marked rows look like the others');
      console.log(`html-check: ${marked.length} of ${now.length} rows marked (a track starts or ends), ` +
                  `background ${marked.length ? marked[0].background : '-'} against ${plain.length ? plain[0].background : '-'}`);
    }

    if (rows.length > 0) {
      const csv = fs.readFileSync(csvPath, 'utf8').trim().split('\n').slice(1).map((l) => l.split(','));
      const eventsPath = path.join(dir, 'events.csv');
      const events = fs.existsSync(eventsPath)
        ? fs.readFileSync(eventsPath, 'utf8').trim().split('\n').map((l) => l.split(','))
        : null;
      await viewer.check(page, csv, tracksFile ? fs.readFileSync(tracksFile, 'utf8') : null, events);
    }

    if (screenshot) {
      await page.evaluate(() => window.scrollTo(0, 0));
      await page.screenshot({ path: screenshot, fullPage: true });
      console.log(`html-check: screenshot ${screenshot}`);
    }
    if (problems.length) fail(problems.join('; '));
    const folder = pathToFileURL(path.resolve(dir)).href + '/';
    const outside = requests.filter((u) => !u.startsWith(folder));
    if (outside.length) fail(`requested from outside ${folder}: ${outside.join(' ')}`);
    console.log(`html-check: ${requests.length} requests, all inside ${folder}; no script or console error`);
  } finally {
    await browser.close();
  }
}

main().then(
  () => console.log('html-check: OK'),
  (e) => {
    console.error(`html-check: FAILED: ${e.message}`);
    process.exit(1);
  },
);

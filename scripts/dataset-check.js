// scripts/dataset-check.js DIR CHROMIUM: the dataset's page of a --batch run
// with --with html (DIR/index.html) in headless Chromium through
// playwright-core (found through NODE_PATH; scripts/html-check.sh installs
// it). Checks that the row COMBINED comes first and stays first whatever
// column sorts the rows; that every sequence of DIR/summary.csv has exactly
// one link a[data-sequence="NAME"], to DIR/NAME/page/index.html, an existing
// file; that the page it leads to shows the frames and tracks of NAME's
// summary.csv row, and the encounters and those where a track starts or
// ends that DIR/NAME/encounters.csv holds, as the index's row does; that
// clicking a column header sorts the rows by it (a second click reverses);
// no script error; nothing requested from outside DIR. Prints what it
// checked; exits 1 on the first failure.
'use strict';
const fs = require('fs');
const path = require('path');
const { pathToFileURL, fileURLToPath } = require('url');
const { chromium } = require('playwright-core');

function fail(what) {
  throw new Error(what);
}

// The rows of a CSV file without quoting, as objects keyed by its header.
function csvRows(file) {
  const lines = fs.readFileSync(file, 'utf8').split('\n').filter((l) => l.length > 0);
  const header = lines[0].split(',');
  return lines.slice(1).map((l) => {
    const fields = l.split(','), row = {};
    header.forEach((h, i) => (row[h] = fields[i]));
    return row;
  });
}

// The index's rows in document order: COMBINED's, then the sequences'; each
// its name, its link's name and address, and its cells' numbers.
function rowsOf(page) {
  return page.$$eval('#sequences tr', (trs) =>
    trs.filter((tr) => tr.cells[0].tagName === 'TD').map((tr) => {
      const link = tr.querySelector('a[data-sequence]');
      return {
        name: tr.cells[0].textContent.trim(),
        sequence: link ? link.getAttribute('data-sequence') : null,
        href: link ? link.href : null,
        links: tr.querySelectorAll('a').length,
        values: Array.prototype.slice.call(tr.cells, 1).map((td) => {
          const v = parseFloat(td.textContent);
          return isNaN(v) ? null : v;
        }),
      };
    }),
  );
}

function ordered(values, ascending) {
  for (let i = 1; i < values.length; ++i) {
    const a = values[i - 1], b = values[i];
    if (a === null ? b !== null : b !== null && (ascending ? a > b : a < b)) return false;
  }
  return true;
}

async function main() {
  const [dir, executable] = process.argv.slice(2);
  const folder = pathToFileURL(path.resolve(dir)).href + '/';
  const summary = csvRows(path.join(dir, 'summary.csv'));
  const browser = await chromium.launch({ executablePath: executable, headless: true, args: ['--no-sandbox'] });
  try {
    const context = await browser.newContext({ viewport: { width: 1400, height: 900 } });
    const requests = [], problems = [];
    context.on('request', (r) => requests.push(r.url()));
    const page = await context.newPage();
    page.on('pageerror', (e) => problems.push('script error: ' + e.message));
    await page.goto(folder + 'index.html', { waitUntil: 'load' });
    console.log(`html-check: opened ${folder}index.html, "${await page.title()}"`);

    const rows = await rowsOf(page);
    if (!rows.length || rows[0].name !== 'COMBINED') fail(`the first row is ${rows.length ? rows[0].name : 'missing'}, not COMBINED`);
    const heads = await page.$$eval('#sequences thead tr:first-child th', (ths) => ths.map((th) => th.textContent));
    const column = (what) => heads.indexOf(what) - 1;  // in values: the name cell left out
    const linked = rows.filter((r) => r.sequence !== null);
    if (linked.length !== summary.length)
      fail(`${linked.length} links to sequences, ${summary.length} rows in summary.csv`);
    for (const s of summary) {
      const row = linked.filter((r) => r.sequence === s.sequence);
      if (row.length !== 1) fail(`${row.length} links a[data-sequence="${s.sequence}"]`);
      const { href, values } = row[0];
      if (!href.startsWith(folder) || decodeURIComponent(href.slice(folder.length)) !== `${s.sequence}/page/index.html`)
        fail(`${s.sequence} links to ${href}`);
      if (!fs.existsSync(fileURLToPath(href))) fail(`${s.sequence}'s page ${href} does not exist`);
      const csv = csvRows(path.join(dir, s.sequence, 'encounters.csv'));
      const want = {
        frames: +s.frames,
        tracks: +s.tracks,
        encounters: csv.length,
        'at risk': csv.filter((e) => ['a_starts', 'a_ends', 'b_starts', 'b_ends'].some((f) => e[f] === '1')).length,
      };
      const target = await context.newPage();
      target.on('pageerror', (e) => problems.push(`${s.sequence}'s page: script error: ${e.message}`));
      await target.goto(href, { waitUntil: 'load' });
      const shown = await target.$$eval('.summary li', (lis) =>
        lis.map((li) => [li.textContent.replace(/^\s*\S+\s*/, ''), +li.querySelector('b').textContent]));
      const figure = (what) => (shown.find(([w]) => w === what) || [])[1];
      const got = {
        frames: figure('frames'),
        tracks: figure('tracks'),
        encounters: figure('encounters'),
        'at risk': figure('where a track starts or ends'),
      };
      for (const what of Object.keys(want)) {
        if (got[what] !== want[what]) fail(`${s.sequence}'s page shows ${got[what]} ${what}, its files say ${want[what]}`);
        if (values[column(what)] !== want[what])
          fail(`the index shows ${values[column(what)]} ${what} for ${s.sequence}, its files say ${want[what]}`);
      }
      await target.close();
      console.log(`html-check: ${s.sequence}: linked to ${href.slice(folder.length)}, which shows ` +
                  Object.keys(want).map((w) => `${want[w]} ${w}`).join(', ') + ' as summary.csv and encounters.csv say');
    }
    const unlinked = rows.slice(1).filter((r) => r.sequence === null && r.links !== 0);
    if (unlinked.length) fail(`rows with a link but no data-sequence: ${unlinked.map((r) => r.name).join(' ')}`);

    // Sorting: every sortable header twice; COMBINED first all along.
    const sortable = await page.$$('#sequences thead tr:first-child th[data-sort]');
    for (const head of sortable) {
      const name = await head.textContent(), col = heads.indexOf(name) - 1;
      for (const ascending of [true, false]) {
        await head.click();
        const now = await rowsOf(page);
        if (now[0].name !== 'COMBINED') fail(`sorting by ${name} moved COMBINED from the top`);
        if (!ordered(now.slice(1).map((r) => r.values[col]), ascending))
          fail(`column ${name} not ${ascending ? 'ascending after a click' : 'descending after a second'}`);
      }
    }
    if (!sortable.length) fail('no sortable column');
    console.log(`html-check: ${sortable.length} columns sort the sequences both ways, COMBINED staying on top`);

    if (problems.length) fail(problems.join('; '));
    const outside = requests.filter((u) => !u.startsWith(folder));
    if (outside.length) fail(`requested from outside ${folder}: ${outside.join(' ')}`);
    console.log(`html-check: ${requests.length} requests, all inside ${folder}; no script error`);
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

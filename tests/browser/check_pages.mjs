// Loads pages written by dns_experience_view in Debian's headless Chromium, one browser for all
// of them, and checks from the rendered DOM against the result document each page was made from:
// one bar per reported level, in order, each starting where the one before ended and as wide as
// its level's time on the page's common scale; each level row labelled with its level, question
// and server, its alias and cache marks; every failed server with its error; every pinged
// server with its round-trip times; no script and nothing fetched. Takes a screenshot of each.
//
// Usage: node check_pages.mjs RESULT.json PAGE.html SCREENSHOT.png [RESULT.json PAGE.html ...]
// Prints one line per page and "N passed, M failed"; exits 1 when a page fails.
import { readFileSync } from 'node:fs';
import { dirname, join } from 'node:path';
import { fileURLToPath, pathToFileURL } from 'node:url';
import { chromium } from 'playwright-core';

const here = dirname(fileURLToPath(import.meta.url));
const none = 'qv-dns.results.error.none';
const shortKey = (key) => key.replace(/^qv-(dns|ping)\.results\.error\./, '');

// The reported levels of a result document, read independently of the viewer: consecutive
// steps of one level and alias depth form one level, whose time is the sum of its servers'.
function levelsOf(document) {
  const levels = [];
  for (const step of document.MonitorResults[0].StepResults) {
    const other = step.OtherData;
    const id = other['qv-dns.results.level-id.number'];
    if (id === undefined) continue;
    const depth = other['qv-dns.results.recursion-level.number'];
    let level = levels.at(-1);
    if (!level || level.id !== id || level.depth !== depth) {
      level = { id, depth, name: other['qv-dns.results.question.name'],
                type: other['qv-dns.results.question.type'], ms: 0, servers: [] };
      levels.push(level);
    }
    for (const { MetricData: data } of step.Metrics) {
      if (!('qv-dns.results.server.name' in data)) continue;
      level.ms += data['qv-dns.results.duration.ms'] ?? 0;
      level.servers.push(data);
    }
  }
  return levels;
}

// What the page shows, measured in the browser.
function measure() {
  const bars = [...document.querySelectorAll('svg.track rect.level-bar')].map((bar) => {
    const box = bar.getBoundingClientRect();
    const lane = bar.parentElement.querySelector('rect.lane').getBoundingClientRect();
    return { x: box.x - lane.x, width: box.width, lane: lane.width,
             classes: bar.getAttribute('class'), row: bar.closest('tr').innerText };
  });
  return { bars,
           serverRows: [...document.querySelectorAll('tr.server')].map((row) => row.innerText),
           scripts: document.querySelectorAll('script').length,
           fetched: performance.getEntriesByType('resource').length };
}

// The faults of one page against its document, as texts.
function faults(document, page) {
  const found = [];
  const check = (ok, what) => { if (!ok) found.push(what); };
  const levels = levelsOf(document);
  const test = document.MonitorResults[0].OtherData;
  const total = levels.reduce((sum, level) => sum + level.ms, 0);
  const span = Math.max(total, test['qv-dns.results.duration.ms'] ?? 0, 1);
  check(page.scripts === 0 && page.fetched === 0, 'the page runs a script or fetches something');
  check(page.bars.length === levels.length,
        `${page.bars.length} level bars for ${levels.length} reported levels`);
  let start = 0;
  levels.forEach((level, index) => {
    const bar = page.bars[index];
    if (!bar) return;
    const scale = bar.lane / span;
    check(Math.abs(bar.x - start * scale) <= 0.5, `level ${level.id} starts at ${bar.x} px, not ${start * scale}`);
    check(Math.abs(bar.width - level.ms * scale) <= 0.5,
          `level ${level.id} is ${bar.width} px wide for ${level.ms} ms, not ${level.ms * scale}`);
    start += level.ms;
    for (const text of [`Level ${level.id}`, level.name, level.type]) {
      check(bar.row.includes(text), `the row of level ${level.id} does not show ${text}`);
    }
    check(level.servers.some((server) => bar.row.includes(server['qv-dns.results.server.name'])) ||
          bar.row.includes(`${level.servers.length} servers`),
          `the row of level ${level.id} names no server`);
    check(level.depth === 0 || bar.row.includes(`alias ${level.depth}`),
          `level ${level.id} is not marked as alias ${level.depth}`);
    const cached = level.servers.length > 0 &&
                   level.servers.every((server) => server['qv-dns.results.cached'] === true);
    check(cached === bar.classes.includes('cached') && (!cached || bar.row.includes('cached')),
          `level ${level.id} is ${cached ? 'not ' : ''}marked as cached`);
    for (const server of level.servers) {
      const name = server['qv-dns.results.server.name'];
      const shows = (texts) => [bar.row, ...page.serverRows].some(
          (row) => [name, server['qv-dns.results.server.address'] ?? '', ...texts].every(
              (text) => row.includes(text)));
      const status = server['qv-dns.results.status'] ?? '';
      check(status === none || shows([shortKey(status)]),
            `the failure of ${name} (${status}) is not shown`);
      const times = server['qv-dns.results.server.ping.round-trip-times'];
      check(!times || shows(times.split(',').filter((time) => time !== 'null')),
            `the round-trip times ${times} of ${name} are not shown`);
    }
  });
  return found;
}

const pages = process.argv.slice(2);
if (pages.length === 0 || pages.length % 3 !== 0) {
  console.error('usage: node check_pages.mjs RESULT.json PAGE.html SCREENSHOT.png ...');
  process.exit(2);
}
// The browser runs in a network namespace of its own, without any interface up.
const browser = await chromium.launch({ executablePath: join(here, 'chromium-offline') });
let passed = 0;
let failed = 0;
try {
  const context = await browser.newContext({ viewport: { width: 1600, height: 900 } });
  for (let index = 0; index < pages.length; index += 3) {
    const [result, html, screenshot] = pages.slice(index, index + 3);
    const page = await context.newPage();
    await page.goto(pathToFileURL(html).href);
    const found = faults(JSON.parse(readFileSync(result, 'utf8')), await page.evaluate(measure));
    await page.screenshot({ path: screenshot, fullPage: true });
    await page.close();
    if (found.length === 0) {
      passed += 1;
      console.log(`ok ${html} (screenshot ${screenshot})`);
    } else {
      failed += 1;
      console.log(`FAIL ${html}\n  ${found.join('\n  ')}`);
    }
  }
} finally {
  await browser.close();
}
console.log(`${passed} passed, ${failed} failed`);
process.exit(failed === 0 ? 0 : 1);

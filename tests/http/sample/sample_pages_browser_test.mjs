// The sample site's pages in headless Chromium: they must parse into the
// DOM they mean (the sign-in form's fields, the request-information tables,
// the upload form, the route list, the demo page), their forms must post, and
// request text must show as text, never run as markup.
//   node sample_pages_browser_test.mjs SAMPLE_PROGRAM
import { spawn } from 'node:child_process';
import { mkdtempSync, rmSync } from 'node:fs';
import { tmpdir } from 'node:os';
import path from 'node:path';
import readline from 'node:readline';
import { launchChromium } from '../../support/browser/chromium.mjs';

const [program] = process.argv.slice(2);

const failures = [];
function equal(actual, expected, what) {
  if (JSON.stringify(actual) !== JSON.stringify(expected)) {
    failures.push(what);
    console.log(`FAILED: ${what}: expected ${JSON.stringify(expected)}, got ${JSON.stringify(actual)}`);
  }
}

// Starts the sample site on a port the system picks; resolves to its base URL.
function startSite(publicFolder) {
  const site = spawn(program, [publicFolder, '0', '127.0.0.1'], { stdio: ['ignore', 'pipe', 'inherit'] });
  const lines = readline.createInterface({ input: site.stdout });
  return new Promise((resolve, reject) => {
    site.on('exit', (code) => reject(new Error(`sample site exited with ${code}`)));
    lines.on('line', (line) => {
      const match = /^port (\d+)$/.exec(line);
      if (match) {
        resolve({ site, base: `http://127.0.0.1:${match[1]}` });
      }
    });
  });
}

const rowsOf = (page, table) =>
  page.$$eval('table', (tables, index) =>
    [...tables[index].rows].map((row) => [...row.cells].map((cell) => cell.textContent)), table);

async function checkLogin(page, base) {
  await page.goto(`${base}/login`);
  equal(await page.textContent('body > h3'), 'Sign In', 'sign-in heading');
  equal(await page.$$eval('head > script, head > link', (nodes) =>
    nodes.map((node) => [node.tagName, node.getAttribute('src') ?? node.getAttribute('href'), node.rel ?? ''])),
  [['SCRIPT', 'http://cdn.bootcss.com/jquery/2.1.4/jquery.min.js', ''],
    ['LINK', 'http://cdn.bootcss.com/twitter-bootstrap/3.3.0/css/bootstrap.min.css', 'stylesheet']],
  'sign-in head');
  equal(await page.$eval('body > form', (form) => [form.getAttribute('method'), form.getAttribute('action')]),
    ['POST', '/login'], 'sign-in form');
  equal(await page.$$eval('form > fieldset > input', (inputs) =>
    inputs.map((input) => [input.name, input.type, input.placeholder, input.hasAttribute('autofocus')])),
  [['email', 'email', 'E-mail', true], ['password', 'password', 'Password', true]], 'sign-in fields');
  equal(await page.$eval('form > fieldset > a[href="/login"] > button', (button) => [button.type, button.textContent]),
    ['submit', 'Login'], 'sign-in button');
  equal(await page.$eval('body > script', (script) => [script.type, script.src]),
    ['text/javascript', 'http://cdn.bootcss.com/twitter-bootstrap/3.3.0/js/bootstrap.min.js'], 'body script');

  await page.fill('input[name=email]', 'a@b.example');
  await page.fill('input[name=password]', 'se cret&<b>');
  await Promise.all([page.waitForURL(`${base}/login`), page.click('button')]);
  equal(await page.$eval('body', (body) => body.innerHTML),
    'email = a@b.example<br>password = se cret&amp;&lt;b&gt;', 'sign-in answer');
}

async function checkRequestInformation(page, base) {
  await page.goto(`${base}/test/one/two?a=1&a=2&b`);
  equal(await page.$$eval('body > *', (nodes) => nodes.map((node) => node.tagName)),
    ['H3', 'H3', 'H3', 'H3', 'TABLE', 'H3', 'TABLE', 'H3', 'TABLE'], 'request information layout');
  equal(await page.$$eval('h3', (headings) => headings.map((heading) => heading.textContent)),
    ['Address: 127.0.0.1', 'Url: /test/one/two', 'Method: GET', 'Query:', 'Headers:', 'Route params:'],
    'request information headings');
  equal(await rowsOf(page, 0), [['a', '1'], ['a', '2'], ['b', '']], 'query table');
  const headers = Object.fromEntries(await rowsOf(page, 1));
  equal(headers.host, base.slice('http://'.length), 'headers table');
  equal(await rowsOf(page, 2), [[':param1', 'one'], [':param2', 'two']], 'route parameter table');

  const script = '<script>window.injected=1</script>';
  await page.setExtraHTTPHeaders({ 'X-Evil': '<img src=x onerror="window.injected=2">' });
  await page.goto(`${base}/test/${encodeURIComponent(script)}/two`);
  await page.setExtraHTTPHeaders({});
  equal(await page.evaluate(() => [window.injected, document.scripts.length, document.images.length]),
    [undefined, 0, 0], 'request text stays text');
  equal((await rowsOf(page, 2))[0], [':param1', script], 'parameter shown as sent');
  equal(Object.fromEntries(await rowsOf(page, 1))['x-evil'], '<img src=x onerror="window.injected=2">',
    'header shown as sent');
}

async function checkUpload(page, base) {
  await page.goto(`${base}/upload`);
  equal(await page.$eval('form', (form) => [form.method, form.getAttribute('action'), form.enctype]),
    ['post', '/upload', 'multipart/form-data'], 'upload form');
  equal(await page.$$eval('form > input', (inputs) => inputs.map((input) => [input.name, input.type])),
    [['my_file1', 'file'], ['my_file2', 'file'], ['my_file3', 'file']], 'upload fields');
  await page.setInputFiles('input[name=my_file1]', { name: 'a.txt', mimeType: 'text/plain', buffer: Buffer.from('hello') });
  await page.setInputFiles('input[name=my_file3]', { name: '<i>.bin', mimeType: 'application/octet-stream', buffer: Buffer.alloc(3) });
  await Promise.all([page.waitForURL(`${base}/upload`), page.click('button[type=submit]')]);
  // A file field left empty is sent with an empty file name.
  equal(await page.$eval('body', (body) => body.innerHTML),
    'Name: my_file1 File name: a.txt Size: 5<br>Name: my_file2 File name:  Size: 0<br>'
    + 'Name: my_file3 File name: &lt;i&gt;.bin Size: 3<br>', 'upload answer');
}

async function checkRouteListAndDemo(page, base) {
  await page.goto(base);
  const links = await page.$$eval('body > ul > li > a', (anchors) => anchors.map((a) => a.getAttribute('href')));
  equal(links.length, 17, 'route list length');
  equal(links.filter((link) => link === '/upload' || link === '/login').length, 4, 'routes under two methods');
  await page.goto(`${base}/demo`);
  equal(await page.$$eval('body > center > *', (nodes) =>
    nodes.map((node) => [node.tagName, node.textContent, node.getAttribute('src')])),
  [['H2', 'Hello World', null], ['IMG', '', 'https://www.swift.org/images/hero_2x.png']], 'demo page');
}

const publicFolder = mkdtempSync(path.join(tmpdir(), 'sample-public-'));
const { site, base } = await startSite(publicFolder);
const browser = await launchChromium();
try {
  const context = await browser.newContext();
  // Only the site itself: the pages' outside scripts, styles and image are
  // not fetched.
  await context.route('**/*', (route) =>
    (new URL(route.request().url()).hostname === '127.0.0.1' ? route.continue() : route.abort()));
  const page = await context.newPage();
  await checkLogin(page, base);
  await checkRequestInformation(page, base);
  await checkUpload(page, base);
  await checkRouteListAndDemo(page, base);
} finally {
  await browser.close();
  site.removeAllListeners('exit');
  site.kill('SIGTERM');
  rmSync(publicFolder, { recursive: true });
}
if (failures.length) {
  console.log(`${failures.length} check(s) failed`);
  process.exit(1);
}
console.log('all checks passed');

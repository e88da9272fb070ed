// Drives the status page in the system's own headless Chromium.
//
//   node status_page.js '<json>'
//
// The JSON names the case, the page's address, the folder for screenshots and
// what the case needs besides (the program's xAP port and a datagram to send
// it). Exit status 0 means the case passed; failures are written to stderr.
// Nothing leaves loopback: requests to any other host are aborted.
'use strict';

const fs = require('fs');
const os = require('os');
const path = require('path');
const dgram = require('dgram');

let chromium;
try {
    ({ chromium } = require('playwright-core'));
} catch (e) {
    console.error('playwright-core is not installed: run tools/deps.sh (npm ci in tests/browser)');
    process.exit(2);
}

const options = JSON.parse(process.argv[2] || '{}');
const CHROMIUM = options.chromium || '/usr/bin/chromium';
const TIMEOUT = options.timeoutMs || 30000;

class Failure extends Error {}

function check(condition, message) {
    if (!condition)
        throw new Failure(message);
}

const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

// Polls `probe` until it returns a truthy value; returns the last value seen.
async function eventually(probe, timeoutMs = 20000, intervalMs = 250) {
    const end = Date.now() + timeoutMs;
    let value;
    for (;;) {
        value = await probe();
        if (value || Date.now() >= end)
            return value;
        await sleep(intervalMs);
    }
}

function sendDatagram(port, text) {
    return new Promise((resolve, reject) => {
        const socket = dgram.createSocket('udp4');
        socket.send(Buffer.from(text, 'latin1'), port, '127.0.0.1', (err) => {
            socket.close();
            err ? reject(err) : resolve();
        });
    });
}

// The page's table cells are written without ids: a row is found by the
// text of its ID cell, and a cell by its place after that one.
async function rowCells(page, id) {
    return page.evaluate((id) => {
        for (const td of document.querySelectorAll('td')) {
            if (td.textContent.trim() === id && td.parentElement)
                return Array.from(td.parentElement.children, (c) => c.textContent.trim());
        }
        return null;
    }, id);
}

async function statusOf(page, id) {
    // Columns: Used, Ev, Tag, Status, ID, Name, Changed, buttons.
    const cells = await rowCells(page, id);
    if (!cells)
        return null;
    const at = cells.indexOf(id);
    return at > 0 ? cells[at - 1] : null;
}

// Submits the page's form through the control and waits for the page the
// program builds from the post.
async function submitBy(page, selector) {
    const control = page.locator(selector).first();
    await control.waitFor({ state: 'attached', timeout: 10000 });
    await Promise.all([page.waitForNavigation({ waitUntil: 'load', timeout: TIMEOUT }), control.click()]);
}

async function open(page) {
    const response = await page.goto(options.url, { waitUntil: 'load', timeout: TIMEOUT });
    check(response && response.status() === 200, `GET ${options.url} answered ${response && response.status()}`);
    return response;
}

// Carries out [op, selector, value] steps on a page: "fill", "check", "uncheck".
async function edit(page, steps) {
    for (const [op, selector, value] of steps) {
        const field = page.locator(selector).first();
        await field.waitFor({ state: 'attached', timeout: 10000 });
        if (op === 'fill')
            await field.fill(value);
        else if (op === 'check')
            await field.check();
        else if (op === 'uncheck')
            await field.uncheck();
        else
            throw new Failure(`no step "${op}"`);
    }
}

// The points table's rows as the page shows them, in page order: the ID, the
// Used box, the tag, the name column and the change time of each.
async function pointRows(page) {
    return page.evaluate(() => {
        const rows = [];
        for (const hidden of document.querySelectorAll('input[type="hidden"][name$="DC"]')) {
            const id = hidden.name.slice(0, -2);
            const used = document.querySelector(`input[name="${CSS.escape(id)}Used"]`);
            const tag = document.querySelector(`input[name="${CSS.escape(id)}Tag"]`);
            const tr = tag && tag.closest('tr');
            const cells = tr ? Array.from(tr.children, (c) => c.textContent.trim()) : [];
            const at = cells.indexOf(id);
            rows.push({ id, used: used ? used.checked : null, tag: tag ? tag.value : '',
                        name: at >= 0 ? cells[at + 1] : '', changed: at >= 0 ? cells[at + 2] : '' });
        }
        return rows;
    });
}

// What each stored sort key orders by, as a value that compares with < and >.
// The name column shows "location name" (the rig's locations are one word);
// the sort code of an ID is derived the way the page makes it.
const sortValues = {
    DCSort: (row) => {
        let m;
        if ((m = /^V(\d+):/.exec(row.id)))
            return 'V' + m[1].padStart(3, '0');
        if ((m = /^X(\d+:[0-9A-F]+)$/.exec(row.id)))
            return 'X' + ('00' + m[1]).slice(-3);
        if ((m = /^([A-P])(\d+)$/.exec(row.id)))
            return m[1] + m[2].padStart(3, '0');
        return row.id;
    },
    Name: (row) => {
        const blank = row.name.indexOf(' ');
        return (blank < 0 ? row.name : row.name.slice(blank + 1)).toLowerCase();
    },
    Tag: (row) => row.tag.toLowerCase(),
    Used: (row) => (row.used ? 1 : 0),
    Changed: (row) => {
        const m = /^(Today|Yesterday) (.*)$/.exec(row.changed);
        if (!row.changed)
            return -Infinity;
        if (m)
            return Date.parse(`1/${m[1] === 'Today' ? 2 : 1}/2000 ${m[2]}`);
        return Date.parse(row.changed) - 1e13; // older than yesterday
    },
};

// The order in which the page gathers its rows: variables, X10 units, I/O points.
function gatheredOrder(ids) {
    const kind = (id) => (/^V\d+:/.test(id) ? 0 : /^X\d+:/.test(id) ? 2 : 1);
    const number = (id) => {
        const m = /^[A-P](\d+)$/.exec(id);
        return m ? (id.charCodeAt(0) - 65) * 16 + Number(m[1]) : Number(/\d+/.exec(id)[0]);
    };
    return ids.slice().sort((a, b) => kind(a) - kind(b) || number(a) - number(b));
}

// Checks that the page's rows are in the order of a stored key and direction.
async function checkOrder(page, key, direction) {
    const rows = await pointRows(page);
    check(rows.length > 0, 'the points table has no rows');
    const ids = rows.map((r) => r.id);
    const value = sortValues[key];
    if (!value) {
        // "Status" and "Ev" name no field of the table: the rows stay as gathered.
        const expected = gatheredOrder(ids);
        check(JSON.stringify(ids) === JSON.stringify(expected),
              `sorted by ${key} ${direction}, the rows are not as gathered: ${ids.slice(0, 12).join(',')}...`);
        return rows;
    }
    const values = rows.map(value);
    for (let i = 1; i < values.length; ++i) {
        const inOrder = direction === 'DESC' ? values[i - 1] >= values[i] : values[i - 1] <= values[i];
        check(inOrder, `sorted by ${key} ${direction || 'ascending'}, row ${ids[i - 1]} (${values[i - 1]}) `
              + `comes before ${ids[i]} (${values[i]})`);
    }
    check(values[0] !== values[values.length - 1], `every row has the same ${key}: nothing shows the order`);
    return rows;
}

const cases = {
    // Two tabs load the page, each makes its own edits, then they save in the
    // given order: what each saves is checked by the caller in the files.
    async tabs(page, context) {
        const tabs = { a: page, b: await context.newPage() };
        tabs.b.setDefaultTimeout(TIMEOUT);
        tabs.b.on('pageerror', (error) => problems.push(`script error in tab b: ${error.message}`));
        await open(tabs.a);
        await open(tabs.b);
        await edit(tabs.a, options.a || []);
        await edit(tabs.b, options.b || []);
        for (const name of options.order)
            await submitBy(tabs[name], 'input[name="UpdateButton"][value="Save Changes"]');
        await tabs.b.close();
    },

    // One tab's edits saved; the caller reads the files, and the note of
    // what the Save refused as the page after it shows it.
    async save(page) {
        await open(page);
        await edit(page, options.steps || []);
        await submitBy(page, 'input[name="UpdateButton"][value="Save Changes"]');
        const note = await page.evaluate(() => {
            const div = document.querySelector('div.refused');
            return div ? div.innerText : '';
        });
        console.log(`refusal note: ${JSON.stringify(note)}`);
        console.log(`charset: ${await page.evaluate(() => document.characterSet)}`);
        if (options.noteShot && note)
            await page.locator('div.refused').screenshot({ path: options.noteShot });
    },

    // A row's SEND button: the caller reads the controller's line.
    async send(page) {
        await open(page);
        await submitBy(page, `input[type="button"][name="${options.row}"][value="SEND"]`);
    },

    // Every element of the page gets the mouse over it and away: no script
    // error and no console error follow.
    async hover(page) {
        await open(page);
        const errorsBefore = consoleErrors.length;
        const count = await page.evaluate(() => {
            const all = Array.from(document.querySelectorAll('body *'));
            for (const el of all)
                for (const type of ['mouseover', 'mouseenter', 'mousemove', 'mouseout', 'mouseleave'])
                    el.dispatchEvent(new MouseEvent(type, { bubbles: true, cancelable: true, view: window }));
            return all.length;
        });
        check(count > 100, `only ${count} elements on the page`);
        // The real pointer over every header cell, where the help handlers were.
        const headers = page.locator('td.TABLEHEADER');
        const n = await headers.count();
        check(n > 5, `only ${n} header cells`);
        for (let i = 0; i < n; ++i)
            await headers.nth(i).hover({ timeout: 5000 });
        await sleep(200);
        check(consoleErrors.length === errorsBefore,
              `console errors on hover: ${consoleErrors.slice(errorsBefore).join(' | ')}`);
    },

    // Every image the page names is served and shows.
    async images(page) {
        const failed = [];
        page.on('response', (r) => {
            if (r.request().resourceType() === 'image' && r.status() !== 200)
                failed.push(`${r.url()} answered ${r.status()}`);
        });
        page.on('requestfailed', (r) => failed.push(`${r.url()} failed: ${r.failure() && r.failure().errorText}`));
        await open(page);
        await page.waitForLoadState('networkidle');
        const images = await page.evaluate(() => Array.from(document.images,
            (img) => ({ src: img.src, shown: img.complete && img.naturalWidth > 0 })));
        check(images.length >= (options.minImages || 1), `only ${images.length} images on the page`);
        for (const img of images)
            check(img.shown, `the image ${img.src} does not show`);
        check(failed.length === 0, failed.join('\n'));
    },

    // The page loads in a real browser, is the status page, and runs no script error.
    async load(page) {
        await open(page);
        const title = await page.evaluate(() => document.body ? document.body.innerText : '');
        check(title.includes('Korvane Status'), `the page does not name itself: ${title.slice(0, 200)}`);
        for (const text of options.expectText || [])
            check(title.includes(text), `the page does not show "${text}"`);
        for (const [row, values] of options.buttons || []) {
            const got = await page.evaluate((row) => Array.from(
                document.querySelectorAll('input[type="button"]'), (b) => b.name === row ? b.value : null)
                .filter((v) => v !== null), row);
            check(JSON.stringify(got) === JSON.stringify(values),
                  `row ${row} has the buttons ${JSON.stringify(got)} instead of ${JSON.stringify(values)}`);
        }
    },

    // A variable's ON button with a value typed: the controller gets the value
    // and the page built after the post shows it.
    async variable(page) {
        await open(page);
        const row = options.row;
        await page.fill(`input[name="${row}Value"]`, String(options.value));
        await submitBy(page, `input[type="button"][name="${row}"][value="ON"]`);
        const shown = await eventually(async () => {
            const s = await statusOf(page, row);
            if (s === String(options.value))
                return s;
            await open(page);
            return null;
        });
        check(shown === String(options.value),
              `row ${row} shows "${await statusOf(page, row)}" instead of ${options.value}`);
    },

    // A tag typed into a row and saved is on the rebuilt page and on a fresh load.
    async tag(page) {
        await open(page);
        const field = `input[name="${options.row}Tag"]`;
        await page.fill(field, options.tag);
        await submitBy(page, 'input[name="UpdateButton"][value="Save Changes"]');
        check(await page.inputValue(field) === options.tag, 'the page built after Save lost the tag');
        await open(page);
        check(await page.inputValue(field) === options.tag, 'a fresh load of the page lost the tag');
    },

    // The filter table switched on, a filter added in its blank row, a matching
    // message sent to the program: the filter's row shows when it caught it and
    // what it stored.
    async filter(page) {
        await open(page);
        await page.check('input[name="ShowReceiveMessages"]');
        await page.check('input[name="ShowReceiveDetail"]');
        await submitBy(page, 'input[name="UpdateButton"][value="Save Changes"]');
        await page.fill('input[name="Source0"]', options.source);
        await page.fill('input[name="Class0"]', options.cls);
        await page.fill('input[name="FilterTag0"]', options.filterTag);
        await submitBy(page, 'input[name="UpdateButton"][value="Save Changes"]');
        check(await page.inputValue('input[name="Source1"]') === options.source, 'the new filter is not row 1');
        check(await page.inputValue('input[name="Class1"]') === options.cls, 'the new filter lost its class');
        check(await page.inputValue('input[name="FilterTag1"]') === options.filterTag.replace(/ /g, '_'),
              'the new filter lost its tag');
        check(await page.inputValue('input[name="Source0"]') === '', 'no blank row after the new filter');

        const filterRow = async () => page.evaluate(() => {
            const input = document.querySelector('input[name="Source1"]');
            const tr = input && input.closest('tr');
            if (!tr)
                return null;
            const rows = [];
            for (let r = tr; r; r = r.nextElementSibling) {
                if (r !== tr && r.querySelector('input[name^="Source"]'))
                    break;
                rows.push(Array.from(r.children, (c) => c.textContent.trim()));
            }
            return rows;
        });
        const before = await filterRow();
        check(before && before[0][0] === '', `the filter shows a catch before any message: ${JSON.stringify(before)}`);

        await sendDatagram(options.xapPort, options.datagram);
        const caught = await eventually(async () => {
            await open(page);
            const rows = await filterRow();
            return rows && rows[0][0].startsWith('Today ') ? rows : null;
        });
        check(caught, `the filter's row shows no catch: ${JSON.stringify(await filterRow())}`);
        if (options.screenshot)
            await page.locator('input[name="Source1"]').locator('xpath=ancestor::table[1]')
                .screenshot({ path: options.screenshot.replace(/\.png$/, '-table.png') });
        const detail = caught.slice(1).map((cells) => cells.join('|'));
        for (const [key, value] of options.items)
            check(detail.includes(`${value}|${key}`), `stored item ${key}=${value} not under the filter: ${detail}`);
    },

    // Column headings: each press sorts the page by its key, a second press of
    // the same heading reverses it. A step without a heading only loads the page.
    async sort(page) {
        await open(page);
        for (const step of options.steps) {
            if (step.press)
                await submitBy(page, `input[type="submit"][name="${step.press}"]`);
            else
                await open(page);
            const rows = await checkOrder(page, step.key, step.direction);
            if (step.first)
                check(rows[0].id === step.first, `sorted by ${step.key} ${step.direction}, the first row is `
                      + `${rows[0].id}, not ${step.first}`);
        }
    },

    // Hostile texts from the device store, the filters and a received message
    // show as text: no dialog, no element or script of theirs in the document.
    async xss(page) {
        if (options.datagram) {
            await sendDatagram(options.xapPort, options.datagram);
            await sleep(500);
        }
        await open(page);
        const waitFor = options.waitForText || [];
        const seen = await eventually(async () => {
            const text = await page.evaluate(() => document.body.innerText);
            if (waitFor.every((t) => text.includes(t)))
                return true;
            await open(page);
            return false;
        });
        check(seen, `the page never showed every probe as text: ${JSON.stringify(waitFor)}`);
        // Every probe carries data-probe and sets window.__xss when it runs.
        const found = await page.evaluate(() => ({
            marker: window.__xss,
            probes: document.querySelectorAll('[data-probe]').length,
            scripts: Array.from(document.scripts, (s) => s.text).filter((t) => t.includes('__xss')).length,
            handlers: Array.from(document.querySelectorAll('*')).filter((el) =>
                Array.from(el.attributes).some((a) => /^on/i.test(a.name) && a.value.includes('__xss'))).length,
        }));
        check(found.marker === undefined, `a probe ran: window.__xss = ${found.marker}`);
        check(found.probes === 0, `${found.probes} injected elements in the page`);
        check(found.scripts === 0, `${found.scripts} injected scripts in the page`);
        check(found.handlers === 0, `${found.handlers} injected event handlers in the page`);
        for (const [selector, value] of options.inputValues || [])
            check(await page.inputValue(selector) === value, `${selector} does not hold its text as stored`);
    },
};

const problems = [];
const consoleErrors = [];

async function main() {
    const run = cases[options.case];
    check(run, `no case "${options.case}"`);
    check(fs.existsSync(CHROMIUM), `no browser at ${CHROMIUM}`);
    const profile = fs.mkdtempSync(path.join(os.tmpdir(), 'korvane-chromium-'));
    const context = await chromium.launchPersistentContext(profile, {
        executablePath: CHROMIUM,
        headless: true,
        viewport: { width: 1280, height: 900 },
        args: ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
               '--disable-background-networking', '--disable-component-update', '--disable-sync'],
    });
    try {
        await context.route('**/*', (route) => {
            const host = new URL(route.request().url()).hostname;
            if (host === '127.0.0.1' || host === 'localhost')
                return route.continue();
            problems.push(`request off loopback blocked: ${route.request().url()}`);
            return route.abort();
        });
        const page = context.pages()[0] || await context.newPage();
        page.setDefaultTimeout(TIMEOUT);
        page.on('dialog', (dialog) => {
            problems.push(`a ${dialog.type()} dialog opened: ${dialog.message()}`);
            dialog.dismiss().catch(() => {});
        });
        page.on('pageerror', (error) => problems.push(`script error in the page: ${error.message}`));
        page.on('console', (message) => {
            if (message.type() === 'error')
                consoleErrors.push(message.text());
        });
        try {
            await run(page, context);
        } finally {
            if (options.screenshot)
                await page.screenshot({ path: options.screenshot, fullPage: true }).catch((e) =>
                    problems.push(`no screenshot: ${e.message}`));
        }
        check(problems.length === 0, problems.join('\n'));
    } finally {
        await context.close();
        fs.rmSync(profile, { recursive: true, force: true });
    }
}

main().then(() => {
    console.log(`case ${options.case} passed`);
}, (error) => {
    console.error(error instanceof Failure ? `case ${options.case} failed: ${error.message}` : error);
    process.exit(1);
});

// What the browser tests share: the site served on loopback, Chromium
// started headless through playwright-core, and a page of the playground
// whose interpreter is ready.
import { createRequire } from 'node:module';
import { readFileSync, readdirSync } from 'node:fs';
import { mkdtemp, rm } from 'node:fs/promises';
import os from 'node:os';
import path from 'node:path';
import { startServer } from '../../web/serve.mjs';

export const sourceDir = process.env.SKERN_SOURCE_DIR;
export const siteDir = process.env.SKERN_SITE_DIR;
export const artefactsDir = process.env.SKERN_ARTEFACTS_DIR;
const chromiumPath = process.env.SKERN_CHROMIUM;

const require = createRequire(path.join(sourceDir, 'web', 'node_modules', 'index.js'));
const { chromium } = require('playwright-core');

// Chromium on a machine without a network: no background connections, no
// first-run work, a fresh profile.
const FLAGS = [
  '--no-sandbox',
  '--disable-gpu',
  '--disable-quic',
  '--no-first-run',
  '--disable-background-networking',
  '--disable-component-update',
  '--disable-sync',
];

export async function openBrowser() {
  const profile = await mkdtemp(path.join(os.tmpdir(), 'skern-chromium-'));
  const server = await startServer(siteDir);
  const context = await chromium.launchPersistentContext(profile, {
    executablePath: chromiumPath,
    headless: true,
    args: FLAGS,
  });
  // Anything the page asks of another host is a fault: the site must be
  // whole on its own.
  const foreign = [];
  await context.route('**/*', (route) => {
    const url = route.request().url();
    if (url.startsWith(server.url) || url.startsWith('blob:') || url.startsWith('data:')) return route.continue();
    foreign.push(url);
    return route.abort();
  });
  return {
    url: server.url,
    context,
    foreign,
    processes: () => chromiumProcesses(profile),
    async close() {
      await context.close();
      await server.close();
      await rm(profile, { recursive: true, force: true });
    },
  };
}

// A page of the playground, with its errors collected, once window.skern
// can run programs.
export async function openPlayground(browser, { fragment = '', viewport } = {}) {
  const page = await browser.context.newPage();
  if (viewport) await page.setViewportSize(viewport);
  const errors = [];
  page.on('pageerror', (error) => errors.push(error.message));
  page.on('console', (message) => {
    if (message.type() === 'error') errors.push(message.text());
  });
  await page.goto(browser.url + fragment);
  await page.waitForFunction(() => window.skern !== undefined);
  await page.evaluate(() => window.skern.ready);
  return { page, errors };
}

// The processes of the Chromium started with `profile`, with their kind
// (browser, renderer, gpu-process, ...) and memory in bytes: resident now and
// the most resident so far. Read from /proc: null where there is none.
function chromiumProcesses(profile) {
  let pids;
  try {
    pids = readdirSync('/proc').filter((name) => /^\d+$/.test(name));
  } catch {
    return null;
  }
  const found = [];
  for (const pid of pids) {
    try {
      // Chromium's children may rewrite their arguments into one string.
      const command = readFileSync(`/proc/${pid}/cmdline`, 'utf8');
      if (!command.includes(profile)) continue;
      const type = /(?:^|[\s\0])--type=([\w-]+)/.exec(command)?.[1] ?? 'browser';
      const status = readFileSync(`/proc/${pid}/status`, 'utf8');
      const bytes = (field) => Number(new RegExp(`^${field}:\\s+(\\d+) kB`, 'm').exec(status)?.[1] ?? 0) * 1024;
      found.push({ pid: Number(pid), type, resident: bytes('VmRSS'), peak: bytes('VmHWM') });
    } catch {
      // The process ended while it was read.
    }
  }
  return found;
}

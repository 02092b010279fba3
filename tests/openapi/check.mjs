// Validates OpenAPI documents against the official OpenAPI schemas, then
// checks the rules that a JSON schema cannot express: operationIds unique,
// and path parameters and path template variables matching one to one.
//
//   node check.mjs FILE...
//
// Exits 1 with the errors; 77 (a skip for ctest) when the validator is not
// installed, except under CI, where that is a failure too.
import { readFile } from "node:fs/promises";

let Validator;
try {
  ({ Validator } = await import("@seriousme/openapi-schema-validator"));
} catch (error) {
  console.error(`the OpenAPI validator is not installed (${error.code ?? error.message}): run npm ci --prefix tests/openapi`);
  process.exit(process.env.CI ? 1 : 77);
}

const methods = ["get", "put", "post", "delete", "options", "head", "patch", "trace"];

function ruleErrors(document) {
  const errors = [];
  const ids = new Set();
  for (const [path, item] of Object.entries(document.paths ?? {})) {
    const variables = [...path.matchAll(/\{([^{}]*)\}/g)].map((m) => m[1]);
    for (const method of methods) {
      const operation = item[method];
      if (!operation) continue;
      const where = `${method} ${path}`;
      if (ids.has(operation.operationId)) errors.push(`${where}: operationId ${operation.operationId} used twice`);
      ids.add(operation.operationId);
      const parameters = [...(item.parameters ?? []), ...(operation.parameters ?? [])];
      const seen = new Set();
      for (const p of parameters) {
        if (seen.has(`${p.in} ${p.name}`)) errors.push(`${where}: parameter ${p.in} ${p.name} listed twice`);
        seen.add(`${p.in} ${p.name}`);
      }
      const inPath = parameters.filter((p) => p.in === "path").map((p) => p.name);
      for (const v of variables) if (!inPath.includes(v)) errors.push(`${where}: no path parameter for {${v}}`);
      for (const p of inPath) if (!variables.includes(p)) errors.push(`${where}: path parameter ${p} not in the path`);
    }
  }
  return errors;
}

let failed = false;
for (const file of process.argv.slice(2)) {
  let document;
  try {
    document = JSON.parse(await readFile(file, "utf8"));
  } catch (error) {
    console.error(`${file}: ${error.message}`);
    failed = true;
    continue;
  }
  const validator = new Validator();
  const result = await validator.validate(document);
  const errors = result.valid ? ruleErrors(validator.specification) : [JSON.stringify(result.errors, null, 2)];
  if (result.valid && validator.version !== "3.1") errors.push(`OpenAPI ${validator.version}, not 3.1`);
  for (const error of errors) console.error(`${file}: ${error}`);
  if (errors.length) failed = true;
  else console.log(`${file}: valid OpenAPI ${validator.version}`);
}
process.exit(failed ? 1 : 0);

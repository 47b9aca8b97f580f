// The lint of the project's JavaScript (scripts/lint.sh runs it from the
// project root): the phone page's script, and the browser tests, whose
// callbacks for page.evaluate run in the page.
import js from "@eslint/js";
import globals from "globals";

export default [
  js.configs.recommended,
  {
    // A catch that deliberately ignores what it caught may still name it.
    rules: { "no-unused-vars": ["error", { caughtErrors: "none" }] },
  },
  {
    files: ["Sources/**/*.js"],
    languageOptions: { sourceType: "script", globals: globals.browser },
  },
  {
    files: ["tests/**/*.mjs"],
    languageOptions: { sourceType: "module", globals: { ...globals.node, ...globals.browser } },
  },
];

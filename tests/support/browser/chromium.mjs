// Debian's headless Chromium through playwright-core (pinned by this folder's
// package-lock.json; its own browser downloads are never used), for every
// browser test.
import { chromium } from "playwright-core";

export const chromiumFlags = [
  "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
  "--disable-background-networking", "--disable-component-update", "--disable-sync",
];

export function launchChromium(env = process.env, extraFlags = []) {
  return chromium.launch({
    executablePath: "/usr/bin/chromium",
    args: [...chromiumFlags, ...extraFlags],
    // Playwright mutes the browser by default; the phone page must be heard.
    ignoreDefaultArgs: ["--mute-audio"],
    env,
  });
}

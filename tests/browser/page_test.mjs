// The serve command's web page in the system's chromium: pick two pictures,
// run a face swap, see the result; then the error shown for a faceless
// picture, the faces found drawn over a picture; a video job followed to
// its end and played, another found again after a reload and cancelled;
// keyboard use and a phone-sized screen along the way.
//
//   node page_test.mjs CLI MODEL_DIR PICTURE_DIR [SCREENSHOT.png]
import { spawn } from "node:child_process";
import { existsSync } from "node:fs";
import assert from "node:assert/strict";
import path from "node:path";
import puppeteer from "puppeteer-core";

const [cli, models, pictures, screenshot] = process.argv.slice(2);
const chromium = process.env.CHROMIUM || "/usr/bin/chromium";
const SECONDS = 1000;

// Starts `brightloom serve` on a free loopback port; resolves to its URL.
function startServer() {
  const server = spawn(cli, ["-q", "-m", models, "serve", "--port", "0"],
    { stdio: ["ignore", "ignore", "pipe"] });
  let log = "";
  const url = new Promise((resolve, reject) => {
    server.stderr.on("data", (chunk) => {
      log += chunk;
      const match = /serving on (http:\/\/127\.0\.0\.1:\d+)\//.exec(log);
      if (match) resolve(match[1]);
    });
    server.on("exit", (code) => reject(new Error(`server exited (${code}):\n${log}`)));
  });
  return { server, url, log: () => log };
}

function stopServer(server) {
  return new Promise((resolve) => {
    server.removeAllListeners("exit");
    server.on("exit", (code) => resolve(code));
    server.kill("SIGTERM");
  });
}

// Share of pixels that differ between two <img> elements of the same size.
async function differingShare(page, first, second) {
  return page.evaluate((a, b) => {
    const read = (image) => {
      const canvas = document.createElement("canvas");
      canvas.width = image.naturalWidth;
      canvas.height = image.naturalHeight;
      const context = canvas.getContext("2d");
      context.drawImage(image, 0, 0);
      return context.getImageData(0, 0, canvas.width, canvas.height).data;
    };
    const [x, y] = [read(document.querySelector(a)), read(document.querySelector(b))];
    let differing = 0;
    for (let i = 0; i < x.length; i += 4) {
      if (x[i] !== y[i] || x[i + 1] !== y[i + 1] || x[i + 2] !== y[i + 2]) differing++;
    }
    return differing / (x.length / 4);
  }, first, second);
}

async function swapThroughTheForm(page) {
  await page.waitForSelector("#run");
  // The operation is chosen with the keyboard: from Face swap, one arrow
  // step to Soft swap and one back.
  await page.focus("input[value=swap]");
  await page.keyboard.press("ArrowRight");
  assert.equal(await page.$eval("input[name=operation]:checked", (e) => e.value), "blend");
  await page.keyboard.press("ArrowLeft");
  assert.equal(await page.$eval("input[name=operation]:checked", (e) => e.value), "swap");

  await (await page.$("#source")).uploadFile(path.join(pictures, "source.png"));
  await (await page.$("#target")).uploadFile(path.join(pictures, "group.png"));
  await page.click("#run");
  await page.waitForFunction(() => {
    const result = document.querySelector("#result");
    return !document.querySelector("#output").hidden && result.complete && result.naturalWidth > 0;
  }, { timeout: 120 * SECONDS });
  const size = await page.$eval("#result", (e) => [e.naturalWidth, e.naturalHeight]);
  assert.deepEqual(size, [640, 640]);
  assert.equal(await page.$eval("#error", (e) => e.hidden), true);
  assert.match(await page.$eval("#download", (e) => e.download), /^swap-result\.png$/);
  // The result sits beside the inputs: the second input picture is the target.
  const share = await differingShare(page, "#result", "#inputs img:nth-child(2)");
  assert.ok(share > 0.001 && share < 0.5, `result differs from the target in ${share} of its pixels`);
}

async function faceless(page) {
  await page.click("input[value=enhance]");
  await (await page.$("#image")).uploadFile(path.join(pictures, "faceless.png"));
  await page.click("#run");
  await page.waitForSelector("#error:not([hidden])", { timeout: 120 * SECONDS });
  assert.equal(await page.$eval("#error", (e) => e.textContent), "No face detected in image");
  assert.equal(await page.$eval("#run", (e) => e.disabled), false);
}

// The detect view draws one box per face the server reported, in the
// picture's own pixels, with five points each (and the 68 of the landmarker).
async function detectDrawsFaces(page) {
  await page.click("input[value=detect]");
  assert.equal(await page.$eval("#format", (e) => e.closest("[data-ops]").hidden), true);
  await (await page.$("#image")).uploadFile(path.join(pictures, "group.png"));
  const answer = page.waitForResponse((r) => r.url().endsWith("/api/detect"));
  await page.click("#run");
  const analysis = await (await answer).json();
  await page.waitForSelector("#faces:not([hidden])", { timeout: 120 * SECONDS });
  assert.ok(analysis.faces.length >= 2, `found ${analysis.faces.length} faces in the group`);
  assert.deepEqual([analysis.width, analysis.height], [640, 640]);
  const drawn = await page.$eval("#detect-overlay", (svg) => ({
    viewBox: svg.getAttribute("viewBox"),
    boxes: [...svg.querySelectorAll("rect.box")].map((r) => ["x", "y", "width", "height"].map(
      (a) => Number(r.getAttribute(a)))),
    points5: svg.querySelectorAll("circle.point5").length,
    points68: svg.querySelectorAll("circle.point68").length,
  }));
  assert.equal(drawn.viewBox, "0 0 640 640");
  assert.deepEqual(drawn.boxes, analysis.faces.map(({ box: [x1, y1, x2, y2] }) => [x1, y1, x2 - x1, y2 - y1]));
  assert.equal(drawn.points5, 5 * analysis.faces.length);
  assert.equal(drawn.points68, 68 * analysis.faces.filter((f) => f.points68).length);
  assert.equal(await page.$eval("#output", (e) => e.hidden), true);
  assert.match(await page.$eval("#faces-summary", (e) => e.textContent),
    new RegExp(`^${analysis.faces.length} faces in 640 × 640 pixels`));
}

// Chooses Video, the operation and the files, and starts the job; resolves
// to the job's id, which the page puts in its address.
async function startVideoJob(page, operation, files, choices = {}) {
  await page.click("input[value=video]");
  await page.select("#video-operation", operation);
  for (const [id, value] of Object.entries(choices)) await page.select("#" + id, value);
  for (const [field, file] of Object.entries(files)) {
    await (await page.$("#" + field)).uploadFile(path.join(pictures, file));
  }
  await page.click("#run");
  await page.waitForFunction(() => /^#job=[0-9a-f]{32}$/.test(window.location.hash),
    { timeout: 60 * SECONDS });
  return page.evaluate(() => window.location.hash.slice(5));
}

// A swap over a two-second clip: the progress bar reaches the end and the
// result plays in the page, two seconds long, with pixels in its frames.
async function videoPlays(page) {
  await startVideoJob(page, "swap", { video: "clip.mp4", source: "source.png" });
  assert.equal(await page.$eval("#format", (e) => e.closest("[data-ops]").hidden), true);
  assert.equal(await page.$eval("#target", (e) => e.closest(".drop").hidden), true);
  await page.waitForSelector("#video-output:not([hidden])", { timeout: 300 * SECONDS });
  const bar = await page.$eval("#video-progress", (e) => [e.value, e.max]);
  assert.deepEqual(bar, [24, 24]);
  assert.match(await page.$eval("#video-status", (e) => e.textContent), /^Done: 24 frames/);
  const played = await page.evaluate(async () => {
    const video = document.querySelector("#video-result");
    const until = (check, event) => new Promise((resolve) => {
      if (check()) return resolve(true);
      const timer = setTimeout(() => resolve(false), 20000);
      video.addEventListener(event, function listener() {
        if (!check()) return;
        clearTimeout(timer);
        video.removeEventListener(event, listener);
        resolve(true);
      });
    });
    video.muted = true;
    await video.play();
    const ran = await until(() => video.currentTime > 0, "timeupdate");
    video.pause();
    // A seek asks the server for a byte range of the result.
    video.currentTime = 1;
    await until(() => !video.seeking, "seeked");
    const canvas = document.createElement("canvas");
    [canvas.width, canvas.height] = [video.videoWidth, video.videoHeight];
    const context = canvas.getContext("2d");
    context.drawImage(video, 0, 0);
    const pixels = context.getImageData(0, 0, canvas.width, canvas.height).data;
    let lit = 0;
    for (let i = 0; i < pixels.length; i += 4) if (pixels[i] + pixels[i + 1] + pixels[i + 2] > 60) lit++;
    return { duration: video.duration, width: video.videoWidth, ran, lit };
  });
  assert.ok(Math.abs(played.duration - 2) < 0.2, `the result lasts ${played.duration} s`);
  assert.equal(played.width, 160);
  assert.ok(played.ran, "the video did not play");
  assert.ok(played.lit > 100, "the decoded frame is dark");
  assert.match(await page.$eval("#video-download", (e) => e.download), /^swap-result\.mp4$/);
}

// A slow job found again after the page is reloaded, then cancelled.
async function videoResumesAndCancels(page) {
  await page.goto(page.url().split("#")[0], { waitUntil: "networkidle0" });
  // Four times as large: slow enough to be caught running.
  const id = await startVideoJob(page, "upscale", { video: "clip.mp4" }, { scale: "4" });
  await page.reload({ waitUntil: "domcontentloaded" });
  await page.waitForFunction(() => !document.querySelector("#video-job").hidden &&
    /frames|Waiting/.test(document.querySelector("#video-status").textContent), { timeout: 60 * SECONDS });
  assert.equal(await page.$eval("input[value=video]", (e) => e.checked), true);
  assert.equal(await page.evaluate(() => window.location.hash), "#job=" + id);
  await page.click("#video-cancel");
  await page.waitForFunction(() => document.querySelector("#video-status").textContent === "Cancelled.",
    { timeout: 60 * SECONDS });
  const state = await page.evaluate(async (job) => (await (await fetch("/api/jobs/" + job)).json()).state, id);
  assert.equal(state, "cancelled");
  assert.equal(await page.$eval("#run", (e) => e.disabled), false);
}

async function fitsAPhone(page) {
  await page.setViewport({ width: 375, height: 740 });
  const overflow = await page.evaluate(() => document.documentElement.scrollWidth - window.innerWidth);
  assert.ok(overflow <= 0, `the page is ${overflow} px wider than a phone`);
}

const { server, url, log } = startServer();
let browser;
try {
  const base = await url;
  browser = await puppeteer.launch({
    executablePath: chromium,
    headless: true,
    // Root (as in CI) cannot use chromium's sandbox; the page is our own.
    args: ["--no-sandbox", "--disable-gpu", "--no-first-run"],
  });
  const page = await browser.newPage();
  const problems = [];
  page.on("pageerror", (error) => problems.push(error.message));
  page.on("console", (message) => {
    if (message.type() === "error" && !/status of 422/.test(message.text())) problems.push(message.text());
  });
  await page.setViewport({ width: 1000, height: 900 });
  await page.goto(base + "/", { waitUntil: "networkidle0" });
  await swapThroughTheForm(page);
  if (screenshot) await page.screenshot({ path: screenshot, fullPage: true });
  await faceless(page);
  await detectDrawsFaces(page);
  if (existsSync(path.join(pictures, "clip.mp4"))) {
    await videoPlays(page);
    await videoResumesAndCancels(page);
  } else {
    console.log("video part skipped: no ffmpeg to make the clip");
  }
  await fitsAPhone(page);
  assert.deepEqual(problems, []);
  console.log("browser test passed" + (screenshot ? `; screenshot: ${screenshot}` : ""));
} finally {
  if (browser) await browser.close();
  const code = await stopServer(server);
  if (code !== 0) {
    console.error(log());
    process.exitCode = 1;
  }
}

// Drives Tabulo's browser page in headless Chromium: creates a document,
// edits a cell (text, colour, photo), merges cells, saves, exports CSV and PDF
// as downloads, reloads the page and restarts the app and finds the document
// again, and checks the server's refusals. The app is pointed at the local
// collection service (next to the app's binary), and the usage event a click
// in the settings causes is found in a batch the service recorded. At the
// end the traffic report decodes every batch the service recorded (the app's
// usage events arrive once each, as the app logged them) and checks the
// privacy of every request it captured. Writes a screenshot of the editor
// into the output directory.
//
//   node browser_test.mjs <tabulo binary> <output directory> <traffic report binary>
import { spawn, spawnSync } from "node:child_process";
import fs from "node:fs";
import os from "node:os";
import path from "node:path";
import zlib from "node:zlib";
import assert from "node:assert/strict";
import { chromium } from "playwright-core";

const [binary, outputDirectory, trafficReportBinary] = process.argv.slice(2);
assert.ok(binary && outputDirectory && trafficReportBinary,
          "usage: browser_test.mjs <tabulo> <output directory> <traffic report>");
fs.rmSync(outputDirectory, { recursive: true, force: true });
fs.mkdirSync(outputDirectory, { recursive: true });
const dataDirectory = path.join(outputDirectory, "data");
const log = (...args) => console.log("[e2e]", ...args);

// A small PNG photo: a warm gradient with a dark disc.
function photoPNG(width, height) {
  const rows = [];
  for (let y = 0; y < height; ++y) {
    const row = Buffer.alloc(1 + width * 3);
    for (let x = 0; x < width; ++x) {
      const inDisc = (x - width / 2) ** 2 + (y - height / 2) ** 2 < (height / 3) ** 2;
      row[1 + x * 3] = inDisc ? 30 : 255;
      row[2 + x * 3] = inDisc ? 60 : Math.round(120 + (100 * y) / height);
      row[3 + x * 3] = inDisc ? 120 : Math.round((200 * x) / width);
    }
    rows.push(row);
  }
  const crcTable = Array.from({ length: 256 }, (_, n) => {
    let c = n;
    for (let k = 0; k < 8; ++k) c = c & 1 ? 0xedb88320 ^ (c >>> 1) : c >>> 1;
    return c >>> 0;
  });
  const crc = (buffer) => {
    let c = 0xffffffff;
    for (const byte of buffer) c = crcTable[(c ^ byte) & 0xff] ^ (c >>> 8);
    return (c ^ 0xffffffff) >>> 0;
  };
  const chunk = (type, data) => {
    const length = Buffer.alloc(4);
    length.writeUInt32BE(data.length);
    const body = Buffer.concat([Buffer.from(type, "ascii"), data]);
    const sum = Buffer.alloc(4);
    sum.writeUInt32BE(crc(body));
    return Buffer.concat([length, body, sum]);
  };
  const header = Buffer.alloc(13);
  header.writeUInt32BE(width, 0);
  header.writeUInt32BE(height, 4);
  header[8] = 8;  // bit depth
  header[9] = 2;  // RGB
  return Buffer.concat([
    Buffer.from([0x89, 0x50, 0x4e, 0x47, 0x0d, 0x0a, 0x1a, 0x0a]),
    chunk("IHDR", header),
    chunk("IDAT", zlib.deflateSync(Buffer.concat(rows))),
    chunk("IEND", Buffer.alloc(0)),
  ]);
}

// The local collection service, recording into the output directory and
// capturing every request there; its lines (the port, then one per accepted
// batch) are kept in `lines`.
function startService() {
  const recordDirectory = path.join(outputDirectory, "batches");
  const captureDirectory = path.join(outputDirectory, "requests");
  fs.mkdirSync(recordDirectory, { recursive: true });
  fs.mkdirSync(captureDirectory, { recursive: true });
  const child = spawn(path.join(path.dirname(binary), "collection_service"),
                      ["--port", "0", "--record", recordDirectory, "--capture", captureDirectory,
                       "--max-seconds", "300"],
                      { stdio: ["ignore", "pipe", "inherit"] });
  const service = { child, recordDirectory, captureDirectory, lines: [] };
  return new Promise((resolve, reject) => {
    let pending = "";
    const timer = setTimeout(() => reject(new Error("the collection service printed no port")), 10000);
    child.stdout.on("data", (data) => {
      pending += data;
      let newline;
      while ((newline = pending.indexOf("\n")) >= 0) {
        service.lines.push(pending.slice(0, newline));
        pending = pending.slice(newline + 1);
      }
      if (service.lines.length && !service.port) {
        clearTimeout(timer);
        service.port = Number(service.lines[0]);
        resolve(service);
      }
    });
    child.on("exit", (code) => reject(new Error("the collection service ended with " + code)));
  });
}

// The event names of a recorded batch: the batch's bundles (field 1), their
// events (field 2) and each event's name (field 2), read from the wire bytes.
function batchEventNames(bytes) {
  const fields = (buffer, wanted) => {
    const found = [];
    let at = 0;
    const varint = () => {
      let value = 0, shift = 0, byte;
      do { byte = buffer[at++]; value += (byte & 0x7f) * 2 ** shift; shift += 7; } while (byte & 0x80);
      return value;
    };
    while (at < buffer.length) {
      const key = varint();
      const type = key & 7;
      if (type === 0) varint();
      else if (type === 1) at += 8;
      else if (type === 5) at += 4;
      else if (type === 2) {
        const length = varint();
        if (Math.floor(key / 8) === wanted) found.push(buffer.subarray(at, at + length));
        at += length;
      } else throw new Error("unexpected wire type " + type);
    }
    return found;
  };
  return fields(bytes, 1).flatMap((bundle) => fields(bundle, 2)).map((event) => fields(event, 2)[0].toString("utf8"));
}

// Waits for the service's `count`th line about a batch holding `name`;
// answers the batch's file.
async function waitForBatchWith(service, name, count = 1) {
  const deadline = Date.now() + 30000;
  while (Date.now() < deadline) {
    const lines = service.lines.slice(1).filter((l) => l.split(":")[2]?.split(" ").includes(name));
    if (lines.length >= count) return path.join(service.recordDirectory, lines[count - 1].split(":")[0]);
    await new Promise((resolve) => setTimeout(resolve, 100));
  }
  throw new Error("no batch with " + name + " arrived; the service printed:\n" + service.lines.join("\n"));
}

let service = null;
function startApp() {
  const child = spawn(binary, ["--data-dir", dataDirectory, "--collection-service",
                               "http://127.0.0.1:" + service.port, "-CVNAnalyticsDebugEnabled"],
                      { stdio: ["ignore", "pipe", "inherit"] });
  return new Promise((resolve, reject) => {
    let output = "";
    const timer = setTimeout(() => reject(new Error("the app printed no address:\n" + output)), 20000);
    child.stdout.on("data", (data) => {
      output += data;
      const match = output.match(/Open Tabulo at (http:\/\/127\.0\.0\.1:(\d+)\/\?token=([0-9a-f]+))/);
      if (match) {
        clearTimeout(timer);
        resolve({ child, address: match[1], port: Number(match[2]), token: match[3] });
      }
    });
    child.on("exit", (code) => reject(new Error("the app ended with " + code + ":\n" + output)));
  });
}

function stopApp(app) {
  return new Promise((resolve) => {
    app.child.removeAllListeners("exit");
    app.child.on("exit", (code) => resolve(code));
    app.child.kill("SIGTERM");
  });
}

// The server's refusals, seen from outside a browser.
async function checkRefusals(app) {
  const base = "http://127.0.0.1:" + app.port;
  const status = async (url, options = {}) => (await fetch(base + url, options)).status;
  assert.equal(await status("/api/tree"), 403, "a request without the token is refused");
  assert.equal(await status("/api/tree?token=" + "0".repeat(app.token.length)), 403, "a wrong token is refused");
  const tree = await (await fetch(base + "/api/tree?token=" + app.token)).json();
  const top = tree.screens.length - 1;
  const post = (body, headers = {}) => status("/api/action", {
    method: "POST", body, headers: Object.assign({ "X-Tabulo-Token": app.token, "Content-Type": "application/json" },
                                                 headers) });
  assert.equal(await post('{"screen":' + top + ',"action":"intro.advance"}', { Origin: "http://evil.example" }), 403,
               "a foreign origin cannot change the app");
  assert.equal(await post("not json"), 400);
  assert.equal(await post('{"screen":7,"action":"bar.right.0"}'), 404, "a screen that is not there");
  assert.equal(await post('{"screen":' + top + ',"action":"selfDestruct"}'), 404, "an action the screen does not show");
  if (top > 0) assert.equal(await post('{"screen":0,"action":"bar.right.0"}'), 409, "a screen behind another one");
  assert.equal(await status("/api/photo?token=" + app.token + "&name=..%2F..%2Fetc%2Fpasswd"), 400);
  const response = await fetch(base + "/api/tree?token=" + app.token);
  assert.equal(response.headers.get("access-control-allow-origin"), null, "no CORS headers");
}

const screenOf = (page, index) => page.getByTestId("screen-" + index);
async function topScreen(page) {
  return (await page.locator("[data-testid^=screen-]").count()) - 1;
}
async function waitScreens(page, count) {
  await page.waitForFunction((n) => document.querySelectorAll("[data-testid^=screen-]").length === n, count);
}

async function passIntroduction(page) {
  // The introduction shows on the first launch: continue through its pages.
  for (let i = 0; i < 10 && (await topScreen(page)) > 0; ++i) {
    const top = screenOf(page, await topScreen(page));
    if ((await top.getAttribute("data-class")) !== "CustomHost") break;
    await top.getByRole("button").last().click();
    await page.waitForTimeout(150);
  }
}

// The review prompts answered (each answer is a usage event of the app).
let reviewAnswers = 0;
async function answerReviewPromptIfShown(page) {
  const negative = page.getByTestId("negative");
  if (await negative.count()) {
    await negative.click();
    // The answer's usage event reaches the service before the test goes on
    // (the app may be stopped next).
    await waitForBatchWith(service, "negative_review", ++reviewAnswers);
  }
}

// The events of every recorded batch ("name @timestamp {param: value, ...}"
// lines) from the traffic report, which also fails on a privacy leak in the
// captured requests.
function trafficReport(service) {
  const report = spawnSync(trafficReportBinary, [service.recordDirectory, service.captureDirectory], { encoding: "utf8" });
  assert.equal(report.status, 0, "the traffic report found a fault:\n" + report.stdout + report.stderr);
  return report.stdout.split("\n").filter((line) => line);
}

let app = null;
let failurePage = null;
// Back to the list from the editor, closing without saving when asked (the
// question arrives with the answer to the tap).
async function leaveEditor(page) {
  await screenOf(page, 0).getByTestId("navigation.back").or(screenOf(page, 0).getByTestId("left.0")).click();
  await page.locator("[role=alertdialog], [data-testid=import]").first().waitFor();
  if (await page.getByRole("alertdialog").count()) {
    await page.getByRole("alertdialog").getByRole("button").last().click();
  }
  await page.getByTestId("import").waitFor();
}

async function run() {
  const started = Date.now();
  service = await startService();
  app = await startApp();
  log("app at", app.address);
  await checkRefusals(app);

  const userDataDir = fs.mkdtempSync(path.join(os.tmpdir(), "tabulo-chromium-"));
  const context = await chromium.launchPersistentContext(userDataDir, {
    executablePath: "/usr/bin/chromium",
    headless: true,
    acceptDownloads: true,
    bypassCSP: true,  // lets the test's own waits run in the page
    viewport: { width: 1000, height: 700 },
    args: ["--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
           "--disable-background-networking", "--disable-component-update", "--disable-sync"],
  });
  try {
    const page = context.pages()[0] || (await context.newPage());
    page.setDefaultTimeout(10000);
    failurePage = page;
    const pageErrors = [];
    page.on("pageerror", (error) => pageErrors.push(error.message));
    await page.goto(app.address);
    await waitScreens(page, 2);
    await passIntroduction(page);
    await waitScreens(page, 1);
    await assert.doesNotReject(page.getByText("No Tabulo").waitFor());

    // A pushed screen's way back is the chevron alone, without the list's title.
    log("settings");
    await screenOf(page, 0).getByTestId("left.0").click();
    const back = screenOf(page, 0).getByTestId("navigation.back");
    await back.waitFor();
    assert.equal((await back.textContent()).trim(), "\u2039", "the back button has no title");
    // "More apps" logs the app's usage event, which the library uploads
    // (about a second later with the debug argument) to the service.
    log("usage event");
    await screenOf(page, 0).getByTestId("moreApps").getByTestId("button").click();
    const batch = await waitForBatchWith(service, "developer_tapped");
    assert.ok(batchEventNames(fs.readFileSync(batch)).includes("developer_tapped"),
              "the recorded batch holds the event the click caused");
    await back.click();
    await page.getByText("No Tabulo").waitFor();

    // Create a document.
    log("create");
    await screenOf(page, 0).getByTestId("right.0").click();
    await page.getByRole("alertdialog").locator("input").fill("Budget");
    await page.getByRole("alertdialog").getByTestId("ok").click();
    await page.getByText("Budget").click();
    await page.getByTestId("grid").waitFor();
    await answerReviewPromptIfShown(page);
    await waitScreens(page, 1);

    // Merge two cells of the third row (before any cell is tapped for editing:
    // a cell tapped earlier stays selected when the selection mode starts).
    log("merge");
    await screenOf(page, 0).getByTestId("right.1").click();
    await page.getByTestId("cell-3-1").click();
    await page.getByTestId("cell-3-2").click();
    await page.getByTestId("mergeCellsTapped").click();
    await page.waitForFunction(() => {
      const cell = document.querySelector("[data-testid=cell-3-1]");
      return cell && !document.querySelector("[data-testid=cell-3-2]") && cell.offsetWidth > 150;
    });
    const closeSelection = page.getByTestId("closeSelectionTapped");
    if (await closeSelection.isVisible()) await closeSelection.click();

    // Edit a cell: text, cell colour, photo.
    log("edit");
    await page.getByTestId("cell-1-1").click();
    await waitScreens(page, 2);
    await page.getByTestId("cardTextField").fill("Hello");
    await page.getByTestId("cellColorIndicatorView").click();
    await waitScreens(page, 3);
    await page.getByTestId("colorInput").fill("#ffcc33");
    await page.getByTestId("colorPicker.finish").click();
    await waitScreens(page, 2);
    await page.getByTestId("applyTapped").click();
    await waitScreens(page, 1);
    await page.waitForFunction(() => document.querySelector("[data-testid=cell-1-1]").textContent === "Hello");

    await page.getByTestId("cell-2-2").click();
    await waitScreens(page, 2);
    await page.getByTestId("addPhotoTapped").click();
    await waitScreens(page, 3);
    await page.getByTestId("fileInput").setInputFiles({ name: "sunset.png", mimeType: "image/png",
                                                        buffer: photoPNG(96, 72) });
    await waitScreens(page, 2);
    await page.getByTestId("applyTapped").click();
    await waitScreens(page, 1);
    await page.locator("[data-testid=cell-2-2] img").waitFor();
    await page.waitForFunction(() => document.querySelector("[data-testid=cell-2-2] img").naturalWidth > 0);

    // Text in the merged block, centred.
    await page.getByTestId("cell-3-1").click();
    await waitScreens(page, 2);
    await page.getByTestId("cardTextField").fill("Merged A3:B3");
    await page.getByTestId("alignCenterImageView").click();
    await page.getByTestId("applyTapped").click();
    await waitScreens(page, 1);

    // Save.
    log("save");
    const menu = async (entry) => {
      await screenOf(page, 0).getByTestId("right.0").click();
      await page.getByTestId("menu:" + entry).click();
    };
    await menu("Save");
    const dialog = page.getByRole("alertdialog");
    await dialog.waitFor();
    assert.match(await dialog.textContent(), /Budget was saved successfuly\./);
    await dialog.getByRole("button").last().click();
    await page.waitForFunction(() => !document.querySelector("[role=alertdialog]"));

    const screenshot = path.join(outputDirectory, "editor.png");
    await page.screenshot({ path: screenshot });
    log("screenshot", screenshot);

    // Exports arrive as downloads.
    const exportAs = async (entry, fileName) => {
      await menu(entry);
      await page.getByTestId("shareSheet").waitFor();
      const [download] = await Promise.all([page.waitForEvent("download"), page.getByTestId("share.save").click()]);
      const target = path.join(outputDirectory, fileName);
      await download.saveAs(target);
      await waitScreens(page, 1);
      return fs.readFileSync(target);
    };
    log("export");
    const csv = (await exportAs("Export as .CSV", "Budget.csv")).toString("utf8");
    assert.match(csv, /Hello/, "the CSV file holds the edited cell");
    const pdf = await exportAs("Export as .PDF", "Budget.pdf");
    assert.equal(pdf.subarray(0, 5).toString("latin1"), "%PDF-", "the PDF download is a PDF file");

    // Reload: the app keeps its state; back in the list the document is there.
    log("reload");
    await page.reload();
    await page.getByTestId("grid").waitFor();
    assert.equal(await page.getByTestId("cell-1-1").textContent(), "Hello");
    await leaveEditor(page);
    await page.getByText("Budget").waitFor();

    // A new run of the app over the same data finds the saved document.
    log("restart");
    assert.equal(await stopApp(app), 0, "the app ends cleanly on SIGTERM");
    app = await startApp();
    await page.goto(app.address);
    await page.getByText("Budget").waitFor();
    await answerReviewPromptIfShown(page);
    await waitScreens(page, 1);
    await page.getByText("Budget").click();
    await page.getByTestId("grid").waitFor();
    await answerReviewPromptIfShown(page);
    await page.waitForFunction(() => document.querySelector("[data-testid=cell-1-1]").textContent === "Hello");
    // The merged block is kept (asked of the page as it is drawn: the page redraws as it reports its view).
    await page.waitForFunction(() => {
      const cell = document.querySelector("[data-testid=cell-3-1]");
      return cell && cell.offsetWidth > 150;
    });

    // Import a CSV file through the document picker (a file upload).
    log("import");
    await leaveEditor(page);
    await page.getByTestId("import").click();
    await page.getByTestId("fileInput").setInputFiles({ name: "People.csv", mimeType: "text/csv",
                                                        buffer: Buffer.from("Name,Age\nAda,36\n") });
    await page.getByText("People").waitFor();

    // A large sheet (50,000 rows of 5 fields): it opens and scrolls, and no
    // answer the page receives carries more than the part of the grid in view.
    log("large sheet");
    page.setDefaultTimeout(30000);  // importing 50,000 rows takes a while under the sanitizers
    const answers = [];
    const measure = async (response) => {
      if (!response.url().includes("/api/") || response.request().method() === "HEAD") return;
      try {
        answers.push([response.url(), (await response.body()).length]);
      } catch (error) { /* a body the page has let go of */ }
    };
    page.on("response", measure);
    let rows = "";
    for (let r = 1; r <= 50000; ++r) rows += r + ",b" + r + ",c" + r + ",d" + r + ",e" + r + "\n";
    await page.getByTestId("import").click();
    await page.getByTestId("fileInput").setInputFiles({ name: "Large.csv", mimeType: "text/csv",
                                                        buffer: Buffer.from(rows) });
    await page.getByText("Large", { exact: true }).first().click();
    await page.getByTestId("grid").waitFor();
    await answerReviewPromptIfShown(page);
    await page.waitForFunction(() => (document.querySelector("[data-testid=cell-1-2]") || {}).textContent === "b1");
    // Scrolls the grid drawn now (the page redraws it as answers come).
    const scrollTo = (fraction) => page.evaluate((f) => {
      const grid = document.querySelector("[data-testid=grid]");
      grid.scrollTop = (grid.scrollHeight - grid.clientHeight) * f;
    }, fraction);
    await scrollTo(1);
    await page.waitForFunction(() => (document.querySelector("[data-testid=cell-50000-2]") || {}).textContent === "b50000");
    await page.getByTestId("cell-0-2").waitFor({ state: "visible" });  // the header row stays in view
    await scrollTo(0.5);
    await page.waitForFunction(() => !!document.querySelector("[data-testid=cell-25000-3]"));
    await page.getByTestId("cell-25000-3").click();
    await waitScreens(page, 2);
    assert.equal(await page.getByTestId("cardTextField").inputValue(), "c25000");
    await page.getByTestId("cancelTapped").click();
    await waitScreens(page, 1);
    page.off("response", measure);
    const largest = answers.reduce((a, b) => (b[1] > a[1] ? b : a), ["", 0]);
    log("largest answer", largest[1], "bytes of", answers.length);
    assert.ok(answers.length > 3 && largest[1] < 200000, "every answer stays under 200 KB: " + largest.join(" "));

    assert.deepEqual(pageErrors, [], "the page ran without script errors");
    failurePage = null;
    log("passed in", ((Date.now() - started) / 1000).toFixed(1), "s");
  } catch (error) {
    if (failurePage) {
      await failurePage.screenshot({ path: path.join(outputDirectory, "failure.png") }).catch(() => {});
      console.error("[e2e] the page showed:", await failurePage.locator("#app").innerText().catch(() => "?"));
    }
    throw error;
  } finally {
    await context.close();
    fs.rmSync(userDataDir, { recursive: true, force: true });
    if (app.child.exitCode === null) await stopApp(app);
    service.child.kill("SIGTERM");
  }

  // What reached the service: the app's usage events once each, as logged
  // (origin "app"), and nothing private in any request.
  log("traffic");
  const events = trafficReport(service);
  const usage = (name) => events.filter((line) => line.startsWith(name + " @"));
  assert.equal(usage("developer_tapped").length, 1, "one \"developer_tapped\":\n" + events.join("\n"));
  assert.ok(usage("developer_tapped")[0].includes("_o: text app"), usage("developer_tapped")[0]);
  assert.equal(usage("negative_review").length, reviewAnswers, "one \"negative_review\" per answer");
  assert.equal(usage("positive_review").length + usage("evaluated_app").length, 0, "no answer nor rating given");
  log("passed with", events.length, "events uploaded");
}

run().catch(async (error) => {
  console.error("[e2e] FAILED:", error);
  if (app && app.child.exitCode === null) await stopApp(app);
  if (service && service.child.exitCode === null) service.child.kill("SIGTERM");
  process.exit(1);
});

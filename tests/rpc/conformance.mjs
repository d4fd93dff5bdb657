// Drives the remote control with npm's aria2 clients (aria2 over WebSocket and HTTP, maria2
// over HTTP and WebSocket), and the very same calls against a real aria2c on loopback: every
// answer's keys and value types must match. Then the hostile inputs, against ours alone.
// Usage: node conformance.mjs SERVER-BINARY [ARIA2C]   (exit 0: passed, 77: skipped)
import { spawn } from "node:child_process";
import { createRequire } from "node:module";
import fs from "node:fs";
import http from "node:http";
import net from "node:net";
import os from "node:os";
import path from "node:path";
import { doors, originRow, origins, replay } from "./doors.mjs";

const require = createRequire(import.meta.url);
if (!fs.existsSync(new URL("./node_modules/aria2/package.json", import.meta.url))) {
  console.log("the npm clients are not installed (scripts/test installs them): skipped");
  process.exit(77);
}
const Aria2 = require("aria2");
const WS = require("ws");
// Node 20 has no WebSocket of its own, which maria2 extends as it loads.
globalThis.WebSocket ??= WS;
// Its package names only a "module" entry, which Node does not resolve by itself.
const maria2 = await import(new URL("./node_modules/maria2/dist/index.js", import.meta.url));

const [serverBinary, aria2cBinary = "aria2c"] = process.argv.slice(2);
const SECRET = "conformance-" + Math.random().toString(16).slice(2);
const children = [];
let failures = 0;

function check(ok, what) {
  if (!ok) {
    failures++;
    console.error("FAIL " + what);
  }
}
const sleep = (ms) => new Promise((r) => setTimeout(r, ms));
function within(ms, promise, what) {
  return Promise.race([promise, sleep(ms).then(() => { throw new Error("timed out: " + what); })]);
}

// A little file server on loopback: a file, a missing one, and one that trickles for ever.
const files = http.createServer((req, res) => {
  if (req.url.includes("missing")) { res.writeHead(404); res.end(); return; }
  if (req.url.includes("hold")) {
    res.writeHead(200, { "Content-Length": String(64 * 1024 * 1024) });
    const t = setInterval(() => res.write(Buffer.alloc(1024)), 100);
    res.on("close", () => clearInterval(t));
    return;
  }
  res.writeHead(200, { "Content-Length": "1024" });
  res.end(Buffer.alloc(1024, 7));
});
await new Promise((r) => files.listen(0, "127.0.0.1", r));
const base = `http://127.0.0.1:${files.address().port}`;

function freePort() {
  return new Promise((resolve) => {
    const s = net.createServer();
    s.listen(0, "127.0.0.1", () => { const p = s.address().port; s.close(() => resolve(p)); });
  });
}

function startChild(cmd, args, portFromOutput) {
  return new Promise((resolve, reject) => {
    const child = spawn(cmd, args, { stdio: ["ignore", "pipe", "inherit"] });
    children.push(child);
    child.on("error", reject);
    let out = "";
    child.stdout.on("data", (d) => {
      out += d;
      const m = /port (\d+)/.exec(out);
      if (portFromOutput && m) resolve(Number(m[1]));
    });
    if (!portFromOutput) resolve(null);
  });
}

async function waitForPort(port) {
  for (let i = 0; i < 100; i++) {
    const ok = await new Promise((r) => {
      const s = net.connect(port, "127.0.0.1", () => { s.end(); r(true); });
      s.on("error", () => r(false));
    });
    if (ok) return;
    await sleep(50);
  }
  throw new Error("aria2c did not open its port");
}

// The type skeleton of an answer: what the clients rely on.
function shape(v) {
  if (Array.isArray(v)) return v.length ? [shape(v[0])] : [];
  if (v && typeof v === "object") {
    const o = {};
    for (const k of Object.keys(v).sort()) if (k !== "torvaline") o[k] = shape(v[k]);
    return o;
  }
  return v === null ? "null" : typeof v;
}
// Keys aria2 gives only for torrents or metalinks, or that neither side promises.
const ignoredKeys = new Set(["bittorrent", "infoHash", "numSeeders", "seeder", "followedBy",
  "following", "belongsTo", "verifiedLength", "verifyIntegrityPending", "bitfield"]);
function compare(ours, theirs, where) {
  if (Array.isArray(theirs) && theirs.length && Array.isArray(ours) && ours.length)
    return compare(ours[0], theirs[0], where + "[0]");
  if (theirs && typeof theirs === "object" && !Array.isArray(theirs)) {
    if (!ours || typeof ours !== "object" || Array.isArray(ours))
      return check(false, `${where}: ours is not an object`);
    const keys = new Set([...Object.keys(ours), ...Object.keys(theirs)]);
    for (const k of keys) {
      if (ignoredKeys.has(k) || k === "torvaline") continue;
      check(k in ours, `${where}.${k}: aria2c has it, ours does not`);
      check(k in theirs, `${where}.${k}: ours has it, aria2c does not`);
      if (k in ours && k in theirs) compare(ours[k], theirs[k], `${where}.${k}`);
    }
    return;
  }
  check(JSON.stringify(shape(ours)) === JSON.stringify(shape(theirs)),
    `${where}: ${JSON.stringify(shape(ours))} vs aria2c ${JSON.stringify(shape(theirs))}`);
}

async function errorOf(promise) {
  try { await promise; return null; } catch (e) { return { code: e.code, message: e.message }; }
}

// One run of the client calls; returns the answers by name, for the side-by-side comparison.
async function session(port, name) {
  const answers = {};
  const client = new Aria2({ host: "127.0.0.1", port, secret: SECRET, WebSocket: WS });
  const seen = [];
  const waiters = [];
  for (const n of ["onDownloadStart", "onDownloadPause", "onDownloadStop",
    "onDownloadComplete", "onDownloadError"])
    client.on(n, ([{ gid }]) => {
      seen.push([n, gid]);
      for (const w of waiters.splice(0)) w();
    });
  const notified = (n, gid, ms = 8000) => within(ms, (async () => {
    while (!seen.some(([a, b]) => a === n && b === gid))
      await new Promise((r) => waiters.push(r));
  })(), `${name} ${n} ${gid}`);
  await client.open();

  answers.getVersion = await client.call("getVersion");
  answers.getSessionInfo = await client.call("getSessionInfo");
  answers.listMethods = await client.listMethods();
  answers.listNotifications = await client.call("system.listNotifications");
  const done = await client.call("addUri", [`${base}/done.bin`], { out: "done.bin" });
  check(/^[0-9a-f]{16}$/.test(done), `${name}: addUri answers a gid`);
  await notified("onDownloadComplete", done);
  answers.tellStatusComplete = await client.call("tellStatus", done);
  answers.tellStatusKeys = await client.call("tellStatus", done, ["gid", "status", "totalLength"]);
  answers.getFiles = await client.call("getFiles", done);

  const bad = await client.call("addUri", [`${base}/missing.bin`]);
  await notified("onDownloadError", bad);
  answers.tellStatusError = await client.call("tellStatus", bad);
  check(answers.tellStatusError.status === "error", `${name}: a missing file reads "error"`);

  const held = await client.call("addUri", [`${base}/hold.bin`]);
  await notified("onDownloadStart", held);
  // Ours counts the hoster's countdown as waiting: the transfer comes a moment later.
  for (let i = 0; i < 60; i++) {
    answers.tellActive = await client.call("tellActive");
    if (answers.tellActive.length && answers.tellActive[0].connections !== "0") break;
    await sleep(50);
  }
  const queued = await client.call("addUri", [`${base}/queued.bin`], { pause: "true" });
  const queued2 = await client.call("addUri", [`${base}/queued2.bin`], { pause: "true" });
  answers.tellWaiting = await client.call("tellWaiting", 0, 10);
  answers.getUris = await client.call("getUris", queued);
  answers.getOption = await client.call("getOption", queued);
  answers.changePosition = await client.call("changePosition", queued2, 0, "POS_SET");
  const order = (await client.call("tellWaiting", 0, 10, ["gid"])).map((r) => r.gid);
  check(order[0] === queued2, `${name}: changePosition moved the row to the front`);
  answers.pause = await client.call("forcePause", held);
  await notified("onDownloadPause", held);
  check((await client.call("tellStatus", held, ["status"])).status === "paused",
    `${name}: a paused row reads "paused"`);
  answers.unpause = await client.call("unpause", held);
  answers.remove = await client.call("forceRemove", held);
  await notified("onDownloadStop", held);
  answers.tellStopped = await client.call("tellStopped", 0, 10);
  answers.getGlobalStat = await client.call("getGlobalStat");
  answers.getGlobalOption = await client.call("getGlobalOption");
  answers.changeGlobalOption = await client.call("changeGlobalOption",
    { "max-overall-download-limit": "0", "max-concurrent-downloads": "1" });
  answers.multicall = await client.multicall([["getVersion"], ["tellStatus", done, ["gid"]],
    ["nope.method"]]);
  answers.batch = await Promise.all(await client.batch([["getGlobalStat"], ["tellStatus", done]]));
  answers.errorNotFound = await errorOf(client.call("tellStatus", "0123456789abcdef"));
  answers.errorPauseStopped = await errorOf(client.call("pause", done));
  answers.removeDownloadResult = await client.call("removeDownloadResult", bad);
  answers.purgeDownloadResult = await client.call("purgeDownloadResult");
  for (const id of [queued, queued2]) await client.call("remove", id);
  await client.close();

  // The same over HTTP, with the other client library, and its WebSocket too.
  for (const conn of [
    await maria2.open(maria2.createHTTP(`http://127.0.0.1:${port}/jsonrpc`), { secret: SECRET }),
    await maria2.open(new WS(`ws://127.0.0.1:${port}/jsonrpc`), { secret: SECRET }),
  ]) {
    const gid = await maria2.aria2.addUri(conn, [`${base}/http.bin`], { pause: "true" });
    answers.maria2Status = await maria2.aria2.tellStatus(conn, gid);
    check(answers.maria2Status.status === "paused", `${name}: maria2 sees the paused row`);
    answers.maria2Multicall = await maria2.system.multicall(conn,
      { methodName: "aria2.getGlobalStat", params: [] },
      { methodName: "aria2.tellWaiting", params: [0, 5] });
    await maria2.aria2.remove(conn, gid);
    maria2.close(conn);
  }
  return answers;
}

async function hostile(port) {
  const post = (body, headers = {}) => fetch(`http://127.0.0.1:${port}/jsonrpc`,
    { method: "POST", body, headers }).then(async (r) => ({ status: r.status, text: await r.text() }));
  const rows = async () => (await post(JSON.stringify({ jsonrpc: "2.0", id: 1,
    method: "aria2.getGlobalStat", params: ["token:" + SECRET] }))).text;
  const before = await rows();
  // A thousand guesses in one multicall are one guess: one delay, one answer, nothing run.
  const guesses = Array.from({ length: 1000 }, (_, i) => ({ methodName: "aria2.addUri",
    params: ["token:guess" + i, [`${base}/guessed.bin`]] }));
  const t0 = Date.now();
  const many = await post(JSON.stringify({ jsonrpc: "2.0", id: 1, method: "system.multicall",
    params: [guesses] }));
  const took = Date.now() - t0;
  check(took >= 900 && took < 1900, `a multicall of 1,000 wrong secrets costs one delay (${took} ms)`);
  check(JSON.stringify(JSON.parse(many.text).error) ===
    JSON.stringify({ code: 1, message: "Unauthorized" }), "and is refused whole: " + many.text);
  const malformed = await post("{\"jsonrpc\":");
  check(malformed.status === 500 && JSON.parse(malformed.text).error.code === -32700,
    "malformed JSON gets a parse error");
  const start = Date.now();
  const wrong = await post(JSON.stringify({ jsonrpc: "2.0", id: 1, method: "aria2.addUri",
    params: ["token:guess", [`${base}/x`]] }));
  check(Date.now() - start >= 1900 && JSON.parse(wrong.text).error.message === "Unauthorized",
    "a second wrong secret from the same peer is answered later still, unauthorized");
  // A body far over the limit: the connection goes, the server stays.
  const huge = await post(Buffer.alloc(24 * 1024 * 1024, 0x5b)).catch(() => ({ status: 0 }));
  check(huge.status === 0 || huge.status === 413, "a huge body is refused");
  // A flood of idle connections: the newcomers past the cap are closed, the server answers.
  const sockets = [];
  for (let i = 0; i < 300; i++) {
    const s = net.connect(port, "127.0.0.1");
    s.on("error", () => {});
    sockets.push(s);
  }
  await sleep(300);
  for (const s of sockets) s.destroy();
  await sleep(100);
  check((await rows()) === before, "after the floods the server answers and no row was added");
}

let aria2cDir;
try {
  const ours = await startChild(serverBinary, ["--port", "0", "--secret", SECRET, "--step", "20",
    "--lifetime", "60"], true);
  let theirs = null;
  const haveAria2c = await new Promise((r) => {
    const p = spawn(aria2cBinary, ["--version"], { stdio: "ignore" });
    p.on("error", () => r(false));
    p.on("exit", (c) => r(c === 0));
  });
  if (haveAria2c) {
    aria2cDir = fs.mkdtempSync(path.join(os.tmpdir(), "torvaline-aria2c-"));
    theirs = await freePort();
    await startChild(aria2cBinary, ["--enable-rpc", `--rpc-listen-port=${theirs}`,
      `--rpc-secret=${SECRET}`, `--dir=${aria2cDir}`, "--no-conf", "--quiet",
      "--max-tries=1", "--stop=60", "--max-concurrent-downloads=1",
      "--rpc-max-request-size=64M"], false);
    await waitForPort(theirs);
  }
  const mine = await within(30000, session(ours, "torvaline"), "the torvaline session");
  if (theirs) {
    const real = await within(30000, session(theirs, "aria2c"), "the aria2c session");
    for (const key of Object.keys(real)) {
      if (key === "getGlobalOption" || key === "getOption") {
        // Ours names a few of aria2c's hundreds of options: those must match.
        for (const k of Object.keys(mine[key])) {
          check(k in real[key], `getGlobalOption.${k}: aria2c has no such option`);
          compare(mine[key][k], real[key][k], `getGlobalOption.${k}`);
        }
      } else if (key === "listMethods" || key === "listNotifications") {
        for (const m of mine[key]) check(real[key].includes(m), `${key}: aria2c has no ${m}`);
      } else {
        compare(mine[key], real[key], key);
      }
    }
  } else {
    console.log("aria2c not found: the side-by-side half is skipped");
  }
  // The front ends' own requests: every call answered, alike where aria2c answers it too.
  const ourReplay = await within(20000, replay(WS, ours, SECRET, base), "the front ends' replay");
  for (const [key, answer] of Object.entries(ourReplay))
    check(!answer.error, `${key}: ${JSON.stringify(answer.error)}`);
  if (theirs) {
    const theirReplay = await within(20000, replay(WS, theirs, SECRET, base), "aria2c's replay");
    for (const [key, answer] of Object.entries(theirReplay))
      if (!answer.error && !ourReplay[key]?.error && !key.includes("getVersion") &&
        !key.includes("Option"))
        compare(ourReplay[key].result, answer.result, key);
  }
  // The Origin table, with the secret and without it, over HTTP and WebSocket.
  const open = await startChild(serverBinary, ["--port", "0", "--step", "20", "--lifetime", "60",
    "--idle-ms", "1500", "--header-ms", "1000"], true);
  const refusedWithout = new Set(["web", "null"]);
  for (const [name, origin] of Object.entries(origins)) {
    const withSecret = await originRow(WS, ours, origin);
    check(withSecret.http && withSecret.ws, `with a secret, origin ${name} is let in`);
    const without = await originRow(WS, open, origin);
    const expected = !refusedWithout.has(name);
    check(without.http === expected && without.ws === expected,
      `without a secret, origin ${name}: ${JSON.stringify(without)}, expected ${expected}`);
  }
  await doors(WS, open, check);
  await hostile(ours);
} catch (e) {
  failures++;
  console.error("FAIL " + (e && e.stack ? e.stack : JSON.stringify(e)));
} finally {
  for (const c of children) if (c.exitCode === null) process.kill(c.pid, "SIGTERM");
  files.closeAllConnections?.();
  files.close();
  if (aria2cDir) fs.rmSync(aria2cDir, { recursive: true, force: true });
}
console.log(failures ? `${failures} failure(s)` : "conformance: every check passed");
process.exit(failures ? 1 : 0);

// Drives the real daemon over the hoster emulator: links added in one multicall, the
// notifications over WebSocket, tell*, remove, changePosition, getGlobalStat, and the files in
// the folder complete.  Usage: node daemon.mjs TORVALINE HOSTERSIM   (exit 0 passed, 77 skipped)
import { createRequire } from "node:module";
import fs from "node:fs";
import os from "node:os";
import path from "node:path";
import { check, fail, sleep, within, freePort, startChild, endChildren } from "./helpers.mjs";
import * as helpers from "./helpers.mjs";

const require = createRequire(import.meta.url);
if (!fs.existsSync(new URL("./node_modules/ws/package.json", import.meta.url))) {
  console.log("the npm clients are not installed (npm ci --prefix tests/rpc): skipped");
  process.exit(77);
}
const WS = require("ws");
const [torvaline, hostersim] = process.argv.slice(2);
const SECRET = "daemon-" + Math.random().toString(16).slice(2);
const home = fs.mkdtempSync(path.join(os.tmpdir(), "torvaline-daemon-"));
const folder = path.join(home, "dl");
fs.mkdirSync(folder);

let port;
async function rpc(method, ...params) {
  const r = await fetch(`http://127.0.0.1:${port}/jsonrpc`, { method: "POST",
    body: JSON.stringify({ jsonrpc: "2.0", id: 1, method, params: ["token:" + SECRET, ...params] }) });
  return r.json();
}
const result = async (method, ...params) => {
  const a = await rpc(method, ...params);
  if (a.error) throw new Error(`${method}: ${JSON.stringify(a.error)}`);
  return a.result;
};

try {
  const listFile = path.join(home, "demo.txt");
  const sim = await startChild(hostersim, ["--port", "0", "--demo-list", listFile], /(http:\S+)\r?\n/);
  const base = sim.match[1];
  const demo = fs.readFileSync(listFile, "utf8").split("\n").map((l) => l.replace(/\r$/, ""))
    .filter(Boolean);
  check(demo.length > 0 && demo.every((l) => l.startsWith(base)), "the demo list names the emulator");

  const env = { ...process.env, HOME: home, XDG_CONFIG_HOME: path.join(home, "config"),
    XDG_DATA_HOME: path.join(home, "data"), XDG_STATE_HOME: path.join(home, "state"),
    XDG_CACHE_HOME: path.join(home, "cache"), QT_QPA_PLATFORM: "offscreen" };
  const daemon = await startChild(torvaline, ["--daemon", "--folder", folder, "--rpc-listen-port",
    String(await freePort()), "--rpc-secret", SECRET], /listening on port (\d+)/, env);
  port = Number(daemon.match[1]);

  const seen = [];
  const ws = new WS(`ws://127.0.0.1:${port}/jsonrpc`);
  await within(5000, new Promise((r, j) => { ws.on("open", r); ws.on("error", j); }), "WebSocket");
  ws.on("message", (m) => { const n = JSON.parse(m); if (n.method) seen.push([n.method, n.params[0].gid]); });
  const notified = (n, gid, ms = 20000) => within(ms, (async () => {
    while (!seen.some(([a, b]) => a === "aria2." + n && b === gid)) await sleep(50);
  })(), `${n} ${gid}`);

  const sizes = { "slow.bin": 300000, "ok.bin": 200000, "last.bin": 4000, "gone.bin": 5000 };
  const links = [`${base}/file/slow.bin?size=300000&rate=150000`,
    `${base}/rapidshare/ok/ok.bin?size=200000&c=1`,
    `${base}/rapidshare/notfound/missing.bin?size=1000&c=1`,
    `${base}/file/gone.bin?size=5000`, `${base}/file/last.bin?size=4000`];
  const added = await result("system.multicall",
    links.map((l) => ({ methodName: "aria2.addUri", params: ["token:" + SECRET, [l]] })));
  const [slow, ok, missing, gone, last] = added.map((a) => a[0]);
  check(added.every((a) => /^[0-9a-f]{16}$/.test(a[0])), "the multicall answers a gid a link");

  await notified("onDownloadStart", slow);
  const active = await result("aria2.tellActive", ["gid", "status"]);
  check(active.length === 1 && active[0].gid === slow, "tellActive shows the transfer");
  check((await result("aria2.tellWaiting", 0, 10, ["gid"])).length === 4, "four rows wait");
  await result("aria2.changePosition", last, 0, "POS_SET");
  await result("aria2.remove", gone);
  const order = (await result("aria2.tellWaiting", 0, 10, ["gid", "status"])).map((r) => r.gid);
  check(JSON.stringify(order) === JSON.stringify([last, ok, missing]),
    "changePosition and remove reorder the waiting rows: " + order.join(","));
  const paused = await rpc("aria2.pause", ok);
  check(paused.result === ok || paused.result === "OK" || (paused.error && paused.error.code === 1),
    "pause answers OK or an aria2 error: " + JSON.stringify(paused));
  if (paused.result) await result("aria2.unpause", ok);

  for (const gid of [slow, last, ok]) await notified("onDownloadComplete", gid, 30000);
  await notified("onDownloadError", missing);
  const stopped = await result("aria2.tellStopped", 0, 10);
  const byGid = Object.fromEntries(stopped.map((r) => [r.gid, r]));
  for (const [gid, name] of [[slow, "slow.bin"], [ok, "ok.bin"], [last, "last.bin"]]) {
    const r = byGid[gid];
    check(r && r.status === "complete", `${name} reads complete`);
    check(r && r.completedLength === String(sizes[name]) && r.totalLength === String(sizes[name]),
      `${name}: ${r && r.completedLength}/${r && r.totalLength} of ${sizes[name]}`);
    const file = path.join(folder, name);
    check(fs.existsSync(file) && fs.statSync(file).size === sizes[name], `${name} is complete on disk`);
  }
  check(byGid[missing] && byGid[missing].status === "error" && byGid[missing].errorMessage !== "" &&
    byGid[missing].errorCode !== "0", "the missing file reads error with a reason");
  check(byGid[gone] && byGid[gone].status === "removed", "the removed row reads removed");
  check(!fs.existsSync(path.join(folder, "gone.bin")), "the removed row left no file");
  const stat = await result("aria2.getGlobalStat");
  check(stat.numActive === "0" && stat.numWaiting === "0" && stat.numStopped === "5",
    "getGlobalStat counts the rows: " + JSON.stringify(stat));
  ws.close();
} catch (e) {
  fail(e);
} finally {
  endChildren();
  await sleep(200);
  fs.rmSync(home, { recursive: true, force: true });
}
console.log(helpers.failures ? `${helpers.failures} failure(s)` : "daemon: every check passed");
process.exit(helpers.failures ? 1 : 0);

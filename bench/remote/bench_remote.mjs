// The remote control beside aria2c, in one run: addUri of 10,000 links in one system.multicall,
// tellWaiting of those 10,000 rows, the latency from addUri to a completed row's notification,
// and the resident memory with 100,000 rows. Prints each figure, the ratio and the target line.
// Usage: node bench/remote/bench_remote.mjs TORVALINE [ARIA2C]
//   TORVALINE: the program itself (its --daemon over a local file server), or the scripted
//   core torvaline-rpc-scripted (the remote control alone, rows that move on their own).
// (the npm clients from tests/rpc/node_modules: `npm ci --prefix tests/rpc`)
import { spawn } from "node:child_process";
import { createRequire } from "node:module";
import fs from "node:fs";
import http from "node:http";
import net from "node:net";
import os from "node:os";
import path from "node:path";

const require = createRequire(new URL("../../tests/rpc/package.json", import.meta.url));
const WS = require("ws");
const [server, aria2c = "aria2c"] = process.argv.slice(2);
const SECRET = "bench";
const children = [];
const homes = [];
const sleep = (ms) => new Promise((r) => setTimeout(r, ms));

const files = http.createServer((req, res) => {
  res.writeHead(200, { "Content-Length": "1024" });
  res.end(Buffer.alloc(1024));
});
await new Promise((r) => files.listen(0, "127.0.0.1", r));
const base = `http://127.0.0.1:${files.address().port}`;

const freePort = () => new Promise((resolve) => {
  const s = net.createServer();
  s.listen(0, "127.0.0.1", () => { const p = s.address().port; s.close(() => resolve(p)); });
});
async function waitForPort(port) {
  for (let i = 0; i < 200; i++) {
    if (await new Promise((r) => { const s = net.connect(port, "127.0.0.1", () => { s.end(); r(true); }); s.on("error", () => r(false)); })) return;
    await sleep(25);
  }
  throw new Error("no port " + port);
}
const daemon = !path.basename(server).includes("scripted");
async function startOurs(step, dir) {
  let child;
  if (daemon) {
    // A home of its own: no settings, hoster profiles or recovery copies of the user's.
    const home = fs.mkdtempSync(path.join(os.tmpdir(), "torvaline-bench-home-"));
    homes.push(home);
    const env = { ...process.env, HOME: home, XDG_CONFIG_HOME: path.join(home, "c"),
      XDG_DATA_HOME: path.join(home, "d"), XDG_STATE_HOME: path.join(home, "s"),
      XDG_CACHE_HOME: path.join(home, "k"), QT_QPA_PLATFORM: "offscreen" };
    child = spawn(server, ["--daemon", "--folder", dir, "--rpc-listen-port", String(await freePort()), "--rpc-secret", SECRET], { stdio: ["ignore", "pipe", "inherit"], env });
  } else {
    child = spawn(server, ["--port", "0", "--secret", SECRET, "--step", String(step), "--lifetime", "300"], { stdio: ["ignore", "pipe", "inherit"] });
  }
  children.push(child);
  const port = await new Promise((resolve) => { let out = ""; child.stdout.on("data", (d) => { out += d; const m = /port (\d+)/.exec(out); if (m) resolve(Number(m[1])); }); });
  return { port, pid: child.pid };
}
async function startAria2c(dir) {
  const port = await freePort();
  const child = spawn(aria2c, ["--enable-rpc", `--rpc-listen-port=${port}`, `--rpc-secret=${SECRET}`, `--dir=${dir}`, "--no-conf", "--quiet", "--stop=300", "--rpc-max-request-size=256M", "--max-download-result=100000", "--allow-overwrite=true"], { stdio: "ignore" });
  children.push(child);
  await waitForPort(port);
  return { port, pid: child.pid };
}
async function rpc(port, method, params = []) {
  const r = await fetch(`http://127.0.0.1:${port}/jsonrpc`, { method: "POST", body: JSON.stringify({ jsonrpc: "2.0", id: 1, method, params: method === "system.multicall" ? params : ["token:" + SECRET, ...params] }) });
  return (await r.json()).result;
}
const addCalls = (n, from) => [Array.from({ length: n }, (_, i) => ({ methodName: "aria2.addUri", params: ["token:" + SECRET, [`${base}/f${from + i}.bin`], { pause: "true" }] }))];
async function timed(fn, runs = 1) {
  const times = [];
  for (let i = 0; i < runs; i++) { const t = process.hrtime.bigint(); await fn(); times.push(Number(process.hrtime.bigint() - t) / 1e6); }
  times.sort((a, b) => a - b);
  return times[Math.floor(times.length / 2)];
}
async function latency(port) {
  const ws = new WS(`ws://127.0.0.1:${port}/jsonrpc`);
  await new Promise((r) => ws.on("open", r));
  const samples = [];
  for (let i = 0; i < 5; i++) {
    const t = process.hrtime.bigint();
    const gid = await rpc(port, "aria2.addUri", [[`${base}/late${i}.bin`]]);
    await new Promise((resolve) => ws.on("message", function on(m) { const n = JSON.parse(m); if (n.method === "aria2.onDownloadComplete" && n.params[0].gid === gid) { ws.off("message", on); resolve(); } }));
    samples.push(Number(process.hrtime.bigint() - t) / 1e6);
  }
  ws.close();
  samples.sort((a, b) => a - b);
  return samples[2];
}
const rssMiB = (pid) => Number(/VmRSS:\s+(\d+)/.exec(fs.readFileSync(`/proc/${pid}/status`, "utf8"))[1]) / 1024;
const line = (name, ours, theirs, unit, goal) => {
  const ratio = ours / theirs;
  console.log(`${name}: torvaline ${ours.toFixed(1)} ${unit}, aria2c ${theirs.toFixed(1)} ${unit}`);
  console.log(`target ${name}: x${ratio.toFixed(2)} (goal x${goal}) ${ratio <= goal ? "met" : "missed"}`);
};

const dir = fs.mkdtempSync(path.join(os.tmpdir(), "torvaline-bench-"));
try {
  // Rows added paused stay where they are put.
  const ours = await startOurs(0, path.join(dir, "ours"));
  const theirs = await startAria2c(path.join(dir, "theirs"));
  const addOurs = await timed(() => rpc(ours.port, "system.multicall", addCalls(10000, 0)));
  const addTheirs = await timed(() => rpc(theirs.port, "system.multicall", addCalls(10000, 0)));
  line("addUri-10k-multicall", addOurs, addTheirs, "ms", 2);
  const waitOurs = await timed(() => rpc(ours.port, "aria2.tellWaiting", [0, 10000]), 5);
  const waitTheirs = await timed(() => rpc(theirs.port, "aria2.tellWaiting", [0, 10000]), 5);
  line("tellWaiting-10k", waitOurs, waitTheirs, "ms", 2);
  // 100,000 rows, added as a front end would: a thousand a call.
  for (let i = 10; i < 100; i++) {
    await rpc(ours.port, "system.multicall", addCalls(1000, i * 1000));
    await rpc(theirs.port, "system.multicall", addCalls(1000, i * 1000));
  }
  await sleep(1500); // the daemon's recovery copy of the list is written within the second
  const rss = rssMiB(ours.pid);
  const rssTheirs = rssMiB(theirs.pid);
  console.log(`rss-100k-rows: torvaline ${rss.toFixed(1)} MiB, aria2c ${rssTheirs.toFixed(1)} MiB`);
  console.log(`target rss-100k-rows: ${rss.toFixed(1)} MiB (goal < 64 MiB) ${rss < 64 ? "met" : "missed"}`);
  const moving = await startOurs(1, path.join(dir, "late"));
  const theirsLate = await startAria2c(path.join(dir, "theirs-late"));
  const late = await latency(moving.port);
  const lateTheirs = await latency(theirsLate.port);
  line("add-to-complete-notification", late, lateTheirs, "ms", 2);
} finally {
  for (const c of children) if (c.exitCode === null) process.kill(c.pid, "SIGTERM");
  files.close();
  await sleep(500);
  for (const d of [dir, ...homes]) fs.rmSync(d, { recursive: true, force: true });
}

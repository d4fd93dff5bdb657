// The remote control beside aria2c, in one run: addUri of 10,000 links in one system.multicall,
// tellWaiting of those 10,000 rows, the latency from addUri to a completed row's notification,
// and the resident memory with 100,000 rows. Prints each figure, the ratio and the target line.
// Usage: node bench/remote/bench_remote.mjs SERVER-BINARY [ARIA2C]
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
async function startOurs(step) {
  const child = spawn(server, ["--port", "0", "--secret", SECRET, "--step", String(step), "--lifetime", "300"], { stdio: ["ignore", "pipe", "inherit"] });
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
  const ours = await startOurs(0); // rows stay where they are put
  const theirs = await startAria2c(dir);
  const addOurs = await timed(() => rpc(ours.port, "system.multicall", addCalls(10000, 0)));
  const addTheirs = await timed(() => rpc(theirs.port, "system.multicall", addCalls(10000, 0)));
  line("addUri-10k-multicall", addOurs, addTheirs, "ms", 2);
  const waitOurs = await timed(() => rpc(ours.port, "aria2.tellWaiting", [0, 10000]), 5);
  const waitTheirs = await timed(() => rpc(theirs.port, "aria2.tellWaiting", [0, 10000]), 5);
  line("tellWaiting-10k", waitOurs, waitTheirs, "ms", 2);
  for (let i = 1; i < 10; i++) await rpc(ours.port, "system.multicall", addCalls(10000, i * 10000));
  const rss = rssMiB(ours.pid);
  console.log(`rss-100k-rows: torvaline ${rss.toFixed(1)} MiB`);
  console.log(`target rss-100k-rows: ${rss.toFixed(1)} MiB (goal < 64 MiB) ${rss < 64 ? "met" : "missed"}`);
  const moving = await startOurs(1);
  const late = await latency(moving.port);
  const lateTheirs = await latency(theirs.port);
  line("add-to-complete-notification", late, lateTheirs, "ms", 2);
} finally {
  for (const c of children) if (c.exitCode === null) process.kill(c.pid, "SIGTERM");
  files.close();
  fs.rmSync(dir, { recursive: true, force: true });
}

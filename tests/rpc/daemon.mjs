// Drives the real daemon over the hoster emulator: a list file's row, links added in one
// multicall (one of them paused, with its own dir and out), the notifications over WebSocket,
// tell*, remove, changePosition, pause, getGlobalStat, the files in their folders complete, and
// an unfinished row taken back by the next daemon after a SIGTERM.  Usage: node daemon.mjs TORVALINE HOSTERSIM   (exit 0 passed, 77 skipped)
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
  const seedFile = path.join(home, "seed.txt");
  fs.writeFileSync(seedFile, `${base}/file/seed.bin?size=3000\n`);
  // Without the link check: it would fail the dead row at a moment of its own, while these
  // steps count and reorder the waiting rows.
  const startDaemon = async (...lists) => {
    const d = await startChild(torvaline, ["--daemon", "--no-check", "--folder", folder,
      "--rpc-listen-port", String(await freePort()), "--rpc-secret", SECRET, ...lists],
      /listening on port (\d+)/, env);
    port = Number(d.match[1]);
    return d;
  };
  const daemon = await startDaemon(seedFile);

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
  const elsewhere = path.join(home, "elsewhere");
  const added = await result("system.multicall",
    links.map((l) => ({ methodName: "aria2.addUri", params: ["token:" + SECRET, [l]] })).concat([
      { methodName: "aria2.addUri", params: ["token:" + SECRET, [`${base}/file/held.bin?size=6000`],
        { pause: "true", dir: elsewhere, out: "renamed.bin" }] }]));
  const [slow, ok, missing, gone, last, held] = added.map((a) => a[0]);
  check(added.every((a) => /^[0-9a-f]{16}$/.test(a[0])), "the multicall answers a gid a link");

  await notified("onDownloadStart", slow);
  const active = await result("aria2.tellActive", ["gid", "status"]);
  check(active.length === 1 && active[0].gid === slow, "tellActive shows the transfer");
  check((await result("aria2.tellWaiting", 0, 10, ["gid"])).length === 5, "five rows wait");
  // Rows at once: honoured and told back; one hoster still gives one row at a time.
  check((await result("aria2.getGlobalOption"))["max-concurrent-downloads"] === "3",
    "three rows at once by default");
  check((await result("aria2.changeGlobalOption", { "max-concurrent-downloads": "2" })) === "OK" &&
    (await result("aria2.getGlobalOption"))["max-concurrent-downloads"] === "2",
    "max-concurrent-downloads is honoured");
  await result("aria2.changePosition", last, 0, "POS_SET");
  await result("aria2.remove", gone);
  const order = (await result("aria2.tellWaiting", 0, 10, ["gid", "status"])).map((r) => r.gid);
  check(JSON.stringify(order) === JSON.stringify([last, ok, missing, held]),
    "changePosition and remove reorder the waiting rows: " + order.join(","));
  check((await result("aria2.pause", ok)) === ok, "a waiting row can be paused");
  check((await result("aria2.tellStatus", ok, ["status"])).status === "paused", "and reads paused");
  check((await result("aria2.unpause", ok)) === ok, "and unpaused");

  for (const gid of [slow, last, ok]) await notified("onDownloadComplete", gid, 30000);
  await notified("onDownloadError", missing);
  // Every other row is through: the one added paused was passed over and waits to be let go.
  const heldStatus = await result("aria2.tellStatus", held, ["status", "dir"]);
  check(heldStatus.status === "paused" && heldStatus.dir === elsewhere,
    "the row added paused is still paused, with its own dir: " + JSON.stringify(heldStatus));
  check(!fs.existsSync(path.join(elsewhere, "renamed.bin")), "and has not been fetched");
  await result("aria2.unpause", held);
  await notified("onDownloadComplete", held);
  check(fs.existsSync(path.join(elsewhere, "renamed.bin")) &&
    fs.statSync(path.join(elsewhere, "renamed.bin")).size === 6000 &&
    !fs.existsSync(path.join(folder, "held.bin")), "unpaused, it lands in its dir under its out name");
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
    byGid[missing].errorCode !== "0" &&
    byGid[missing].errorMessage.includes("missing or blocked"), "the missing file reads error with its reason");
  check(byGid[gone] && byGid[gone].status === "removed", "the removed row reads removed");
  check(!fs.existsSync(path.join(folder, "gone.bin")), "the removed row left no file");
  const stat = await result("aria2.getGlobalStat");
  check(stat.numActive === "0" && stat.numWaiting === "0" && stat.numStopped === "7",
    "getGlobalStat counts the rows: " + JSON.stringify(stat));
  const seed = stopped.find((r) => r.files[0].uris[0].uri.includes("/seed.bin"));
  check(seed && seed.status === "complete" && fs.existsSync(path.join(folder, "seed.bin")),
    "the list file's row is seen over RPC and completes");
  check(byGid[missing]?.errorCode === "3", "a file the hoster has not reads errorCode 3");
  // Retry, both ways: unpause of the error row tries it again in place; AriaNg's retry adds
  // it again with its options and drops the old result.
  seen.splice(0);
  check((await result("aria2.unpause", missing)) === missing, "an error row can be unpaused");
  await notified("onDownloadStart", missing);
  await notified("onDownloadError", missing);
  const options = await result("aria2.getOption", missing);
  const again = await result("aria2.addUri", [byGid[missing].files[0].uris[0].uri], options);
  check((await result("aria2.removeDownloadResult", missing)) === "OK", "the old result goes");
  await notified("onDownloadError", again);
  check((await result("aria2.tellStatus", again, ["errorCode"])).errorCode === "3",
    "the row added again was tried and failed as the first did");
  ws.close();

  // A row cut by a stop comes back with the next daemon; a finished one does not.
  const cutLink = `${base}/file/cut.bin?size=3000000&rate=100000`;
  const cut = await result("aria2.addUri", [cutLink]);
  const keptLink = `${base}/file/kept.bin?size=1000`;
  await result("aria2.addUri", [keptLink], { pause: "true" });
  await within(10000, (async () => {
    while ((await result("aria2.tellStatus", cut, ["status"])).status !== "active") await sleep(50);
  })(), "the cut row starts");
  const ended = new Promise((r) => daemon.child.on("exit", r));
  process.kill(daemon.child.pid, "SIGTERM");
  await within(10000, ended, "the daemon ends on SIGTERM");
  const next = await startDaemon();
  // In one multicall, so that no row moves from one answer to the next.
  const back = (await result("system.multicall", [["aria2.tellActive"], ["aria2.tellWaiting", 0, 10],
    ["aria2.tellStopped", 0, 10]].map(([m, ...a]) => ({ methodName: m, params: ["token:" + SECRET, ...a] }))))
    .flatMap((r) => r[0]);
  const backLinks = back.map((r) => r.files[0].uris[0].uri).sort();
  check(JSON.stringify(backLinks) === JSON.stringify([links[2], cutLink, keptLink].sort()),
    "the next daemon takes back the rows that had not completed, and only them: " + backLinks.join(" "));
  check(back.find((r) => r.files[0].uris[0].uri === keptLink)?.status === "paused",
    "a paused row comes back paused");
  check((await result("aria2.shutdown")) === "OK", "shutdown answers OK");
  await within(10000, new Promise((r) => next.child.on("exit", r)), "the daemon ends on shutdown");
  check(!fs.existsSync(path.join(folder, "cut.bin")), "the cut row's file was not left half");
} catch (e) {
  fail(e);
} finally {
  endChildren();
  await sleep(200);
  fs.rmSync(home, { recursive: true, force: true });
}
console.log(helpers.failures ? `${helpers.failures} failure(s)` : "daemon: every check passed");
process.exit(helpers.failures ? 1 : 0);

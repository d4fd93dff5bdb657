// The real daemon's life over restarts, driven over JSON-RPC (plain HTTP, no npm client):
// a list run to its end and then stopped, by SIGTERM or aria2.shutdown, is not fetched again by
// the next daemon; the row being worked on removed (during its transfer, during its countdown)
// and a row added after it: the new row is tried and completes; rows paused (one before its
// turn, one during its countdown) come back paused with their own dir and out.
// Usage: node lifecycle.mjs TORVALINE HOSTERSIM   (exit 0 passed)
import fs from "node:fs";
import os from "node:os";
import path from "node:path";
import { check, fail, sleep, within, freePort, startChild, endChildren } from "./helpers.mjs";
import * as helpers from "./helpers.mjs";

const [torvaline, hostersim] = process.argv.slice(2);
const SECRET = "life-" + Math.random().toString(16).slice(2);
const home = fs.mkdtempSync(path.join(os.tmpdir(), "torvaline-life-"));
const folder = path.join(home, "dl");
fs.mkdirSync(folder);
const env = { ...process.env, HOME: home, XDG_CONFIG_HOME: path.join(home, "config"),
  XDG_DATA_HOME: path.join(home, "data"), XDG_STATE_HOME: path.join(home, "state"),
  XDG_CACHE_HOME: path.join(home, "cache"), QT_QPA_PLATFORM: "offscreen" };

let port;
// The daemon running now: what it printed goes with a failure.
let current;
async function result(method, ...params) {
  const r = await fetch(`http://127.0.0.1:${port}/jsonrpc`, { method: "POST",
    body: JSON.stringify({ jsonrpc: "2.0", id: 1, method, params: ["token:" + SECRET, ...params] }) });
  const a = await r.json();
  if (a.error) throw new Error(`${method}: ${JSON.stringify(a.error)}`);
  return a.result;
}
const startDaemon = async (...lists) => {
  const d = await startChild(torvaline, ["--daemon", "--folder", folder, "--rpc-listen-port",
    String(await freePort()), "--rpc-secret", SECRET, ...lists], /listening on port (\d+)/, env);
  port = Number(d.match[1]);
  d.ended = new Promise((r) => d.child.on("exit", r));
  current = d;
  return d;
};
const statusOf = async (gid) => (await result("aria2.tellStatus", gid, ["status"])).status;
let lastSeen = "";
const reaches = (gid, status, ms = 20000) => within(ms, (async () => {
  while ((lastSeen = await statusOf(gid)) !== status) await sleep(50);
})(), `${gid} ${status}`).catch((e) => {
  throw new Error(`${e.message} (last ${lastSeen})\n${current?.output?.() ?? ""}`);
});
const allRows = async () => (await result("system.multicall", [["aria2.tellActive"],
  ["aria2.tellWaiting", 0, 100], ["aria2.tellStopped", 0, 100]].map(([m, ...a]) =>
  ({ methodName: m, params: ["token:" + SECRET, ...a] })))).flatMap((r) => r[0]);
const files = (dir) => (fs.existsSync(dir) ? fs.readdirSync(dir).sort() : []);

try {
  const sim = await startChild(hostersim, ["--port", "0"], /(http:\S+)\r?\n/);
  const base = sim.match[1];

  // A list run to its end, then SIGTERM: the next daemon has nothing to do.
  const listFile = path.join(home, "list.txt");
  fs.writeFileSync(listFile, `${base}/file/done.bin?size=2000\n`);
  let daemon = await startDaemon(listFile);
  const [seed] = (await allRows()).map((r) => r.gid);
  await reaches(seed, "complete");
  process.kill(daemon.child.pid, "SIGTERM");
  await within(10000, daemon.ended, "the daemon ends on SIGTERM");
  daemon = await startDaemon();
  await sleep(1500);
  check((await allRows()).length === 0, "a completed list is not taken back after SIGTERM");
  check(JSON.stringify(files(folder)) === JSON.stringify(["done.bin"]),
    "and nothing was fetched again: " + files(folder).join(" "));

  // The row being worked on removed, then a row added: the new row is tried.
  for (const [phase, link] of [["transfer", `${base}/file/slow.bin?size=3000000&rate=100000`],
    ["countdown", `${base}/rapidshare/ok/count.bin?size=1000&c=20`]]) {
    const gone = await result("aria2.addUri", [link]);
    await reaches(gone, "active");
    await sleep(phase === "countdown" ? 1500 : 500);
    await result("aria2.remove", gone);
    const after = await result("aria2.addUri", [`${base}/file/after-${phase}.bin?size=3000`]);
    try {
      await reaches(after, "complete", 15000);
    } catch (e) {
      check(false, `a row added after removing the one in its ${phase} is tried: ` +
        JSON.stringify(await result("aria2.tellStatus", after, ["status", "errorMessage"])));
    }
    check((await statusOf(gone)) === "removed", `the row removed in its ${phase} reads removed`);
  }
  check(!files(folder).some((f) => f.startsWith("slow") || f.startsWith("count")),
    "the removed rows left no file: " + files(folder).join(" "));

  // The list is done again; aria2.shutdown: again nothing comes back.
  check((await result("aria2.shutdown")) === "OK", "shutdown answers OK");
  await within(10000, daemon.ended, "the daemon ends on shutdown");
  daemon = await startDaemon();
  await sleep(1500);
  check((await allRows()).length === 0, "a completed list is not taken back after shutdown");
  check(!files(folder).some((f) => f.includes("(")), "no file fetched twice: " + files(folder));

  // Paused rows, one before its turn and one during its countdown, with their own dir and out.
  const dirA = path.join(home, "a"), dirB = path.join(home, "b");
  const heldLink = `${base}/file/held.bin?size=6000`;
  const countLink = `${base}/rapidshare/ok/counting.bin?size=5000&c=30`;
  const counting = await result("aria2.addUri", [countLink], { dir: dirB, out: "second.bin" });
  await result("aria2.addUri", [heldLink], { pause: "true", dir: dirA, out: "first.bin" });
  await reaches(counting, "active");
  await sleep(1500);
  check((await result("aria2.pause", counting)) === counting, "the counting row pauses");
  process.kill(daemon.child.pid, "SIGTERM");
  await within(10000, daemon.ended, "the daemon ends on SIGTERM");
  daemon = await startDaemon();
  const back = await result("aria2.tellWaiting", 0, 10, ["gid", "status", "dir", "files"]);
  const byLink = Object.fromEntries(back.map((r) => [r.files[0].uris[0].uri, r]));
  for (const [link, dir] of [[heldLink, dirA], [countLink, dirB]]) {
    const r = byLink[link];
    check(r && r.status === "paused" && r.dir === dir,
      `a paused row comes back paused with its dir: ${link} ${JSON.stringify(r && { s: r.status, d: r.dir })}`);
  }
  for (const r of back) await result("aria2.unpause", r.gid);
  for (const r of back) await reaches(r.gid, "complete", 60000).catch((e) => fail(e));
  check(JSON.stringify(files(dirA)) === JSON.stringify(["first.bin"]) &&
    JSON.stringify(files(dirB)) === JSON.stringify(["second.bin"]),
    `unpaused, each lands in its dir under its out name: ${files(dirA)} / ${files(dirB)}`);
  check((await result("aria2.shutdown")) === "OK", "shutdown answers OK");
  await within(10000, daemon.ended, "the daemon ends on shutdown");
} catch (e) {
  fail(e);
} finally {
  endChildren();
  await sleep(200);
  fs.rmSync(home, { recursive: true, force: true });
}
console.log(helpers.failures ? `${helpers.failures} failure(s)` : "lifecycle: every check passed");
process.exit(helpers.failures ? 1 : 0);
